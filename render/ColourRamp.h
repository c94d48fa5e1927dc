// The colour ramp of the node maps: blue for the lowest value, white in the middle, red for the
// highest, as the B-factor colourings users know from their other tools.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

namespace vornax {

/// The ramp's colour (0..1 each) at `fraction` of the way from the lowest value to the highest.
inline std::array<float, 3> rampColour(double fraction)
{
    const float f = std::isfinite(fraction) ? static_cast<float>(std::clamp(fraction, 0.0, 1.0)) : 0.5f;
    if (f < 0.5f) return {2.0f * f, 2.0f * f, 1.0f};
    return {1.0f, 2.0f * (1.0f - f), 2.0f * (1.0f - f)};
}

} // namespace vornax
