// Little-endian binary fields on any host: int32, uint64, float32 and float64 with exactly 4, 8,
// 4 and 8 bytes. On a little-endian host a whole array is one read or write call; elsewhere the bytes
// are swapped through a small buffer.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <type_traits>

namespace vornax::le {

template <typename T>
concept Field = std::is_same_v<T, int32_t> || std::is_same_v<T, uint64_t> || std::is_same_v<T, float>
    || std::is_same_v<T, double>;

static_assert(sizeof(float) == 4 && sizeof(double) == 8, "float32 and float64 fields");

template <Field T>
T fromBytes(const unsigned char* b)
{
    using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
    U u = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) u |= static_cast<U>(b[i]) << (8 * i);
    return std::bit_cast<T>(u);
}

template <Field T>
void toBytes(T value, unsigned char* b)
{
    using U = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
    const U u = std::bit_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) b[i] = static_cast<unsigned char>(u >> (8 * i));
}

/// Writes `count` values; false when the stream failed.
template <Field T>
bool write(std::ostream& out, const T* values, std::size_t count)
{
    if constexpr (std::endian::native == std::endian::little) {
        out.write(reinterpret_cast<const char*>(values), static_cast<std::streamsize>(count * sizeof(T)));
    } else {
        unsigned char buffer[8192];
        constexpr std::size_t perChunk = sizeof buffer / sizeof(T);
        for (std::size_t done = 0; done < count && out;) {
            const std::size_t n = std::min(perChunk, count - done);
            for (std::size_t i = 0; i < n; ++i) toBytes(values[done + i], buffer + i * sizeof(T));
            out.write(reinterpret_cast<const char*>(buffer), static_cast<std::streamsize>(n * sizeof(T)));
            done += n;
        }
    }
    return static_cast<bool>(out);
}

template <Field T>
bool write(std::ostream& out, T value)
{
    return write(out, &value, 1);
}

/// Reads `count` values; false (values undefined) when the stream ended early or failed.
template <Field T>
bool read(std::istream& in, T* values, std::size_t count)
{
    if constexpr (std::endian::native == std::endian::little) {
        const auto bytes = static_cast<std::streamsize>(count * sizeof(T));
        in.read(reinterpret_cast<char*>(values), bytes);
        return in.gcount() == bytes;
    } else {
        unsigned char buffer[8192];
        constexpr std::size_t perChunk = sizeof buffer / sizeof(T);
        for (std::size_t done = 0; done < count;) {
            const std::size_t n = std::min(perChunk, count - done);
            const auto bytes = static_cast<std::streamsize>(n * sizeof(T));
            in.read(reinterpret_cast<char*>(buffer), bytes);
            if (in.gcount() != bytes) return false;
            for (std::size_t i = 0; i < n; ++i) values[done + i] = fromBytes<T>(buffer + i * sizeof(T));
            done += n;
        }
        return true;
    }
}

template <Field T>
bool read(std::istream& in, T& value)
{
    return read(in, &value, 1);
}

} // namespace vornax::le
