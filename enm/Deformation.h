// What the simulation step publishes for the other threads, and what the haptic side changes
// under its selection lock: the deformed node positions, counted as they are rewritten, and the
// list of atoms that keep a force. Neither is ever torn for a reader, and no reader waits for a
// writer.
#pragma once

#include "common/SeqLocked.h"
#include "common/Vector3d.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace vornax {

class Atom;

/// The deformed position of every node (model units), each a sequence-locked value, and the
/// count of position updates (odd while one is written): the contact grid rebuilds from it.
class PublishedPositions {
public:
    /// Room for `n` nodes (a new network); store their positions, then call newNodesStored.
    void reset(std::size_t n) { m_positions = std::make_unique<SeqLocked<Vector3d>[]>(n); }
    /// The count moves on by a whole update: the contact grid rebuilds.
    void newNodesStored() { m_version.fetch_add(2, std::memory_order_acq_rel); }
    bool exists() const { return m_positions != nullptr; }
    Vector3d load(std::size_t i) const { return m_positions[i].load(); }
    void store(std::size_t i, const Vector3d& p) { m_positions[i].store(p); }
    /// Brackets an update of every position: the count is odd in between.
    void beginUpdate() { m_version.fetch_add(1, std::memory_order_acq_rel); }
    void endUpdate() { m_version.fetch_add(1, std::memory_order_acq_rel); }
    const SeqLocked<Vector3d>* data() const { return m_positions.get(); }
    const std::atomic<uint64_t>& version() const { return m_version; }

private:
    std::unique_ptr<SeqLocked<Vector3d>[]> m_positions;
    std::atomic<uint64_t> m_version{0};
};

/// The atoms that keep a force: the writers' list and its published copy, a sequence-locked
/// array of atomic pointers. Arrays that grew out of use stay allocated until the list goes, so
/// a reader never follows a freed one. Writers take turns (the device's selection lock).
class PublishedContacts {
public:
    /// Room for `n` atoms in the published copy, so that pulls never grow it; the list empties.
    void reset(std::size_t n);
    /// Appends `atom` unless an atom of the same node is listed.
    void add(Atom* atom);
    /// Takes the atom of node `index` off the list, clearing its selection; false when none.
    bool remove(int32_t index);
    /// Clears the selection of every listed atom and empties the list.
    void deselectAll();
    /// Empties the list (its atoms are going).
    void clear();
    /// The list as last published: any thread, never torn.
    std::vector<Atom*> snapshot() const;

private:
    struct Slots {
        explicit Slots(std::size_t n) : capacity(n), atoms(std::make_unique<std::atomic<Atom*>[]>(n)) {}
        std::size_t capacity;
        std::unique_ptr<std::atomic<Atom*>[]> atoms;
    };
    /// Publishes the writers' list, with room for at least `capacity` atoms.
    void publish(std::size_t capacity = 0);

    std::vector<Atom*> m_list;
    std::vector<std::unique_ptr<Slots>> m_arrays;
    std::atomic<Slots*> m_slots{nullptr};
    std::atomic<std::size_t> m_count{0};
    std::atomic<uint32_t> m_sequence{0}; ///< odd while a writer publishes
};

} // namespace vornax
