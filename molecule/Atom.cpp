#include "molecule/Atom.h"

#include "common/TextParse.h"

namespace vornax {

Atom::Atom(const Vector3d& position, const Vector3d& colour_, const std::string& info_, float radius_,
           int32_t positionInOriginalList_, const std::string& me, const std::string& theRes,
           const std::string& resName, const std::string& cID)
{
    currentArrowColour.store(Vector3d(0.0f, 1.0f, 1.0f));
    radius = radius_;
    localPosition = position;
    deformedPosition.store(position);
    colour = colour_;
    info = info_;
    positionInOriginalList = positionInOriginalList_;
    inContact.store(false, std::memory_order_relaxed);
    gridIndices.fill(-1);
    element = me;
    water = false;
    residueNumber = text::trimmed(theRes);
    residueName = resName;
    chainID = cID;
    selected.store(false, std::memory_order_relaxed);
    pressedState.store(3, std::memory_order_relaxed);
    camZoom.store(1.0f, std::memory_order_relaxed);
    residueColour.store(kPlainNodeColour);
}

Atom::~Atom()
{
    gridIndices.fill(-1);
    gridIndexCount = 0;
    connectedData = nullptr;
    connectedCount = 0;
}

} // namespace vornax
