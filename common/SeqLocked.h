// A small value shared between threads without a mutex: readers never see a torn value.
//
// Writers take turns on the sequence word (odd while a write is under way); readers copy the
// words and retry when a write overlapped. Every word is an atomic, so there is no data race.
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
            const std::uint32_t before = m_seq.load(std::memory_order_acquire);
            if (before & 1u) {
                std::this_thread::yield();
                continue;
            }
            for (std::size_t i = 0; i < kWords; ++i) buf[i] = m_words[i].load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (m_seq.load(std::memory_order_relaxed) == before) break;
        }
        T value;
        std::memcpy(&value, buf, sizeof(T));
        return value;
    }

    void store(const T& value)
    {
        std::uint64_t buf[kWords] = {};
        std::memcpy(buf, &value, sizeof(T));
        std::uint32_t seq = m_seq.load(std::memory_order_relaxed);
        for (;;) {
            if (!(seq & 1u)
                && m_seq.compare_exchange_weak(seq, seq + 1, std::memory_order_acquire, std::memory_order_relaxed))
                break;
            std::this_thread::yield();
            seq = m_seq.load(std::memory_order_relaxed);
        }
        std::atomic_thread_fence(std::memory_order_release);
        for (std::size_t i = 0; i < kWords; ++i) m_words[i].store(buf[i], std::memory_order_relaxed);
        m_seq.store(seq + 2, std::memory_order_release);
    }

private:
    mutable std::atomic<std::uint32_t> m_seq{0};
    std::array<std::atomic<std::uint64_t>, kWords> m_words{};
};

} // namespace vornax
