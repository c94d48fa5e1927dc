// TGA images.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vornax {
struct TgaImage {
    int width = 0, height = 0, bytesPerPixel = 0;
    std::vector<unsigned char> pixels;
};
/// Reads an uncompressed or RLE, 24- or 32-bit TGA. False with `problem` set for anything else.
bool readTga(const std::filesystem::path& file, TgaImage& image, std::string& problem);
/// Reads the file and makes it the bound 2-D texture (context current). 0 on failure, message on console.
unsigned loadTgaTexture(const std::filesystem::path& file);
} // namespace vornax
