// The drawing a device object does (probe, navigation cube, 2-D overlay). The core has no GL:
// the renderer supplies an implementation and hands it to the device with Haptics::setGraphics.
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
