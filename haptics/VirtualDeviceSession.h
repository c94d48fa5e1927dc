// The device object on the virtual device, set up against a loaded network as the load
// workflow leaves it: view reset, molecule at (0, viewHeightOffset, −sphere radius), touching
// on, pulling allowed, navigation off. Used by the replay command and by the tests.
//
// In manual mode every tick() moves the stylus, runs one servo tick and then one simulation
// step on the calling thread, so a run is deterministic. In real-time mode the virtual
// device's scheduler thread ticks at 1 kHz and the caller runs the simulation thread.
#pragma once

#include "haptics/SensableHaptics.h"
#include "haptics/StylusScript.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vornax {

struct VirtualSessionOptions {
    std::string modelName;                                ///< empty: the virtual device's own name
    bool manual = true;                                   ///< manual ticks (deterministic) or the 1 kHz thread
    bool saveForces = false;                              ///< force-saving mode
    float forceFactor = 1.0f;                             ///< the user's force multiplier
    std::optional<std::array<double, 6>> usableWorkspace; ///< mm; the device's default when unset
};

/// What one servo tick produced.
struct TickRecord {
    bool forceSent = false;
    std::array<double, 3> force{}; ///< N, device frame: the last force sent in the tick
    int32_t atom = -1;             ///< current atom (network index), −1 for none
    int32_t pressedState = -1;     ///< that atom's press state after the simulation step
};

class VirtualDeviceSession {
public:
    /// Opens the virtual device and sets the device object up against `network`, which must be
    /// solved and calibrated with its modes set up. `atoms` is the molecule's atom list.
    VirtualDeviceSession(ElasticNetworkModel& network, std::vector<Atom*> atoms, VirtualSessionOptions options = {});
    ~VirtualDeviceSession();
    VirtualDeviceSession(const VirtualDeviceSession&) = delete;
    VirtualDeviceSession& operator=(const VirtualDeviceSession&) = delete;

    /// False when the device could not be opened.
    bool ok() const { return m_ok; }
    SensableHaptics& device() { return *m_device; }
    ElasticNetworkModel& network() { return m_network; }
    /// Radius of the molecule's bounding sphere (model units) used for the initial translation.
    float sphereRadius() const { return m_sphereRadius; }

    /// Node `node`'s undeformed position in device coordinates under the current transform.
    Vector3d nodeInDevice(int32_t node);
    /// Moves the stylus and presses the buttons (any mode).
    void setStylus(const Vector3d& devicePosition, int32_t buttons);
    /// Manual mode: stylus to (position, buttons), one servo tick, one simulation step.
    TickRecord tick(const Vector3d& devicePosition, int32_t buttons);
    /// Manual mode: `count` ticks at the same stylus state; the record of the last.
    TickRecord hold(const Vector3d& devicePosition, int32_t buttons, int64_t count);
    /// Manual mode: one script step; appends a record per tick when `records` is given.
    void run(const StylusStep& step, std::vector<TickRecord>* records);
    /// Manual mode: one script step; `each` receives the record of every tick as it comes.
    void run(const StylusStep& step, const std::function<void(const TickRecord&)>& each);

private:
    ElasticNetworkModel& m_network;
    VirtualSessionOptions m_options;
    std::unique_ptr<SensableHaptics> m_device;
    bool m_ok = false;
    float m_sphereRadius = 0.0f;
};

} // namespace vornax
