// The sparse path of the network: the lowest modes, the calibration and the all-mode responses
// of a network too large for the dense solution (sparse/SparseNetworkSolver.h does the numerics).
#include "enm/ElasticNetworkModel.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "enm/sparse/SparseNetworkSolver.h"
#include "molecule/Atom.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace vornax {

namespace {
const TraceEstimate kNoTrace{};
bool isZero(const Vector3d& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }
} // namespace

uint64_t ElasticNetworkModel::denseBytesNeeded(int64_t n, bool withY)
{
    // 72·N² bytes is one 3N × 3N matrix of doubles.
    const long double one = 72.0L * static_cast<long double>(n) * static_cast<long double>(n);
    const long double need = one * (withY ? 3.5L : 2.5L);
    return need >= 1.8e19L ? UINT64_MAX : static_cast<uint64_t>(need);
}

const TraceEstimate& ElasticNetworkModel::getSumInverseEstimate() const
{
    return sparseTrace ? *sparseTrace : kNoTrace;
}

EnmStatus ElasticNetworkModel::constructSparseHessian()
{
    if (m_geometry.getAmountOfAtoms() < 3 || m_geometry.getNodeCoordinates().size() != 3 * static_cast<std::size_t>(m_geometry.getAmountOfAtoms()))
        return EnmStatus::NotReady;
    try {
        sparseSolver = std::make_unique<SparseNetworkSolver>(m_geometry.getNodeCoordinates().data(), m_geometry.getAmountOfAtoms(), m_geometry.getRcAngstrom());
    } catch (const std::bad_alloc&) {
        sparseSolver.reset();
        return EnmStatus::OutOfMemory;
    }
    console::Line() << "sparse Hessian: " << sparseSolver->hessianNonZeros() << " non-zero entries";
    return EnmStatus::Ok;
}

EnmStatus ElasticNetworkModel::calculateLowestModes(int32_t k, Progress* progress)
{
    if (!sparseSolver) return EnmStatus::NotReady;
    if (isCancelled(progress)) return EnmStatus::Cancelled;
    // Lanczos keeps a little of the space to itself: all but the top two modes (every mode
    // of so small a network is the dense path's work).
    const int32_t most = std::max(1, m_geometry.get3NMinus6() - 2);
    if (k > most) console::Line(console::Warning) << "the sparse path computes at most " << most << " modes of "
                                                  << m_geometry.getAmountOfAtoms() << " nodes, not " << k;
    k = std::clamp(k, 1, most);
    EnmStatus status = sparseSolver->factorise();
    if (status != EnmStatus::Ok) return status;
    stepProgress(progress);
    if (isCancelled(progress)) return EnmStatus::Cancelled;
    status = sparseSolver->computeLowestModes(k);
    if (status != EnmStatus::Ok) return status;
    stepProgress(progress);
    const std::vector<double>& values = sparseSolver->eigenvalues();
    keepLowestModes(values, sparseSolver->modes().data(), static_cast<int32_t>(values.size()));
    extraZeroModes = sparseSolver->extraZeroModes();
    sparseAllModes = true;
    console::Line() << "lowest " << sparseModeCount << " modes found by the sparse path";
    return EnmStatus::Ok;
}

void ElasticNetworkModel::keepLowestModes(const std::vector<double>& values, const double* columns, int32_t k)
{
    const auto dim = static_cast<std::size_t>(m_geometry.get3N());
    const auto modes = static_cast<std::size_t>(m_geometry.get3NMinus6());
    const auto kept = static_cast<std::size_t>(std::clamp(k, 0, m_geometry.get3NMinus6()));
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

EnmStatus ElasticNetworkModel::calibrateSparse(float averageHapticForce, int32_t largestExact)
{
    springConstant = 0.0;
    calibration = Calibration();
    if (!sparseSolver || sparseModeCount == 0) return EnmStatus::NotReady;
    if (m_geometry.isNMR()) {
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

    applyCalibration(trace.value, averageHapticForce);
    sparseSolver->useCalibration(calibration);
    return EnmStatus::Ok;
}

void ElasticNetworkModel::setUpSparseModes()
{
    const ModeChangeToken token = beginModeChange();
    totalMaxModes = sparseModeCount;
    amountSelected = totalMaxModes;
    modeSelectState = 2;
    const bool allModes = setupCompleteFlag && allModesRouteHeld();
    loadResult = allModes ? -2 : -3;
    budget.setModesAllowedByMemory(totalMaxModes);
    modeAmplitudes.assign(static_cast<std::size_t>(std::max(totalMaxModes, 0)), 0.0);
    useAllModesFlag.store(allModes, std::memory_order_release);
    zeroForces();
    modesReady.store(totalMaxModes > 0, std::memory_order_release);
}

bool ElasticNetworkModel::adoptSolution(ElasticNetworkModel& solved)
{
    // Only the whole solution with Y replaces the sparse one: without Y an all-mode force
    // kept through the factorisation could not leave by the route it came in.
    if (!isSparse() || solved.isSparse() || solved.m_geometry.getAmountOfAtoms() != m_geometry.getAmountOfAtoms() || solved.m_geometry.get3N() != m_geometry.get3N()
        || !solved.yMatrix || !solved.isSetup() || solved.m_geometry.getNodeCoordinates() != m_geometry.getNodeCoordinates())
        return false;
    const ModeChangeToken token = beginModeChange();
    eigenvalues = std::move(solved.eigenvalues);
    inverseEigenvalues = std::move(solved.inverseEigenvalues);
    eigenBuffer = std::move(solved.eigenBuffer);
    eigenvectorsT = std::exchange(solved.eigenvectorsT, nullptr);
    extraZeroModes = solved.extraZeroModes;
    eigenComputed = solved.eigenComputed;
    calibration = solved.calibration;
    springConstant = solved.springConstant;
    forceScaler.store(solved.forceScaler.load(), std::memory_order_relaxed);
    scaledEigenvalues = std::move(solved.scaledEigenvalues);
    inverseScaledEigenvalues = std::move(solved.inverseScaledEigenvalues);
    yMatrix = std::move(solved.yMatrix);
    yMatrixAvailable = solved.yMatrixAvailable;
    ySeconds = solved.ySeconds;
    ownedModeVectors = std::move(solved.ownedModeVectors);
    modeVectors = std::exchange(solved.modeVectors, nullptr);
    // The user's choice of modes stays: the first n (now out of more), the listed modes, or all.
    totalMaxModes = solved.totalMaxModes;
    amountSelected = std::min(amountSelected.load(), totalMaxModes);
    budget.takeDecision(solved.budget);
    loadResult = solved.loadResult;
    modeAmplitudes.assign(static_cast<std::size_t>(std::max(totalMaxModes, 0)), 0.0);
    // A force kept through every mode went through every mode there is, now more of them.
    for (Atom* node : m_geometry.getAtoms())
        if (node->getStateArray()[0] == 2 && !isZero(node->getOLDKcalForce()))
            node->setStatePosition(token, 1, totalMaxModes);
    mainFileName = solved.mainFileName;
    yFileName = solved.yFileName;
    setupCompleteFlag = solved.setupCompleteFlag;
    {
        const std::lock_guard<std::mutex> lock(sparseMutex);
        sparseSolver.reset();
    }
    sparseTrace.reset();
    sparseModeCount = 0;
    sparseAllModes = false;
    console::Line() << "every mode is ready: " << totalMaxModes << " modes kept, responses through Y";
    return true;
}

} // namespace vornax
