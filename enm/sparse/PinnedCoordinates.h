// The six coordinates pinned to make the Hessian of a rigid network non-singular without
// changing its range: three nodes far apart, and of their nine coordinates the six whose
// rigid-body rows are best conditioned.
#pragma once

#include <Eigen/Dense>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace vornax::sparse {

/// Rows of the 3N-coordinate Hessian to pin, for the `n` nodes at `xyz` (node-major) with the
/// orthonormal rigid-body vectors `rigid` (3N × 6); none when no six of the nine candidates
/// are conditioned well enough.
std::optional<std::array<int32_t, 6>> choosePinnedRows(const std::vector<double>& xyz, int32_t n,
                                                       const Eigen::MatrixXd& rigid);

} // namespace vornax::sparse
