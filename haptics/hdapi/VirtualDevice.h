// The virtual haptic device behind the HDAPI calls: a desktop arm without motors.
//
// The application (a "mouse stylus") or a test moves the stylus and presses its buttons through
// this class; the device logic reads them back through hdGetDoublev / hdGetIntegerv as from a real
// arm. Forces sent in frames are kept in a log with the servo tick they were sent in.
//
// Two ways of running the servo ticks:
//  - real time (default): hdStartScheduler starts a thread that ticks at 1 kHz on a steady clock,
//    catching up when a tick comes late, and measures the rate it achieves (HD_UPDATE_RATE);
//  - manual: hdStartScheduler starts no thread; each tick() runs every scheduled callback once on
//    the calling thread, so a scenario is deterministic. Synchronous callbacks scheduled from
//    outside a tick run at once on the caller.
#pragma once

#include "haptics/hdapi/hdapi.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vornax::hdapi {

class VirtualDevice {
public:
    /// The one virtual device of the process.
    static VirtualDevice& instance();

    /// Model name reported for HD_DEVICE_MODEL_TYPE by default; not one of the known arms, so the
    /// device logic gives it the safe parameter set.
    static constexpr const char* DefaultModelName = "Vornax Virtual Stylus";
    static constexpr double NominalRateHz = 1000.0;

    struct Stylus {
        std::array<double, 3> position{};                                                 ///< mm, device frame
        std::array<double, 3> velocity{};                                                 ///< mm/s
        std::array<double, 16> transform{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; ///< column-major
        HDint buttons = 0;                                                                ///< HD_DEVICE_BUTTON_* bits
    };

    /// One force that reached the (virtual) motors at hdEndFrame.
    struct SentForce {
        std::uint64_t tick = 0; ///< servo tick of the frame (tickCount() at the time)
        std::array<double, 3> force{};
    };

    // ---- Stylus (any thread) ----
    void setStylus(const Stylus& stylus);
    Stylus stylus() const;
    /// Moves the stylus: sets the position and the translation column of the transform.
    void setPosition(double x, double y, double z);
    void setVelocity(double x, double y, double z);
    void setButtons(HDint buttons);

    // ---- Device description (set before hdInitDevice in tests) ----
    void setModelName(const std::string& name);
    std::string modelName() const;
    /// Usable workspace box: min x, y, z, max x, y, z in mm.
    void setUsableWorkspace(const std::array<double, 6>& box);
    std::array<double, 6> usableWorkspace() const;
    void setNominalMaxForce(double newtons);
    double nominalMaxForce() const;

    // ---- Servo ticks ----
    /// Manual mode: no scheduler thread; tick() advances the servo loop. Switching stops a running
    /// scheduler first.
    void setManualMode(bool on);
    bool manualMode() const;
    /// Manual mode: runs one servo tick on the calling thread. Returns false (and runs nothing)
    /// when the scheduler is stopped or the device is not in manual mode.
    bool tick();
    /// Manual mode: `count` ticks; returns how many ran.
    int tick(int count);
    /// Ticks run since the device was opened.
    std::uint64_t tickCount() const;
    bool schedulerRunning() const;
    /// Asynchronous callbacks still scheduled.
    std::size_t scheduledCallbacks() const;
    /// Servo rate measured over the last second of ticks (Hz); the nominal rate in manual mode and
    /// before enough ticks have run.
    double measuredRate() const;

    // ---- Output ----
    /// Forces sent, oldest first (the most recent ForceLogLimit of them).
    std::vector<SentForce> forcesSent() const;
    void clearForcesSent();
    static constexpr std::size_t ForceLogLimit = 100000;
    /// The force the motors hold now (the last one sent, zero after the device opens).
    std::array<double, 3> currentForce() const;
    bool isOpen() const;

    /// Back to the state of a fresh process: scheduler stopped (and its thread joined), callbacks
    /// unscheduled, device closed, default stylus, model name, workspace and real-time mode, log
    /// cleared. For tests.
    void reset();

    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    struct Impl;

private:
    VirtualDevice();
    ~VirtualDevice();
    std::unique_ptr<Impl> m_impl;
    friend class VirtualBackend;
};

} // namespace vornax::hdapi
