// Truevision TGA images: the reader (uncompressed and run-length encoded true-colour, 24 or 32
// bits per pixel) and the texture upload of the view's crosshair.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace vornax {

/// Pixels are RGB or RGBA (bytesPerPixel 3 or 4), rows from the bottom of the picture up, as
/// glTexImage2D takes them.
struct TgaImage {
    int width = 0, height = 0, bytesPerPixel = 0;
    std::vector<unsigned char> pixels;
};

/// The largest width or height we read.
inline constexpr int kMaxTgaSide = 16384;
/// The most pixels we read (256 MiB of RGBA).
inline constexpr std::size_t kMaxTgaPixels = std::size_t{64} << 20;

/// Reads an uncompressed or RLE, 24- or 32-bit TGA. False with `problem` set for anything else.
bool readTga(const std::filesystem::path& file, TgaImage& image, std::string& problem);
/// The same from the bytes of a file.
bool readTgaBytes(const unsigned char* data, std::size_t size, TgaImage& image, std::string& problem);
/// Reads the file and makes it the bound 2-D texture (context current). 0 on failure, message on console.
unsigned loadTgaTexture(const std::filesystem::path& file);

} // namespace vornax
