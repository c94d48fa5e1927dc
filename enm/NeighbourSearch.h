// The springs of a network: which nodes lie closer than the cutoff to each other.
#pragma once

#include <cstdint>
#include <vector>

namespace vornax {

/// The nodes closer than `rc` to each of the `n` nodes at `xyz` (3n coordinates), in index
/// order, the node itself left out: a grid of cells of edge rc, of which only the 27 around a
/// node can hold its neighbours. Empty lists when rc is not a positive number.
std::vector<std::vector<int32_t>> neighbourLists(const double* xyz, int32_t n, double rc);

} // namespace vornax
