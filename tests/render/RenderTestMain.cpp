// Render tests need a display for their GL context (xvfb-run in the test command). Listing
// the tests at build time needs none: the offscreen platform then serves, and every GL test
// skips itself.
#include "GLDrivers.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // GLEW needs GLX.
    if (!std::getenv("QT_XCB_GL_INTEGRATION")) setenv("QT_XCB_GL_INTEGRATION", "xcb_glx", 1);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    vornax::gltest::keepGLDriversLoaded();
    return status;
}
