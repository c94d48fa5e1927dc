#include "enm/ElasticNetworkModel.h"

#include "common/Console.h"
#include "enm/ContactGrid.h"
#include "enm/sparse/SparseNetworkSolver.h"
#include "molecule/Atom.h"

namespace vornax {

ElasticNetworkModel::ElasticNetworkModel() = default;

ElasticNetworkModel::~ElasticNetworkModel()
{
    console::line("deleting elastic network object");
    contacts.clear();
    m_geometry.freeNodes();
}

void ElasticNetworkModel::init() {}

// ---- Construction ----------------------------------------------------------------------------

void ElasticNetworkModel::setRenderingDataUp()
{
    calcDistances();
    generateRenderingBB();
    buildLightAtomList();
    buildConnectedList();
}

void ElasticNetworkModel::generateRenderingBB()
{
    m_geometry.generateRenderingBB();
    const auto threeN = static_cast<std::size_t>(m_geometry.get3N());
    responseScratch.assign(threeN, 0.0);
    displacement.assign(threeN, 0.0);
    baseDisplacement.assign(threeN, 0.0);
}

void ElasticNetworkModel::buildLightAtomList()
{
    contacts.clear();
    m_geometry.buildLightAtomList();
    const std::size_t n = m_geometry.getBackboneList().size();
    // Room for every node in the published contact list, so that pulls never grow it.
    contacts.reset(n);
    positions.reset(n);
    for (std::size_t i = 0; i < n; ++i) positions.store(i, m_geometry.getBackboneList()[i].position);
    positions.newNodesStored();
}

// ---- Selection of atoms to pull ---------------------------------------------------------------

Atom* ElasticNetworkModel::collisionCheck(const Vector3d& HIP, bool& res)
{
    const std::vector<Atom*>& atomArray = m_geometry.getAtoms();
    const int32_t amountOfAtoms = m_geometry.getAmountOfAtoms();
    if (!contactGrid) contactGrid = std::make_unique<ContactGrid>();
    // The contact step takes the touched atom's deformedPosition as its centre and initial
    // position: the atom that is hit gets the published position it was hit at, on either path.
    if (auto hit = contactGrid->firstHit(HIP, atomArray, positions.data(), amountOfAtoms, positions.version())) {
        if (*hit < 0) return nullptr;
        res = true;
        Atom* atom = atomArray[static_cast<std::size_t>(*hit)];
        atom->setMyDeformedPosition(positions.load(static_cast<std::size_t>(*hit)));
        return atom;
    }
    for (int32_t i = 0; i < amountOfAtoms; ++i) {
        // The published position is the one drawn; test against it.
        const Vector3d position = positions.load(static_cast<std::size_t>(i));
        if (atomArray[i]->pointToSphereAt(HIP, position)) {
            atomArray[i]->setMyDeformedPosition(position);
            res = true;
            return atomArray[i];
        }
    }
    return nullptr;
}

} // namespace vornax
