// Uniform grid over the nodes' published positions for the servo tick's contact search.
//
// The plain search tests every node in network order and returns the first whose contact sphere
// (radius + 6 x camZoom around its deformed position) strictly contains the probe. The grid gives
// the same node: it looks only at the nodes of the cells around the probe and keeps the lowest
// index that is hit, testing each with the atom's own sphere test on the same position.
//
// It is valid only for the positions it was built from. The network counts its position updates
// (odd while an update is being written); while the count moves from one search to the next the
// caller scans instead, and once it has held still for two searches the grid is rebuilt.
// Used from one thread (the servo thread).
#pragma once

#include "common/SeqLocked.h"
#include "common/Vector3d.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace vornax {

class Atom;

class ContactGrid {
public:
    /// The first node hit (-1: none) when the grid matches the published positions, or nullopt
    /// when the positions are moving and the caller must scan.
    std::optional<int32_t> firstHit(const Vector3d& probe, const std::vector<Atom*>& atoms,
                                    const SeqLocked<Vector3d>* positions, int32_t count,
                                    const std::atomic<uint64_t>& version);

    /// Times the grid was built (for tests and benchmarks).
    std::size_t builds() const { return m_builds; }

private:
    void build(const std::vector<Atom*>& atoms, const SeqLocked<Vector3d>* positions, int32_t count);
    int32_t query(const Vector3d& probe, const std::vector<Atom*>& atoms) const;

    static constexpr uint64_t kNever = ~uint64_t{0};
    uint64_t m_builtVersion = kNever;
    uint64_t m_lastSeen = kNever;
    int32_t m_count = -1;
    std::size_t m_builds = 0;

    // Grid geometry and cells (compressed rows: the nodes of cell c are
    // m_items[m_cellStart[c] .. m_cellStart[c + 1]), in network order).
    double m_cell = 1.0;
    double m_min[3] = {0, 0, 0};
    int32_t m_dims[3] = {0, 0, 0};
    std::vector<int32_t> m_cellStart;
    std::vector<int32_t> m_items;
    std::vector<Vector3d> m_positions;     // the positions the grid was built from
    std::vector<int32_t> m_cellOf, m_fill; // build scratch, kept to spare allocations
};

} // namespace vornax
