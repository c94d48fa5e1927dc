// The normal-mode solution of one network: the Hessian while it exists, the eigenvalues (plain,
// inverse and scaled by the calibrated spring constant), the eigenvectors, the modes kept by
// the budget and the selection of modes the force response goes through, the response matrix Y,
// and the sparse factorisation that stands in for them on large networks. The dense solvers
// (dense/NormalModes.cpp), the sparse path (sparse/SparsePath.cpp) and the eigen data files
// (io/) fill it.
#pragma once

#include "common/Buffer.h"
#include "enm/Calibration.h"
#include "enm/EnmStatus.h"
#include "enm/dense/Tridiagonal.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vornax {

class Deformation;
class ModeBudget;
class NetworkGeometry;
class Progress;
class SparseNetworkSolver;
struct TraceEstimate;

/// How the Hessian is diagonalised.
enum class EigenSolver {
    Lapack,     ///< LAPACK's stages run one by one (tridiagonal reduction with a sparse first block,
                ///< dstedc, the reflectors applied in large blocks), holding at most two and a half
                ///< 3N × 3N matrices: the default
    LapackDC,   ///< LAPACK's divide-and-conquer driver dsyevd (three matrices)
    LapackMRRR, ///< LAPACK's MRRR driver dsyevr (two matrices)
    Reference,  ///< Householder tridiagonalisation and implicit-shift QL on a one-based copy
};

class ModeSet {
public:
    ModeSet();
    ~ModeSet();
    ModeSet(const ModeSet&) = delete;
    ModeSet& operator=(const ModeSet&) = delete;

    // ---- Hessian and normal modes (dense/NormalModes.cpp) ---------------------------------
    /// Builds the 3N × 3N Hessian of the network with unit spring constant.
    EnmStatus constructHessianMatrix(const NetworkGeometry& geometry, Progress* progress);
    /// Diagonalises the Hessian (dense/EigenSolvers.h), sorts the modes, drops the six rigid ones and
    /// frees the Hessian. A solve that fails (not converged, out of memory, cancelled through
    /// `progress`) leaves no eigen data and no Hessian behind. The deformation's forces are zeroed.
    EnmStatus calculateEigen(const NetworkGeometry& geometry, Deformation& deformation, Progress* progress);
    /// Tells the user (console and message box) that the network has `count` zero-frequency
    /// modes besides the six rigid-body ones, built with cutoff `rcAngstrom`.
    static void warnExtraZeroModes(int32_t count, float rcAngstrom);

    // ---- Calibration and response (ForceResponse.cpp) -------------------------------------
    /// Calibrates K from the B-factors, scales the eigenvalues, computes the force scaler S for
    /// a device whose average force is `averageHapticForce` newtons and, unless
    /// `readingStandardData`, the response matrix Y.
    EnmStatus calculateForceScaler(const NetworkGeometry& geometry, float averageHapticForce, bool readingStandardData);
    /// calculateForceScaler in two steps, so that a load can time and cancel Y on its own:
    /// the calibration (K, scaled eigenvalues, S), then holdY.
    EnmStatus calibrateForces(const NetworkGeometry& geometry, float averageHapticForce, bool readingStandardData);
    /// Computes Y and keeps it as the response matrix of all-mode responses.
    EnmStatus holdY(const NetworkGeometry& geometry, Progress* progress);
    /// Y = V·diag(inverseScaledEigenvalues)·Vᵀ, 3N × 3N, Å per kcal/mol/Å. Cancelled through
    /// `progress` between blocks of modes (Y is then freed).
    EnmStatus calculateY(const NetworkGeometry& geometry, Progress* progress = nullptr);
    /// True when Y and the per-structure vectors fit in the physical memory `budget` sees.
    bool checkAvailableMemForY(const NetworkGeometry& geometry, const ModeBudget& budget) const;
    /// Zeroes inverse scaled eigenvalues from index amountRead − 6 on.
    void finalize_inv_HDK(int32_t amountRead);
    /// K, c, R, D and S from `sumInverse` and the B-factors, then the scaled eigenvalues and S
    /// of the modes held (both paths).
    void applyCalibration(const NetworkGeometry& geometry, double sumInverse, float averageHapticForce);
    /// Keeps every computed mode and selects them all (responses through Y when it is held),
    /// without the mode budget: for benchmarks and tests that need every mode.
    void setUpAllModes(const NetworkGeometry& geometry, Deformation& deformation);
    /// The calibration is done (S is known): forces can be applied.
    bool setupComplete() const { return setupCompleteFlag; }
    /// The modes were read from eigen data files or given as text, not computed in this run.
    bool isReadingStandardData() const { return readingStandardData; }

