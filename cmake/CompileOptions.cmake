# Options shared by every target of the project: C++20, warnings as errors.
add_library(lobbyfix_options INTERFACE)
target_compile_features(lobbyfix_options INTERFACE cxx_std_20)
target_compile_options(lobbyfix_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wnull-dereference -Werror)
