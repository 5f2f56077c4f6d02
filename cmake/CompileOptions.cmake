# Options shared by every target of the project: C++20, warnings as errors.
add_library(lobbyfix_options INTERFACE)
target_compile_features(lobbyfix_options INTERFACE cxx_std_20)
target_compile_options(lobbyfix_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wnull-dereference -Werror)

# The Windows build is made for size (-Os). In the release build its objects
# also carry the compiler's intermediate code, and a target with the property
# LOBBYFIX_LINK_TIME_OPTIMIZATION (the shipped executable) is optimised as one
# program when linked. Every other target links the ordinary machine code the
# objects keep beside it (-ffat-lto-objects, -fno-lto): the tests do not pay
# for a whole-program link, nor meet the compiler's faults in one.
# No source or build folder may reach the objects (__FILE__, debug records):
# two builds of one commit in different folders must give the same bytes.
# Nor does the compiler's identification string (-fno-ident): it is given to
# the link as well, since the link-time optimiser writes the objects of the
# shipped executable anew.
if(WIN32)
    target_compile_options(lobbyfix_options INTERFACE
        $<$<CONFIG:Release>:-Os -flto -ffat-lto-objects>
        -fno-ident
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
        -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
    target_link_options(lobbyfix_options INTERFACE
        -fno-ident
        $<$<AND:$<CONFIG:Release>,$<NOT:$<BOOL:$<TARGET_PROPERTY:LOBBYFIX_LINK_TIME_OPTIMIZATION>>>>:-fno-lto>)
endif()
