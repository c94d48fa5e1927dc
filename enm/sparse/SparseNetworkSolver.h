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
// One thread uses a solver at a time.
#pragma once

#include "enm/ElasticNetworkModel.h"
#include "enm/EnmStatus.h"
#include "enm/sparse/SparseHessian.h"

#include <Eigen/Dense>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vornax {

/// The sparse Cholesky factorisation behind the solves.
enum class SparseFactorisation {
    Cholmod,       ///< CHOLMOD's supernodal LLᵀ (its own choice of fill-reducing ordering)
    EigenLLT,      ///< Eigen's SimplicialLLT, AMD ordering
};

/// Where the time went (seconds) and how much work was done.
struct SparseStageTimes {
    double hessian = 0, ordering = 0, factorisation = 0, lanczos = 0, trace = 0;
    int lanczosPasses = 0;
    int64_t solves = 0;          ///< right-hand sides solved with the factorisation
    int64_t halfSolves = 0;      ///< right-hand sides that took the forward substitution alone
    int64_t operatorProducts = 0; ///< products Lanczos asked for
};

/// Σinv, exact or estimated.
struct TraceEstimate {
    double value = 0.0;
    double bound = 0.0; ///< the estimate lies within ±bound of the exact value (three standard errors); 0 when exact
    bool exact = false;
    int samples = 0; ///< right-hand sides the estimate took
    bool reachedTarget = false; ///< an estimate whose bound came within the fraction asked for
};

/// How Σinv is found: exactly while the network is small enough, else by an adaptive Hutch++.
struct TracePlan {
    /// Exact while 3N is at most this (800 nodes). Exact costs 3N half solves, growing as N²:
    /// 0.17 s at 576 nodes (4hhb), 0.9 s at 1,294 (1igy), 6.7 s at 2,868 (3j6r), 67 s at 8,015
    /// (1aon); the estimate at a 0.2 % bound 0.2, 0.07, 0.2 and 4.3 s (sparse_modes_probe --both).
    int32_t largestExact = 2400;
    /// The estimate adds samples until its bound (three standard errors) is at most this
    /// fraction of its value: 0.4 %, inside the 0.5 % the calibration is held to. The samples
    /// needed grow as its inverse square: the whole 3j6r capsid (3N = 516,240), whose lowest
    /// modes come in large degenerate groups, took 1,920 right-hand sides to 0.2 %.
    double relativeBound = 0.004;
    /// Hutch++ sketch columns (each costs a solve and a half solve). Cost to the 0.2 % bound in
    /// half solves (a solve counts two) with 32 and with 128: 1aon (3N = 24,045) 1504 and 832,
    /// the 12-copy part of 3j6r (103,248) 352 and 512; 3wip, 4jsv, 3j6r (6,000-8,600) 224-288
    /// with 32, about 416 with 96.
    int sketch = 32;
    int round = 64;        ///< Hutchinson samples added per round
    int firstRound = 128;  ///< Hutchinson samples before the bound is first looked at
    int maxSamples = 6000; ///< right-hand sides at most, sketch included: then the bound stands as it is
    uint64_t seed = 1;
};

/// The shape of the block Lanczos iteration. A block solve is far cheaper per vector than single
/// solves, yet narrow blocks in a deep basis converge in fewer products: 8 × 10 took 120-192
/// products where 24 × 5 took 240-384, and less memory and time on every size measured, from
/// 3j6r (2,868 nodes) to its capsid (172,080), where the basis went from 600 to 360 MB
/// (sparse_modes_probe --lanczos-block B --lanczos-blocks M). A degenerate group wider than the
/// block is completed by a further pass.
struct LanczosShape {
    int block = 8;   ///< vectors per step
    int blocks = 10; ///< blocks the basis holds before a thick restart
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
    const ElasticNetworkModel::Calibration& calibrate(const TraceEstimate& sumInverse, const std::vector<double>& bFactors,
                                                      double kelvin, float averageHapticForce, const std::string& name);
    const ElasticNetworkModel::Calibration& calibration() const { return m_calibration; }
    /// Takes a calibration made before (that of an eigen data file): responses use its K.
    void useCalibration(const ElasticNetworkModel::Calibration& calibration)
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

    struct Factor;
    static constexpr std::size_t kCachedNodes = 64;

private:
    EnmStatus factoriseMatrix(bool shift);
    /// Pieces of the network no spring joins (from the stored triangle).
    int32_t pieces() const;
    /// The upper triangle of the Hessian, for a factorisation (built again when it was let go).
    void takeTriangle();
    void releaseTriangle();
    /// x ← x with every component along the columns of `basis` removed (basis orthonormal).
    static void project(const Eigen::Ref<const Eigen::MatrixXd>& basis, Eigen::MatrixXd& x);
    /// The null space the pseudo-inverse leaves out: rigid-body vectors and extra zero modes.
    const Eigen::MatrixXd& nullSpace() const { return m_null; }
    void solveInPlace(Eigen::MatrixXd& x);
    /// bⱼᵀ·H⁺·bⱼ for every column of `b`, whose columns are orthogonal to the null space.
    Eigen::VectorXd quadraticForms(Eigen::MatrixXd& b);
    /// Right-hand sides per block of Σinv's solves.
    int traceBlock() const;
    EnmStatus runLanczos(int32_t k);
    /// The `nev` largest eigenpairs of P·A⁻¹·P (P off the orthonormal columns of `deflated`,
    /// A the factorised matrix) by block Lanczos with thick restarts, `block` vectors a step:
    /// values descending, vectors orthonormal. False when they did not converge.
    /// Zero modes (θ ≥ `zeroAbove`) come back alone, first, once they have converged.
    bool largestOfInverse(const Eigen::MatrixXd& deflated, int nev, int block, double zeroAbove, Eigen::VectorXd& theta,
                          Eigen::MatrixXd& vectors);
    bool sameGroup(double a, double b) const;

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
    std::unique_ptr<Factor> m_factor;
    double m_sigma = 0.0;
    double m_meanDiagonal = 1.0;
    double m_largest = 0.0;
    double m_largestSeconds = 0.0;
    std::vector<double> m_values;
    Eigen::MatrixXd m_vectors;
    int32_t m_extraZero = 0;
    ElasticNetworkModel::Calibration m_calibration;
    std::unordered_map<int32_t, Eigen::MatrixXd> m_columns;
    SparseStageTimes m_times;
};

} // namespace vornax
