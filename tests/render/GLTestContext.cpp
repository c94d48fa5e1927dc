#include "GLTestContext.h"

#include "app/ViewFormat.h"
#include "render/GLLoader.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>

#include <cstdlib>
#include <filesystem>

namespace vornax::gltest {

GLTestContext::GLTestContext(int width, int height) : m_width(width), m_height(height)
{
    m_context = std::make_unique<QOpenGLContext>();
    m_context->setFormat(viewFormat(false));
    if (!m_context->create()) {
        m_problem = "no OpenGL context (is there a display? run under xvfb-run)";
        return;
    }
    m_surface = std::make_unique<QOffscreenSurface>();
    m_surface->setFormat(m_context->format());
    m_surface->create();
    if (!m_surface->isValid() || !m_context->makeCurrent(m_surface.get())) {
        m_problem = "the OpenGL context cannot be made current";
        return;
    }
    std::string glew;
    if (!loadGLEntryPoints(&glew)) {
        m_problem = "GLEW: " + glew;
        return;
    }
    QOpenGLFramebufferObjectFormat fboFormat;
    fboFormat.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
    m_framebuffer = std::make_unique<QOpenGLFramebufferObject>(width, height, fboFormat);
    if (!m_framebuffer->isValid() || !m_framebuffer->bind()) {
        m_problem = "no framebuffer of " + std::to_string(width) + " x " + std::to_string(height);
        return;
    }
    m_context->functions()->glViewport(0, 0, width, height);
    m_valid = true;
}

GLTestContext::~GLTestContext()
{
    if (m_context && m_surface && m_surface->isValid()) m_context->makeCurrent(m_surface.get());
    m_framebuffer.reset();
    if (m_context) m_context->doneCurrent();
}

void GLTestContext::makeCurrent()
{
    if (!m_context || !m_surface) return;
    m_context->makeCurrent(m_surface.get());
    if (m_framebuffer) m_framebuffer->bind();
}

QImage GLTestContext::read()
{
    if (!m_valid) return {};
    makeCurrent();
    m_context->functions()->glFinish();
    return m_framebuffer->toImage(false).convertToFormat(QImage::Format_RGB32);
}

bool GLTestContext::savePng(const std::string& path)
{
    const std::filesystem::path file(path);
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    return read().save(QString::fromStdString(path), "PNG");
}

std::string picturePath(const std::string& name)
{
    const char* folder = std::getenv("VORNAX_TEST_PICTURES");
    const std::filesystem::path base =
        folder && *folder ? std::filesystem::path(folder) : std::filesystem::path(VORNAX_TEST_PICTURES_DIR);
    return (base / name).string();
}

bool glRequired()
{
    const char* value = std::getenv("VORNAX_REQUIRE_GL");
    return value && *value && std::string(value) != "0";
}

} // namespace vornax::gltest
