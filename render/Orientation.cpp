#include "render/Orientation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vornax {

namespace {
constexpr double kDegreesPerRadian = 57.29577951308232;
} // namespace

Quaternion orientationTowards(const Vector3d& direction)
{
    Quaternion q;
    // Work in double: a direction within a few float ulps of the x axis still gives a usable
    // axis, and the cosine is clamped so that acos never sees a value beyond ±1.
    double d[3] = {direction.x, direction.y, direction.z};
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(length > 0.0) || !std::isfinite(length)) {
        q.CreateFromAxisAngle(0.0, 0.0, 1.0, 0.0); // no direction: no turn
        return q;
    }
    for (double& c : d) c /= length;
    // d × x̂ = (0, d.z, −d.y)
    double a[3] = {0.0, d[2], -d[1]};
    const double axisLength = std::hypot(a[1], a[2]);
    if (axisLength < 1e-12) {
        // Along the x axis: no turn for +x, half a turn for −x. About z, so that the segment's
        // own frame stays upright (y stays in the x-y plane).
        q.CreateFromAxisAngle(0.0, 0.0, 1.0, d[0] > 0.0 ? 0.0 : 180.0);
        return q;
    }
    a[1] /= axisLength;
    a[2] /= axisLength;
    double theta = std::acos(std::clamp(d[0], -1.0, 1.0));
    // x̂ turned a quarter about a (right hand): a × x̂ + a (a · x̂), and a · x̂ = 0.
    const double turned[3] = {0.0, a[2], -a[1]};
    if (turned[0] * d[0] + turned[1] * d[1] + turned[2] * d[2] < 0.0) theta = 2.0 * std::numbers::pi - theta;
    q.CreateFromAxisAngle(a[0], a[1], a[2], theta * kDegreesPerRadian);
    return q;
}

} // namespace vornax
