// Large arrays: the matrix allocator's zeroing, alignment and release.
#include "common/Buffer.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace vornax;

TEST(BufferTest, MatrixArraysAreZeroedWritableAndReleased)
{
    // Below and above the size that gets a huge-page mapping, and one byte-count that is not a
    // multiple of the 2 MB page (its tail must still be usable).
    for (std::size_t count :
         {std::size_t{2}, std::size_t{1000}, (std::size_t{8} << 20) / 8 + 3, std::size_t{5} << 20}) {
        SCOPED_TRACE(count);
        DoubleBuffer b = allocateMatrixDoubles(count);
        ASSERT_TRUE(b);
        for (std::size_t i = 0; i < count; i += 4096) EXPECT_EQ(b[i], 0.0);
        EXPECT_EQ(b[count - 1], 0.0);
        b[0] = 1.0;
        b[count - 1] = 2.0;
        EXPECT_EQ(b[0] + b[count - 1], 3.0);
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
        if (count * sizeof(double) >= (std::size_t{8} << 20)) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.get()) % (std::size_t{2} << 20), 0u);
            EXPECT_NE(b.get_deleter().mappedBytes, 0u);
        }
#endif
    }
    EXPECT_FALSE(allocateMatrixDoubles(0));
    EXPECT_FALSE(allocateMatrixDoubles(static_cast<std::size_t>(-1) / 4));
}
