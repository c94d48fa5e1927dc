// One normal mode played as a motion for the view: each node swings along its part of the mode's
// vector, x_i(t) = x_i + a · s · sin(2π t / T) · v_k,i, on top of whatever the deformation shows.
// a is the mode's thermal amplitude at the structure's temperature, √(kT / (K λ_k)) Å (the
// root-mean-square of the mode's coordinate), s the user's scale and T the period. The network is
// only read: kept forces and the deformation are untouched, and the drawing alone moves.
//
//     ModeAnimation animation;
//     if (animation.start(network, 0, clock::now())) ...     // the lowest non-rigid mode
//     every frame: drawing.setFrameOffsets(animation.displacements(clock::now()));
//     animation.stop();                                        // a pull or a mode change
//
// All calls come from one thread (the window's).
#pragma once

#include "common/Vector3d.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace vornax {

class ElasticNetworkModel;

class ModeAnimation {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr double kDefaultPeriod = 2.0; ///< seconds
    static constexpr double kShortestPeriod = 0.25;
    static constexpr double kLongestPeriod = 20.0;
    static constexpr double kLargestScale = 100.0;

    /// Mode `mode` (0 = the lowest non-rigid one) of `network`, from phase 0 at `now`; false,
    /// and stopped, when the network holds no vector for it.
    bool start(const ElasticNetworkModel& network, int32_t mode, Clock::time_point now);
    void stop();
    bool running() const { return m_running; }
    /// The mode played (0-based, non-rigid), or −1.
    int32_t mode() const { return m_running ? m_mode : -1; }
    /// How many modes could be played on `network` (its mode vectors held).
    static int32_t playableModes(const ElasticNetworkModel& network);

    /// √(kT / (K λ_k)) in Å for the mode played; K = 1 where the structure is not calibrated.
    double thermalAmplitude() const { return m_thermal; }
    /// The amplitude shown: the thermal one times the scale.
    double amplitude() const { return m_thermal * m_scale; }
    /// The largest swing of one node at the amplitude shown, Å.
    double largestNodeSwing() const { return amplitude() * m_largestPart; }
    /// Of the thermal amplitude, 0 to kLargestScale.
    void setScale(double scale);
    double scale() const { return m_scale; }
    /// Seconds a swing takes, kShortestPeriod to kLongestPeriod; the phase carries on.
    void setPeriod(double seconds, Clock::time_point now);
    double period() const { return m_period; }
    /// Holds the motion at its largest displacement (for pictures); start() lets it go again.
    void holdAtPeak() { m_heldAtPeak = true; }

    /// The swing's phase at `now`: sin(2π t / T), 1 while held at the peak.
    double phaseAt(Clock::time_point now) const;
    /// Each node's displacement in model units at `now`; empty when stopped.
    const std::vector<Vector3d>& displacements(Clock::time_point now);

private:
    std::vector<Vector3d> m_shape; ///< v_k,i · a, model units
    std::vector<Vector3d> m_now;
    Clock::time_point m_start{};
    double m_phaseOffset = 0.0; ///< turns carried over a change of period
    double m_thermal = 0.0;
    double m_largestPart = 0.0; ///< max |v_k,i| over the nodes
    double m_scale = 1.0;
    double m_period = kDefaultPeriod;
    int32_t m_mode = -1;
    bool m_running = false;
    bool m_heldAtPeak = false;
};

} // namespace vornax
