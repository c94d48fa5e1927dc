// The Hessian of an elastic network in compressed sparse form, for networks too large for the
// dense 3N × 3N matrix: one 3 × 3 block per spring end and per node, nothing else stored.
#pragma once

#include <Eigen/SparseCore>

#include <cstdint>
#include <utility>
#include <vector>

namespace vornax {

using SparseMatrixD = Eigen::SparseMatrix<double>; ///< column-major, int indices

/// Which entries of the symmetric Hessian are stored.
enum class HessianTriangle { Both, Lower, Upper };

/// The 3N × 3N Hessian (unit spring constant) of the `n` nodes at `xyz` (Å, 3n coordinates,
/// node-major) with a spring between every two nodes closer than `rcAngstrom`: the same springs
/// and the same values, bit for bit, as ElasticNetworkModel::constructHessianMatrix. Both
/// triangles are stored, or one alone with the diagonal (what a factorisation reads, a little
/// over half the memory). `orderedPairs`, when given, receives the number of ordered node pairs
/// joined by a spring (each spring counted from both ends).
SparseMatrixD buildSparseHessian(const double* xyz, int32_t n, double rcAngstrom, int64_t* orderedPairs = nullptr,
                                 HessianTriangle triangle = HessianTriangle::Both);

/// The lower triangle of P·(H + D)·Pᵀ, built straight from the nodes without H itself:
/// entry (i, j) is H(perm[i], perm[j]), `perm` a permutation of the 3n rows (a factorisation's
/// fill-reducing ordering), and D the diagonal `diagonal` gives as (row of H, value) pairs.
/// Rows are sorted within each column.
SparseMatrixD buildPermutedLowerHessian(const double* xyz, int32_t n, double rcAngstrom, const int* perm,
                                        const std::vector<std::pair<int, double>>& diagonal);

} // namespace vornax
