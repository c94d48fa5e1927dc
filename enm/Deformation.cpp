#include "enm/Deformation.h"

#include "molecule/Atom.h"

#include <algorithm>
#include <thread>

namespace vornax {

void PublishedContacts::reset(std::size_t n)
{
    m_list.clear();
    m_list.reserve(n);
    publish(n);
}

void PublishedContacts::add(Atom* atom)
{
    if (!atom) return;
    const int32_t key = atom->getMyPositionInOriginalList();
    for (const Atom* a : m_list)
        if (a->getMyPositionInOriginalList() == key) return;
    m_list.push_back(atom);
    publish();
}

bool PublishedContacts::remove(int32_t index)
{
    for (auto it = m_list.begin(); it != m_list.end(); ++it) {
        if ((*it)->getMyPositionInOriginalList() != index) continue;
        (*it)->setSelected(false); // also clears both device-side forces
        m_list.erase(it);
        publish();
        return true;
    }
    return false;
}

void PublishedContacts::deselectAll()
{
    for (Atom* a : m_list) a->setSelected(false);
    clear();
}

void PublishedContacts::clear()
{
    m_list.clear();
    publish();
}

void PublishedContacts::publish(std::size_t capacity)
{
    Slots* slots = m_slots.load(std::memory_order_relaxed);
    const uint32_t seq = m_sequence.load(std::memory_order_relaxed);
    m_sequence.store(seq + 1, std::memory_order_relaxed); // odd: readers retry
    std::atomic_thread_fence(std::memory_order_release);
    capacity = std::max(capacity, m_list.size());
    if (!slots || slots->capacity < capacity) {
        // A new network's nodes, or a list longer than the network (atoms from elsewhere).
        m_arrays.push_back(std::make_unique<Slots>(std::max<std::size_t>(2 * capacity, 8)));
        slots = m_arrays.back().get();
        m_slots.store(slots, std::memory_order_release);
    }
    for (std::size_t i = 0; i < m_list.size(); ++i) slots->atoms[i].store(m_list[i], std::memory_order_relaxed);
    m_count.store(m_list.size(), std::memory_order_relaxed);
    m_sequence.store(seq + 2, std::memory_order_release);
}

std::vector<Atom*> PublishedContacts::snapshot() const
{
    std::vector<Atom*> list;
    for (;;) {
        const uint32_t seq = m_sequence.load(std::memory_order_acquire);
        if (seq & 1u) {
            std::this_thread::yield();
            continue;
        }
        const Slots* slots = m_slots.load(std::memory_order_acquire);
        const std::size_t n = slots ? std::min(m_count.load(std::memory_order_relaxed), slots->capacity) : 0;
        list.resize(n);
        for (std::size_t i = 0; i < n; ++i) list[i] = slots->atoms[i].load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (m_sequence.load(std::memory_order_relaxed) == seq) return list;
    }
}

} // namespace vornax
