// A small value shared between threads without a mutex: readers never see a torn value and
// never wait for a writer.
//
// The value is kept twice. A writer first sends readers to the second copy (odd sequence)
// while it writes the first, then back to the first (even sequence) while it writes the
// second, so one copy is always whole: a reader takes the copy the sequence names and retries
// only when a write moved on while it was reading, never because a writer stalls half-way.
// Writers take turns. Every word is an atomic, so there is no data race.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <type_traits>

namespace vornax {

template <typename T>
class SeqLocked {
    static_assert(std::is_trivially_copyable_v<T>, "SeqLocked holds plain values");
    static constexpr std::size_t kWords = (sizeof(T) + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);
    using Copy = std::array<std::atomic<std::uint64_t>, kWords>;

public:
    SeqLocked() : SeqLocked(T{}) {}
    explicit SeqLocked(const T& value) { store(value); }
    SeqLocked(const SeqLocked& other) : SeqLocked(other.load()) {}
    SeqLocked& operator=(const SeqLocked& other)
    {
        store(other.load());
        return *this;
    }

    T load() const
    {
        std::uint64_t buf[kWords];
        for (;;) {
            const std::uint32_t seq = m_seq.load(std::memory_order_acquire);
            const Copy& copy = m_copies[seq & 1u];
            for (std::size_t i = 0; i < kWords; ++i) buf[i] = copy[i].load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (m_seq.load(std::memory_order_relaxed) == seq) break;
        }
        T value;
        std::memcpy(&value, buf, sizeof(T));
        return value;
    }

    void store(const T& value)
    {
        std::uint64_t buf[kWords] = {};
        std::memcpy(buf, &value, sizeof(T));
        while (m_writing.exchange(true, std::memory_order_acquire))
            while (m_writing.load(std::memory_order_relaxed)) std::this_thread::yield();
        const std::uint32_t seq = m_seq.load(std::memory_order_relaxed); // even between writes
        // Readers go to the second copy before any word of the first changes…
        m_seq.store(seq + 1, std::memory_order_release);
        std::atomic_thread_fence(std::memory_order_release);
        write(m_copies[0], buf);
        // …and back to the first, now whole, before the second changes.
        m_seq.store(seq + 2, std::memory_order_release);
        std::atomic_thread_fence(std::memory_order_release);
        write(m_copies[1], buf);
        m_writing.store(false, std::memory_order_release);
    }

private:
    static void write(Copy& copy, const std::uint64_t* buf)
    {
        for (std::size_t i = 0; i < kWords; ++i) copy[i].store(buf[i], std::memory_order_relaxed);
    }

    std::atomic<std::uint32_t> m_seq{0};
    std::atomic<bool> m_writing{false};
    std::array<Copy, 2> m_copies{};
};

} // namespace vornax
