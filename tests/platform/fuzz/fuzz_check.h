#pragma once
// A failed check in a fuzz target stops the run at once, naming the check,
// so that a crash report says which property broke.
#include <cstdio>

#define FUZZ_CHECK(condition)                                                                        \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);       \
            __builtin_trap();                                                                        \
        }                                                                                            \
    } while (0)
