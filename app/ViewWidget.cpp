#include "ViewWidget.h"

#include "common/Console.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QWidget>

#include <cmath>

namespace vornax {

bool quadBufferStereoOffered()
{
    QOpenGLContext context;
    context.setFormat(viewFormat(true));
    if (!context.create()) return false;
    // Qt drops stereo silently when the driver has none: the format it gave says.
    return context.format().stereo();
}

ViewSurface* makeViewSurface(QWidget* parent, Workbench& workbench, bool allowStereo)
{
    if (allowStereo && quadBufferStereoOffered()) {
        console::write(console::Information, "Quad-buffer stereo offered: drawing through a stereo window");
        return new StereoViewWindow(workbench, parent);
    }
    return new ViewWidget(workbench, parent);
}

namespace {
int pixels(int logical, qreal ratio) { return static_cast<int>(std::lround(logical * ratio)); }
} // namespace

// ---- ViewWidget ---------------------------------------------------------------------------

ViewWidget::ViewWidget(Workbench& workbench, QWidget* parent) : QOpenGLWidget(parent), m_renderer(workbench)
{
    setFormat(viewFormat(true));
    setMinimumSize(64, 64);
}

ViewWidget::~ViewWidget()
{
    if (m_renderer.view()) {
        QOpenGLWidget::makeCurrent();
        m_renderer.release();
        QOpenGLWidget::doneCurrent();
    }
}

void ViewWidget::initializeGL()
{
    const qreal ratio = devicePixelRatioF();
    if (!m_renderer.initialize(pixels(width(), ratio), pixels(height(), ratio), &m_problem)) return;
    if (onReady) onReady();
}

void ViewWidget::resizeGL(int w, int h)
{
    const qreal ratio = devicePixelRatioF();
    m_renderer.resize(pixels(w, ratio), pixels(h, ratio));
}

void ViewWidget::paintGL() { m_renderer.paint(); }

// ---- StereoViewWindow ---------------------------------------------------------------------

StereoViewWindow::StereoViewWindow(Workbench& workbench, QWidget* parent)
    : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate), m_renderer(workbench)
{
    setFormat(viewFormat(true));
    m_container = QWidget::createWindowContainer(this, parent);
    m_container->setMinimumSize(64, 64);
}

StereoViewWindow::~StereoViewWindow()
{
    if (m_renderer.view()) {
        QOpenGLWindow::makeCurrent();
        m_renderer.release();
        QOpenGLWindow::doneCurrent();
    }
}

void StereoViewWindow::initializeGL()
{
    const qreal ratio = devicePixelRatio();
    if (!m_renderer.initialize(pixels(width(), ratio), pixels(height(), ratio), &m_problem)) return;
    if (onReady) onReady();
}

void StereoViewWindow::resizeGL(int w, int h)
{
    const qreal ratio = devicePixelRatio();
    m_renderer.resize(pixels(w, ratio), pixels(h, ratio));
}

void StereoViewWindow::paintGL() { m_renderer.paint(); }

} // namespace vornax
