// An OpenGL 2.1 compatibility context of the view's kind (RGBA, depth 16, stencil 1) with a
// framebuffer of a given size, for render tests and benchmarks: make it current, draw, read
// the picture back. Needs a display (Xvfb in the tests); without one valid() is false.
#pragma once

#include <QImage>

#include <memory>
#include <string>

class QOpenGLContext;
class QOffscreenSurface;
class QOpenGLFramebufferObject;

namespace vornax::gltest {

class GLTestContext {
public:
    GLTestContext(int width, int height);
    ~GLTestContext();
    GLTestContext(const GLTestContext&) = delete;
    GLTestContext& operator=(const GLTestContext&) = delete;

    /// A current context with its framebuffer bound and GLEW loaded.
    bool valid() const { return m_valid; }
    /// Why not, when not valid.
    const std::string& problem() const { return m_problem; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    void makeCurrent();
    /// The picture drawn so far (waits for the GL to finish).
    QImage read();
    /// read(), saved as PNG; the folder is made if missing. False when it could not be written.
    bool savePng(const std::string& path);

private:
    int m_width;
    int m_height;
    bool m_valid = false;
    std::string m_problem;
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOpenGLFramebufferObject> m_framebuffer;
};

/// Where tests write their pictures: $VORNAX_TEST_PICTURES, else <build>/test-pictures.
std::string picturePath(const std::string& name);

/// True when the run must have GL (VORNAX_REQUIRE_GL set, as the test command does).
bool glRequired();

} // namespace vornax::gltest

/// Skips the test without a GL context, or fails it where the run must have one.
#define VORNAX_REQUIRE_CONTEXT(gl)                                                                 \
    do {                                                                                           \
        if (!(gl).valid()) {                                                                       \
            if (::vornax::gltest::glRequired()) FAIL() << (gl).problem();                         \
            GTEST_SKIP() << (gl).problem();                                                        \
        }                                                                                          \
    } while (false)
