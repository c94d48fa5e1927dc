// Normal modes, calibration and full-mode responses of a large elastic network without any
// dense 3N × 3N matrix.
//
// The Hessian H is kept in compressed form (SparseHessian.h). Its six rigid-body vectors R
// (translations and rotations about the centroid, orthonormalised) span its null space, so
// the pseudo-inverse H⁺ is P·A⁻¹·P for P = I − R·Rᵀ and any non-singular A = H + G whose G adds
// nothing to the range of H. G pins six coordinates of three nodes far apart (a diagonal of six
// entries, so A stays sparse), and A is factorised once by a sparse Cholesky factorisation.
// Networks that hang loose (more zero modes than the rigid six) make A singular; they are
// factorised as H + σI instead, and solves are refined until the shift has no effect.
//
//   - the lowest modes: block Lanczos with thick restarts on P·A⁻¹·P, whose largest eigenvalues
//     are 1/λ of the lowest non-rigid modes, a block of right-hand sides per solve; a block of
//     b vectors sees every group of up to b degenerate modes whole, and when a group found is
//     as large as the block, the modes found are deflated and Lanczos is run again until no
//     mode is missing;
//   - Σinv = trace(H⁺): by solves against the identity up to a size, above it by Hutch++ with the
//     lowest modes deflated, adding samples until its error bound is a set fraction of it. With
//     the pinned factorisation A = Pᵀ·L·Lᵀ·P a quadratic form bᵀ·H⁺·b of a b orthogonal to the
//     null space is ‖L⁻¹·P·b‖²: half a solve;
//   - the response to a force on a node: the node's three columns of H⁺/K, which are its three
//     columns of the response matrix Y, cached per node.
//
// This class owns the parts and the state they share: the factorisation (SparseFactor.h, with
// CHOLMOD and Eigen back-ends; the pins in PinnedCoordinates.h), the lowest modes
// (LowestModes.h, passes of BlockLanczos.h) and Σinv (TraceEstimator.h).
//
// One thread uses a solver at a time.
#pragma once

#include "enm/ElasticNetworkModel.h"
#include "enm/EnmStatus.h"
#include "enm/sparse/BlockLanczos.h"
#include "enm/sparse/SparseFactor.h"
#include "enm/sparse/SparseHessian.h"
#include "enm/sparse/TraceEstimator.h"

#include <Eigen/Dense>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vornax {

/// Where the time went (seconds) and how much work was done.
struct SparseStageTimes {
    double hessian = 0, ordering = 0, factorisation = 0, lanczos = 0, trace = 0;
    int lanczosPasses = 0;
    int64_t solves = 0;          ///< right-hand sides solved with the factorisation
    int64_t halfSolves = 0;      ///< right-hand sides that took the forward substitution alone
    int64_t operatorProducts = 0; ///< products Lanczos asked for
};

class SparseNetworkSolver {
public:
    /// Builds the Hessian of the `n` nodes at `xyz` (Å, 3n coordinates, node-major) with springs
    /// shorter than `rcAngstrom`. Nothing is factorised yet.
    SparseNetworkSolver(const double* xyz, int32_t n, double rcAngstrom,
                        SparseFactorisation kind = SparseFactorisation::Cholmod);
    ~SparseNetworkSolver();
    SparseNetworkSolver(const SparseNetworkSolver&) = delete;
    SparseNetworkSolver& operator=(const SparseNetworkSolver&) = delete;

    /// Orders and factorises the matrix of the solves. TooFewNodes below 3 nodes, OutOfMemory
    /// or NotConverged (not positive definite even shifted) on failure.
    EnmStatus factorise();
    /// The lowest `k` non-rigid modes (zero ones of a floppy network included, as the dense
    /// solve counts them), more when a degenerate group of modes straddles mode k: the group
    /// is kept whole. Warns as the dense path does when there are extra zero modes.
    EnmStatus computeLowestModes(int32_t k);

    /// Ascending eigenvalues of the modes found (unit springs).
    const std::vector<double>& eigenvalues() const { return m_values; }
    /// The modes found, one orthonormal column each (3N rows).
    const Eigen::MatrixXd& modes() const { return m_vectors; }
    /// The orthonormal rigid-body vectors (3N × 6).
    const Eigen::MatrixXd& rigidBody() const { return m_rigid; }
    int32_t extraZeroModes() const { return m_extraZero; }
    double largestEigenvalue() const { return m_largest; }
    /// True when the solves factorise H + σI (a floppy network) rather than the pinned network.
    bool shifted() const { return m_sigma != 0.0; }

    /// Σinv by one solve per coordinate.
    TraceEstimate sumInverseExact();
    /// Σinv by Hutch++ with the lowest modes and the null space deflated: `plan.sketch` random
    /// vectors sketch the largest part of the rest (exactly traced), then Hutchinson samples
    /// estimate the remainder in rounds until the bound (three standard errors) is at most
    /// `plan.relativeBound` of the value or `plan.maxSamples` right-hand sides are used. The
    /// random vectors come from a generator seeded with `plan.seed`.
    TraceEstimate sumInverseEstimate(const TracePlan& plan);
    /// Hutch++ with a fixed number of right-hand sides: `samples`, a third of them the sketch.
    TraceEstimate sumInverseEstimate(int samples, uint64_t seed);
    /// The load's Σinv: exact while 3N is at most `plan.largestExact`, else estimated by `plan`.
    TraceEstimate sumInverse(const TracePlan& plan = {});

