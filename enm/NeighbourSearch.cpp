#include "enm/NeighbourSearch.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace vornax {

std::vector<std::vector<int32_t>> neighbourLists(const double* xyz, int32_t n, double rc)
{
    std::vector<std::vector<int32_t>> lists(static_cast<std::size_t>(std::max(n, 0)));
    if (n <= 0 || !(rc > 0.0) || !std::isfinite(rc)) return lists;
    const double rc2 = rc * rc;
    double lo[3] = {xyz[0], xyz[1], xyz[2]}, hi[3] = {xyz[0], xyz[1], xyz[2]};
    for (int32_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], xyz[3 * i + k]);
            hi[k] = std::max(hi[k], xyz[3 * i + k]);
        }
    // Cells no smaller than Rc; a tiny Rc must not ask for an absurd number of cells.
    const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    const double cell = std::max(rc, extent / 1e6);
    auto cellOf = [&](int32_t i, int k) { return static_cast<int64_t>(std::floor((xyz[3 * i + k] - lo[k]) / cell)); };
    auto key = [](int64_t x, int64_t y, int64_t z) { return (x * 73856093) ^ (y * 19349663) ^ (z * 83492791); };
    std::unordered_map<int64_t, std::vector<int32_t>> cells;
    cells.reserve(static_cast<std::size_t>(n));
    for (int32_t i = 0; i < n; ++i) cells[key(cellOf(i, 0), cellOf(i, 1), cellOf(i, 2))].push_back(i);

    for (int32_t i = 0; i < n; ++i) {
        std::vector<int32_t>& neighbours = lists[static_cast<std::size_t>(i)];
        const int64_t cx = cellOf(i, 0), cy = cellOf(i, 1), cz = cellOf(i, 2);
        for (int64_t dx = -1; dx <= 1; ++dx)
            for (int64_t dy = -1; dy <= 1; ++dy)
                for (int64_t dz = -1; dz <= 1; ++dz) {
                    const auto it = cells.find(key(cx + dx, cy + dy, cz + dz));
                    if (it == cells.end()) continue;
                    for (int32_t j : it->second) {
                        if (j == i) continue;
                        const double ddx = xyz[3 * i] - xyz[3 * j];
                        const double ddy = xyz[3 * i + 1] - xyz[3 * j + 1];
                        const double ddz = xyz[3 * i + 2] - xyz[3 * j + 2];
                        if (ddx * ddx + ddy * ddy + ddz * ddz < rc2) neighbours.push_back(j);
                    }
                }
        // Hash collisions can list a cell twice.
        std::sort(neighbours.begin(), neighbours.end());
        neighbours.erase(std::unique(neighbours.begin(), neighbours.end()), neighbours.end());
    }
    return lists;
}

} // namespace vornax
