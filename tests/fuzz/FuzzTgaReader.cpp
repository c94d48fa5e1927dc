// The TGA reader: an image is refused with one line, or read whole with the size it claims.
#include "fuzz/FuzzSupport.h"
#include "render/TgaImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    vornax::TgaImage image;
    std::string problem;
    if (!vornax::readTgaBytes(data, size, image, problem)) {
        if (problem.empty() || problem.find('\n') != std::string::npos || !image.pixels.empty()) __builtin_trap();
        return 0;
    }
    if (image.width <= 0 || image.height <= 0 || image.width > vornax::kMaxTgaSide || image.height > vornax::kMaxTgaSide
        || (image.bytesPerPixel != 3 && image.bytesPerPixel != 4))
        __builtin_trap();
    const std::size_t expected = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)
        * static_cast<std::size_t>(image.bytesPerPixel);
    if (image.pixels.size() != expected) __builtin_trap();
    // The same bytes through the file reader give the same picture.
    static vornax::fuzz::ScratchFile file(".tga");
    vornax::TgaImage again;
    if (!vornax::readTga(file.write({reinterpret_cast<const char*>(data), size}), again, problem)
        || again.pixels != image.pixels)
        __builtin_trap();
    return 0;
}
