#include "enm/SparseModes.h"

#include "common/Console.h"

#include <Eigen/CholmodSupport>
#include <Eigen/SparseCholesky>
#include <Spectra/MatOp/SparseSymMatProd.h>
#include <Spectra/SymEigsSolver.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <random>

namespace vornax {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Lanczos stops when every wanted Ritz pair's residual is below this fraction of its value.
constexpr double kLanczosTolerance = 1e-12;
/// Two eigenvalues this close (relative) belong to one degenerate group.
constexpr double kGroupTolerance = 1e-8;
/// Shift of a floppy network's matrix, relative to the mean diagonal of the Hessian.
constexpr double kRelativeShift = 1e-8;
/// Pinned coordinates whose rigid-body rows are worse conditioned than this are not used.
constexpr double kWorstPinCondition = 1e8;
constexpr int kMaxPasses = 200;
constexpr int kBlock = 64; ///< right-hand sides per block solve

} // namespace

// ---- Factorisations ------------------------------------------------------------------------------

struct SparseNetworkSolver::Factor {
    virtual ~Factor() = default;
    virtual bool analyse(const SparseMatrixD& a) = 0;
    virtual bool factorise(const SparseMatrixD& a) = 0;
    virtual void solveInPlace(Eigen::MatrixXd& x) const = 0;
    virtual int64_t nonZeros() const = 0;
};

namespace {

template <typename Solver>
struct EigenSolverFactor final : SparseNetworkSolver::Factor {
    Solver solver;
    bool analyse(const SparseMatrixD& a) override
    {
        solver.analyzePattern(a);
        return solver.info() == Eigen::Success;
    }
    bool factorise(const SparseMatrixD& a) override
    {
        solver.factorize(a);
        return solver.info() == Eigen::Success;
    }
    void solveInPlace(Eigen::MatrixXd& x) const override { x = solver.solve(x).eval(); }
    int64_t nonZeros() const override;
};

template <>
int64_t EigenSolverFactor<Eigen::SimplicialLLT<SparseMatrixD, Eigen::Lower>>::nonZeros() const
{
    return solver.matrixL().nestedExpression().nonZeros();
}

template <>
int64_t EigenSolverFactor<Eigen::CholmodSupernodalLLT<SparseMatrixD, Eigen::Lower>>::nonZeros() const
{
    // The factor itself is CHOLMOD's; its size is the count CHOLMOD's analysis reports.
    return static_cast<int64_t>(const_cast<Eigen::CholmodSupernodalLLT<SparseMatrixD, Eigen::Lower>&>(solver).cholmod().lnz);
}

std::unique_ptr<SparseNetworkSolver::Factor> makeFactor(SparseFactorisation kind)
{
    if (kind == SparseFactorisation::Cholmod)
        return std::make_unique<EigenSolverFactor<Eigen::CholmodSupernodalLLT<SparseMatrixD, Eigen::Lower>>>();
    return std::make_unique<EigenSolverFactor<Eigen::SimplicialLLT<SparseMatrixD, Eigen::Lower>>>();
}

/// An orthonormal basis of the columns of `a` (same count), by Householder QR.
Eigen::MatrixXd orthonormalColumns(const Eigen::MatrixXd& a)
{
    Eigen::HouseholderQR<Eigen::MatrixXd> qr(a);
    return qr.householderQ() * Eigen::MatrixXd::Identity(a.rows(), a.cols());
}

} // namespace

// ---- Lanczos operator: P·A⁻¹·P with the found modes deflated ---------------------------------------

class SparseNetworkSolver::DeflatedOperator {
public:
    using Scalar = double;
    DeflatedOperator(SparseNetworkSolver& solver, const Eigen::MatrixXd& deflated)
        : m_solver(solver), m_deflated(deflated)
    {}
    Eigen::Index rows() const { return m_solver.m_dim; }
    Eigen::Index cols() const { return m_solver.m_dim; }
    void perform_op(const double* in, double* out) const
    {
        Eigen::MatrixXd x = Eigen::Map<const Eigen::VectorXd>(in, m_solver.m_dim);
        project(m_deflated, x);
        m_solver.solveInPlace(x);
        project(m_deflated, x);
        Eigen::Map<Eigen::VectorXd>(out, m_solver.m_dim) = x.col(0);
        ++m_solver.m_times.operatorProducts;
    }

private:
    SparseNetworkSolver& m_solver;
    const Eigen::MatrixXd& m_deflated;
};