    /// K, c, R, D, S from Σinv and the B-factors, as the dense calibration computes them; the
    /// responses then take the calibrated K.
    const Calibration& calibrate(const TraceEstimate& sumInverse, const std::vector<double>& bFactors,
                                                      double kelvin, float averageHapticForce, const std::string& name);
    const Calibration& calibration() const { return m_calibration; }
    /// Takes a calibration made before (that of an eigen data file): responses use its K.
    void useCalibration(const Calibration& calibration)
    {
        m_calibration = calibration;
        m_columns.clear();
    }

    /// Columns 3·node … 3·node + 2 of Y = H⁺/K (3N × 3, Å per kcal/mol/Å), cached per node
    /// (the cache starts afresh beyond kCachedNodes nodes: 12 MB a node at 170,000 nodes).
    const Eigen::MatrixXd& responseColumns(int32_t node);
    /// Displacement (Å, 3N) of force `f` (kcal/mol/Å) on `node`: what Y gives.
    void response(const double f[3], int32_t node, double* out);
    /// Y's diagonal at the node's three coordinates (its fluctuation per unit kT).
    std::array<double, 3> responseDiagonal(int32_t node);
    /// Nodes whose columns are cached.
    std::size_t cachedNodes() const { return m_columns.size(); }

    /// The whole Hessian (both triangles), built when first asked for: the solver itself keeps
    /// its upper triangle only, until it has factorised it.
    const SparseMatrixD& hessian() const;
    /// The whole Hessian's non-zero entries (a 3 × 3 block per spring end and per node).
    int64_t hessianNonZeros() const { return 9 * (m_pairs + m_n); }
    int64_t orderedSpringPairs() const { return m_pairs; }
    const SparseStageTimes& times() const { return m_times; }
    /// Non-zeros of the Cholesky factor (its memory, in entries).
    int64_t factorNonZeros() const;
    /// Entries the factor stores, zeros that pad its supernodes included (8 bytes each).
    int64_t factorStoredEntries() const;

    /// X ← H⁺·X (columns of 3N).
    void applyPseudoInverse(Eigen::MatrixXd& x);

    /// CHOLMOD's solves on a matrix of at least this many rows share their right-hand sides
    /// between two threads, each solving its half against the one factor: a solve streams the
    /// whole factor for a few columns, and two cores stream it faster than one. Set before
    /// factorise().
    static constexpr int64_t kTwoLaneRows = 30'000;
    void setTwoLaneRows(int64_t rows) { m_twoLaneRows = rows; }
    void setLanczosShape(const LanczosShape& shape) { m_lanczos = shape; }
    const LanczosShape& lanczosShape() const { return m_lanczos; }

    static constexpr std::size_t kCachedNodes = 64;

private:
    /// The largest eigenvalue of H, which sets what counts as zero (as in the dense solve).
    EnmStatus findLargestEigenvalue();
    /// Factorises the pinned network, or H + σI when `shift`.
    EnmStatus factoriseMatrix(bool shift);
    /// The pins or the shift: additions to the Hessian's diagonal, (row, value). False when no
    /// pins are conditioned well enough.
    bool diagonalAdditions(bool shift, std::vector<std::pair<int, double>>& additions);
    /// Orders and factorises H plus `additions` with a new factor.
    EnmStatus factoriseWith(const std::vector<std::pair<int, double>>& additions);
    /// The numeric factorisation, after the ordering: of the matrix built in the factor's own
    /// ordering when the factor takes one, else of H's own triangle.
    bool factoriseNumerically(const std::vector<std::pair<int, double>>& additions);
    /// Pieces of the network no spring joins (from the stored triangle).
    int32_t pieces() const;
    /// The upper triangle of the Hessian, for a factorisation (built again when it was let go).
    void takeTriangle();
    void releaseTriangle();
    void solveInPlace(Eigen::MatrixXd& x);
    /// bⱼᵀ·H⁺·bⱼ for every column of `b`, whose columns are orthogonal to the null space.
    Eigen::VectorXd quadraticForms(Eigen::MatrixXd& b);
    EnmStatus runLanczos(int32_t k);
    /// Σinv by `run` on H⁺, its time counted.
    TraceEstimate traceWith(const std::function<TraceEstimate(sparse::TraceEstimator&)>& run);

    std::vector<double> m_xyz;
    int32_t m_n = 0;
    int m_dim = 0;
    double m_rc = 0.0;
    SparseFactorisation m_kind;
    int64_t m_twoLaneRows = kTwoLaneRows;
    LanczosShape m_lanczos;
    mutable SparseMatrixD m_hessian; ///< both triangles, when asked for
    SparseMatrixD m_triangle;         ///< the upper triangle, until it is factorised
    int64_t m_pairs = 0;
    Eigen::MatrixXd m_rigid;
    Eigen::MatrixXd m_null;
    std::unique_ptr<sparse::SparseFactor> m_factor;
    double m_sigma = 0.0;
    double m_meanDiagonal = 1.0;
    double m_largest = 0.0;
    double m_largestSeconds = 0.0;
    std::vector<double> m_values;
    Eigen::MatrixXd m_vectors;
    int32_t m_extraZero = 0;
    Calibration m_calibration;
    std::unordered_map<int32_t, Eigen::MatrixXd> m_columns;
    SparseStageTimes m_times;
};

} // namespace vornax
