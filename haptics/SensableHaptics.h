// The device object bound to our HDAPI layer (a PHANTOM arm through the vendor library, or the
// virtual device): device discovery, initialisation, the servo callback, and the servo-loop
// logic of touching and pulling the network's atoms.
#pragma once

#include "haptics/Haptics.h"
#include "haptics/hdapi/hdapi.h"

#include <chrono>
#include <memory>

namespace vornax {

class SensableHaptics : public Haptics {
public:
    SensableHaptics(std::vector<Atom*> theList, float iWidth, float iHeight, HapticsUiHooks hooks = {});
    /// Stops the scheduler and takes the servo callback off it, so that no tick can reach a
    /// deleted object, and closes the device.
    ~SensableHaptics() override;

    void loadDevices() override;
    bool initHD() override;
    void touchTool() override;
    void releaseConditions(Vector3d& tempSCP, Vector3d& HIP) override;
    bool calcForce(float* force, const float* hapticPoint, const float* centre) override;
    void stopSched() override;
    void startSched() override;
    void disableDevice() override;
    void setForce(Vector3d HIP, bool holding) override;
    bool checkToggle() override;
    bool getFirstEntry() override;
    int32_t getLastFrameTime() override;
    void renderElasticNetwork() override;
    void setCameraZoom(float currentZoom) override;
    int32_t getButtons() override;
    bool pointToPlane(Vector3d pointOnPlane, Vector3d planeNormal, Vector3d pointToTest) override;

    /// Scheduler callback of every servo tick: runs touchTool on the object in `pUserData`.
    static hdapi::HDCallbackCode touchMesh(void* pUserData);
    /// Synchronous callback: fills the HapticDisplayState in `pUserData` from the device.
    static hdapi::HDCallbackCode copyHapticDisplayState(void* pUserData);

    /// The last device snapshot (any thread).
    HapticDisplayState getDisplayState() const { return publishedState.load(); }
    /// The force computed in the last tick (N, device frame).
    Vector3d getCurrentForce() const { return sentForce.load(); }
    hdapi::HHD getDeviceHandle() const { return deviceHandle; }
    std::array<double, 6> getUsableWorkspace() const { return usableWorkspace; }

private:
    /// What one servo tick works from, read once.
    struct Tick {
        hdapi::HDint buttons = 0;
        Vector3d device;     ///< stylus, device coordinates
        bool saving = false; ///< force-saving mode
    };
    /// A pull worked out from the stylus (model frame unless stated).
    struct PullForce {
        Vector3d force;         ///< N, times the user's force factor: what the network takes
        Vector3d direction;     ///< unit, from the stylus towards where the atom was touched
        Vector3d perpendicular; ///< drag-proxy force across the pull
        float magnitude = 0.0f; ///< N, clamped to [0, maxForce]
        float factor = 1.0f;    ///< the user's force factor
        float maxForce = 0.0f;  ///< N
    };

    // The servo tick's steps, in order (renderElasticNetwork).
    /// Filter memory, buttons, stylus in both frames, tick start.
    Tick beginTick();
    /// Non-saving mode: the pull freezes when the button goes up; true when a new press ends
    /// the tick at once.
    bool endsAtNewPress(const Tick& tick);
    /// Stylus arc-ball, navigation cube, easing, and this tick's transform.
    void navigate(const Tick& tick);
    /// Navigation lock held.
    void rotateWithStylus(const Tick& tick);
    /// Touching switched off: the probe follows the stylus and the contact keeps its force.
    void suspendTouch(const Tick& tick);
    /// One tick of the ramp-down of a released force.
    void continueRelease(ElasticNetworkModel* eln);
    /// Non-saving mode after the button went up: nothing but the probe moves.
    void freezeOutput(const Tick& tick);
    /// No contact yet: the first atom whose sphere holds the probe becomes the contact.
    void seekContact(ElasticNetworkModel* eln, const Tick& tick);
    /// Front button on the contact: select it and request a pull; true when the pull goes on.
    bool selectForPull(ElasticNetworkModel* eln, Atom* atom, const Tick& tick);
    PullForce computePull(Atom* atom);
    /// The network takes the pull and the device renders it.
    void handOverPull(ElasticNetworkModel* eln, Atom* atom, const PullForce& pull);

    void finishTick();
    void refreshTickTransform();
    /// The release's record of the modes a pull went through, on the console.
    void reportReleasedModes(const Atom* atom);
    void sendForce();
    void rampDown(ElasticNetworkModel* eln, Atom* atom);
    void finishRelease(ElasticNetworkModel* eln, Atom* atom);

    hdapi::HHD deviceHandle = hdapi::HD_INVALID_HANDLE;
    hdapi::HDSchedulerHandle servoCallbackHandle = hdapi::HD_INVALID_SCHEDULER_HANDLE;
    std::unique_ptr<HapticDisplayState> displayState; ///< servo thread's snapshot
    SeqLocked<HapticDisplayState> publishedState;     ///< the snapshot for other threads
    double currentForce[3] = {0.0, 0.0, 0.0};
    double previousForce[3] = {0.0, 0.0, 0.0};
    SeqLocked<Vector3d> sentForce;
    std::chrono::steady_clock::time_point tickStart;
    std::atomic<int32_t> lastButtons{0};
    Matrix4f tickTransform = identity4(); ///< moleculeTransform as the servo tick uses it
    /// The ramp has reached its end and waits for a moment without a simulation step to
    /// take the atom's force out.
    bool releaseEnding = false;
    /// Servo ticks under way; stopSched waits (without spinning) for none to be left.
    std::atomic<uint32_t> ticksRunning{0};
    std::atomic<bool> schedulerStarted{false};
};

/// Opens the device object (the workbench's device set-up). Without a device, tells the user
/// ("No device has been loaded.") and returns null; the system then runs with the mouse alone.
std::unique_ptr<SensableHaptics> setUpHapticDevice(std::vector<Atom*> atoms, float width, float height,
                                                   HapticsUiHooks hooks = {}, int32_t* deviceModel = nullptr);

} // namespace vornax
