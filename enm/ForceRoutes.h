// The routes a kept force can take into the deformation, as a node's mode state records them
// (element 0 of its ModeStateArray), and the test for "no force kept".
#pragma once

#include "common/Vector3d.h"

#include <cstdint>

namespace vornax {

inline constexpr int32_t kRouteModeList = 0;   ///< through the listed modes (the mode buttons)
inline constexpr int32_t kRouteFirstModes = 1; ///< through the first n kept modes (the slider)
inline constexpr int32_t kRouteAllModes = 2;   ///< through every mode (Y, or the factorisation)

/// A node keeps no force: every component is zero (of either sign).
inline bool isZeroForce(const Vector3d& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

} // namespace vornax
