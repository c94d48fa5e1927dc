#include "ViewRenderer.h"

#include "common/Console.h"
#include "render/COpenGL.h"
#include "render/GLLoader.h"

namespace vornax {

ViewRenderer::ViewRenderer(Workbench& workbench, float hapticRadius)
    : m_workbench(workbench), m_hapticRadius(hapticRadius)
{
}
ViewRenderer::~ViewRenderer() = default;

bool ViewRenderer::initialize(int width, int height, std::string* problem)
{
    std::string why;
    if (!loadGLEntryPoints(&why)) {
        console::write(console::Warning, "OpenGL could not be loaded: " + why);
        if (problem) *problem = why;
        return false;
    }
    m_view = std::make_unique<COpenGL>(m_workbench, width, height, m_hapticRadius);
    m_measureStart = std::chrono::steady_clock::now();
    return true;
}

void ViewRenderer::resize(int width, int height)
{
    if (!m_view) return;
    m_view->setSurfaceHeight(height);
    m_view->ReSizeGLScene(width, height);
}

void ViewRenderer::paint()
{
    if (!m_view) return;
    m_view->Idle();
    m_view->Render_ELNET_Backbone();
    m_view->SwapOpenGLBuffers();
    // The easing is compensated by the rate at which frames really arrive (timer, drawing and
    // swap together), measured over 11 frames.
    if (++m_count >= 11) {
        const auto now = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(now - m_measureStart).count();
        if (seconds > 0.0) {
            m_frameRate = static_cast<int>(m_count / seconds);
            if (m_frameRate > 0) m_view->setLastFrameTime(m_frameRate);
        }
        m_count = 0;
        m_measureStart = now;
    }
}

void ViewRenderer::release() { m_view.reset(); }

} // namespace vornax
