#include "enm/ContactGrid.h"

#include "molecule/Atom.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace vornax {

namespace {
// Cells are a little wider than the largest contact radius, so that a node touching the probe
// always lies in the probe's cell or one of its 26 neighbours despite rounding.
constexpr double kCellMargin = 1.001;
// Grids with more cells than this many per node get wider cells.
constexpr double kMaxCellsPerNode = 8.0;
} // namespace

std::optional<int32_t> ContactGrid::firstHit(const Vector3d& probe, const std::vector<Atom*>& atoms,
                                             const SeqLocked<Vector3d>* positions, int32_t count,
                                             const std::atomic<uint64_t>& version)
{
    if (count <= 0 || !positions || static_cast<int32_t>(atoms.size()) < count) return std::nullopt;
    const uint64_t before = version.load(std::memory_order_acquire);
    if (before & 1u) { // an update is being written
        m_lastSeen = before;
        return std::nullopt;
    }
    if (before != m_builtVersion || count != m_count) {
        const bool stable = before == m_lastSeen;
        m_lastSeen = before;
        if (!stable) return std::nullopt; // moving: scan, and rebuild once it holds still
        build(atoms, positions, count);
        // An update that started while building spoils the grid.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (version.load(std::memory_order_relaxed) != before) {
            m_builtVersion = kNever;
            return std::nullopt;
        }
        m_builtVersion = before;
        m_count = count;
    }
    const int32_t hit = query(probe, atoms);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (version.load(std::memory_order_relaxed) != before) return std::nullopt;
    return hit;
}

void ContactGrid::build(const std::vector<Atom*>& atoms, const SeqLocked<Vector3d>* positions, int32_t count)
{
    ++m_builds;
    const auto n = static_cast<std::size_t>(count);
    m_positions.resize(n);
    // A node whose position is not a finite number can hold no probe: it stays out of the
    // cells, and out of the bounds, which would otherwise ask for an endless number of cells.
    const auto placed = [this](std::size_t i) {
        const Vector3d& p = m_positions[i];
        return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
    };
    double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    double reach = 0.0;
    std::size_t inCells = 0;
    for (std::size_t i = 0; i < n; ++i) {
        m_positions[i] = positions[i].load();
        // The same radius as the atom's sphere test.
        reach = std::max(reach, 6.0 * atoms[i]->getCamZoom() + atoms[i]->getRadius());
        if (!placed(i)) continue;
        ++inCells;
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], static_cast<double>(m_positions[i][a]));
            hi[a] = std::max(hi[a], static_cast<double>(m_positions[i][a]));
        }
    }
    if (inCells == 0) std::fill(lo, lo + 3, 0.0), std::fill(hi, hi + 3, 0.0);
    // Finite floats span less than 7e38, a finite double: the cells below are finite in number.
    double cell = std::isfinite(reach) ? std::max(reach * kCellMargin, 1e-3) : 1e-3;
    const auto cellsFor = [&](double c) {
        double total = 1.0;
        for (int a = 0; a < 3; ++a) total *= std::floor((hi[a] - lo[a]) / c) + 1.0;
        return total;
    };
    while (cellsFor(cell) > kMaxCellsPerNode * static_cast<double>(inCells) + 27.0) cell *= 1.5;
    m_cell = cell;
    for (int a = 0; a < 3; ++a) {
        m_min[a] = lo[a];
        m_dims[a] = static_cast<int32_t>(std::floor((hi[a] - lo[a]) / cell)) + 1;
    }
    const std::size_t cells = static_cast<std::size_t>(m_dims[0]) * m_dims[1] * m_dims[2];
    // Positions are at or above the minimum, so truncation is the floor.
    const double inv = 1.0 / cell;
    m_cellOf.resize(n);
    m_cellStart.assign(cells + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (!placed(i)) {
            m_cellOf[i] = -1;
            continue;
        }
        int32_t c[3];
        for (int a = 0; a < 3; ++a)
            c[a] = static_cast<int32_t>(std::min((m_positions[i][a] - m_min[a]) * inv, m_dims[a] - 1.0));
        m_cellOf[i] = (c[2] * m_dims[1] + c[1]) * m_dims[0] + c[0];
        ++m_cellStart[static_cast<std::size_t>(m_cellOf[i]) + 1];
    }
    for (std::size_t c = 0; c < cells; ++c) m_cellStart[c + 1] += m_cellStart[c];
    m_items.resize(inCells);
    m_fill.assign(m_cellStart.begin(), m_cellStart.end() - 1);
    for (std::size_t i = 0; i < n; ++i)
        if (m_cellOf[i] >= 0)
            m_items[static_cast<std::size_t>(m_fill[static_cast<std::size_t>(m_cellOf[i])]++)] =
                static_cast<int32_t>(i);
}

int32_t ContactGrid::query(const Vector3d& probe, const std::vector<Atom*>& atoms) const
{
    int32_t c[3];
    for (int a = 0; a < 3; ++a) {
        const double f = std::floor((static_cast<double>(probe[a]) - m_min[a]) / m_cell);
        // Further than one cell outside the box: no node can be within reach.
        if (!(f >= -1.0 && f <= m_dims[a])) return -1;
        c[a] = static_cast<int32_t>(f);
    }
    int32_t best = -1;
    for (int z = std::max(c[2] - 1, 0); z <= std::min(c[2] + 1, m_dims[2] - 1); ++z)
        for (int y = std::max(c[1] - 1, 0); y <= std::min(c[1] + 1, m_dims[1] - 1); ++y)
            for (int x = std::max(c[0] - 1, 0); x <= std::min(c[0] + 1, m_dims[0] - 1); ++x) {
                const auto cell = static_cast<std::size_t>((z * m_dims[1] + y) * m_dims[0] + x);
                for (int32_t k = m_cellStart[cell]; k < m_cellStart[cell + 1]; ++k) {
                    const int32_t i = m_items[static_cast<std::size_t>(k)];
                    if (best >= 0 && i >= best) break; // cells list their nodes in network order
                    if (atoms[static_cast<std::size_t>(i)]->pointToSphereAt(probe,
                                                                            m_positions[static_cast<std::size_t>(i)]))
                        best = i;
                }
            }
    return best;
}

} // namespace vornax
