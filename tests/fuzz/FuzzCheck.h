#pragma once

#include <cstdio>
#include <cstdlib>

// A broken promise of the code under test: reported and aborted on, so the
// fuzzer keeps the input as a crash.
inline void fuzzCheck(bool holds, const char *promise)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\n", promise);
    std::abort();
}
