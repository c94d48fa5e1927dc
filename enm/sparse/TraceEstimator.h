// Σinv = trace(H⁺), the sum of the inverse non-zero eigenvalues: exactly, by a quadratic form per
// coordinate, or estimated by Hutch++ with the lowest modes deflated, adding samples until its
// error bound is a set fraction of it.
#pragma once

#include <Eigen/Dense>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace vornax {

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

namespace sparse {

/// A plan of a fixed number of right-hand sides, `samples`, a third of them the sketch, taken
/// whatever the bound.
TracePlan fixedSamplePlan(int samples, uint64_t seed);

/// What Σinv is taken of: H⁺ of a network of `dim` coordinates, through its solver.
struct PseudoInverse {
    int dim;
    /// The null space H⁺ leaves out (orthonormal columns): rigid-body vectors and extra zero modes.
    const Eigen::MatrixXd& nullSpace;
    /// The lowest modes found (ascending eigenvalues, orthonormal columns), of which the first
    /// `extraZero` are zero modes (in the null space too).
    const std::vector<double>& values;
    const Eigen::MatrixXd& vectors;
    int32_t extraZero;
    /// X ← H⁺·X.
    std::function<void(Eigen::MatrixXd&)> apply;
    /// bⱼᵀ·H⁺·bⱼ for every column of `b`, whose columns are orthogonal to the null space (`b`
    /// may come back changed).
    std::function<Eigen::VectorXd(Eigen::MatrixXd&)> quadraticForms;
};

class TraceEstimator {
public:
    explicit TraceEstimator(const PseudoInverse& h) : m_h(h) {}

    /// Σinv by one quadratic form per coordinate.
    TraceEstimate exact() const;
    /// Σinv by Hutch++ with the lowest modes and the null space deflated: `plan.sketch` random
    /// vectors sketch the largest part of the rest (exactly traced), then Hutchinson samples
    /// estimate the remainder in rounds until the bound (three standard errors) is at most
    /// `plan.relativeBound` of the value or `plan.maxSamples` right-hand sides are used. The
    /// random vectors come from a generator seeded with `plan.seed`.
    TraceEstimate estimate(const TracePlan& plan);

private:
    /// Right-hand sides per block of the solves.
    int block() const;
    /// x with the null space and the non-zero modes found projected off.
    void deflate(Eigen::MatrixXd& x) const;
    /// `columns` random vectors of ±1.
    Eigen::MatrixXd rademacher(int columns);
    /// Hutch++'s sketch: `q` spans M·Ω for M = D·H⁺·D, D off the deflated modes, Ω `sketch`
    /// random vectors; returns trace(Qᵀ·M·Q).
    double sketchShare(int sketch, Eigen::MatrixXd& q);
    /// `count` Hutchinson samples on (I − Q·Qᵀ)·M·(I − Q·Qᵀ), appended to `each`.
    void sample(int count, const Eigen::MatrixXd& q, std::vector<double>& each);
    /// The samples' mean, and three standard errors of it.
    static double meanAndBound(const std::vector<double>& each, double& mean);

    const PseudoInverse& m_h;
    std::mt19937_64 m_random;
};

} // namespace sparse
} // namespace vornax
