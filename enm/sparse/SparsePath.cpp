// The sparse path of the network: the lowest modes, the calibration and the all-mode responses
// of a network too large for the dense solution (sparse/SparseNetworkSolver.h does the numerics).
#include "enm/ElasticNetworkModel.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "enm/ForceRoutes.h"
#include "enm/sparse/SparseNetworkSolver.h"
#include "molecule/Atom.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace vornax {








uint64_t ModeSet::denseBytesNeeded(int64_t n, bool withY)
{
    // 72·N² bytes is one 3N × 3N matrix of doubles.
    const long double one = 72.0L * static_cast<long double>(n) * static_cast<long double>(n);
    const long double need = one * (withY ? 3.5L : 2.5L);
    return need >= 1.8e19L ? UINT64_MAX : static_cast<uint64_t>(need);
}

EnmStatus ModeSet::constructSparseHessian(const NetworkGeometry& geometry)
{
    if (geometry.getAmountOfAtoms() < 3 || geometry.getNodeCoordinates().size() != 3 * static_cast<std::size_t>(geometry.getAmountOfAtoms()))
        return EnmStatus::NotReady;
    try {
        sparseSolver = std::make_unique<SparseNetworkSolver>(geometry.getNodeCoordinates().data(), geometry.getAmountOfAtoms(), geometry.getRcAngstrom());
    } catch (const std::bad_alloc&) {
        sparseSolver.reset();
        return EnmStatus::OutOfMemory;
    }
    console::Line() << "sparse Hessian: " << sparseSolver->hessianNonZeros() << " non-zero entries";
    return EnmStatus::Ok;
}

EnmStatus ModeSet::calculateLowestModes(const NetworkGeometry& geometry, int32_t k, Progress* progress)
{
    if (!sparseSolver) return EnmStatus::NotReady;
    if (isCancelled(progress)) return EnmStatus::Cancelled;
    // Lanczos keeps a little of the space to itself: all but the top two modes (every mode
    // of so small a network is the dense path's work).
    const int32_t most = std::max(1, geometry.get3NMinus6() - 2);
    if (k > most) console::Line(console::Warning) << "the sparse path computes at most " << most << " modes of "
                                                  << geometry.getAmountOfAtoms() << " nodes, not " << k;
    k = std::clamp(k, 1, most);
    EnmStatus status = sparseSolver->factorise();
    if (status != EnmStatus::Ok) return status;
    stepProgress(progress);
    if (isCancelled(progress)) return EnmStatus::Cancelled;
    status = sparseSolver->computeLowestModes(k);
    if (status != EnmStatus::Ok) return status;
    stepProgress(progress);
    const std::vector<double>& values = sparseSolver->eigenvalues();
    keepLowestModes(geometry, values, sparseSolver->modes().data(), static_cast<int32_t>(values.size()));
    extraZeroModes = sparseSolver->extraZeroModes();
    sparseAllModes = true;
    console::Line() << "lowest " << sparseModeCount << " modes found by the sparse path";
    return EnmStatus::Ok;
}

void ModeSet::keepLowestModes(const NetworkGeometry& geometry, const std::vector<double>& values, const double* columns,
                              int32_t k)
{
    const auto dim = static_cast<std::size_t>(geometry.get3N());
    const auto modes = static_cast<std::size_t>(geometry.get3NMinus6());
    const auto kept = static_cast<std::size_t>(std::clamp(k, 0, geometry.get3NMinus6()));
    // The arrays keep the dense path's shapes (one-based eigenvalues of 3N + 1, 3N − 6 inverse
    // ones); the modes not computed are zero, and no route reaches them.
    eigenvalues.assign(dim + 1, 0.0);
    inverseEigenvalues.assign(modes, 0.0);
    const double largest = values.empty() ? 0.0 : std::fabs(values.back());
    for (std::size_t m = 0; m < kept; ++m) {
        eigenvalues[m + 7] = values[m];
        if (values[m] > kZeroModeTolerance * largest) inverseEigenvalues[m] = 1.0 / values[m];
    }
    ownedModeVectors = allocateBulkDoubles(kept * dim);
    if (!ownedModeVectors) throw std::bad_alloc();
    // A 3N × k column-major matrix is k contiguous rows of 3N: Vᵀ as the routes read it.
    std::copy(columns, columns + kept * dim, ownedModeVectors.get());
    modeVectors = ownedModeVectors.get();
    eigenvectorsT = nullptr;
    sparseModeCount = static_cast<int32_t>(kept);
    eigenComputed = false;
}

