// Kept forces in and out of session files.
#include "enm/io/NetworkOutput.h"

#include "enm/Deformation.h"
#include "enm/NetworkGeometry.h"

#include "common/Console.h"
#include "molecule/Atom.h"
#include "molecule/SessionFile.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace vornax {

SessionStructure describeSessionStructure(const NetworkGeometry& geometry, const std::string& mainFileName)
{
    // Rc as the main eigen data file stores it: in Å, single precision.
    const std::string name = !geometry.getPDBName().empty() ? geometry.getPDBName() : std::filesystem::path(mainFileName).stem().string();
    return describeStructure(geometry.getPdbLines(), geometry.storedLineCount(), geometry.getRc(), geometry.getAmountOfAtoms(), name);
}

bool writeKeptForces(const Deformation& deformation, std::ostream& out)
{
    return writeForceRecords(out, deformation.keptForces());
}

} // namespace vornax
