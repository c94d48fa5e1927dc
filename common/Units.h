// Lengths: model units and Å, and the smallest spring cutoff a load accepts.
//
// Every atom and node position inside the program is the structure file's coordinate in Å
// multiplied by kModelUnitsPerAngstrom (one model unit is 0.1 Å). The spring cutoff Rc stays in
// Å for its whole life and is converted where it meets model-unit positions.
#pragma once

#include "common/Vector3d.h"

#include <cmath>

namespace vornax::units {

/// Model units in one Å.
inline constexpr float kModelUnitsPerAngstrom = 10.0f;

/// Å to model units (positions and lengths).
constexpr float toModel(float angstrom) { return angstrom * kModelUnitsPerAngstrom; }
constexpr double toModel(double angstrom) { return angstrom * static_cast<double>(kModelUnitsPerAngstrom); }
inline Vector3d toModel(const Vector3d& angstrom)
{
    return Vector3d(toModel(angstrom.x), toModel(angstrom.y), toModel(angstrom.z));
}

/// Model units to Å.
constexpr float toAngstrom(float model) { return model / kModelUnitsPerAngstrom; }
constexpr double toAngstrom(double model) { return model / static_cast<double>(kModelUnitsPerAngstrom); }
inline Vector3d toAngstrom(const Vector3d& model) { return model / kModelUnitsPerAngstrom; }

/// The smallest spring cutoff Rc a load accepts, in Å: below it, the chain of C-alpha atoms
/// (3.8 Å apart) is barely held together.
inline constexpr float kMinCutoffAngstrom = 7.0f;

/// True for a cutoff of kMinCutoffAngstrom or more (false for NaN).
inline bool isCutoffLargeEnough(float rcAngstrom) { return rcAngstrom >= kMinCutoffAngstrom; }

} // namespace vornax::units
