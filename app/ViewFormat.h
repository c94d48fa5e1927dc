// The surface the view asks for: OpenGL 2.1 compatibility, RGBA, double-buffered, depth 16,
// stencil 1, and quad-buffer stereo when asked. Header only, so that the render tests' own
// context (which links no window code) asks for the same.
#pragma once

#include <QSurfaceFormat>

namespace vornax {

inline QSurfaceFormat viewFormat(bool stereo)
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setAlphaBufferSize(8);
    format.setDepthBufferSize(16);
    format.setStencilBufferSize(1);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setStereo(stereo);
    return format;
}

} // namespace vornax