    // ---- The sparse path (sparse/SparsePath.cpp) -----------------------------------------
    // For networks whose dense solution does not fit (or is not wanted before the first pull):
    // the Hessian stays compressed, only the lowest modes are computed, Σinv comes from the
    // factorisation, and all-mode responses from the pulled node's columns of the
    // pseudo-inverse. Run in this order instead of constructHessianMatrix … getMaxPossibleModes.
    /// The compressed Hessian of the network (unit springs).
    EnmStatus constructSparseHessian(const NetworkGeometry& geometry);
    /// Factorises and finds the lowest `k` non-rigid modes (a degenerate group cut by mode k is
    /// taken whole). Cancelled through `progress` before the factorisation and the iterations.
    EnmStatus calculateLowestModes(const NetworkGeometry& geometry, int32_t k, Progress* progress);
    /// Σinv (exact while 3N is at most `largestExact`, else estimated with a bound), then K,
    /// the scaled eigenvalues and S as calibrateForces gives them.
    EnmStatus calibrateSparse(const NetworkGeometry& geometry, float averageHapticForce, int32_t largestExact);
    /// Keeps every mode found and selects them all; all-mode responses go through the
    /// factorisation when the structure is calibrated.
    void setUpSparseModes(Deformation& deformation, ModeBudget& budget);
    /// Bytes the dense path needs for a network of `n` nodes: the solve (about two and a half
    /// 3N × 3N matrices) and, `withY`, Y.
    static uint64_t denseBytesNeeded(int64_t n, bool withY);

    void setEigenSolver(EigenSolver solver) { eigenSolver = solver; }
    EigenSolver getEigenSolver() const { return eigenSolver; }
    /// The Hessian while it exists (after constructHessianMatrix, before the solve): 3N × 3N.
    /// The network keeps it in compressed rows; the first call writes out its dense form.
    const double* getHessian() const;
    /// False when two nodes share a position: the Hessian then holds NaN and has no modes.
    bool isHessianFinite() const { return hessianFinite; }
    bool isEigenComputed() const { return eigenComputed; }
    /// One-based, ascending eigenvalues of the unit-spring Hessian (element 0 unused).
    const std::vector<double>& getEigenvalues() const { return eigenvalues; }
    const std::vector<double>& getInverseEigenvalues() const { return inverseEigenvalues; }
    const std::vector<double>& getScaledEigenvalues() const { return scaledEigenvalues; }
    const std::vector<double>& getInverseScaledEigenvalues() const { return inverseScaledEigenvalues; }
    /// Vᵀ: (3N − 6) rows of 3N coordinates, one row per non-rigid mode. V(r, k) = Vᵀ(k, r).
    const double* getEigenvectorMatrixT() const { return eigenvectorsT; }
    /// Modes whose eigenvalue is treated as zero beyond the six rigid-body modes.
    int32_t getExtraZeroModes() const { return extraZeroModes; }
    /// Eigenvalues below this fraction of the largest one count as zero.
    static constexpr double kZeroModeTolerance = 1e-10;

    /// Calibration quantities of the last calibration (enm/Calibration.h).
    const Calibration& getCalibration() const { return calibration; }
    double getSpringConstant() const { return springConstant; }
    double getS() const { return forceScaler.load(std::memory_order_relaxed); }
    double getNewtonToKcal() const { return newtonToKcal; }

    /// Y, 3N × 3N row-major, or null when not held.
    const double* getYMatrix() const { return yMatrix.get(); }
    bool isYMatrixAvailable() const { return yMatrixAvailable; }
    /// Seconds the last calculateY took.
    double getYSeconds() const { return ySeconds; }

    /// Kept mode vectors: totalMaxModes rows of 3N, or null.
    const double* getModeVectors() const { return modeVectors; }
    int32_t getTotalMaxModes() const { return totalMaxModes; }
    int32_t getAmountSelected() const { return amountSelected.load(std::memory_order_relaxed); }
    int32_t getModeSelectState() const { return modeSelectState.load(std::memory_order_relaxed); }
    std::array<int32_t, 20> getModeArray() const;
    int32_t getLoadResult() const { return loadResult; }
    bool isSetup() const { return modesReady.load(std::memory_order_acquire); }

