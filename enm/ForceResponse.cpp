// Calibration of the network from the B-factors, the response to forces and the simulation step.
#include "enm/ElasticNetworkModel.h"
#include "enm/ResponseRoutes.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "common/SystemInfo.h"
#include "common/Units.h"
#include "common/UserPrompts.h"
#include "molecule/Atom.h"

#include <cblas.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <thread>

namespace vornax {

namespace {

constexpr int32_t kRouteFirstModes = 1, kRouteAllModes = 2, kRouteModeList = 0;

bool isZero(const Vector3d& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

/// Rounds to single precision through memory. GCC 12's vectorizer has been seen to drop a
/// plain double → float → double round trip here, leaving the unrounded value.
double toSinglePrecision(double v)
{
    volatile float f = static_cast<float>(v);
    return f;
}

} // namespace

// ---- Calibration ------------------------------------------------------------------------------

EnmStatus ElasticNetworkModel::calculateForceScaler(float averageHapticForce, bool readingStandardData_)
{
    const EnmStatus status = calibrateForces(averageHapticForce, readingStandardData_);
    if (status == EnmStatus::Ok && !readingStandardData) holdY(nullptr);
    return status;
}

EnmStatus ElasticNetworkModel::holdY(Progress* progress)
{
    const EnmStatus status = calculateY(progress);
    m_modes.yMatrixAvailable = status == EnmStatus::Ok;
    return status;
}

EnmStatus ElasticNetworkModel::calibrateForces(float averageHapticForce, bool readingStandardData_)
{
    m_modes.springConstant = 0.0;
    readingStandardData = readingStandardData_;
    m_modes.calibration = Calibration();
    if (m_geometry.isNMR()) {
        console::line("NMR structure: no B-factors to calibrate against, forces are not applied");
        return EnmStatus::NotCalibrated;
    }
    const int32_t n = m_geometry.getAmountOfAtoms();
    const auto modes = static_cast<std::size_t>(m_geometry.get3NMinus6());
    if (n < 3 || m_modes.inverseEigenvalues.size() != modes || m_modes.eigenvalues.size() != static_cast<std::size_t>(m_geometry.get3N()) + 1)
        return EnmStatus::NotReady;

    double sumInverse = 0.0;
    for (double inv : m_modes.inverseEigenvalues) sumInverse += inv;
    applyCalibration(sumInverse, averageHapticForce);
    return EnmStatus::Ok;
}

void ElasticNetworkModel::applyCalibration(double sumInverse, float averageHapticForce)
{
    const auto modes = static_cast<std::size_t>(m_geometry.get3NMinus6());
    std::vector<double> bFactors(static_cast<std::size_t>(m_geometry.getAmountOfAtoms()));
    for (int32_t i = 0; i < m_geometry.getAmountOfAtoms(); ++i)
        bFactors[static_cast<std::size_t>(i)] = m_geometry.getAtoms()[static_cast<std::size_t>(i)]->getMyBFactor();
    m_modes.calibration = vornax::calibrate(CalibrationInput{sumInverse, std::move(bFactors), m_geometry.getTemperature(), averageHapticForce, m_geometry.getPDBName()});
    const Calibration& cal = m_modes.calibration;
    m_modes.springConstant = cal.K;

    // Modes not computed (the sparse path's) have eigenvalue 0 and stay out.
    m_modes.scaledEigenvalues.assign(modes, 0.0);
    for (std::size_t k = 7; k <= static_cast<std::size_t>(m_geometry.get3N()); ++k)
        m_modes.scaledEigenvalues[k - 7] = m_modes.eigenvalues[k] * cal.K;
    m_modes.newtonToKcal = kNewtonToKcal;

    m_modes.inverseScaledEigenvalues.assign(modes, 0.0);
    for (std::size_t k = 0; k < modes; ++k)
        if (m_modes.inverseEigenvalues[k] != 0.0 && m_modes.scaledEigenvalues[k] > 0.0)
            m_modes.inverseScaledEigenvalues[k] = 1.0 / m_modes.scaledEigenvalues[k];

    m_modes.forceScaler = cal.S;
    console::Line() << "S: " << m_modes.forceScaler.load();
    setupCompleteFlag = true;
}

EnmStatus ElasticNetworkModel::calculateY(Progress* progress)
{
    const auto start = std::chrono::steady_clock::now();
    const auto dim = static_cast<std::size_t>(m_geometry.get3N());
    const auto modes = static_cast<std::size_t>(m_geometry.get3NMinus6());
    if (!m_modes.eigenvectorsT || m_modes.inverseScaledEigenvalues.size() != modes) return EnmStatus::NotReady;
    m_modes.yMatrix = allocateMatrixDoubles(dim * dim);
    if (!m_modes.yMatrix) {
        console::Line(console::Warning)
            << "Not enough memory for the response matrix Y; responses go through the modes";
        return EnmStatus::OutOfMemory;
    }
    // Y = Σ_k w_k v_k v_kᵀ = W·Wᵀ with W = V·diag(√w): rank-k updates on blocks of modes.
    // Vᵀ rows are the columns of V in column-major terms, so a block of rows is a block of W.
    const std::size_t block = std::min<std::size_t>(modes, 256);
    DoubleBuffer w = allocateDoubles(std::max<std::size_t>(block, 1) * dim);
    if (!w) {
        m_modes.yMatrix.reset();
        return EnmStatus::OutOfMemory;
    }
    double* y = m_modes.yMatrix.get();
    bool first = true;
    for (std::size_t k0 = 0; k0 < modes; k0 += block) {
        if (isCancelled(progress)) {
            m_modes.yMatrix.reset();
            console::line("The response matrix Y was cancelled");
            return EnmStatus::Cancelled;
        }
        const std::size_t b = std::min(block, modes - k0);
        for (std::size_t j = 0; j < b; ++j) {
            const double scale = std::sqrt(m_modes.inverseScaledEigenvalues[k0 + j]);
            const double* v = m_modes.eigenvectorsT + (k0 + j) * dim;
            double* out = w.get() + j * dim;
            for (std::size_t i = 0; i < dim; ++i) out[i] = v[i] * scale;
        }
        cblas_dsyrk(CblasColMajor, CblasUpper, CblasNoTrans, static_cast<int>(dim), static_cast<int>(b), 1.0, w.get(),
                    static_cast<int>(dim), first ? 0.0 : 1.0, y, static_cast<int>(dim));
        first = false;
    }
    if (first) std::fill(y, y + dim * dim, 0.0);
    // Only the upper triangle (column-major) was formed; mirror it, tile by tile.
    constexpr std::size_t tile = 64;
    for (std::size_t jb = 0; jb < dim; jb += tile)
        for (std::size_t ib = 0; ib <= jb; ib += tile)
            for (std::size_t j = jb; j < std::min(jb + tile, dim); ++j)
                for (std::size_t i = ib; i < std::min(ib + tile, j); ++i) y[i * dim + j] = y[j * dim + i];
    m_modes.ySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::Line() << "Time for calculating Y: " << m_modes.ySeconds;
    return EnmStatus::Ok;
}

bool ElasticNetworkModel::checkAvailableMemForY() const
{
    const uint64_t m = static_cast<uint64_t>(m_geometry.get3N());
    const bool enough = (2 * m + 3) * m + 3 < budget.availableMemory() / 8;
    if (enough) console::line("enough memory to do the calculation of Y");
    return enough;
}

void ElasticNetworkModel::finalize_inv_HDK(int32_t amountRead)
{
    const int32_t from = std::max(0, amountRead - 6);
    const auto to = static_cast<int32_t>(m_modes.inverseScaledEigenvalues.size());
    console::Line() << "zeroing non set modes: " << from << " to " << to - 1;
    for (int32_t k = from; k < to; ++k) m_modes.inverseScaledEigenvalues[static_cast<std::size_t>(k)] = 0.0;
}

void ElasticNetworkModel::setUpAllModes()
{
    const ModeChangeToken token = beginModeChange();
    m_modes.totalMaxModes = m_geometry.get3NMinus6();
    m_modes.amountSelected = m_modes.totalMaxModes;
    m_modes.modeSelectState = 2;
    m_modes.ownedModeVectors.reset();
    m_modes.modeVectors = m_modes.eigenvectorsT;
    m_modes.modeAmplitudes.assign(static_cast<std::size_t>(m_modes.totalMaxModes), 0.0);
    m_modes.loadResult = m_modes.yMatrixAvailable ? -2 : -3;
    m_modes.useAllModesFlag.store(true, std::memory_order_release);
    zeroForces();
    m_modes.modesReady.store(m_modes.modeVectors != nullptr || m_modes.yMatrixAvailable, std::memory_order_release);
}

// ---- Responses --------------------------------------------------------------------------------

void ElasticNetworkModel::computeResponse(const double f[3], int32_t node, int32_t route, int32_t count,
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

// ---- Forces -----------------------------------------------------------------------------------

void ElasticNetworkModel::applyForce(const Vector3d& forceApplied, int32_t atomToApply)
{
    const double scale = -m_modes.newtonToKcal * m_modes.forceScaler.load(std::memory_order_relaxed);
    applyNonScaleForce(Vector3d(static_cast<float>(toSinglePrecision(forceApplied.x * scale)),
                                static_cast<float>(toSinglePrecision(forceApplied.y * scale)),
                                static_cast<float>(toSinglePrecision(forceApplied.z * scale))),
                       atomToApply);
}

void ElasticNetworkModel::applyNonScaleForce(const Vector3d& forceApplied, int32_t atomToApply)
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

void ElasticNetworkModel::zeroF()
{
    forceCommand.store(ForceCommand());
    requestStep();
}

void ElasticNetworkModel::zeroForces()
{
    ForceCommand cmd = forceCommand.load();
    cmd.force[0] = cmd.force[1] = cmd.force[2] = 0.0;
    forceCommand.store(cmd);
    force[0] = force[1] = force[2] = 0.0;
    std::fill(displacement.begin(), displacement.end(), 0.0);
    if (!elNemoInput) {
        const std::size_t n = std::min(responseScratch.size(), static_cast<std::size_t>(std::max(m_geometry.get3NMinus6(), 0)));
        std::fill(responseScratch.begin(), responseScratch.begin() + static_cast<std::ptrdiff_t>(n), 0.0);
    }
}

void ElasticNetworkModel::removeKeptForce(Atom* node, int32_t nodeIndex, bool onGrab)
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

void ElasticNetworkModel::applyZeroForce(int32_t toApply)
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

// ---- The simulation step ----------------------------------------------------------------------

bool ElasticNetworkModel::setChangingSimMode(bool changing)
{
    if (!changing) {
        releaseHold(kChanging);
        return true;
    }
    uint32_t expected = 0;
    return simState.compare_exchange_strong(expected, kChanging, std::memory_order_acq_rel);
}

void ElasticNetworkModel::releaseHold(uint32_t bit)
{
    simState.fetch_and(~bit, std::memory_order_acq_rel);
    simState.notify_all(); // beginModeChange may be waiting for this step or change to end
    if (bit == kChanging) requestStep();
}

void ModeChangeToken::release()
{
    if (!network) return;
    ElasticNetworkModel* eln = network;
    network = nullptr;
    if (bit == ElasticNetworkModel::kChanging)
        eln->setChangingSimMode(false);
    else
        eln->releaseHold(bit);
}

std::optional<ModeChangeToken> ElasticNetworkModel::tryBeginModeChange()
{
    if (!setChangingSimMode(true)) return std::nullopt;
    return ModeChangeToken(this, kChanging);
}

ModeChangeToken ElasticNetworkModel::beginModeChange()
{
    for (;;) {
        uint32_t seen = 0;
        if (simState.compare_exchange_strong(seen, kChanging, std::memory_order_acq_rel))
            return ModeChangeToken(this, kChanging);
        simState.wait(seen, std::memory_order_acquire); // until that step or change ends
    }
}

std::optional<ModeChangeToken> ElasticNetworkModel::tryBeginStep()
{
    uint32_t expected = 0;
    if (!simState.compare_exchange_strong(expected, kSimulating, std::memory_order_acq_rel)) return std::nullopt;
    return ModeChangeToken(this, kSimulating);
}

bool ElasticNetworkModel::checkToken(const ModeChangeToken& token, const char* operation) const
{
    if (token.holds(*this)) return true;
    console::Line(console::Warning) << operation << ": the mode change of another network (or one already ended) "
                                    << "was given; the mode selection is left as it is";
    return false;
}

std::vector<double> ElasticNetworkModel::displacementSnapshot() const
{
    // Holding the handshake changes nothing of the network but the flag word.
    const ModeChangeToken hold = const_cast<ElasticNetworkModel*>(this)->beginModeChange();
    return displacement;
}

bool ElasticNetworkModel::isSimulating() const { return (simState.load(std::memory_order_acquire) & kSimulating) != 0; }

void ElasticNetworkModel::simulate()
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
        if (!isZero(node->getOLDKcalForce()))
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

std::pair<int32_t, double> ElasticNetworkModel::firstNodeTooFar(const std::vector<double>& base,
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

std::string ElasticNetworkModel::tooFarText(const std::string& what, std::pair<int32_t, double> far) const
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

void ElasticNetworkModel::updateDeformables()
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

// ---- Mode selection ---------------------------------------------------------------------------

void ElasticNetworkModel::writeSelectionIntoNodeUnderForce(const ModeChangeToken& /*token*/,
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

void ElasticNetworkModel::useAllModes(const ModeChangeToken& token, bool newState)
{
    if (!checkToken(token, "useAllModes")) return;
    m_modes.useAllModesFlag.store(newState, std::memory_order_release);
}

void ElasticNetworkModel::selectModeState(const ModeChangeToken& token, int32_t newState)
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

void ElasticNetworkModel::selectAmountOfModes(const ModeChangeToken& token, int32_t modeSelected)
{
    if (!checkToken(token, "selectAmountOfModes")) return;
    m_modes.useAllModesFlag.store(false, std::memory_order_release);
    m_modes.amountSelected = std::clamp(modeSelected, 0, m_modes.totalMaxModes);
    writeSelectionIntoNodeUnderForce(token, [this, &token](Atom* node) {
        node->setStatePosition(token, 1, m_modes.amountSelected);
        node->setStatePosition(token, 0, 1);
    });
}

void ElasticNetworkModel::receiveNewModes(const ModeChangeToken& token, const int32_t* newModes, int32_t amount)
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

// ---- Fluctuation measures ---------------------------------------------------------------------

double ElasticNetworkModel::getRMSingle(int32_t mode) const
{
    if (mode < 0 || static_cast<std::size_t>(mode) >= m_modes.inverseScaledEigenvalues.size()) return 0.0;
    const double val1 = 0.6 * m_geometry.getTemperature();
    const double val2 = m_modes.inverseScaledEigenvalues[static_cast<std::size_t>(mode)];
    console::Line() << "Val1: " << val1;
    console::Line() << "Val2: " << val2;
    return val1 * val2;
}

double ElasticNetworkModel::getRTotal() const
{
    double sum = 0.0;
    for (double v : m_modes.inverseScaledEigenvalues) sum += v;
    return 0.6 * m_geometry.getTemperature() * sum;
}

double ElasticNetworkModel::getRMForTest(int32_t n) const
{
    double sum = 0.0;
    const auto count = std::min(static_cast<std::size_t>(std::max(n, 0)), m_modes.inverseScaledEigenvalues.size());
    for (std::size_t k = 0; k < count; ++k) sum += m_modes.inverseScaledEigenvalues[k];
    return 0.6 * m_geometry.getTemperature() * sum;
}

} // namespace vornax
