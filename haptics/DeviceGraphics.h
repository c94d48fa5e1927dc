// The drawing a device object does, supplied by the renderer.
#pragma once

namespace vornax {
class Haptics;
class DeviceGraphics {
public:
    virtual ~DeviceGraphics() = default;
    virtual void renderWorkspace(Haptics& device, bool state) = 0;
    virtual void renderHaptics2D(Haptics& device) = 0;
    virtual void renderElasticNetworkGraphics(Haptics& device) = 0;
};
} // namespace vornax