// ---- Construction and factorisation ------------------------------------------------------------

SparseNetworkSolver::SparseNetworkSolver(const double* xyz, int32_t n, double rcAngstrom, SparseFactorisation kind)
    : m_xyz(xyz, xyz + 3 * static_cast<std::size_t>(std::max(n, 0))), m_n(std::max(n, 0)), m_dim(3 * m_n), m_rc(rcAngstrom),
      m_kind(kind)
{
    const auto start = std::chrono::steady_clock::now();
    m_hessian = buildSparseHessian(m_xyz.data(), m_n, rcAngstrom, &m_pairs);
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
    if (m_dim >= 6) m_rigid = orthonormalColumns(m_rigid);
    m_null = m_rigid;
    double trace = 0.0;
    for (int i = 0; i < m_dim; ++i) trace += m_hessian.coeff(i, i);
    if (m_dim > 0 && trace > 0.0) m_meanDiagonal = trace / m_dim;
}

SparseNetworkSolver::~SparseNetworkSolver() = default;

int64_t SparseNetworkSolver::factorNonZeros() const { return m_factor ? m_factor->nonZeros() : 0; }

EnmStatus SparseNetworkSolver::factorise()
{
    if (m_n < 3) return EnmStatus::TooFewNodes;
    const EnmStatus status = factoriseMatrix(false);
    if (status != EnmStatus::NotConverged) return status;
    return factoriseMatrix(true);
}

