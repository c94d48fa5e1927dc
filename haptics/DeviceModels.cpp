// The device model table.
#include "haptics/DeviceModels.h"

#include <algorithm>

namespace vornax {

namespace {

struct ModelEntry {
    const char* name;
    const char* message;
    DeviceParameters parameters;
};

// stiffness, maxForce, maxVelocity, workspaceScale, deviceModel, viewHeightOffset, averageForce
const ModelEntry kModels[] = {
    {"PHANTOM Omni",
     "Found Phantom Omni device. Adjusting spring stiffness...",
     {0.19f, 3.0f, 450.0f, 1.2f, 0, 0.0f, 1.0f}},
    {"PHANTOM Desktop",
     "Found Phantom Desktop. Adjusting spring stiffness...",
     {0.15f, 6.0f, 450.0f, 1.0f, 1, 0.0f, 1.0f}},
    {"PHANTOM Device", "Found Phantom. Adjusting spring stiffness...", {0.15f, 8.0f, 450.0f, 1.0f, 2, 150.0f, 1.0f}},
    {"PHANTOM Premium 1.5 6DOF",
     "Found Phantom. Adjusting spring stiffness...",
     {0.15f, 8.0f, 450.0f, 1.0f, 2, 150.0f, 1.0f}},
};

const DeviceParameters kSafeParameters{0.15f, 3.0f, 450.0f, 1.0f, 1, 0.0f, 1.0f};
const char* const kSafeMessage = "Device not listed. Adjusting spring stiffness to safe values...";

} // namespace

DeviceParameters deviceParametersForModel(const std::string& modelName, std::string* message)
{
    for (const ModelEntry& entry : kModels) {
        if (modelName == entry.name) {
            if (message) *message = entry.message;
            return entry.parameters;
        }
    }
    if (message) *message = kSafeMessage;
    return kSafeParameters;
}

float largestDeviceForce()
{
    float largest = kSafeParameters.maxForce;
    for (const ModelEntry& entry : kModels) largest = std::max(largest, entry.parameters.maxForce);
    return largest;
}

} // namespace vornax
