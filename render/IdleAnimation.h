// The scene shown while nothing is loaded: a knotted chain of beads joined by springs that
// turns slowly and breathes as if pulled through one of its normal modes. Drawn with plain GL
// from a handful of numbers; no files.
#pragma once

#include "common/Vector3d.h"

#include <vector>

namespace vornax {

class IdleAnimation {
public:
    /// One turn of the chain and a whole number of breaths.
    static constexpr double kLoopMilliseconds = 12000.0;
    static constexpr int kBeads = 48;

    /// Moves the animation on; negative or non-finite steps are ignored.
    void advance(double milliseconds);
    /// Time within the loop, [0, kLoopMilliseconds).
    double elapsed() const { return m_elapsed; }
    /// The beads at the current time, centred on the origin and within a sphere of radius 1.
    std::vector<Vector3d> beads() const;
    /// Colour of bead `i`: blue at the chain's start, through green, to red at its end.
    static Vector3d beadColour(int i);

    /// Draws the scene centred at the current origin, `size` units across, with the current
    /// lights (context current). Leaves the GL state as it found it.
    void draw(float size) const;

private:
    double m_elapsed = 0.0;
};

} // namespace vornax
