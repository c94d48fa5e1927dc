// The class-wide drawing of the atom record: the sphere levels of detail, the haptic-radius
// sphere, the cone and the shaft of the force arrow, and the arrow itself.
#pragma once

#include "render/GLHeaders.h"

#include <array>

namespace vornax {
class Atom;

/// SuperAtom's class-wide display lists (the seven sphere levels of detail, the haptic-radius
/// sphere HR_sphereDisplayList of radius 1, the cone and the disc of the force arrow): made once per
/// GL context (call with the context current; calling again in the same context does nothing).
void makeAtomDisplayLists();
/// glCallList of the haptic-radius sphere (radius 1).
void callHapticRadiusSphere();
/// The force arrow of one atom (Atom::renderForces).
void renderForces(const Atom& atom);

/// Subdivisions of the seven sphere levels of detail, finest first.
inline constexpr std::array<int, 7> kSphereLevelSubdivisions{18, 16, 14, 12, 10, 8, 6};
/// Radius of the node spheres (model units) and of the haptic-radius sphere.
inline constexpr float kNodeSphereRadius = 6.0f;
inline constexpr int kHapticSphereSubdivisions = 66;

/// The lists of the current context (made on first use).
struct AtomDisplayLists {
    /// sphereDisplayList, L1_sphereDisplayList … L6_sphereDisplayList
    std::array<GLuint, 7> sphere{};
    GLuint hapticRadiusSphere = 0; ///< HR_sphereDisplayList
    GLuint cone = 0;               ///< coneList: the arrow head
    GLuint disc = 0;               ///< discList: the arrow shaft
};
const AtomDisplayLists& atomDisplayLists();

} // namespace vornax
