#include "enm/sparse/SparseNetworkSolver.h"

#include "enm/sparse/BlockAlgebra.h"
#include "enm/sparse/LowestModes.h"
#include "enm/sparse/PinnedCoordinates.h"

#include <Spectra/MatOp/SparseSymMatProd.h>
#include <Spectra/SymEigsSolver.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <malloc.h>
#include <new>

namespace vornax {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Shift of a floppy network's matrix, relative to the mean diagonal of the Hessian.
constexpr double kRelativeShift = 1e-8;

} // namespace

using sparse::project;

// ---- Construction and factorisation ------------------------------------------------------------

SparseNetworkSolver::SparseNetworkSolver(const double* xyz, int32_t n, double rcAngstrom, SparseFactorisation kind)
    : m_xyz(xyz, xyz + 3 * static_cast<std::size_t>(std::max(n, 0))), m_n(std::max(n, 0)), m_dim(3 * m_n), m_rc(rcAngstrom),
      m_kind(kind)
{
    const auto start = std::chrono::steady_clock::now();
    // One triangle alone: the factorisation reads nothing else, and the whole matrix is built
    // only when asked for.
    m_triangle = buildSparseHessian(m_xyz.data(), m_n, rcAngstrom, &m_pairs, HessianTriangle::Upper);
    m_times.hessian = secondsSince(start);

    // Translations and rotations about the centroid.
    m_rigid = Eigen::MatrixXd::Zero(m_dim, 6);
    double centre[3] = {0, 0, 0};
    for (int32_t i = 0; i < m_n; ++i)
        for (int c = 0; c < 3; ++c) centre[c] += m_xyz[3 * i + c] / m_n;
    for (int32_t i = 0; i < m_n; ++i) {
        const double p[3] = {m_xyz[3 * i] - centre[0], m_xyz[3 * i + 1] - centre[1], m_xyz[3 * i + 2] - centre[2]};
        for (int c = 0; c < 3; ++c) m_rigid(3 * i + c, c) = 1.0;
        // e_a × p for the axes a = x, y, z
        m_rigid(3 * i + 1, 3) = -p[2], m_rigid(3 * i + 2, 3) = p[1];
        m_rigid(3 * i + 0, 4) = p[2], m_rigid(3 * i + 2, 4) = -p[0];
        m_rigid(3 * i + 0, 5) = -p[1], m_rigid(3 * i + 1, 5) = p[0];
    }
    if (m_dim >= 6) sparse::orthonormaliseInPlace(m_rigid);
    m_null = m_rigid;
    double trace = 0.0;
    for (int i = 0; i < m_dim; ++i) trace += m_triangle.coeff(i, i);
    if (m_dim > 0 && trace > 0.0) m_meanDiagonal = trace / m_dim;
}

SparseNetworkSolver::~SparseNetworkSolver() = default;

const SparseMatrixD& SparseNetworkSolver::hessian() const
{
    if (m_hessian.size() == 0 && m_n > 0) m_hessian = buildSparseHessian(m_xyz.data(), m_n, m_rc);
    return m_hessian;
}

int64_t SparseNetworkSolver::factorNonZeros() const { return m_factor ? m_factor->nonZeros() : 0; }
int64_t SparseNetworkSolver::factorStoredEntries() const { return m_factor ? m_factor->storedEntries() : 0; }

EnmStatus SparseNetworkSolver::factorise()
{
    if (m_n < 3) return EnmStatus::TooFewNodes;
    takeTriangle();
    // The largest eigenvalue is found before the factor takes its memory.
    if (m_largest == 0.0)
        if (const EnmStatus status = findLargestEigenvalue(); status != EnmStatus::Ok) return status;
    // Pinning six coordinates holds one rigid piece: a network in several pieces is singular
    // pinned, and goes straight to the shifted factorisation.
    EnmStatus status = pieces() > 1 ? EnmStatus::NotConverged : factoriseMatrix(false);
    if (status == EnmStatus::NotConverged) status = factoriseMatrix(true);
    releaseTriangle();
    return status;
}

