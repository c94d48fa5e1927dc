// The turn that lays the x axis onto a direction, as an axis and an angle: how backbone
// segments and force arrows (modelled along x) are oriented.
#pragma once

#include "common/Vector3d.h"

namespace vornax {

struct AxisAngle {
    double x = 0.0, y = 0.0, z = 1.0; ///< unit axis
    double degrees = 0.0;
};

/// The axis normalise(d × x̂) and the angle acos(d · x̂), taken the other way round (360° − θ)
/// when a quarter turn of x̂ about the axis leads away from d. Where the axis vanishes the turn
/// is still a proper one: none for d along +x and for a zero or non-finite d, half a turn about
/// z for d along −x.
AxisAngle turnFromXAxis(const Vector3d& direction);

} // namespace vornax
