// For window tests that need an X server: skips without one, or fails where GL is required
// (VORNAX_REQUIRE_GL, as under xvfb-run in CI).
#pragma once

#include "GLTestContext.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#define REQUIRE_DISPLAY()                                                           \
    do {                                                                            \
        if (QGuiApplication::platformName() != "xcb") {                             \
            if (gltest::glRequired()) FAIL() << "no X server (run under xvfb-run)"; \
            GTEST_SKIP() << "no X server";                                          \
        }                                                                           \
    } while (false)
