#include "enm/Deformation.h"

#include "common/Console.h"
#include "common/Units.h"
#include "enm/ContactGrid.h"
#include "enm/ForceRoutes.h"
#include "enm/ModeSet.h"
#include "enm/NetworkGeometry.h"
#include "enm/ResponseRoutes.h"
#include "molecule/Atom.h"
#include "molecule/SessionFile.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <thread>

namespace vornax {

namespace {

/// Rounds to single precision through memory. GCC 12's vectorizer has been seen to drop a
/// plain double → float → double round trip here, leaving the unrounded value.
double toSinglePrecision(double v)
{
    volatile float f = static_cast<float>(v);
    return f;
}

} // namespace

void PublishedContacts::reset(std::size_t n)
{
    m_list.clear();
    m_list.reserve(n);
    publish(n);
}

void PublishedContacts::add(Atom* atom)
{
    if (!atom) return;
    const int32_t key = atom->getMyPositionInOriginalList();
    for (const Atom* a : m_list)
        if (a->getMyPositionInOriginalList() == key) return;
    m_list.push_back(atom);
    publish();
}

bool PublishedContacts::remove(int32_t index)
{
    for (auto it = m_list.begin(); it != m_list.end(); ++it) {
        if ((*it)->getMyPositionInOriginalList() != index) continue;
        (*it)->setSelected(false); // also clears both device-side forces
        m_list.erase(it);
        publish();
        return true;
    }
    return false;
}

void PublishedContacts::deselectAll()
{
    for (Atom* a : m_list) a->setSelected(false);
    clear();
}

void PublishedContacts::clear()
{
    m_list.clear();
    publish();
}

void PublishedContacts::publish(std::size_t capacity)
{
    Slots* slots = m_slots.load(std::memory_order_relaxed);
    const uint32_t seq = m_sequence.load(std::memory_order_relaxed);
    m_sequence.store(seq + 1, std::memory_order_relaxed); // odd: readers retry
    std::atomic_thread_fence(std::memory_order_release);
    capacity = std::max(capacity, m_list.size());
    if (!slots || slots->capacity < capacity) {
        // A new network's nodes, or a list longer than the network (atoms from elsewhere).
        m_arrays.push_back(std::make_unique<Slots>(std::max<std::size_t>(2 * capacity, 8)));
        slots = m_arrays.back().get();
        m_slots.store(slots, std::memory_order_release);
    }
    for (std::size_t i = 0; i < m_list.size(); ++i) slots->atoms[i].store(m_list[i], std::memory_order_relaxed);
    m_count.store(m_list.size(), std::memory_order_relaxed);
    m_sequence.store(seq + 2, std::memory_order_release);
}

std::vector<Atom*> PublishedContacts::snapshot() const
{
    std::vector<Atom*> list;
    for (;;) {
        const uint32_t seq = m_sequence.load(std::memory_order_acquire);
        if (seq & 1u) {
            std::this_thread::yield();
            continue;
        }
        const Slots* slots = m_slots.load(std::memory_order_acquire);
        const std::size_t n = slots ? std::min(m_count.load(std::memory_order_relaxed), slots->capacity) : 0;
        list.resize(n);
        for (std::size_t i = 0; i < n; ++i) list[i] = slots->atoms[i].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (m_sequence.load(std::memory_order_relaxed) == seq) return list;
    }
}

// ---- The deformation ---------------------------------------------------------------------------

Deformation::Deformation(NetworkGeometry& geometry, ModeSet& modes) : m_geometry(geometry), m_modes(modes) {}

Deformation::~Deformation() = default;

void Deformation::allocate(std::size_t threeN)
{
    responseScratch.assign(threeN, 0.0);
    displacement.assign(threeN, 0.0);
    baseDisplacement.assign(threeN, 0.0);
}

void Deformation::publishNodes()
{
    const std::vector<ELNBackboneData>& nodes = m_geometry.getBackboneList();
    // Room for every node in the published contact list, so that pulls never grow it.
    contacts.reset(nodes.size());
    positions.reset(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) positions.store(i, nodes[i].position);
    positions.newNodesStored();
}

bool Deformation::hasNodeAtoms() const
{
    return positions.exists() && m_geometry.getAtoms().size() == static_cast<std::size_t>(m_geometry.getAmountOfAtoms());
}

// ---- Responses -----------------------------------------------------------------------------

void Deformation::computeResponse(const double f[3], int32_t node, int32_t route, int32_t count,
                                          const int32_t* modes, double* out)
{
    if (node < 0 || node >= m_geometry.getAmountOfAtoms()) {
        std::fill(out, out + m_geometry.get3N(), 0.0);
        return;
    }
    if (route == kRouteAllModes && m_modes.yMatrix) {
        ResponseThroughY(m_modes.yMatrix.get(), static_cast<std::size_t>(m_geometry.get3N())).respond(f, node, out);
        return;
    }
    if (route == kRouteAllModes && m_modes.allModesRouteHeld()) {
        ResponseThroughFactorisation(*m_modes.sparseSolver, m_modes.sparseMutex).respond(f, node, out);
        return;
    }
    ResponseThroughModes through(m_modes.modeVectors, m_modes.totalMaxModes, m_modes.inverseScaledEigenvalues, static_cast<std::size_t>(m_geometry.get3N()),
                                 m_modes.modeAmplitudes);
    if (route == kRouteAllModes || route == kRouteFirstModes)
        through.first(count).respond(f, node, out);
    else
        through.listed(modes, count).respond(f, node, out);
}

// ---- Forces --------------------------------------------------------------------------------

void Deformation::applyForce(const Vector3d& forceApplied, int32_t atomToApply)
{
    const double scale = -m_modes.newtonToKcal * m_modes.forceScaler.load(std::memory_order_relaxed);
    applyNonScaleForce(Vector3d(static_cast<float>(toSinglePrecision(forceApplied.x * scale)),
                                static_cast<float>(toSinglePrecision(forceApplied.y * scale)),
                                static_cast<float>(toSinglePrecision(forceApplied.z * scale))),
                       atomToApply);
}

void Deformation::applyNonScaleForce(const Vector3d& forceApplied, int32_t atomToApply)
{
    if (atomToApply < 0 || atomToApply >= m_geometry.getAmountOfAtoms()) return;
    // The force travels in single precision, as the node keeps it: a pull puts in exactly
    // what removing the kept force later takes out.
    ForceCommand cmd;
    cmd.force[0] = toSinglePrecision(forceApplied.x);
    cmd.force[1] = toSinglePrecision(forceApplied.y);
    cmd.force[2] = toSinglePrecision(forceApplied.z);
    cmd.selectedCoordinate = 3 * atomToApply;
    forceCommand.store(cmd);
    Atom* node = m_geometry.getAtoms()[static_cast<std::size_t>(atomToApply)];
    node->addAKcalForce(forceApplied);
    node->setMyDeformedPosition(positions.load(static_cast<std::size_t>(atomToApply)));
    requestStep();
}

void Deformation::zeroF()
{
    forceCommand.store(ForceCommand());
    requestStep();
}

void Deformation::zeroForces()
{
    ForceCommand cmd = forceCommand.load();
    cmd.force[0] = cmd.force[1] = cmd.force[2] = 0.0;
    forceCommand.store(cmd);
    force[0] = force[1] = force[2] = 0.0;
    std::fill(displacement.begin(), displacement.end(), 0.0);
    if (!m_modes.elNemoInput) {
        const std::size_t n = std::min(responseScratch.size(), static_cast<std::size_t>(std::max(m_geometry.get3NMinus6(), 0)));
        std::fill(responseScratch.begin(), responseScratch.begin() + static_cast<std::ptrdiff_t>(n), 0.0);
    }
}

void Deformation::removeKeptForce(Atom* node, int32_t nodeIndex, bool onGrab)
{
    const Vector3d kept = node->getOLDKcalForce();
    const double f[3] = {kept.x, kept.y, kept.z};
    const ModeStateArray state = node->getStateArray();
    // The kept force leaves by the route it came in: through Y when it was applied through Y
    // and Y is still held, through the same first modes or the same listed modes otherwise.
    int32_t route = state[0];
    if (route == kRouteAllModes && !m_modes.allModesRouteHeld()) route = kRouteFirstModes;
    computeResponse(f, nodeIndex, route, state[1], state.data() + 2, responseScratch.data());
    // The base holds every kept force except that of the node under force. On a grab the
    // node's old force leaves and the rest becomes the base of the new pull. Otherwise the
    // force leaves the base too, unless it belongs to the node under force, whose force the
    // base never held.
    const bool inBase = !onGrab && nodeIndex != forceCommand.load().selectedCoordinate / 3;
    for (std::size_t i = 0; i < displacement.size(); ++i) {
        displacement[i] -= responseScratch[i];
        if (onGrab)
            baseDisplacement[i] = displacement[i];
        else if (inBase)
            baseDisplacement[i] -= responseScratch[i];
    }
}

void Deformation::applyZeroForce(int32_t toApply)
{
    if (toApply < 0 || toApply >= m_geometry.getAmountOfAtoms()) return;
    const ModeChangeToken token = beginModeChange();
    console::line("removing force from simulation");
    Atom* node = m_geometry.getAtoms()[static_cast<std::size_t>(toApply)];
    if (!responseScratch.empty()) removeKeptForce(node, toApply, false);
    node->setOldKcalForce(0.0, 0.0, 0.0);
    node->simulateState(3);
    node->clearReleaseAfterGrab();
    // A later mode change must not bring the removed force back as the current pull.
    if (forceCommand.load().selectedCoordinate == 3 * toApply) forceCommand.store(ForceCommand());
}

// ---- The step handshake --------------------------------------------------------------------

bool Deformation::setChangingSimMode(bool changing)
{
    if (!changing) {
        releaseHold(kChanging);
        return true;
    }
    uint32_t expected = 0;
    return simState.compare_exchange_strong(expected, kChanging, std::memory_order_acq_rel);
}

void Deformation::releaseHold(uint32_t bit)
{
    simState.fetch_and(~bit, std::memory_order_acq_rel);
    simState.notify_all(); // beginModeChange may be waiting for this step or change to end
    if (bit == kChanging) requestStep();
}

void ModeChangeToken::release()
{
    if (!network) return;
    Deformation* deformation = network;
    network = nullptr;
    if (bit == Deformation::kChanging)
        deformation->setChangingSimMode(false);
    else
        deformation->releaseHold(bit);
}

std::optional<ModeChangeToken> Deformation::tryBeginModeChange()
{
    if (!setChangingSimMode(true)) return std::nullopt;
    return ModeChangeToken(this, kChanging);
}

ModeChangeToken Deformation::beginModeChange()
{
    for (;;) {
        uint32_t seen = 0;
        if (simState.compare_exchange_strong(seen, kChanging, std::memory_order_acq_rel))
            return ModeChangeToken(this, kChanging);
        simState.wait(seen, std::memory_order_acquire); // until that step or change ends
    }
}

std::optional<ModeChangeToken> Deformation::tryBeginStep()
{
    uint32_t expected = 0;
    if (!simState.compare_exchange_strong(expected, kSimulating, std::memory_order_acq_rel)) return std::nullopt;
    return ModeChangeToken(this, kSimulating);
}

bool Deformation::checkToken(const ModeChangeToken& token, const char* operation) const
{
    if (token.holds(*this)) return true;
    console::Line(console::Warning) << operation << ": the mode change of another network (or one already ended) "
                                    << "was given; the mode selection is left as it is";
    return false;
}

std::vector<double> Deformation::displacementSnapshot() const
{
    // Holding the handshake changes nothing of the network but the flag word.
    const ModeChangeToken hold = const_cast<Deformation*>(this)->beginModeChange();
    return displacement;
}

bool Deformation::isSimulating() const { return (simState.load(std::memory_order_acquire) & kSimulating) != 0; }

// ---- The simulation step -------------------------------------------------------------------

void Deformation::simulate()
{
    // The step holds the handshake, so no mode change overlaps it; the budget clears
    // modesReady under the handshake too, so a step that starts sees it cleared.
    const std::optional<ModeChangeToken> step = tryBeginStep();
    if (!step || !m_modes.modesReady.load(std::memory_order_acquire)) return;

    const ForceCommand cmd = forceCommand.load();
    selectedCoordinate = cmd.selectedCoordinate;
    if (selectedCoordinate < 0 || selectedCoordinate + 2 >= m_geometry.get3N()) return;
    force[0] = cmd.force[0];
    force[1] = cmd.force[1];
    force[2] = cmd.force[2];
    if (m_modes.loadResult != -2 && m_modes.loadResult != -3) return;
    const int32_t nodeIndex = selectedCoordinate / 3;
    Atom* node = m_geometry.getAtoms()[static_cast<std::size_t>(nodeIndex)];
    if (node->getPressed() == 3) return;
    // The selection this step works with (no change can overlap the step).
    const int32_t selectState = m_modes.modeSelectState.load(std::memory_order_relaxed);
    const int32_t selected = m_modes.amountSelected.load(std::memory_order_relaxed);
    const std::array<int32_t, 20> modes = m_modes.getModeArray();

    if (node->getPressed() == 0) {
        // Just grabbed: take this node's kept force out before its new pull goes in.
        if (!isZeroForce(node->getOLDKcalForce()))
            removeKeptForce(node, nodeIndex, true);
        else
            baseDisplacement = displacement;
        // Record the modes this pull goes through, so that it can leave by the same route.
        const bool throughY = m_modes.allModesRouteHeld() && m_modes.useAllModesFlag.load(std::memory_order_acquire);
        const int32_t route = throughY ? kRouteAllModes : (selectState == 0 ? kRouteModeList : kRouteFirstModes);
        node->setStatePosition(*step, 0, route);
        if (route == kRouteModeList) {
            node->setArrayOfValues(*step, modes.data(), std::clamp(selected, 0, 20));
        } else {
            node->setStatePosition(*step, 1, selected);
        }
        node->compareAndSetPressed(0, 1);
    }
    // A pull let go before its grab was recorded is let go now.
    if (node->getPressed() == 1 && node->takeReleaseAfterGrab()) node->compareAndSetPressed(1, 2);

    const int32_t pressed = node->getPressed();
    if (pressed == 1 || pressed == 2) {
        const bool throughY = m_modes.allModesRouteHeld() && m_modes.useAllModesFlag.load(std::memory_order_acquire);
        const int32_t route = throughY ? kRouteAllModes : (selectState == 0 ? kRouteModeList : kRouteFirstModes);
        computeResponse(force, nodeIndex, route, selected, modes.data(), responseScratch.data());
        if (const auto far = firstNodeTooFar(baseDisplacement, responseScratch.data()); far.first >= 0) {
            // Never published: the pull leaves the deformation and is let go, keeping no force.
            displacement = baseDisplacement;
            node->setOldKcalForce(0.0, 0.0, 0.0);
            node->compareAndSetPressed(pressed, 3);
            // Told once while refusals follow each other (the device grabs again while the
            // button is held), as a console line: the simulation thread never waits for a person.
            if (!tooFarTold)
                console::write(console::Warning,
                               tooFarText("The pull on node " + std::to_string(nodeIndex) + " was let go", far));
            tooFarTold = true;
            return;
        }
        tooFarTold = false;
        for (std::size_t i = 0; i < displacement.size(); ++i)
            displacement[i] = baseDisplacement[i] + responseScratch[i];
    }
    if (pressed == 2) {
        node->setOldKcalForce(force[0], force[1], force[2]);
        node->compareAndSetPressed(2, 3);
    }
}

std::pair<int32_t, double> Deformation::firstNodeTooFar(const std::vector<double>& base,
                                                                const double* added) const
{
    const double limit2 = m_geometry.getDisplacementLimit() * m_geometry.getDisplacementLimit();
    for (std::size_t i = 0; i + 2 < base.size(); i += 3) {
        const double x = base[i] + added[i], y = base[i + 1] + added[i + 1], z = base[i + 2] + added[i + 2];
        const double length2 = x * x + y * y + z * z;
        if (!(length2 <= limit2)) return {static_cast<int32_t>(i / 3), std::sqrt(length2)};
    }
    return {-1, 0.0};
}

std::string Deformation::tooFarText(const std::string& what, std::pair<int32_t, double> far) const
{
    std::ostringstream text;
    text << what << ": it would move node " << far.first << " by ";
    if (std::isfinite(far.second))
        text << std::setprecision(3) << far.second << " \u00c5";
    else
        text << "a length that is not a finite number";
    text << ", more than " << std::setprecision(3) << m_geometry.getDisplacementLimit() << " \u00c5 (" << NetworkGeometry::kDisplacementExtents
         << " times the size of the structure). The eigen data or the force are not usable numbers.";
    return text.str();
}

void Deformation::updateDeformables()
{
    // The displacement is read under the same handshake as the step: a mode change or the
    // removal of a kept force (applyZeroForce) may be rewriting it. Such a change asks for a
    // new step when it ends, so skipping this one loses nothing.
    const std::optional<ModeChangeToken> hold = tryBeginStep();
    if (!hold) return;

    const float zoom = currentZoom.load(std::memory_order_relaxed);
    // Only this loop writes the nodes' camZoom: when the zoom has not changed since the last
    // step, every node already holds it.
    const bool newZoom = !(zoom == zoomInNodes);
    constexpr int32_t kAhead = 8; // nodes fetched ahead of the one written
    for (int32_t i = 0; i < std::min(kAhead, m_geometry.getAmountOfAtoms()); ++i)
        m_geometry.getAtoms()[static_cast<std::size_t>(i)]->prefetchForStep(newZoom);
    positions.beginUpdate(); // odd: positions being written
    for (int32_t i = 0; i < m_geometry.getAmountOfAtoms(); ++i) {
        if (i + kAhead < m_geometry.getAmountOfAtoms()) m_geometry.getAtoms()[static_cast<std::size_t>(i + kAhead)]->prefetchForStep(newZoom);
        Atom* node = m_geometry.getAtoms()[static_cast<std::size_t>(i)];
        if (newZoom) node->setCamZoom(zoom);
        const auto k = static_cast<std::size_t>(3 * i);
        const Vector3d p = node->getMyLocalPosition()
            + Vector3d(static_cast<float>(units::toModel(displacement[k])),
                       static_cast<float>(units::toModel(displacement[k + 1])),
                       static_cast<float>(units::toModel(displacement[k + 2])));
        positions.store(static_cast<std::size_t>(i), p);
        node->setMyDeformedPosition(p);
    }
    zoomInNodes = zoom;
    positions.endUpdate();
}

// ---- Mode selection ------------------------------------------------------------------------

void Deformation::writeSelectionIntoNodeUnderForce(const ModeChangeToken& /*token*/,
                                                           const std::function<void(Atom*)>& write)
{
    if (m_geometry.getAtoms().empty()) return;
    const int32_t coordinate = forceCommand.load().selectedCoordinate;
    const int32_t index = std::clamp(coordinate / 3, 0, m_geometry.getAmountOfAtoms() - 1);
    Atom* node = m_geometry.getAtoms()[static_cast<std::size_t>(index)];
    write(node);
    node->simulateState(1);
    requestStep();
}

void Deformation::useAllModes(const ModeChangeToken& token, bool newState)
{
    if (!checkToken(token, "useAllModes")) return;
    m_modes.useAllModesFlag.store(newState, std::memory_order_release);
}

void Deformation::selectModeState(const ModeChangeToken& token, int32_t newState)
{
    if (!checkToken(token, "selectModeState")) return;
    m_modes.modeSelectState = newState;
    if (newState != 2) return;
    if (m_modes.loadResult == -2)
        m_modes.useAllModesFlag.store(true, std::memory_order_release);
    else
        m_modes.amountSelected = m_modes.totalMaxModes;
    writeSelectionIntoNodeUnderForce(token, [this, &token](Atom* node) {
        node->setStatePosition(token, 0, 2);
        node->setStatePosition(token, 1, m_modes.totalMaxModes);
    });
}

void Deformation::selectAmountOfModes(const ModeChangeToken& token, int32_t modeSelected)
{
    if (!checkToken(token, "selectAmountOfModes")) return;
    m_modes.useAllModesFlag.store(false, std::memory_order_release);
    m_modes.amountSelected = std::clamp(modeSelected, 0, m_modes.totalMaxModes);
    writeSelectionIntoNodeUnderForce(token, [this, &token](Atom* node) {
        node->setStatePosition(token, 1, m_modes.amountSelected);
        node->setStatePosition(token, 0, 1);
    });
}

void Deformation::receiveNewModes(const ModeChangeToken& token, const int32_t* newModes, int32_t amount)
{
    if (!checkToken(token, "receiveNewModes")) return;
    console::Line() << "amount in ELN: " << amount;
    amount = std::clamp(amount, 0, 20);
    int32_t kept = 0;
    for (int32_t i = 0; i < amount; ++i)
        if (newModes[i] >= 0 && newModes[i] < m_modes.totalMaxModes) m_modes.modeArray[static_cast<std::size_t>(kept++)] = newModes[i];
    m_modes.amountSelected = kept;
    writeSelectionIntoNodeUnderForce(token, [this, &token, kept](Atom* node) {
        const std::array<int32_t, 20> modes = m_modes.getModeArray();
        node->setArrayOfValues(token, modes.data(), kept);
        node->setStatePosition(token, 0, 0);
    });
}

// ---- Kept forces in sessions ---------------------------------------------------------------

std::vector<SessionForce> Deformation::keptForces() const
{
    // Between two steps: the step that ends a pull writes the kept force and its route.
    const ModeChangeToken hold = const_cast<Deformation*>(this)->beginModeChange();
    std::vector<SessionForce> forces;
    const auto n = std::min(static_cast<std::size_t>(std::max(m_geometry.getAmountOfAtoms(), 0)), m_geometry.getAtoms().size());
    for (std::size_t i = 0; i < n; ++i) {
        const Atom* atom = m_geometry.getAtoms()[i];
        const Vector3d kept = atom->getOLDKcalForce();
        if (isZeroForce(kept)) continue;
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

bool Deformation::restoreKeptForce(const SessionForce& record)
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
    if (!isZeroForce(node->getOLDKcalForce())) removeKeptForce(node, index, false);
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

// ---- Selection of atoms to pull ------------------------------------------------------------

Atom* Deformation::collisionCheck(const Vector3d& HIP, bool& res)
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
