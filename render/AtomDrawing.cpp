#include "render/AtomDrawing.h"

namespace vornax {
void makeAtomDisplayLists() {}
void callHapticRadiusSphere() {}
void renderForces(const Atom&) {}
} // namespace vornax
