// The view's surfaces: ViewWidget (a QOpenGLWidget, the usual one) and StereoViewWindow (a
// QOpenGLWindow with quad-buffer stereo, shown through a window container).
#pragma once

#include "ViewRenderer.h"
#include "ViewSurface.h"

#include <QOpenGLWidget>
#include <QOpenGLWindow>

namespace vornax {

class ViewWidget final : public QOpenGLWidget, public ViewSurface {
public:
    /// The view draws `workbench` (not owned; it outlives the widget).
    ViewWidget(Workbench& workbench, QWidget* parent = nullptr);
    ~ViewWidget() override;

    QWidget* widget() override { return this; }
    COpenGL* view() override { return m_renderer.view(); }
    void makeCurrent() override { QOpenGLWidget::makeCurrent(); }
    void doneCurrent() override { QOpenGLWidget::doneCurrent(); }
    void requestFrame() override { update(); }
    QImage grabFrame() override { return grabFramebuffer(); }
    bool stereo() const override { return false; }
    int frameRate() const override { return m_renderer.measuredFrameRate(); }
    std::string problem() const override { return m_problem; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    ViewRenderer m_renderer;
    std::string m_problem;
};

class StereoViewWindow final : public QOpenGLWindow, public ViewSurface {
public:
    /// Makes the window and its container (a child of `parent`); the view draws `workbench`.
    StereoViewWindow(Workbench& workbench, QWidget* parent);
    ~StereoViewWindow() override;

    QWidget* widget() override { return m_container; }
    COpenGL* view() override { return m_renderer.view(); }
    void makeCurrent() override { QOpenGLWindow::makeCurrent(); }
    void doneCurrent() override { QOpenGLWindow::doneCurrent(); }
    void requestFrame() override { update(); }
    QImage grabFrame() override { return grabFramebuffer(); }
    bool stereo() const override { return true; }
    int frameRate() const override { return m_renderer.measuredFrameRate(); }
    std::string problem() const override { return m_problem; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    ViewRenderer m_renderer;
    QWidget* m_container = nullptr;
    std::string m_problem;
};

} // namespace vornax