    bool isSparse() const { return sparseSolver != nullptr || sparseModeCount > 0; }
    /// Modes the sparse path computed or its eigen data file held (0 on the dense path).
    int32_t getSparseModeCount() const { return sparseModeCount; }
    const SparseNetworkSolver* getSparseSolver() const { return sparseSolver.get(); }
    /// Σinv as the sparse path found it: exact, or estimated with its bound.
    const TraceEstimate& getSumInverseEstimate() const;
    /// True when responses through every mode can be given (Y held, or the sparse factorisation).
    bool allModesRouteHeld() const { return yMatrix || (sparseSolver && sparseAllModes); }
    /// The modes came from ElNemo files.
    bool isElNemoInput() const { return elNemoInput; }

    /// Mean-square fluctuation 0.6·T/(λ_k·K) of mode `mode` (zero-based), and their sum over
    /// every mode or the first `n`, at `kelvin`.
    double getRMSingle(int32_t mode, double kelvin) const;
    double getRTotal(double kelvin) const;
    double getRMForTest(int32_t n, double kelvin) const;

private:
    friend class ElasticNetworkModel;
    friend class Deformation;
    friend class EigenDataFiles;
    friend class BudgetedModes;
    friend class TextEigenInput;

    /// How much of the dense Hessian holds its values: none, each row from the diagonal on (all
    /// the staged solver reads), or all.
    enum class HessianFill { None, Upper, Full };
    /// Writes the compressed Hessian into `hessian` (zeroed) up to `fill`; false when `stop`
    /// ended it unfinished.
    bool fillHessian(HessianFill fill, const std::function<bool()>& stop = {}) const;
    void finishEigenSolution(const NetworkGeometry& geometry, Deformation& deformation, Progress* progress);
    /// Fills the mode arrays from the `k` lowest eigenvalues and modes (3N × k, one column each).
    void keepLowestModes(const NetworkGeometry& geometry, const std::vector<double>& values, const double* columns,
                         int32_t k);

    // Hessian and eigen solution.
    EigenSolver eigenSolver = EigenSolver::Lapack;
    DoubleBuffer hessian;                                ///< 3N × 3N, freed by the solve; written out on demand
    SymmetricRows hessianRows;                           ///< the Hessian's non-zero blocks, freed by the solve
    mutable HessianFill hessianFill = HessianFill::None; ///< how much of `hessian` holds the rows
    bool hessianFinite = true;
    bool eigenComputed = false;
    std::vector<double> eigenvalues;       ///< one-based, 3N + 1
    DoubleBuffer eigenBuffer;              ///< 3N rows of 3N: every eigenvector, rigid ones first
    const double* eigenvectorsT = nullptr; ///< Vᵀ: eigenBuffer from row 6 on
    std::vector<double> inverseEigenvalues;
    int32_t extraZeroModes = 0;

    // Calibration and response.
    Calibration calibration;
    double springConstant = 1.0;
    /// S: read by the servo thread with every force, replaced when a background solution is adopted.
    std::atomic<double> forceScaler{0.0};
    double newtonToKcal = 1.4396e10;
    std::vector<double> scaledEigenvalues;
    std::vector<double> inverseScaledEigenvalues;
    DoubleBuffer yMatrix;
    bool yMatrixAvailable = false;
    double ySeconds = 0.0;

    // The kept modes and the selection: written only with a ModeChangeToken; atomics so that a
    // query from any thread reads whole values.
    const double* modeVectors = nullptr; ///< totalMaxModes rows of 3N: Vᵀ, or ownedModeVectors
    DoubleBuffer ownedModeVectors;       ///< the kept modes when they came from a file
    int32_t totalMaxModes = 0;
    std::vector<double> modeAmplitudes;
    std::array<std::atomic<int32_t>, 20> modeArray{};
    std::atomic<int32_t> amountSelected{-1};
    std::atomic<int32_t> modeSelectState{0};
    std::atomic<bool> useAllModesFlag{true};
    int32_t loadResult = 0;
    std::atomic<bool> modesReady{false};
    bool elNemoInput = false;
    bool readingStandardData = false;
    bool setupCompleteFlag = false;

    // The sparse path.
    std::unique_ptr<SparseNetworkSolver> sparseSolver;
    std::unique_ptr<TraceEstimate> sparseTrace;
    int32_t sparseModeCount = 0;
    bool sparseAllModes = false;   ///< the factorisation gives all-mode responses
    mutable std::mutex sparseMutex; ///< one thread at a time in the solver (columns are cached)
    uint64_t sparseFileModesOffset = 0;
};

} // namespace vornax
