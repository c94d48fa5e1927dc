// Kept forces in and out of session files.
#include "enm/ElasticNetworkModel.h"

#include "common/Console.h"
#include "molecule/Atom.h"
#include "molecule/SessionFile.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace vornax {

namespace {

bool isZero(const Vector3d& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

} // namespace

std::vector<SessionForce> ElasticNetworkModel::keptForces() const
{
    // Between two steps: the step that ends a pull writes the kept force and its route.
    const ModeChangeToken hold = const_cast<ElasticNetworkModel*>(this)->beginModeChange();
    std::vector<SessionForce> forces;
    const auto n = std::min(static_cast<std::size_t>(std::max(m_geometry.getAmountOfAtoms(), 0)), m_geometry.getAtoms().size());
    for (std::size_t i = 0; i < n; ++i) {
        const Atom* atom = m_geometry.getAtoms()[i];
        const Vector3d kept = atom->getOLDKcalForce();
        if (isZero(kept)) continue;
        SessionForce f;
        f.node = static_cast<int32_t>(i);
        f.force = kept;
        f.magnitude = atom->getM();
        f.eqForce = atom->getEQForce();
        f.modeState = atom->getStateArray();
        forces.push_back(f);
    }
    return forces;
}

SessionStructure ElasticNetworkModel::sessionStructure() const
{
    // Rc as the main eigen data file stores it: in Å, single precision.
    const std::string name = !m_geometry.getPDBName().empty() ? m_geometry.getPDBName() : std::filesystem::path(mainFileName).stem().string();
    return describeStructure(m_geometry.getPdbLines(), m_geometry.storedLineCount(), m_geometry.getRc(), m_geometry.getAmountOfAtoms(), name);
}

bool ElasticNetworkModel::serialize(std::ostream& out) const { return writeForceRecords(out, keptForces()); }

bool ElasticNetworkModel::restoreKeptForce(const SessionForce& record)
{
    const int32_t index = record.node;
    const auto dim = static_cast<std::size_t>(m_geometry.get3N());
    if (index < 0 || index >= m_geometry.getAmountOfAtoms() || static_cast<std::size_t>(index) >= m_geometry.getAtoms().size()
        || responseScratch.size() != dim || displacement.size() != dim || baseDisplacement.size() != dim
        || !m_modes.modesReady.load(std::memory_order_acquire))
        return false;
    const ModeChangeToken token = beginModeChange();
    Atom* node = m_geometry.getAtoms()[static_cast<std::size_t>(index)];

    ModeStateArray state = record.modeState;
    // All modes without Y: through every kept mode, recorded so, so that the removal agrees.
    if (state[0] == 2 && !m_modes.allModesRouteHeld()) {
        state[0] = 1;
        state[1] = m_modes.totalMaxModes;
    }
    // In by the route it was recorded with, so that undo takes out exactly what went in. A
    // force that would carry a node beyond any physical reach changes nothing.
    const int32_t route = state[0];
    const double f[3] = {record.force.x, record.force.y, record.force.z};
    computeResponse(f, index, route, state[1], state.data() + 2, responseScratch.data());
    if (const auto far = firstNodeTooFar(displacement, responseScratch.data()); far.first >= 0) {
        console::write(console::Warning,
                       tooFarText("The session's force on node " + std::to_string(index) + " was not restored", far));
        return false;
    }
    std::vector<double> added(responseScratch.begin(), responseScratch.end());
    // A node keeps one force: the one it keeps now leaves first, by its own route.
    if (!isZero(node->getOLDKcalForce())) removeKeptForce(node, index, false);
    for (int i = 0; i < static_cast<int>(state.size()); ++i)
        node->setStatePosition(token, i, state[static_cast<std::size_t>(i)]);
    responseScratch.swap(added);
    // The base holds every kept force but that of the node under force.
    const int32_t coordinate = forceCommand.load().selectedCoordinate;
    const bool underForce = coordinate >= 0 && coordinate / 3 == index;
    for (std::size_t i = 0; i < dim; ++i) {
        displacement[i] += responseScratch[i];
        if (!underForce) baseDisplacement[i] += responseScratch[i];
    }

    node->setOldKcalForce(f[0], f[1], f[2]);
    node->addAKcalForce(record.force);
    // The device force the kept force came from (applyForce's scaling undone).
    const double scale = -m_modes.newtonToKcal * m_modes.forceScaler.load(std::memory_order_relaxed);
    Vector3d newtons;
    if (scale != 0.0 && std::isfinite(scale))
        newtons = Vector3d(static_cast<float>(f[0] / scale), static_cast<float>(f[1] / scale),
                           static_cast<float>(f[2] / scale));
    node->addAForce(newtons, record.magnitude);
    node->setSavedForce(newtons);
    node->setInitEQForce(record.eqForce);
    node->simulateState(3);
    console::Line() << "atom: " << index << " " << node->getPressed();
    return true;
}

} // namespace vornax
