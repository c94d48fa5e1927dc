// Large numeric arrays whose allocation may fail without throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace vornax {

/// Releases an array with free(), or unmaps it when it is a private mapping of `mappedBytes`.
struct FreeDeleter {
    std::size_t mappedBytes = 0;
    void operator()(void* p) const
    {
#ifdef __linux__
        if (mappedBytes != 0) {
            ::munmap(p, mappedBytes);
            return;
        }
#endif
        std::free(p);
    }
};

/// A heap array of doubles, released by its deleter; null when the allocation failed.
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

/// `count` doubles, uninitialised, for an array that is filled whole at once (a bulk read).
/// Large ones are mapped with their pages faulted in by one call: on first touch, page by page,
/// fresh memory costs more than the copy that fills it. Null on failure.
inline DoubleBuffer allocateBulkDoubles(std::size_t count)
{
    if (count == 0 || count > static_cast<std::size_t>(-1) / sizeof(double)) return DoubleBuffer();
#if defined(__linux__) && defined(MAP_POPULATE) && !defined(__SANITIZE_ADDRESS__)
    const std::size_t bytes = count * sizeof(double);
    constexpr std::size_t kLarge = std::size_t{8} << 20;
    if (bytes >= kLarge) {
        void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (p != MAP_FAILED) return DoubleBuffer(static_cast<double*>(p), FreeDeleter{bytes});
    }
#endif
    return allocateDoubles(count);
}

/// `count` zeroed doubles for a matrix that dense linear algebra streams through. Large ones
/// are mapped on a 2 MB boundary and advised for transparent huge pages: the memory-bound
/// passes of the eigen solution lose a good part of their time to TLB misses on 4 KB pages.
/// Pages are zeroed lazily by the system, as with calloc. Null on failure.
/// (Under AddressSanitizer both large allocators fall back to the heap, which it guards.)
inline DoubleBuffer allocateMatrixDoubles(std::size_t count)
{
    if (count == 0 || count > static_cast<std::size_t>(-1) / sizeof(double)) return DoubleBuffer();
#if defined(__linux__) && defined(MADV_HUGEPAGE) && !defined(__SANITIZE_ADDRESS__)
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t bytes = count * sizeof(double);
    if (bytes >= 4 * kHugePage && bytes <= static_cast<std::size_t>(-1) - 2 * kHugePage) {
        const std::size_t length = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        void* p = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            char* base = static_cast<char*>(p);
            const auto address = reinterpret_cast<std::uintptr_t>(base);
            char* aligned = base + (((address + kHugePage - 1) & ~(kHugePage - 1)) - address);
            const auto head = static_cast<std::size_t>(aligned - base);
            if (head != 0) ::munmap(base, head);
            if (kHugePage - head != 0) ::munmap(aligned + length, kHugePage - head);
            ::madvise(aligned, length, MADV_HUGEPAGE); // advice only: ordinary pages if refused
            return DoubleBuffer(reinterpret_cast<double*>(aligned), FreeDeleter{length});
        }
    }
#endif
    return allocateZeroedDoubles(count);
}

} // namespace vornax
