#pragma once

#include <cstdio>
#include <cstdlib>

// Stops the fuzzer with a finding when an invariant of the code under test is broken.
inline void require(bool condition, const char *what)
{
    if (condition)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
