// The runtime's terminate handler, replaced by a plain one.
//
// libstdc++'s default handler prints the type of the escaping exception,
// which links in the C++ name demangler: a large part of the statically
// linked program. Defining that handler here keeps the runtime's own (and
// the demangler behind it) out of the link. The program does not expect to
// get there: the guarded entry catches every exception. Should something
// still reach std::terminate, the process ends through std::abort with a
// non-zero status, as it did with the verbose handler.

#include <cstdlib>
#include <exception>

// The runtime declares this handler and calls it; the reserved names are its.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl51-cpp)
namespace __gnu_cxx {

void __verbose_terminate_handler() { // NOLINT(bugprone-reserved-identifier,cert-dcl51-cpp)
    std::abort();
}

} // namespace __gnu_cxx
