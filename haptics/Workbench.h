// The loaded structure and what works on it: the network, the haptic device and the simulation
// thread, with their start, hand-over and shutdown. The window and the view reach the engine
// through one workbench; the view only draws what the workbench holds.
//
//     Workbench bench;                                   // an empty network
//     bench.openDevice(atoms, &model);                   // the HDAPI layer's choice, or none
//     bench.handOver(std::move(network), atoms, Placement::around(maxPos, mid));
//     bench.start();                                     // servo ticks on, network initialised
//     bench.resetPlacement();
//     bench.startSimulation();
//     ...
//     bench.handOver(next, ...);                         // the old structure stops and goes
//     bench.shutdown();                                  // also on destruction
//
// Every operation runs on one thread (the window's); the device's servo thread and the
// simulation thread are stopped around every change of network or device. Two workbenches
// share nothing, so a process may run several.
#pragma once

#include "common/Vector3d.h"
#include "enm/ModeAnimation.h"
#include "enm/NodeMaps.h"
#include "haptics/Haptics.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace vornax {

class Atom;
class ElasticNetworkModel;
class ModeChangeToken;
class SimulationThread;
struct SessionForce;
struct SessionWorkspace;

/// Where a structure sits: its centre (model units) and the radius of its bounding sphere.
struct Placement {
    Vector3d centre;
    float sphereRadius = 0.0f;

    /// A structure read from a structure file: centred at `centre`, reaching to `maxPos`.
    static Placement around(const Vector3d& maxPos, const Vector3d& centre);
    /// A network read from eigen data files: the centre of its nodes as they are (the files
    /// name the structure's centre in their own frame), reaching to its largest coordinate.
    static Placement ofNodes(const ElasticNetworkModel& network);
};

class Workbench {
public:
    /// Average device force (N) the force scaler is computed for when no device is open: the
    /// value every known device model records.
    static constexpr float kNoDeviceAverageForce = 1.0f;
    /// Camera distances of a reset: PHANTOM Premium models, the others.
    static constexpr float kPremiumCameraZ = 866.0f;
    static constexpr float kStandardCameraZ = 266.0f;

    /// An empty network, no device.
    Workbench();
    /// shutdown().
    ~Workbench();
    Workbench(const Workbench&) = delete;
    Workbench& operator=(const Workbench&) = delete;

    // ---- What is loaded -----------------------------------------------------------------------
    /// An empty network before the first hand-over; null only after shutdown().
    ElasticNetworkModel* network() const { return m_network.get(); }
    /// Counts the networks handed over (a drawing of an older one is out of date).
    uint64_t generation() const { return m_generation; }
    /// The network is handed over and initialised (its modes are in use).
    bool loaded() const;
    const Placement& placement() const { return m_placement; }
    /// The molecule's translation after a reset: (0, viewHeightOffset, −sphere radius).
    Vector3d initialTranslation() const;
    /// The translation last given to the molecule (hand-over or reset).
    Vector3d translation() const { return m_translation; }
    /// The camera distance after a reset, by the last device model opened.
    float cameraDistance() const;
    static float cameraDistance(const DeviceParameters& params);

    /// The mode played in the view, if any (stopped at every hand-over).
    ModeAnimation& animation() { return m_animation; }
    const ModeAnimation& animation() const { return m_animation; }
    /// What the view colours the nodes by, if anything (cleared at every hand-over).
    NodeColouring& colouring() { return m_colouring; }
    const NodeColouring& colouring() const { return m_colouring; }

    // ---- The device -----------------------------------------------------------------------------
    /// The device object in use, or null.
    Haptics* device() const { return m_device.get(); }
    /// The parameters of the last device opened (the defaults before any).
    const DeviceParameters& deviceParameters() const { return m_deviceParams; }
    /// The force limit (N) of the device in use; 0 without one.
    float forceMax() const;
    /// The device's average force, or kNoDeviceAverageForce without one.
    float averageForce() const;
    /// The size (pixels) the device's arc-ball is built for.
    void setViewSize(float width, float height);
    /// Opens the HDAPI layer's choice of device for `atoms` (which must outlive it), replacing
    /// the one in use; false, with the user told, when none opens. Its servo ticks run until
    /// the next hand-over or stop().
    bool openDevice(const std::vector<Atom*>& atoms, int32_t* deviceModel = nullptr);
    /// Uses `device` (already initialised) and its parameters, for hosts and tests; null closes
    /// the one in use (its parameters stay the last ones).
    void adoptDevice(std::unique_ptr<Haptics> device);
    /// Closes the device in use and opens the HDAPI layer's choice for the structure already
    /// handed over, placed where the old one had it and zoomed for `cameraZ`; its scheduler is
    /// stopped. False when none opens (no device then).
    bool replaceDevice(const std::vector<Atom*>& atoms, float cameraZ, int32_t* deviceModel = nullptr);

    // ---- Hand-over, start and stop --------------------------------------------------------------
    /// `network` replaces the loaded one: the simulation and the device's servo ticks stop
    /// first, then the old network goes. The device (if any) is set up for it (placeDevice)
    /// and left stopped. `atoms` must outlive the device.
    void handOver(std::unique_ptr<ElasticNetworkModel> network, const std::vector<Atom*>& atoms,
                  const Placement& placement);
    /// The device's servo ticks stop (the network may then be rebuilt).
    void stop();
    /// The device's servo ticks start, and the network is marked initialised.
    void start();
    /// The device's molecule back to the initial translation, without rotation.
    void resetPlacement();
    /// Starts the simulation thread on the network; nothing when it runs.
    void startSimulation();
    /// Stops and joins it; nothing when none runs.
    void stopSimulation();
    bool simulationRunning() const;
    /// Simulation, then device, then network: the order their threads need.
    void shutdown();

    /// The window's set-up of `device` for a structure: its atoms, centre, translation,
    /// network and camera zoom; the workspace reset, servo ticks stopped, touching the network
    /// on and enabled. Used by every host of a device (the window, the replay, the tests).
    static void placeDevice(Haptics& device, ElasticNetworkModel& network, const std::vector<Atom*>& atoms,
                            const Vector3d& centre, const Vector3d& translation, float cameraZ);
    /// The initial translation of `placement` for `params`.
    static Vector3d initialTranslation(const Placement& placement, const DeviceParameters& params);

    // ---- Commands ---------------------------------------------------------------------------------
    /// Every kept mode in use (`on`), or the chosen ones: to the network and the device.
    void useAllModes(const ModeChangeToken& token, bool on);
    /// Force-saving mode; switching it off lets every kept force go first.
    void setSaveForces(bool on);
    /// Puts a session's kept force back on its atom: into the deformation by its route, kept,
    /// selected, and on the device's selection stack (so that undo takes it out). False
    /// (nothing done) for an atom outside the network.
    bool restoreKeptForce(const SessionForce& force);
    /// The device's workspace (a session's); false, `out` untouched, without a device.
    bool writeWorkspace(SessionWorkspace& out) const;
    /// A session's workspace to the device; false without a device.
    bool restoreWorkspace(const SessionWorkspace& in);

private:
    std::unique_ptr<ElasticNetworkModel> m_network;
    std::unique_ptr<Haptics> m_device;
    std::unique_ptr<SimulationThread> m_simulation;
    DeviceParameters m_deviceParams;
    ModeAnimation m_animation;
    NodeColouring m_colouring;
    Placement m_placement;
    Vector3d m_translation;
    uint64_t m_generation = 0;
    float m_viewWidth = 800.0f;
    float m_viewHeight = 600.0f;
};

} // namespace vornax
