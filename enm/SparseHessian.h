// The Hessian of an elastic network in compressed sparse form, for networks too large for the
// dense 3N × 3N matrix: one 3 × 3 block per spring end and per node, nothing else stored.
#pragma once

#include <Eigen/SparseCore>

#include <cstdint>

namespace vornax {

using SparseMatrixD = Eigen::SparseMatrix<double>; ///< column-major, int indices

/// The 3N × 3N Hessian (unit spring constant) of the `n` nodes at `xyz` (Å, 3n coordinates,
/// node-major) with a spring between every two nodes closer than `rcAngstrom`: the same springs
/// and the same values, bit for bit, as ElasticNetworkModel::constructHessianMatrix. Both
/// triangles are stored, or with `lowerOnly` the lower one alone (what a factorisation reads,
/// a little over half the memory). `orderedPairs`, when given, receives the number of ordered
/// node pairs joined by a spring (each spring counted from both ends).
SparseMatrixD buildSparseHessian(const double* xyz, int32_t n, double rcAngstrom, int64_t* orderedPairs = nullptr,
                                 bool lowerOnly = false);

} // namespace vornax