EnmStatus SparseNetworkSolver::factoriseMatrix(bool shift)
{
    m_columns.clear();
    SparseMatrixD a = m_hessian;
    m_sigma = 0.0;
    if (!shift) {
        // Pin six coordinates of three nodes far apart: the node farthest from the centroid,
        // the node farthest from it, and the node farthest from the line through both; of
        // their nine coordinates, the six whose rigid-body rows are best conditioned.
        auto node = [&](int32_t i) { return Eigen::Vector3d(m_xyz[3 * i], m_xyz[3 * i + 1], m_xyz[3 * i + 2]); };
        Eigen::Vector3d centre = Eigen::Vector3d::Zero();
        for (int32_t i = 0; i < m_n; ++i) centre += node(i) / m_n;
        auto farthest = [&](auto distance) {
            int32_t best = 0;
            double bestD = -1.0;
            for (int32_t i = 0; i < m_n; ++i)
                if (const double d = distance(node(i)); d > bestD) bestD = d, best = i;
            return best;
        };
        const int32_t na = farthest([&](const Eigen::Vector3d& p) { return (p - centre).norm(); });
        const int32_t nb = farthest([&](const Eigen::Vector3d& p) { return (p - node(na)).norm(); });
        const Eigen::Vector3d axis = (node(nb) - node(na)).normalized();
        const int32_t nc = farthest([&](const Eigen::Vector3d& p) {
            const Eigen::Vector3d d = p - node(na);
            return (d - axis * axis.dot(d)).norm();
        });
        const int32_t candidates[9] = {3 * na, 3 * na + 1, 3 * na + 2, 3 * nb, 3 * nb + 1,
                                       3 * nb + 2, 3 * nc, 3 * nc + 1, 3 * nc + 2};
        double bestCondition = kWorstPinCondition;
        std::array<int32_t, 6> pinned{};
        bool found = false;
        for (int mask = 0; mask < 512; ++mask) {
            if (__builtin_popcount(static_cast<unsigned>(mask)) != 6) continue;
            std::array<int32_t, 6> rows{};
            int r = 0;
            for (int b = 0; b < 9; ++b)
                if (mask & (1 << b)) rows[static_cast<std::size_t>(r++)] = candidates[b];
            std::array<int32_t, 6> sorted = rows;
            std::sort(sorted.begin(), sorted.end());
            if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
                continue; // the same coordinate twice (one node chosen twice)
            Eigen::Matrix<double, 6, 6> block;
            for (int k = 0; k < 6; ++k) block.row(k) = m_rigid.row(rows[static_cast<std::size_t>(k)]);
            const Eigen::JacobiSVD<Eigen::Matrix<double, 6, 6>> svd(block);
            const auto& s = svd.singularValues();
            const double condition = s(5) > 0.0 ? s(0) / s(5) : HUGE_VAL;
            if (condition < bestCondition) bestCondition = condition, pinned = rows, found = true;
        }
        if (!found) return EnmStatus::NotConverged;
        for (int32_t row : pinned) a.coeffRef(row, row) += m_meanDiagonal;
    } else {
        m_sigma = kRelativeShift * m_meanDiagonal;
        for (int i = 0; i < m_dim; ++i) a.coeffRef(i, i) += m_sigma;
    }
    try {
        m_factor = makeFactor(m_kind);
        auto start = std::chrono::steady_clock::now();
        if (!m_factor->analyse(a)) return EnmStatus::OutOfMemory;
        m_times.ordering += secondsSince(start);
        start = std::chrono::steady_clock::now();
        const bool ok = m_factor->factorise(a);
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

void SparseNetworkSolver::solveInPlace(Eigen::MatrixXd& x)
{
    m_factor->solveInPlace(x);
    m_times.solves += x.cols();
}

void SparseNetworkSolver::project(const Eigen::MatrixXd& basis, Eigen::MatrixXd& x)
{
    if (basis.cols() == 0) return;
    x.noalias() -= basis * (basis.transpose() * x);
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
    // σ / (λ + σ) for the lowest non-zero λ.
    const Eigen::MatrixXd b = x;
    solveInPlace(x);
    project(m_null, x);
    for (int round = 0; round < 100; ++round) {
        Eigen::MatrixXd next = b + m_sigma * x;
        solveInPlace(next);
        project(m_null, next);
        const double change = (next - x).norm(), size = next.norm();
        x.swap(next);
        if (change <= 1e-15 * size) break;
    }
}

// ---- Lowest modes --------------------------------------------------------------------------------

bool SparseNetworkSolver::sameGroup(double a, double b) const
{
    const double zero = ElasticNetworkModel::kZeroModeTolerance * m_largest;
    return std::fabs(a - b) <= kGroupTolerance * std::max(std::fabs(a), std::fabs(b)) + zero;
}

EnmStatus SparseNetworkSolver::computeLowestModes(int32_t k)
{
    if (!m_factor) return EnmStatus::NotReady;
    const auto start = std::chrono::steady_clock::now();
    // The largest eigenvalue sets what counts as zero, as in the dense solve.
    {
        Spectra::SparseSymMatProd<double> product(m_hessian);
        const int ncv = std::min(m_dim, 20);
        Spectra::SymEigsSolver<Spectra::SparseSymMatProd<double>> eigs(product, 1, ncv);
        eigs.init();
        eigs.compute(Spectra::SortRule::LargestAlge, 1000, 1e-10);
        if (eigs.info() != Spectra::CompInfo::Successful) return EnmStatus::NotConverged;
        m_largest = eigs.eigenvalues()(0);
    }
    EnmStatus status = runLanczos(k);
    if (status == EnmStatus::Ok && m_extraZero > 0 && m_sigma == 0.0) {
        // The pinned network is singular: factorise the shifted one and start again.
        status = factoriseMatrix(true);
        if (status == EnmStatus::Ok) status = runLanczos(k);
    }
    m_times.lanczos = secondsSince(start);
    if (status == EnmStatus::Ok && m_extraZero > 0)
        ElasticNetworkModel::warnExtraZeroModes(m_extraZero, static_cast<float>(m_rc));
    return status;
}

EnmStatus SparseNetworkSolver::runLanczos(int32_t k)
{
    m_null = m_rigid;
    m_columns.clear();
    const int available = m_dim - 6;
    k = std::clamp(k, 0, std::max(available, 0));
    struct Pair {
        double value;
        Eigen::VectorXd vector;
    };
    std::vector<Pair> found;
    Eigen::MatrixXd deflated = m_rigid;
    std::size_t keep = 0;
    for (int pass = 0; pass < kMaxPasses && k > 0; ++pass) {
        const int remaining = available - static_cast<int>(found.size());
        if (remaining <= 0) break;
        // The first pass asks for k modes and a few more; the later ones check that no mode
        // below the last kept group was missed (a degenerate partner Lanczos cannot see).
        int nev = pass == 0 ? k + 4 : std::max(6, k - static_cast<int>(found.size()) + 4);
        nev = std::min(nev, remaining - 1);
        if (nev < 1) break; // a tiny network: the dense solve is the tool for it
        const int ncv = std::min(m_dim, std::max(2 * nev + 1, nev + 20));
        DeflatedOperator op(*this, deflated);
        Spectra::SymEigsSolver<DeflatedOperator> eigs(op, nev, ncv);
        eigs.init();
        eigs.compute(Spectra::SortRule::LargestAlge, 3000, kLanczosTolerance);
        ++m_times.lanczosPasses;
        const Eigen::VectorXd theta = eigs.eigenvalues();
        const Eigen::MatrixXd vectors = eigs.eigenvectors();
        double lowestNew = HUGE_VAL;
        std::vector<Pair> fresh;
        for (Eigen::Index j = 0; j < theta.size(); ++j) {
            if (!(theta(j) > 0.0)) continue; // a deflated direction
            const double lambda = 1.0 / theta(j) - m_sigma;
            lowestNew = std::min(lowestNew, lambda);
            fresh.push_back({lambda, vectors.col(j)});
        }
        const bool check = keep > 0 && static_cast<int>(found.size()) >= k;
        const double groupEnd = check ? found[keep - 1].value : HUGE_VAL;
        for (Pair& p : fresh) {
            Eigen::MatrixXd v = p.vector;
            project(deflated, v);
            v /= v.norm();
            deflated.conservativeResize(Eigen::NoChange, deflated.cols() + 1);
            deflated.col(deflated.cols() - 1) = v.col(0);
            found.push_back({p.value, v.col(0)});
        }
        std::stable_sort(found.begin(), found.end(), [](const Pair& x, const Pair& y) { return x.value < y.value; });
        keep = std::min<std::size_t>(static_cast<std::size_t>(k), found.size());
        while (keep > 0 && keep < found.size() && sameGroup(found[keep - 1].value, found[keep].value)) ++keep;
        // Done when a check found nothing at or below the last kept group.
        if (check && (fresh.empty() || (lowestNew > groupEnd && !sameGroup(lowestNew, groupEnd)))) break;
        if (fresh.empty() && pass > 0) break;
    }
    if (static_cast<int>(keep) < k) return EnmStatus::NotConverged;

    // Orthonormal within each group (and against everything before it), in ascending order.
    m_values.resize(keep);
    m_vectors.resize(m_dim, static_cast<Eigen::Index>(keep));
    for (std::size_t j = 0; j < keep; ++j) {
        m_values[j] = found[j].value;
        m_vectors.col(static_cast<Eigen::Index>(j)) = found[j].vector;
    }
    for (int round = 0; round < 2; ++round) {
        for (Eigen::Index j = 0; j < m_vectors.cols(); ++j) {
            Eigen::VectorXd v = m_vectors.col(j);
            v -= m_rigid * (m_rigid.transpose() * v);
            for (Eigen::Index i = 0; i < j; ++i) v -= m_vectors.col(i) * m_vectors.col(i).dot(v);
            m_vectors.col(j) = v / v.norm();
        }
    }
    const double zero = ElasticNetworkModel::kZeroModeTolerance * std::fabs(m_largest);
    m_extraZero = 0;
    for (double v : m_values) m_extraZero += v <= zero;
    if (m_extraZero > 0) {
        m_null.conservativeResize(Eigen::NoChange, 6 + m_extraZero);
        m_null.rightCols(m_extraZero) = m_vectors.leftCols(m_extraZero);
    }
    return EnmStatus::Ok;
}

// ---- Σinv ------------------------------------------------------------------------------------------

TraceEstimate SparseNetworkSolver::sumInverseExact()
{
    const auto start = std::chrono::steady_clock::now();
    TraceEstimate out;
    out.exact = true;
    double sum = 0.0;
    for (int first = 0; first < m_dim; first += kBlock) {
        const int count = std::min(kBlock, m_dim - first);
        Eigen::MatrixXd b = Eigen::MatrixXd::Zero(m_dim, count);
        for (int j = 0; j < count; ++j) b(first + j, j) = 1.0;
        project(m_null, b);
        Eigen::MatrixXd x = b;
        applyPseudoInverse(x);
        sum += (b.array() * x.array()).sum();
        out.samples += count;
    }
    out.value = sum;
    m_times.trace += secondsSince(start);
    return out;
}

TraceEstimate SparseNetworkSolver::sumInverseEstimate(int samples, uint64_t seed)
{
    const auto start = std::chrono::steady_clock::now();
    TraceEstimate out;
    // The modes found carry their exact share; the estimate covers the rest.
    Eigen::MatrixXd deflated(m_dim, m_null.cols() + m_vectors.cols() - m_extraZero);
    deflated << m_null, m_vectors.rightCols(m_vectors.cols() - m_extraZero);
    double known = 0.0;
    for (std::size_t j = static_cast<std::size_t>(m_extraZero); j < m_values.size(); ++j) known += 1.0 / m_values[j];

    std::mt19937_64 random(seed);
    auto rademacher = [&](int columns) {
        Eigen::MatrixXd m(m_dim, columns);
        for (Eigen::Index j = 0; j < m.cols(); ++j)
            for (Eigen::Index i = 0; i < m.rows(); ++i) m(i, j) = (random() & 1u) ? 1.0 : -1.0;
        return m;
    };
    auto apply = [&](Eigen::MatrixXd& x) { // x ← P·H⁺·P, P off the deflated modes
        project(deflated, x);
        applyPseudoInverse(x);
        project(deflated, x);
    };
    const int sketch = std::max(1, samples / 3);
    const int rest = std::max(2, samples - 2 * sketch);
    Eigen::MatrixXd s = rademacher(sketch);
    apply(s);
    const Eigen::MatrixXd q = orthonormalColumns(s);
    Eigen::MatrixXd mq = q;
    apply(mq);
    const double lowRank = (q.array() * mq.array()).sum();

    Eigen::MatrixXd g = rademacher(rest);
    project(q, g);
    Eigen::MatrixXd mg = g;
    apply(mg);
    const Eigen::VectorXd each = (g.array() * mg.array()).colwise().sum().transpose();
    const double mean = each.mean();
    const double variance = (each.array() - mean).square().sum() / (rest - 1);
    out.value = known + lowRank + mean;
    out.bound = 3.0 * std::sqrt(variance / rest);
    out.samples = 2 * sketch + rest;
    m_times.trace += secondsSince(start);
    return out;
}

TraceEstimate SparseNetworkSolver::sumInverse(int32_t largestExact, int samples, uint64_t seed)
{
    return m_dim <= largestExact ? sumInverseExact() : sumInverseEstimate(samples, seed);
}

const ElasticNetworkModel::Calibration& SparseNetworkSolver::calibrate(const TraceEstimate& sumInverse,
                                                                      const std::vector<double>& bFactors, double kelvin,
                                                                      float averageHapticForce, const std::string& name)
{
    m_calibration = ElasticNetworkModel::calibrate(sumInverse.value, bFactors, kelvin, averageHapticForce, name);
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