EnmStatus SparseNetworkSolver::findLargestEigenvalue()
{
    const auto start = std::chrono::steady_clock::now();
    using Product = Spectra::SparseSymMatProd<double, Eigen::Upper>;
    Product product(m_triangle);
    const int ncv = std::min(m_dim, 20);
    Spectra::SymEigsSolver<Product> eigs(product, 1, ncv);
    eigs.init();
    // It only sets the scale of what counts as zero (1e-10 of it), so a residual of 1e-4·θ,
    // which puts θ within 1e-4 (relative) of the eigenvalue and usually far closer, will do:
    // on a capsid the tight 1e-9 took a fifth of the load.
    // Spectra throws when its small eigen problem fails, as it does on a matrix that is not
    // finite (coordinates of a damaged file): that is a solve that did not converge.
    try {
        eigs.compute(Spectra::SortRule::LargestAlge, 1000, 1e-4);
    } catch (const std::exception&) {
        return EnmStatus::NotConverged;
    }
    if (eigs.info() != Spectra::CompInfo::Successful) return EnmStatus::NotConverged;
    const double largest = eigs.eigenvalues()(0);
    if (!std::isfinite(largest)) return EnmStatus::NotConverged;
    m_largest = largest;
    m_largestSeconds = secondsSince(start);
    return EnmStatus::Ok;
}

void SparseNetworkSolver::takeTriangle()
{
    if (m_triangle.size() != 0) return;
    m_triangle = buildSparseHessian(m_xyz.data(), m_n, m_rc, nullptr, HessianTriangle::Upper);
}

void SparseNetworkSolver::releaseTriangle()
{
    // The factor is all the solves need; a floppy network's second factorisation builds the
    // matrix again.
    // Assigning an empty matrix would keep the storage (Eigen's sparse storage never shrinks
    // on resize): swapping with one hands it back.
    SparseMatrixD().swap(m_triangle);
    malloc_trim(0);
}