EnmStatus ModeSet::calibrateSparse(const NetworkGeometry& geometry, float averageHapticForce, int32_t largestExact)
{
    springConstant = 0.0;
    calibration = Calibration();
    if (!sparseSolver || sparseModeCount == 0) return EnmStatus::NotReady;
    if (geometry.isNMR()) {
        console::line("NMR structure: no B-factors to calibrate against, forces are not applied");
        return EnmStatus::NotCalibrated;
    }
    TracePlan plan;
    plan.largestExact = largestExact;
    sparseTrace = std::make_unique<TraceEstimate>(sparseSolver->sumInverse(plan));
    const TraceEstimate& trace = *sparseTrace;
    if (trace.exact)
        console::Line() << "sum of inverse eigenvalues (exact): " << trace.value;
    else
        console::Line() << "sum of inverse eigenvalues (estimated from " << trace.samples
                        << " samples): " << trace.value << " \u00b1 " << trace.bound;

    applyCalibration(geometry, trace.value, averageHapticForce);
    sparseSolver->useCalibration(calibration);
    return EnmStatus::Ok;
}

void ModeSet::setUpSparseModes(Deformation& deformation, ModeBudget& budget)
{
    const ModeChangeToken token = deformation.beginModeChange();
    totalMaxModes = sparseModeCount;
    amountSelected = totalMaxModes;
    modeSelectState = 2;
    const bool allModes = setupCompleteFlag && allModesRouteHeld();
    loadResult = allModes ? -2 : -3;
    budget.setModesAllowedByMemory(totalMaxModes);
    modeAmplitudes.assign(static_cast<std::size_t>(std::max(totalMaxModes, 0)), 0.0);
    useAllModesFlag.store(allModes, std::memory_order_release);
    deformation.zeroForces();
    modesReady.store(totalMaxModes > 0, std::memory_order_release);
}

bool ElasticNetworkModel::adoptSolution(ElasticNetworkModel& solved)
{
    // Only the whole solution with Y replaces the sparse one: without Y an all-mode force
    // kept through the factorisation could not leave by the route it came in.
    if (!m_modes.isSparse() || solved.m_modes.isSparse() || solved.m_geometry.getAmountOfAtoms() != m_geometry.getAmountOfAtoms() || solved.m_geometry.get3N() != m_geometry.get3N()
        || !solved.m_modes.yMatrix || !solved.isSetup() || solved.m_geometry.getNodeCoordinates() != m_geometry.getNodeCoordinates())
        return false;
    const ModeChangeToken token = beginModeChange();
    m_modes.eigenvalues = std::move(solved.m_modes.eigenvalues);
    m_modes.inverseEigenvalues = std::move(solved.m_modes.inverseEigenvalues);
    m_modes.eigenBuffer = std::move(solved.m_modes.eigenBuffer);
    m_modes.eigenvectorsT = std::exchange(solved.m_modes.eigenvectorsT, nullptr);
    m_modes.extraZeroModes = solved.m_modes.extraZeroModes;
    m_modes.eigenComputed = solved.m_modes.eigenComputed;
    m_modes.calibration = solved.m_modes.calibration;
    m_modes.springConstant = solved.m_modes.springConstant;
    m_modes.forceScaler.store(solved.m_modes.forceScaler.load(), std::memory_order_relaxed);
    m_modes.scaledEigenvalues = std::move(solved.m_modes.scaledEigenvalues);
    m_modes.inverseScaledEigenvalues = std::move(solved.m_modes.inverseScaledEigenvalues);
    m_modes.yMatrix = std::move(solved.m_modes.yMatrix);
    m_modes.yMatrixAvailable = solved.m_modes.yMatrixAvailable;
    m_modes.ySeconds = solved.m_modes.ySeconds;
    m_modes.ownedModeVectors = std::move(solved.m_modes.ownedModeVectors);
    m_modes.modeVectors = std::exchange(solved.m_modes.modeVectors, nullptr);
    // The user's choice of modes stays: the first n (now out of more), the listed modes, or all.
    m_modes.totalMaxModes = solved.m_modes.totalMaxModes;
    m_modes.amountSelected = std::min(m_modes.amountSelected.load(), m_modes.totalMaxModes);
    m_budget.takeDecision(solved.m_budget);
    m_modes.loadResult = solved.m_modes.loadResult;
    m_modes.modeAmplitudes.assign(static_cast<std::size_t>(std::max(m_modes.totalMaxModes, 0)), 0.0);
    // A force kept through every mode went through every mode there is, now more of them.
    for (Atom* node : m_geometry.getAtoms())
        if (node->getStateArray()[0] == kRouteAllModes && !isZeroForce(node->getOLDKcalForce()))
            node->setStatePosition(token, 1, m_modes.totalMaxModes);
    m_files.takeFileNames(solved.m_files);
    m_modes.setupCompleteFlag = solved.m_modes.setupCompleteFlag;
    {
        const std::lock_guard<std::mutex> lock(m_modes.sparseMutex);
        m_modes.sparseSolver.reset();
    }
    m_modes.sparseTrace.reset();
    m_modes.sparseModeCount = 0;
    m_modes.sparseAllModes = false;
    console::Line() << "every mode is ready: " << m_modes.totalMaxModes << " modes kept, responses through Y";
    return true;
}

} // namespace vornax
