#pragma once

#include <QTest>

#include <cstdlib>
#include <unistd.h>

// For tests that serve port 80, which only root may. CI runs them as root, and one that
// skipped there would hide what it tests: without root they fail, unless a developer
// without root asks to skip them with DF_TESTS_WITHOUT_ROOT=1.
#define REQUIRE_ROOT(why)                                                                                     \
    do {                                                                                                      \
        if (geteuid() != 0) {                                                                                 \
            if (qEnvironmentVariableIntValue("DF_TESTS_WITHOUT_ROOT") == 1)                                  \
                QSKIP(why ", which only root may serve");                                                     \
            QFAIL(why ", which only root may serve: run the tests as root (or set DF_TESTS_WITHOUT_ROOT=1)"); \
        }                                                                                                     \
    } while (false)
