#include "common/AxisAngle.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vornax {

AxisAngle turnFromXAxis(const Vector3d& direction)
{
    AxisAngle turn;
    // Work in double: a direction within a few float ulps of the x axis still gives a usable
    // axis, and the cosine is clamped so that acos never sees a value beyond ±1.
    double d[3] = {direction.x, direction.y, direction.z};
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(length > 0.0) || !std::isfinite(length)) return turn; // no direction: no turn
    for (double& c : d) c /= length;
    // d × x̂ = (0, d.z, −d.y)
    const double axisLength = std::hypot(d[2], d[1]);
    if (axisLength < 1e-12) {
        // Along the x axis: no turn for +x, half a turn for −x. About z, so that the segment's
        // own frame stays upright (y stays in the x-y plane).
        turn.degrees = d[0] > 0.0 ? 0.0 : 180.0;
        return turn;
    }
    turn.x = 0.0;
    turn.y = d[2] / axisLength;
    turn.z = -d[1] / axisLength;
    double theta = std::acos(std::clamp(d[0], -1.0, 1.0));
    // x̂ turned a quarter about the axis (right hand): axis × x̂ + axis (axis · x̂) = (0, z, −y).
    if (turn.z * d[1] - turn.y * d[2] < 0.0) theta = 2.0 * std::numbers::pi - theta;
    turn.degrees = theta * 180.0 / std::numbers::pi;
    return turn;
}

} // namespace vornax
