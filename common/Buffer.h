// Large numeric arrays whose allocation may fail without throwing.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

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

} // namespace vornax
