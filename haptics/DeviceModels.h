// What the program knows of each device model (its spring stiffness, force and velocity limits,
// workspace scale), the device's safety flags, and the device state taken at every servo tick.
#pragma once

#include <cstdint>
#include <string>

namespace vornax {

/// Parameters of one device model.
struct DeviceParameters {
    float springStiffness = 0.15f; ///< N/mm, surface contact spring
    float maxForce = 3.0f;         ///< N, pull forces are clamped to it
    float maxVelocity = 450.0f;    ///< mm/s
    float workspaceScale = 1.0f;   ///< factor on the usable workspace box
    int32_t deviceModel = 1;       ///< 0 Omni, 1 Desktop or unlisted, 2 other PHANTOM models
    float viewHeightOffset = 0.0f; ///< vertical offset of the initial molecule translation
    float averageForce = 1.0f;     ///< N, reference force of the network's force scaler
};

/// The parameters and console message for a device model name (exact, case-sensitive match;
/// any other name gets the safe set).
DeviceParameters deviceParametersForModel(const std::string& modelName, std::string* message = nullptr);
/// The largest force any device model pulls with (its maxForce), N.
float largestDeviceForce();

/// Safety flags of the device; nothing in the running system sets them.
struct Errors {
    bool forceExceeded = false;
    bool velocityExceeded = false;
    bool rateTooSlow = false;
    bool spherePenetration = false;
};

/// Device state taken at the start of every servo tick.
struct HapticDisplayState {
    double position[3] = {0.0, 0.0, 0.0}; ///< mm
    double velocity[3] = {0.0, 0.0, 0.0}; ///< mm/s
    double transform[16] = {};            ///< 4 × 4, column-major, as the device gives it
    int32_t updateRate = 0;               ///< Hz
};

} // namespace vornax
