// Drawing of the atom record: the class-wide sphere, cone and disc display lists and the force
// arrow.
#pragma once

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
} // namespace vornax
