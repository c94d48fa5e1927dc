// What the main window's controls ask of the view: a frame, and the view's own switches (the
// navigation cube, the rotate mode, the selected atoms, the springs, the reset).
//
// FormLogic reaches the network and the device through the window's workbench, and the view
// through this interface only, so that it runs without a GL context. SurfaceFormView answers
// from the window's GL surface; before the view exists its switches do nothing.
#pragma once

namespace vornax {

class COpenGL;
class ViewSurface;

class FormView {
public:
    virtual ~FormView() = default;

    /// A frame (the surface measures the frame rate and hands it to the view itself).
    virtual void requestFrame() = 0;
    virtual void toggleWorkspace(bool show) = 0;
    virtual void toggleRotateMode() = 0;
    virtual void showSelectedAtoms(bool on) = 0;
    virtual void renderSprings(bool on) = 0;
    virtual void resetALL() = 0;
};

/// The view of a GL surface.
class SurfaceFormView final : public FormView {
public:
    /// `surface` may be null (no view then).
    explicit SurfaceFormView(ViewSurface* surface) : m_surface(surface) {}
    void setSurface(ViewSurface* surface) { m_surface = surface; }

    void requestFrame() override;
    void toggleWorkspace(bool show) override;
    void toggleRotateMode() override;
    void showSelectedAtoms(bool on) override;
    void renderSprings(bool on) override;
    void resetALL() override;

private:
    COpenGL* gl() const;
    ViewSurface* m_surface;
};

} // namespace vornax
