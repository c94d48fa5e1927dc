#include "enm/ModeAnimation.h"

#include "common/Units.h"
#include "enm/Calibration.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/NetworkMaps.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vornax {

int32_t ModeAnimation::playableModes(const ElasticNetworkModel& network) { return heldModes(network).rows.count; }

bool ModeAnimation::start(const ElasticNetworkModel& network, int32_t mode, Clock::time_point now)
{
    stop();
    const HeldModes held = heldModes(network);
    if (mode < 0 || mode >= held.rows.count) return false;
    const double inverse = held.inverseStiffness[static_cast<std::size_t>(mode)];
    if (!(inverse > 0.0)) return false;
    const double kT = thermalEnergy(network.geometry().getTemperature());
    m_thermal = std::sqrt(kT * inverse);
    const auto dim = static_cast<std::size_t>(network.get3N());
    const std::size_t n = dim / 3;
    const double* v = held.rows.rows + static_cast<std::size_t>(mode) * dim;
    const double a = units::toModel(m_thermal);
    m_shape.resize(n);
    m_largestPart = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        m_shape[i] = Vector3d(static_cast<float>(a * v[3 * i]), static_cast<float>(a * v[3 * i + 1]),
                              static_cast<float>(a * v[3 * i + 2]));
        m_largestPart = std::max(m_largestPart, std::sqrt(nodePartSquared(v, i)));
    }
    m_now.assign(n, Vector3d());
    m_mode = mode;
    m_start = now;
    m_phaseOffset = 0.0;
    m_heldAtPeak = false;
    m_running = true;
    return true;
}

void ModeAnimation::stop()
{
    m_running = false;
    m_heldAtPeak = false;
    m_shape.clear();
    m_now.clear();
}

void ModeAnimation::setScale(double scale)
{
    m_scale = std::isfinite(scale) ? std::clamp(scale, 0.0, kLargestScale) : 1.0;
}

void ModeAnimation::setPeriod(double seconds, Clock::time_point now)
{
    if (!std::isfinite(seconds)) return;
    // The swing goes on from where it is, at the new pace.
    const double turns = m_phaseOffset + std::chrono::duration<double>(now - m_start).count() / m_period;
    m_period = std::clamp(seconds, kShortestPeriod, kLongestPeriod);
    m_phaseOffset = turns;
    m_start = now;
}

double ModeAnimation::phaseAt(Clock::time_point now) const
{
    if (m_heldAtPeak) return 1.0;
    const double turns = m_phaseOffset + std::chrono::duration<double>(now - m_start).count() / m_period;
    return std::sin(2.0 * std::numbers::pi * (turns - std::floor(turns)));
}

const std::vector<Vector3d>& ModeAnimation::displacements(Clock::time_point now)
{
    if (!m_running) return m_now;
    const auto f = static_cast<float>(m_scale * phaseAt(now));
    for (std::size_t i = 0; i < m_shape.size(); ++i) m_now[i] = m_shape[i] * f;
    return m_now;
}

} // namespace vornax
