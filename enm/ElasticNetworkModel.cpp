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
    m_deformation.clearContacts();
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
    m_deformation.allocate(static_cast<std::size_t>(m_geometry.get3N()));
}

void ElasticNetworkModel::buildLightAtomList()
{
    m_deformation.clearContacts();
    m_geometry.buildLightAtomList();
    m_deformation.publishNodes();
}

// ---- Selection of atoms to pull ---------------------------------------------------------------

} // namespace vornax
