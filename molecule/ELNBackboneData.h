// One network node as the structure reader hands it to the elastic network.
#pragma once

#include "common/Vector3d.h"

#include <array>
#include <string>
#include <vector>

namespace vornax {

struct ELNBackboneData {
    Vector3d position; ///< model units (Å × 10)
    /// The coordinates as read, Å, in double precision: springs and the Hessian are built from
    /// them, so that single-precision positions do not blur the softest modes.
    std::array<double, 3> coordinates{};
    std::string chainID;       ///< column 22
    std::string residueName;   ///< columns 18–20
    std::string residueNumber; ///< columns 23–26, untrimmed
    float distance = 0.0f;     ///< Å to the next node of the same chain (filled by the network)
    double bFactor = 0.0;      ///< Å²
    bool isNucleic = false;    ///< phosphorus node of DNA/RNA

    ELNBackboneData() = default;
    ELNBackboneData(const Vector3d& pos, std::string chain, std::string resName, std::string resNum, double b,
                    bool nucleic)
        : position(pos), chainID(std::move(chain)), residueName(std::move(resName)), residueNumber(std::move(resNum)),
          bFactor(b), isNucleic(nucleic)
    {}
};

using ChainList = std::vector<std::vector<ELNBackboneData>>;

} // namespace vornax
