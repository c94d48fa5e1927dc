// One run of the block Lanczos iteration with thick restarts: the largest eigenpairs of
// P·A⁻¹·P for a factorised A, with P the projection off a set of deflated vectors.
#pragma once

#include <Eigen/Dense>

#include <cstdint>
#include <functional>
#include <random>

namespace vornax {

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

namespace sparse {

/// x ← A⁻¹·x on a block of columns.
using BlockSolve = std::function<void(Eigen::MatrixXd&)>;

/// The `nev` largest eigenpairs of P·A⁻¹·P (P off the orthonormal columns of `deflated`, A the
/// matrix `solve` inverts), `block` vectors a step and a basis of up to `blocks` blocks before a
/// thick restart. Each step extends the basis by the operator's image of its last block
/// (orthonormalised against all before it), then solves the small projected problem
/// (Rayleigh–Ritz), and stops once the wanted Ritz pairs' residuals are small enough.
class BlockLanczos {
public:
    BlockLanczos(const Eigen::MatrixXd& deflated, BlockSolve solve, int blocks);

    /// Values descending in `theta`, vectors orthonormal in `vectors`. False when they did not
    /// converge. Zero modes (θ ≥ `zeroAbove`) come back alone, first, once they have converged.
    bool run(int nev, int block, double zeroAbove, Eigen::VectorXd& theta, Eigen::MatrixXd& vectors);
    /// Columns the operator was applied to.
    int64_t products() const { return m_products; }

private:
    using Index = Eigen::Index;

    /// Fixes the block and the basis's capacity for `nev` pairs; false when the range the
    /// operator acts on has no room for them.
    bool plan(int nev, int block);
    /// The first block: random, orthonormal, orthogonal to the deflated vectors.
    void start();
    /// Applies the operator to the last block and orthonormalises the image into the next one;
    /// returns its R (image = V·R).
    Eigen::MatrixXd extend();
    /// The eigenpairs of the projected operator on the first `basis` columns, descending.
    bool rayleighRitz(Index basis);
    /// How many leading Ritz pairs are done: all the wanted ones once every residual is small,
    /// or the zero modes alone once they have settled; 0 while neither.
    Index convergedPairs(const Eigen::MatrixXd& r, Index basis, double zeroAbove) const;
    /// Hands the first `wanted` Ritz pairs over, the vectors in the basis's own memory.
    void finish(Index basis, Index wanted, Eigen::VectorXd& theta, Eigen::MatrixXd& vectors);
    /// Keeps the leading Ritz vectors, and the new block after them.
    void thickRestart(const Eigen::MatrixXd& r, Index basis);

    /// Orthonormalises `w` (columns of Q from `first`, `width` of them) against the deflated
    /// vectors and Q's first `first` columns, twice; the coefficients go to T when `coefficients`.
    void orthogonalise(Eigen::MatrixXd& w, Index first, bool coefficients, Index column);
    void fillRandom(Eigen::MatrixXd& w);
    /// w = V·R with V orthonormal, V written to Q's columns from `first` (w is overwritten).
    Eigen::MatrixXd factorQR(Eigen::MatrixXd& w, Index first);
    /// Column j of the block at `first`, which vanished: a fresh random direction orthogonal
    /// to everything so far.
    void replaceVanished(Index first, Index width, Index j);
    /// Q·S in place in Q's first `columns` columns.
    void rotateBasis(Index basis, Index columns);

    const Eigen::MatrixXd& m_deflated;
    BlockSolve m_solve;
    int m_blocks;
    Index m_dim;
    int m_nev = 0, m_block = 0, m_capacity = 0;
    /// Q holds the basis (its first `m_done` columns have their images folded into T) and the
    /// block being extended; T is the projected operator QᵀMQ, its upper triangle from the
    /// Gram–Schmidt coefficients, with the last step's R in the rows below.
    Eigen::MatrixXd m_q, m_t;
    Index m_done = 0, m_width = 0;
    Eigen::VectorXd m_ritz;
    Eigen::MatrixXd m_s; ///< eigenvectors of T, descending
    std::mt19937_64 m_random{0x5eed};
    std::normal_distribution<double> m_normal;
    int64_t m_products = 0;
};

} // namespace sparse
} // namespace vornax
