// The rotation that lays a backbone segment or a force arrow along its direction: it turns the
// x axis onto the direction. Cylinders and arrows are modelled along z and turned onto x by a
// quarter turn about y before this rotation is applied.
#pragma once

#include "common/Vector3d.h"
#include "render/Quaternion.h"

namespace vornax {

/// The rotation turning x̂ onto `direction` (any length): the axis normalise(d × x̂), the angle
/// acos(d · x̂), taken the other way round (2π − θ) when a quarter turn of x̂ about the axis
/// leads away from d. Where the axis vanishes the answer is still a proper rotation: the
/// identity for d along +x, for a zero or non-finite d; a half turn about z for d along −x.
Quaternion orientationTowards(const Vector3d& direction);

/// The orientation of the segment from `from` to `to`.
inline Quaternion segmentOrientation(const Vector3d& from, const Vector3d& to) { return orientationTowards(to - from); }

} // namespace vornax