int32_t SparseNetworkSolver::pieces() const
{
    // Union–find over the springs, which are the Hessian's off-diagonal blocks.
    std::vector<int32_t> parent(static_cast<std::size_t>(m_n));
    for (int32_t i = 0; i < m_n; ++i) parent[static_cast<std::size_t>(i)] = i;
    auto root = [&](int32_t i) {
        while (parent[static_cast<std::size_t>(i)] != i)
            i = parent[static_cast<std::size_t>(i)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
        return i;
    };
    int32_t count = m_n;
    for (int32_t j = 0; j < m_n; ++j)
        for (SparseMatrixD::InnerIterator it(m_triangle, 3 * j); it; ++it) {
            const int32_t a = root(static_cast<int32_t>(it.row() / 3)), b = root(j);
            if (a != b) parent[static_cast<std::size_t>(a)] = b, --count;
        }
    return count;
}

EnmStatus SparseNetworkSolver::factoriseMatrix(bool shift)
{
    m_columns.clear();
    m_factor.reset();
    malloc_trim(0);
    takeTriangle();
    std::vector<std::pair<int, double>> additions;
    if (!diagonalAdditions(shift, additions)) return EnmStatus::NotConverged;
    return factoriseWith(additions);
}

bool SparseNetworkSolver::diagonalAdditions(bool shift, std::vector<std::pair<int, double>>& additions)
{
    m_sigma = 0.0;
    if (!shift) {
        const auto pinned = sparse::choosePinnedRows(m_xyz, m_n, m_rigid);
        if (!pinned) return false;
        for (int32_t row : *pinned) additions.emplace_back(row, m_meanDiagonal);
        return true;
    }
    m_sigma = kRelativeShift * m_meanDiagonal;
    additions.reserve(static_cast<std::size_t>(m_dim));
    for (int i = 0; i < m_dim; ++i) additions.emplace_back(i, m_sigma);
    return true;
}

EnmStatus SparseNetworkSolver::factoriseWith(const std::vector<std::pair<int, double>>& additions)
{
    try {
        m_factor = sparse::makeFactor(m_kind, m_twoLaneRows);
        auto start = std::chrono::steady_clock::now();
        if (!m_factor->analyse(m_triangle)) return EnmStatus::OutOfMemory; // the pattern of H + D: H's own
        m_times.ordering += secondsSince(start);
        start = std::chrono::steady_clock::now();
        const bool ok = factoriseNumerically(additions) && m_factor->finite();
        m_times.factorisation += secondsSince(start);
        if (!ok) {
            m_factor.reset();
            return EnmStatus::NotConverged;
        }
    } catch (const std::bad_alloc&) {
        m_factor.reset();
        return EnmStatus::OutOfMemory;
    }
    return EnmStatus::Ok;
}

bool SparseNetworkSolver::factoriseNumerically(const std::vector<std::pair<int, double>>& additions)
{
    if (const int* perm = m_factor->permutation()) {
        // The factorisation reads the matrix in its own ordering: built in that ordering
        // straight from the nodes, in the place of H's triangle, it is the only copy of the
        // matrix beside the factor (a quarter of a GB on a capsid).
        releaseTriangle();
        const SparseMatrixD permuted = buildPermutedLowerHessian(m_xyz.data(), m_n, m_rc, perm, additions);
        return m_factor->factorisePermuted(permuted);
    }
    // On H's own triangle, and off again afterwards, bit for bit.
    std::vector<std::pair<double*, double>> before;
    for (const auto& [row, value] : additions) {
        double& entry = m_triangle.coeffRef(row, row);
        before.emplace_back(&entry, entry);
        entry += value;
    }
    const bool ok = m_factor->factorise(m_triangle);
    for (auto& [entry, value] : before) *entry = value;
    return ok;
}

// ---- Solves -------------------------------------------------------------------------------------

void SparseNetworkSolver::solveInPlace(Eigen::MatrixXd& x)
{
    m_factor->solveInPlace(x);
    m_times.solves += x.cols();
}

void SparseNetworkSolver::applyPseudoInverse(Eigen::MatrixXd& x)
{
    project(m_null, x);
    if (m_sigma == 0.0) {
        solveInPlace(x);
        project(m_null, x);
        return;
    }
    // (H + σI)·y = b + σ·y has the solution H·y = b; each round shrinks the error by
    // σ / (λ + σ) for the lowest non-zero λ. The lowest modes found are set to their exact
    // share vᵀb / λ each round, so the rounds only have the modes above them to settle.
    const Eigen::MatrixXd b = x;
    const Eigen::Index known = m_vectors.cols() - m_extraZero;
    Eigen::MatrixXd exactShare;
    if (known > 0 && m_vectors.rows() == m_dim) {
        exactShare = m_vectors.rightCols(known).transpose() * b;
        for (Eigen::Index j = 0; j < known; ++j) exactShare.row(j) /= m_values[static_cast<std::size_t>(m_extraZero + j)];
    }
    auto settleKnown = [&](Eigen::MatrixXd& y) {
        if (exactShare.size() == 0) return;
        const auto v = m_vectors.rightCols(known);
        y.noalias() += v * (exactShare - v.transpose() * y);
    };
    solveInPlace(x);
    project(m_null, x);
    settleKnown(x);
    double lastChange = HUGE_VAL;
    for (int round = 0; round < 100; ++round) {
        Eigen::MatrixXd next = b + m_sigma * x;
        solveInPlace(next);
        project(m_null, next);
        settleKnown(next);
        const double change = (next - x).norm(), size = next.norm();
        x.swap(next);
        // Converged, or down to rounding (the change no longer shrinks).
        if (change <= 1e-15 * size || change > 0.5 * lastChange) break;
        lastChange = change;
    }
}

// ---- Lowest modes --------------------------------------------------------------------------------

EnmStatus SparseNetworkSolver::computeLowestModes(int32_t k)
{
    if (!m_factor) return EnmStatus::NotReady;
    const auto start = std::chrono::steady_clock::now();
    EnmStatus status = runLanczos(k);
    if (status == EnmStatus::Ok && m_extraZero > 0 && m_sigma == 0.0) {
        // The pinned network is singular: factorise the shifted one and start again.
        status = factoriseMatrix(true);
        releaseTriangle();
        if (status == EnmStatus::Ok) status = runLanczos(k);
    }
    // Lanczos's blocks are wider than what the solves see later: their workspace goes.
    if (m_factor) m_factor->releaseWorkspace();
    m_times.lanczos = secondsSince(start) + m_largestSeconds;
    if (status == EnmStatus::Ok && m_extraZero > 0)
        ModeSet::warnExtraZeroModes(m_extraZero, static_cast<float>(m_rc));
    return status;
}

EnmStatus SparseNetworkSolver::runLanczos(int32_t k)
{
    m_null = m_rigid;
    m_columns.clear();
    sparse::LowestModeSearch search(m_rigid, m_sigma, m_largest, m_lanczos,
                                    [this](Eigen::MatrixXd& x) { solveInPlace(x); });
    const EnmStatus status = search.run(k, m_values, m_vectors);
    m_times.lanczosPasses += search.passes();
    m_times.operatorProducts += search.products();
    if (status != EnmStatus::Ok) return status;
    m_extraZero = search.zeroModes(m_values);
    if (m_extraZero > 0) {
        m_null.conservativeResize(Eigen::NoChange, 6 + m_extraZero);
        m_null.rightCols(m_extraZero) = m_vectors.leftCols(m_extraZero);
    }
    return EnmStatus::Ok;
}

// ---- Σinv ------------------------------------------------------------------------------------------

Eigen::VectorXd SparseNetworkSolver::quadraticForms(Eigen::MatrixXd& b)
{
    if (m_sigma == 0.0) {
        // H⁺ = Π·A⁻¹·Π with Π off the null space, and b = Π·b: bᵀ·H⁺·b = bᵀ·A⁻¹·b.
        m_times.halfSolves += b.cols();
        return m_factor->forwardSquaredNorms(b);
    }
    Eigen::MatrixXd x = b;
    applyPseudoInverse(x);
    return (b.array() * x.array()).colwise().sum().transpose();
}

TraceEstimate SparseNetworkSolver::traceWith(const std::function<TraceEstimate(sparse::TraceEstimator&)>& run)
{
    const auto start = std::chrono::steady_clock::now();
    const sparse::PseudoInverse h{m_dim,
                                  m_null,
                                  m_values,
                                  m_vectors,
                                  m_extraZero,
                                  [this](Eigen::MatrixXd& x) { applyPseudoInverse(x); },
                                  [this](Eigen::MatrixXd& b) { return quadraticForms(b); }};
    sparse::TraceEstimator estimator(h);
    const TraceEstimate out = run(estimator);
    m_times.trace += secondsSince(start);
    return out;
}

TraceEstimate SparseNetworkSolver::sumInverseExact()
{
    return traceWith([](sparse::TraceEstimator& estimator) { return estimator.exact(); });
}

TraceEstimate SparseNetworkSolver::sumInverseEstimate(const TracePlan& plan)
{
    return traceWith([&](sparse::TraceEstimator& estimator) { return estimator.estimate(plan); });
}

TraceEstimate SparseNetworkSolver::sumInverseEstimate(int samples, uint64_t seed)
{
    return sumInverseEstimate(sparse::fixedSamplePlan(samples, seed));
}

TraceEstimate SparseNetworkSolver::sumInverse(const TracePlan& plan)
{
    TraceEstimate out = m_dim <= plan.largestExact ? sumInverseExact() : sumInverseEstimate(plan);
    if (m_factor) m_factor->releaseWorkspace();
    return out;
}

const Calibration& SparseNetworkSolver::calibrate(const TraceEstimate& sumInverse,
                                                                      const std::vector<double>& bFactors, double kelvin,
                                                                      float averageHapticForce, const std::string& name)
{
    m_calibration = vornax::calibrate(CalibrationInput{sumInverse.value, bFactors, kelvin, averageHapticForce, name});
    m_columns.clear();
    return m_calibration;
}

// ---- Responses -----------------------------------------------------------------------------------

const Eigen::MatrixXd& SparseNetworkSolver::responseColumns(int32_t node)
{
    if (const auto it = m_columns.find(node); it != m_columns.end()) return it->second;
    if (m_columns.size() >= kCachedNodes) m_columns.clear();
    Eigen::MatrixXd x = Eigen::MatrixXd::Zero(m_dim, 3);
    for (int c = 0; c < 3; ++c) x(3 * node + c, c) = 1.0;
    applyPseudoInverse(x);
    const double k = m_calibration.K > 0.0 ? m_calibration.K : 1.0;
    x /= k;
    return m_columns.emplace(node, std::move(x)).first->second;
}

void SparseNetworkSolver::response(const double f[3], int32_t node, double* out)
{
    const Eigen::MatrixXd& y = responseColumns(node);
    Eigen::Map<Eigen::VectorXd>(out, m_dim) = y * Eigen::Vector3d(f[0], f[1], f[2]);
}

std::array<double, 3> SparseNetworkSolver::responseDiagonal(int32_t node)
{
    const Eigen::MatrixXd& y = responseColumns(node);
    return {y(3 * node, 0), y(3 * node + 1, 1), y(3 * node + 2, 2)};
}

} // namespace vornax
