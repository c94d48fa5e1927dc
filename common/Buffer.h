// Large numeric arrays whose allocation may fail without throwing.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace vornax {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

/// A heap array of doubles released with free(); null when the allocation failed.
using DoubleBuffer = std::unique_ptr<double[], FreeDeleter>;

/// `count` doubles, uninitialised; null when the memory cannot be had (or count overflows).
inline DoubleBuffer allocateDoubles(std::size_t count)
{
    if (count == 0 || count > static_cast<std::size_t>(-1) / sizeof(double)) return DoubleBuffer();
    return DoubleBuffer(static_cast<double*>(std::malloc(count * sizeof(double))));
}

/// `count` zeroed doubles (pages are zeroed lazily by the system); null on failure.
inline DoubleBuffer allocateZeroedDoubles(std::size_t count)
{
    if (count == 0) return DoubleBuffer();
    return DoubleBuffer(static_cast<double*>(std::calloc(count, sizeof(double))));
}

/// `count` doubles, uninitialised, for an array that is filled whole at once (a bulk read):
/// large ones are placed on huge pages where the system offers them, so that filling them
/// costs few page faults. Null on failure.
inline DoubleBuffer allocateBulkDoubles(std::size_t count)
{
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (count == 0 || count > static_cast<std::size_t>(-1) / sizeof(double) - kHugePage) return DoubleBuffer();
    const std::size_t bytes = count * sizeof(double);
    if (bytes < 4 * kHugePage) return allocateDoubles(count);
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) return DoubleBuffer();
#ifdef MADV_HUGEPAGE
    ::madvise(p, rounded, MADV_HUGEPAGE); // advice only: without huge pages it is a plain array
#endif
    return DoubleBuffer(static_cast<double*>(p));
}

} // namespace vornax
