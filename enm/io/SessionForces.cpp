// Kept forces in and out of session files.
#include "enm/ElasticNetworkModel.h"

#include "common/Console.h"
#include "molecule/Atom.h"
#include "molecule/SessionFile.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace vornax {

SessionStructure ElasticNetworkModel::sessionStructure() const
{
    // Rc as the main eigen data file stores it: in Å, single precision.
    const std::string name = !m_geometry.getPDBName().empty() ? m_geometry.getPDBName() : std::filesystem::path(mainFileName).stem().string();
    return describeStructure(m_geometry.getPdbLines(), m_geometry.storedLineCount(), m_geometry.getRc(), m_geometry.getAmountOfAtoms(), name);
}

bool ElasticNetworkModel::serialize(std::ostream& out) const { return writeForceRecords(out, m_deformation.keptForces()); }

} // namespace vornax
