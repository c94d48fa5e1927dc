#include "enm/sparse/BlockLanczos.h"

#include "enm/sparse/BlockAlgebra.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vornax::sparse {

namespace {

/// Lanczos stops when every wanted Ritz pair's residual is below this fraction of its value.
constexpr double kLanczosTolerance = 1e-10;
/// The same for zero modes, whose solves carry the shift's conditioning (and whose eigenvalue
/// is zero whatever the vector).
constexpr double kZeroModeResidual = 1e-8;
constexpr int kMaxLanczosSteps = 400;
/// Rows of the basis rotated at a time.
constexpr Eigen::Index kRestartRows = 4096;

} // namespace

BlockLanczos::BlockLanczos(const Eigen::MatrixXd& deflated, BlockSolve solve, int blocks)
    : m_deflated(deflated), m_solve(std::move(solve)), m_blocks(blocks), m_dim(deflated.rows())
{}

bool BlockLanczos::run(int nev, int block, double zeroAbove, Eigen::VectorXd& theta, Eigen::MatrixXd& vectors)
{
    if (!plan(nev, block)) return false;
    start();
    for (int step = 0; step < kMaxLanczosSteps; ++step) {
        const Eigen::MatrixXd r = extend();
        const Index basis = m_done + m_width;
        if (!rayleighRitz(basis)) return false;
        if (const Index wanted = convergedPairs(r, basis, zeroAbove); wanted > 0) {
            finish(basis, wanted, theta, vectors);
            return true;
        }
        if (basis + m_width <= m_capacity) {
            m_done = basis;
            continue;
        }
        thickRestart(r, basis);
    }
    return false;
}

bool BlockLanczos::plan(int nev, int block)
{
    const int range = static_cast<int>(m_dim) - static_cast<int>(m_deflated.cols()); // dimension the operator acts on
    nev = std::min(nev, range - 1);
    if (nev < 1) return false;
    // The basis and the block after it must fit in the range, with room to keep nev vectors.
    block = std::clamp(block, 1, nev);
    while (block > 1 && nev + 2 * block > range) block = (block + 1) / 2;
    m_nev = nev;
    m_block = block;
    m_capacity = std::min(range - block, std::max(nev + 2 * block, m_blocks * block));
    m_q.resize(m_dim, m_capacity + block);
    m_t = Eigen::MatrixXd::Zero(m_capacity + block, m_capacity + block);
    return true;
}

void BlockLanczos::start()
{
    m_done = 0;
    m_width = m_block;
    Eigen::MatrixXd v(m_dim, m_width);
    fillRandom(v);
    orthogonalise(v, 0, false, 0);
    factorQR(v, 0);
}

Eigen::MatrixXd BlockLanczos::extend()
{
    Eigen::MatrixXd w = m_q.middleCols(m_done, m_width);
    project(m_deflated, w);
    m_solve(w);
    m_products += w.cols();
    orthogonalise(w, m_done + m_width, true, m_done);
    return factorQR(w, m_done + m_width);
}

bool BlockLanczos::rayleighRitz(Index basis)
{
    // M·Q = Q·T + V·R·Eᵀ makes R times the last block of a Ritz vector its residual.
    const Eigen::MatrixXd projected = m_t.topLeftCorner(basis, basis).selfadjointView<Eigen::Upper>();
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> small(projected);
    if (small.info() != Eigen::Success) return false;
    m_ritz = small.eigenvalues().reverse();
    m_s = small.eigenvectors().rowwise().reverse();
    return true;
}

Eigen::Index BlockLanczos::convergedPairs(const Eigen::MatrixXd& r, Index basis, double zeroAbove) const
{
    const Index wanted = std::min<Index>(m_nev, basis);
    bool converged = wanted == m_nev;
    const Eigen::MatrixXd residual = r * m_s.block(m_done, 0, m_width, wanted);
    for (Index j = 0; j < wanted && converged; ++j)
        converged = residual.col(j).norm() <= kLanczosTolerance * std::fabs(m_ritz(j));
    if (converged) return wanted;
    // Zero modes (θ at or above `zeroAbove`) dwarf the rest, whose residuals then cannot
    // reach the tolerance: once they have converged, they are returned alone to be deflated.
    Index zeros = 0;
    while (zeros < wanted && m_ritz(zeros) >= zeroAbove) ++zeros;
    if (zeros > 0 && (zeros == wanted || m_ritz(zeros) < 0.5 * zeroAbove)) {
        bool settled = true;
        for (Index j = 0; j < zeros && settled; ++j)
            settled = residual.col(j).norm() <= kZeroModeResidual * std::fabs(m_ritz(j));
        if (settled) return zeros;
    }
    return 0;
}

