# Build variants used by the quality gates. Each is off by default and is
# switched on by its own preset; they add to the shared options target, so
# every library, test and tool of the build gets the same instrumentation.
#
#   LOBBYFIX_SANITIZE  AddressSanitizer + UndefinedBehaviorSanitizer; any
#                      report aborts the process, so a test that triggers one
#                      fails.
#   LOBBYFIX_COVERAGE  gcov line and branch counters, read by gcovr.
#   LOBBYFIX_FUZZ      libFuzzer instrumentation (clang only) on top of the
#                      sanitizers; builds the targets under tests/fuzz.

option(LOBBYFIX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(LOBBYFIX_COVERAGE "Build with gcov coverage counters" OFF)
option(LOBBYFIX_FUZZ "Build the libFuzzer targets (clang)" OFF)

if(LOBBYFIX_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "LOBBYFIX_FUZZ needs clang (libFuzzer); configure with the fuzz preset")
    endif()
    set(LOBBYFIX_SANITIZE ON)
    # Coverage feedback for the fuzzer in every library; only the fuzz
    # targets themselves link the fuzzer's main.
    target_compile_options(lobbyfix_options INTERFACE -fsanitize=fuzzer-no-link -O1)
endif()

if(LOBBYFIX_SANITIZE)
    set(_lobbyfix_san -fsanitize=address,undefined -fno-sanitize-recover=all)
    target_compile_options(lobbyfix_options INTERFACE ${_lobbyfix_san} -fno-omit-frame-pointer -g)
    target_link_options(lobbyfix_options INTERFACE ${_lobbyfix_san})
endif()

if(LOBBYFIX_COVERAGE)
    target_compile_options(lobbyfix_options INTERFACE --coverage -O0 -g)
    target_link_options(lobbyfix_options INTERFACE --coverage)
endif()
