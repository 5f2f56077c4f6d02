#pragma once

// A property check for fuzz targets: prints the failed condition and where,
// then aborts, so libFuzzer saves the input as a crash reproducer. Unlike
// assert() it holds in every build type.

#include <cstdio>
#include <cstdlib>

inline void FuzzCheck(bool holds, const char* file, int line, const char* condition) {
    if (!holds) {
        std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, condition);
        std::abort();
    }
}

#define FUZZ_CHECK(condition) FuzzCheck(static_cast<bool>(condition), __FILE__, __LINE__, #condition)
