// The concrete atom record created by the structure reader and by the network.
#pragma once

#include "molecule/SuperAtom.h"

namespace vornax {

class Atom : public SuperAtom {
public:
    /// position and radius in model units (0.1 Å); colour RGB 0..1; `info` the record's
    /// columns 13–26 trimmed; `me` the element; `theRes` the residue number text (stored
    /// trimmed); `resName` and `cID` stored as given.
    Atom(const Vector3d& position, const Vector3d& colour, const std::string& info, float radius,
         int32_t positionInOriginalList, const std::string& me, const std::string& theRes, const std::string& resName,
         const std::string& cID);
    ~Atom();
};

} // namespace vornax
