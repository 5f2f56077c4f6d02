// Ends through std::terminate with the shipped program's terminate handler
// linked in, as the program would if an exception ever got past its guarded
// entry. The contract run passes only when this process then ends with a
// non-zero status: a script must not read such an end as success.

#include <cstdio>
#include <exception>

int main() {
    std::puts("calling std::terminate");
    std::fflush(stdout);
    std::terminate();
}
