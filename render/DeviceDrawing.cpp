#include "render/DeviceDrawing.h"

namespace vornax {
std::unique_ptr<DeviceGraphics> makeDeviceGraphics() { return nullptr; }
} // namespace vornax
