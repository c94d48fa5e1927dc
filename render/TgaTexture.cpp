// The GL side of the TGA reader: the picture as the bound 2-D texture.
#include "common/Console.h"
#include "render/GLHeaders.h"
#include "render/TgaImage.h"

namespace vornax {

unsigned loadTgaTexture(const std::filesystem::path& file)
{
    TgaImage image;
    std::string problem;
    if (!readTga(file, image, problem)) {
        console::write(console::Warning, "Texture not loaded: " + problem);
        return 0;
    }
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    if (maxSide > 0 && (image.width > maxSide || image.height > maxSide)) {
        console::write(console::Warning,
                       "Texture not loaded: " + file.filename().string() + " is larger than " + std::to_string(maxSide)
                           + " pixels, the driver's limit");
        return 0;
    }
    GLuint texture = 0;
    glGenTextures(1, &texture);
    if (texture == 0) {
        console::write(console::Warning, "Texture not loaded: no texture name for " + file.filename().string());
        return 0;
    }
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    const GLenum format = image.bytesPerPixel == 4 ? GL_RGBA : GL_RGB;
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), image.width, image.height, 0, format, GL_UNSIGNED_BYTE,
                 image.pixels.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    return texture;
}

} // namespace vornax
