// Render tests need a display for their GL context (xvfb-run in the test command). Listing
// the tests at build time needs none: the offscreen platform then serves, and every GL test
// skips itself.
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>

// Mesa's software renderer loses a few small blocks per context of its own; they are told
// apart by the driver's modules, which must still be loaded when the leak check runs.
extern "C" const char* __lsan_default_suppressions() { return "leak:swrast_dri.so\n"; }
#endif

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // GLEW needs GLX.
    if (!std::getenv("QT_XCB_GL_INTEGRATION")) setenv("QT_XCB_GL_INTEGRATION", "xcb_glx", 1);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check(); // before the display closes and unloads the driver
#endif
    return result;
}
