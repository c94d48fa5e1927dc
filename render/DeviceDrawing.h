// The GL drawing of a device object: the probe sphere (and its window position, which the
// stylus arc-ball reads), the navigation cube and the 2-D overlay.
#pragma once

#include "haptics/DeviceGraphics.h"

#include <array>
#include <functional>
#include <memory>

namespace vornax {

/// The view's matrices of the frame: model-view and projection (column-major) and viewport,
/// as the view saves them after setting up its camera.
struct ViewTransforms {
    std::array<double, 16> modelView{};
    std::array<double, 16> projection{};
    std::array<int, 4> viewport{};
};

/// The current GL model-view, projection and viewport.
ViewTransforms currentGLTransforms();

struct DeviceDrawingOptions {
    /// Where the probe's window position is taken from; unset: the GL state at the time of the
    /// draw (currentGLTransforms).
    std::function<ViewTransforms()> view;
    /// The crosshair texture of the 2-D overlay; 0: the texture bound when the overlay draws.
    unsigned crosshairTexture = 0;
};

/// The GL drawing of a device object (probe sphere, workspace cube, 2-D overlay); makes initHD's sphere
/// and cylinder lists at its first draw, in the current context.
std::unique_ptr<DeviceGraphics> makeDeviceGraphics();
/// The same with the view's matrices and the crosshair texture given. Destroy it with the
/// context current (it frees its lists).
std::unique_ptr<DeviceGraphics> makeDeviceGraphics(DeviceDrawingOptions options);

} // namespace vornax