void BlockLanczos::finish(Index basis, Index wanted, Eigen::VectorXd& theta, Eigen::MatrixXd& vectors)
{
    theta = m_ritz.head(wanted);
    // The Ritz vectors take the basis's own memory.
    rotateBasis(basis, wanted);
    m_q.conservativeResize(Eigen::NoChange, wanted);
    vectors.resize(0, 0);
    vectors.swap(m_q);
}

void BlockLanczos::thickRestart(const Eigen::MatrixXd& r, Index basis)
{
    const Index kept = std::min<Index>(basis - m_width, std::max<Index>(m_nev + m_block / 2, (basis + m_nev) / 2));
    const Eigen::MatrixXd coupling = r * m_s.block(m_done, 0, m_width, kept);
    rotateBasis(basis, kept);
    for (Index j = 0; j < m_width; ++j) m_q.col(kept + j) = m_q.col(basis + j); // kept + width <= basis
    m_t.setZero();
    m_t.topLeftCorner(kept, kept).diagonal() = m_ritz.head(kept);
    m_t.block(kept, 0, m_width, kept) = coupling;
    m_done = kept;
}

void BlockLanczos::orthogonalise(Eigen::MatrixXd& w, Index first, bool coefficients, Index column)
{
    for (int round = 0; round < 2; ++round) {
        project(m_deflated, w);
        if (first > 0) {
            Eigen::MatrixXd c(first, w.cols());
            gemm(true, 1.0, m_q.leftCols(first), w, 0.0, c);
            gemm(false, -1.0, m_q.leftCols(first), c, 1.0, w);
            if (coefficients) m_t.block(0, column, first, w.cols()) += c;
        }
    }
}

void BlockLanczos::fillRandom(Eigen::MatrixXd& w)
{
    for (Index j = 0; j < w.cols(); ++j)
        for (Index i = 0; i < w.rows(); ++i) w(i, j) = m_normal(m_random);
}

Eigen::MatrixXd BlockLanczos::factorQR(Eigen::MatrixXd& w, Index first)
{
    // Columns that vanish (an invariant subspace reached) are replaced by fresh random
    // directions. The factorisation works in w's own memory and V goes straight to Q, so no
    // block-sized copy is made on a large network.
    const double scale = std::max(w.norm(), 1e-300);
    const Index width = w.cols();
    Eigen::HouseholderQR<Eigen::Ref<Eigen::MatrixXd>> qr(w);
    Eigen::MatrixXd r = qr.matrixQR().topRows(width).triangularView<Eigen::Upper>();
    auto v = m_q.middleCols(first, width);
    v.setIdentity();
    qr.householderQ().applyThisOnTheLeft(v);
    for (Index j = 0; j < width; ++j)
        if (!(std::fabs(r(j, j)) > 1e-10 * scale)) replaceVanished(first, width, j);
    return r;
}

void BlockLanczos::replaceVanished(Index first, Index width, Index j)
{
    auto v = m_q.middleCols(first, width);
    Eigen::MatrixXd fresh(m_dim, 1);
    fillRandom(fresh);
    for (int round = 0; round < 2; ++round) {
        project(m_deflated, fresh);
        if (first > 0) fresh.noalias() -= m_q.leftCols(first) * (m_q.leftCols(first).transpose() * fresh);
        for (Index i = 0; i < width; ++i)
            if (i != j) fresh.col(0) -= v.col(i) * v.col(i).dot(fresh.col(0));
    }
    v.col(j) = fresh.col(0) / fresh.norm();
}

void BlockLanczos::rotateBasis(Index basis, Index columns)
{
    // A band of rows at a time: each band of the product needs only its own rows.
    for (Index first = 0; first < m_dim; first += kRestartRows) {
        const Index rows = std::min<Index>(kRestartRows, m_dim - first);
        Eigen::MatrixXd band(rows, columns);
        gemm(false, 1.0, m_q.block(first, 0, rows, basis), m_s.leftCols(columns), 0.0, band);
        m_q.block(first, 0, rows, columns) = band;
    }
}

} // namespace vornax::sparse
