#pragma once

// A property check for fuzz targets: prints the failed condition and where,
// then aborts, so libFuzzer saves the input as a crash reproducer. Unlike
// assert() it holds in every build type. The condition is tested as written
// (the cast keeps a negation from being read as one to distribute).

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!static_cast<bool>(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);            \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
