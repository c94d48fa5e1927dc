// The GL surface the window shows the view on: a QOpenGLWidget, or, where the driver offers
// quad-buffer stereo, a QOpenGLWindow inside a window container (QOpenGLWidget draws into a
// framebuffer object, which has no left and right buffers).
#pragma once

#include "app/ViewFormat.h"

#include <QImage>
#include <QSurfaceFormat>

#include <functional>
#include <string>

class QWidget;

namespace vornax {

class COpenGL;
class Workbench;

class ViewSurface {
public:
    virtual ~ViewSurface() = default;
    /// The widget to place in a layout; it owns the surface (delete it to delete the surface).
    virtual QWidget* widget() = 0;
    /// The view, once the GL context exists (null before, or when GL could not be loaded).
    virtual COpenGL* view() = 0;
    virtual void makeCurrent() = 0;
    virtual void doneCurrent() = 0;
    /// Schedules one frame.
    virtual void requestFrame() = 0;
    /// The last frame as a picture.
    virtual QImage grabFrame() = 0;
    /// True for the quad-buffer stereo surface.
    virtual bool stereo() const = 0;
    /// Frames per second as last measured.
    virtual int frameRate() const = 0;
    /// Why GL could not be used (empty when it could).
    virtual std::string problem() const = 0;

    /// Called once the view exists (on the window thread).
    std::function<void()> onReady;
};

/// Whether the driver gives a context with quad-buffer stereo.
bool quadBufferStereoOffered();
/// The stereo surface where stereo is offered and `allowStereo`, else the widget; its view
/// draws `workbench`.
ViewSurface* makeViewSurface(QWidget* parent, Workbench& workbench, bool allowStereo = true);

} // namespace vornax
