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
//   - the lowest modes: Lanczos (Spectra) on P·A⁻¹·P, whose largest eigenvalues are 1/λ of
//     the lowest non-rigid modes; modes already found are deflated and Lanczos is run again
//     until no mode is missing, so degenerate modes come out complete;
//   - Σinv = trace(H⁺): by solves against the identity, or by Hutch++ with the lowest modes
//     deflated, with a bound on its error;
//   - the response to a force on a node: the node's three columns of H⁺/K, which are its three
//     columns of the response matrix Y, cached per node.
//
// One thread uses a solver at a time.
#pragma once

#include "enm/ElasticNetworkModel.h"
#include "enm/EnmStatus.h"
#include "enm/SparseHessian.h"

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
    int64_t operatorProducts = 0; ///< products Lanczos asked for
};

/// Σinv, exact or estimated.
struct TraceEstimate {
    double value = 0.0;
    double bound = 0.0; ///< the estimate lies within ±bound of the exact value (three standard errors); 0 when exact
    bool exact = false;
    int samples = 0; ///< right-hand sides the estimate took
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
    /// Σinv by Hutch++ with the lowest modes deflated: `samples` right-hand sides in all
    /// (a third sketch the rest, a third project it, a third estimate the remainder), drawn
    /// from a generator seeded with `seed`.
    TraceEstimate sumInverseEstimate(int samples, uint64_t seed);
    /// Exact while 3N is at most `largestExact`, estimated with `samples` otherwise.
    TraceEstimate sumInverse(int32_t largestExact, int samples = 120, uint64_t seed = 1);

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

    const SparseMatrixD& hessian() const { return m_hessian; }
    int64_t orderedSpringPairs() const { return m_pairs; }
    const SparseStageTimes& times() const { return m_times; }
    /// Non-zeros of the Cholesky factor (its memory, in entries).
    int64_t factorNonZeros() const;

    /// X ← H⁺·X (columns of 3N).
    void applyPseudoInverse(Eigen::MatrixXd& x);

    struct Factor;
    static constexpr std::size_t kCachedNodes = 64;

private:
    class DeflatedOperator;
    EnmStatus factoriseMatrix(bool shift);
    /// x ← x with every component along the columns of `basis` removed (basis orthonormal).
    static void project(const Eigen::MatrixXd& basis, Eigen::MatrixXd& x);
    /// The null space the pseudo-inverse leaves out: rigid-body vectors and extra zero modes.
    const Eigen::MatrixXd& nullSpace() const { return m_null; }
    void solveInPlace(Eigen::MatrixXd& x);
    EnmStatus runLanczos(int32_t k);
    bool sameGroup(double a, double b) const;

    std::vector<double> m_xyz;
    int32_t m_n = 0;
    int m_dim = 0;
    double m_rc = 0.0;
    SparseFactorisation m_kind;
    SparseMatrixD m_hessian;
    int64_t m_pairs = 0;
    Eigen::MatrixXd m_rigid;
    Eigen::MatrixXd m_null;
    std::unique_ptr<Factor> m_factor;
    double m_sigma = 0.0;
    double m_meanDiagonal = 1.0;
    double m_largest = 0.0;
    std::vector<double> m_values;
    Eigen::MatrixXd m_vectors;
    int32_t m_extraZero = 0;
    ElasticNetworkModel::Calibration m_calibration;
    std::unordered_map<int32_t, Eigen::MatrixXd> m_columns;
    SparseStageTimes m_times;
};

} // namespace vornax
