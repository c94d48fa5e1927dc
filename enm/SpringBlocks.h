// One node's row of the Hessian of an elastic network with unit springs: the one definition
// that the dense Hessian (compressed rows) and the sparse one (enm/sparse/SparseHessian) share,
// so that both give the same values bit for bit.
#pragma once

#include <cstdint>
#include <vector>

namespace vornax {

/// Node i's blocks: for each node of `near` (its neighbours, node i left out), the block
/// −d·dᵀ/|d|² at blocks[9e ..] (row-major, d = position(i) − position(near[e])), and the diagonal
/// block `diag`, the sum of d·dᵀ/|d|² in the order of `near`. `xyz` holds 3 coordinates a node.
void springBlocks(const double* xyz, int32_t i, const std::vector<int32_t>& near, double diag[3][3],
                  std::vector<double>& blocks);

} // namespace vornax
