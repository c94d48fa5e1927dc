#include "render/TgaImage.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <new>

namespace vornax {

namespace {

constexpr std::size_t kHeaderBytes = 18;

unsigned le16(const unsigned char* p) { return static_cast<unsigned>(p[0]) | (static_cast<unsigned>(p[1]) << 8); }

bool refuse(std::string& problem, std::string why)
{
    problem = std::move(why);
    return false;
}

} // namespace

bool readTgaBytes(const unsigned char* data, std::size_t size, TgaImage& image, std::string& problem)
{
    image = TgaImage{};
    if (!data || size < kHeaderBytes) return refuse(problem, "file too short for a TGA header");
    const unsigned idLength = data[0];
    const unsigned colourMapType = data[1];
    const unsigned imageType = data[2];
    const unsigned mapLength = le16(data + 5);
    const unsigned mapEntryBits = data[7];
    const unsigned width = le16(data + 12);
    const unsigned height = le16(data + 14);
    const unsigned depth = data[16];
    const unsigned descriptor = data[17];

    if (imageType == 1 || imageType == 9) return refuse(problem, "colour-mapped TGA images are not supported");
    if (imageType == 3 || imageType == 11) return refuse(problem, "greyscale TGA images are not supported");
    if (imageType != 2 && imageType != 10)
        return refuse(problem, "unknown TGA image type " + std::to_string(imageType));
    if (colourMapType > 1) return refuse(problem, "unknown TGA colour map type " + std::to_string(colourMapType));
    if (depth != 24 && depth != 32)
        return refuse(problem, "unsupported TGA pixel depth " + std::to_string(depth) + " (24 or 32 bits only)");
    if (width == 0 || height == 0) return refuse(problem, "TGA image has no pixels (zero width or height)");
    if (width > static_cast<unsigned>(kMaxTgaSide) || height > static_cast<unsigned>(kMaxTgaSide))
        return refuse(problem, "TGA image too large: " + std::to_string(width) + " x " + std::to_string(height));
    const std::size_t pixelCount = std::size_t{width} * height;
    if (pixelCount > kMaxTgaPixels) return refuse(problem, "TGA image has too many pixels");

    // A true-colour image may carry a colour map it does not use: skip it.
    std::size_t offset = kHeaderBytes + idLength;
    if (colourMapType == 1) offset += (std::size_t{mapLength} * mapEntryBits + 7) / 8;
    if (offset > size) return refuse(problem, "TGA file truncated before the pixel data");

    const std::size_t bpp = depth / 8;
    const std::size_t total = pixelCount * bpp;
    const unsigned char* in = data + offset;
    const std::size_t available = size - offset;
    if (imageType == 2) {
        if (available < total) return refuse(problem, "TGA file truncated: pixel data missing");
    } else if (pixelCount > available / (1 + bpp) * 128 + 128) {
        // No packet holds more than 128 pixels in fewer than 1 + bpp bytes.
        return refuse(problem, "TGA file truncated: run-length data too short for the image");
    }

    std::vector<unsigned char> raw;
    try {
        raw.resize(total);
    } catch (const std::bad_alloc&) {
        return refuse(problem, "not enough memory for the TGA image");
    }
    if (imageType == 2) {
        std::copy(in, in + total, raw.begin());
    } else {
        std::size_t at = 0, out = 0;
        while (out < total) {
            if (at >= available) return refuse(problem, "TGA file truncated inside the run-length data");
            const unsigned header = in[at++];
            const std::size_t count = (header & 0x7Fu) + 1;
            if (out + count * bpp > total) return refuse(problem, "TGA run-length packet runs past the image end");
            if (header & 0x80u) {
                if (available - at < bpp) return refuse(problem, "TGA file truncated inside the run-length data");
                for (std::size_t i = 0; i < count; ++i, out += bpp) std::copy(in + at, in + at + bpp, &raw[out]);
                at += bpp;
            } else {
                if (available - at < count * bpp)
                    return refuse(problem, "TGA file truncated inside the run-length data");
                std::copy(in + at, in + at + count * bpp, &raw[out]);
                at += count * bpp;
                out += count * bpp;
            }
        }
    }

    // Stored BGR(A); rows bottom-up unless the descriptor says top-down, left to right unless
    // it says right to left.
    const bool topDown = (descriptor & 0x20u) != 0;
    const bool rightToLeft = (descriptor & 0x10u) != 0;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.bytesPerPixel = static_cast<int>(bpp);
    image.pixels.resize(total);
    for (std::size_t row = 0; row < height; ++row) {
        const std::size_t sourceRow = topDown ? height - 1 - row : row;
        for (std::size_t col = 0; col < width; ++col) {
            const std::size_t sourceCol = rightToLeft ? width - 1 - col : col;
            const unsigned char* s = &raw[(sourceRow * width + sourceCol) * bpp];
            unsigned char* d = &image.pixels[(row * width + col) * bpp];
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            if (bpp == 4) d[3] = s[3];
        }
    }
    problem.clear();
    return true;
}

bool readTga(const std::filesystem::path& file, TgaImage& image, std::string& problem)
{
    image = TgaImage{};
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return refuse(problem, "no such TGA file: " + file.string());
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) return refuse(problem, "cannot read " + file.string());
    // The largest image we read, with a generous allowance for the header, id and colour map.
    if (size > kMaxTgaPixels * 4 + (std::uintmax_t{1} << 20)) return refuse(problem, "TGA file too large");
    std::ifstream in(file, std::ios::binary);
    if (!in) return refuse(problem, "cannot open " + file.string());
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (!readTgaBytes(bytes.data(), bytes.size(), image, problem)) {
        problem = file.filename().string() + ": " + problem;
        return false;
    }
    return true;
}

} // namespace vornax
