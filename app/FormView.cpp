#include "FormView.h"
#include "ViewSurface.h"

#include "render/COpenGL.h"

namespace vornax {

COpenGL* SurfaceFormView::gl() const { return m_surface ? m_surface->view() : nullptr; }

void SurfaceFormView::requestFrame()
{
    if (m_surface) m_surface->requestFrame();
}

void SurfaceFormView::toggleWorkspace(bool show)
{
    if (COpenGL* v = gl()) v->toggleWorkspace(show);
}

void SurfaceFormView::toggleRotateMode()
{
    if (COpenGL* v = gl()) v->toggleRotateMode();
}

void SurfaceFormView::showSelectedAtoms(bool on)
{
    if (COpenGL* v = gl()) v->showSelectedAtoms(on);
}

void SurfaceFormView::renderSprings(bool on)
{
    if (COpenGL* v = gl()) v->renderSprings(on);
}

void SurfaceFormView::resetALL()
{
    if (COpenGL* v = gl()) v->resetALL();
}

} // namespace vornax
