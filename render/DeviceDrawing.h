// The GL drawing of a device object.
#pragma once

#include "haptics/DeviceGraphics.h"

#include <memory>

namespace vornax {
/// The GL drawing of a device object (probe sphere, workspace cube, 2-D overlay); makes initHD's sphere
/// and cylinder lists at its first draw, in the current context.
std::unique_ptr<DeviceGraphics> makeDeviceGraphics();
} // namespace vornax
