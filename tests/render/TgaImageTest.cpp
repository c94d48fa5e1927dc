// The TGA reader on files it should read (both encodings, both depths, both row orders, the
// crosshair) and on hostile ones; the texture upload.
#include "render/TgaImage.h"
#include "GLTestContext.h"
#include "common/Console.h"
#include "render/GLHeaders.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace vornax;

namespace {

/// Colour of pixel (x, y), y counted from the bottom row; alpha varies too.
std::array<unsigned char, 4> testColour(int x, int y)
{
    // Runs of equal pixels along a row (for the repeat packets), changes between rows.
    return {static_cast<unsigned char>(40 * (x / 3)), static_cast<unsigned char>(30 * y),
            static_cast<unsigned char>(200 - 10 * x), static_cast<unsigned char>(x < 4 ? 255 : 128)};
}

struct Layout {
    int type;  // 2 or 10
    int depth; // 24 or 32
    bool topDown;
};

/// An 18-byte TGA header without colour map.
std::vector<unsigned char> header(int type, int width, int height, int depth, int descriptor, int idLength = 0)
{
    const int fields[18] = {idLength,     0,          type,          0,           0,     0,         0, 0, 0, 0, 0, 0,
                            width & 0xFF, width >> 8, height & 0xFF, height >> 8, depth, descriptor};
    return std::vector<unsigned char>(std::begin(fields), std::end(fields));
}

/// The test picture as a TGA file's bytes.
std::vector<unsigned char> encode(const Layout& l, int width, int height)
{
    std::vector<unsigned char> out =
        header(l.type, width, height, l.depth, (l.topDown ? 0x20 : 0) | (l.depth == 32 ? 8 : 0), 3);
    out.insert(out.end(), {'i', 'd', '!'});
    const int bpp = l.depth / 8;
    std::vector<std::vector<unsigned char>> pixels; // in file order
    for (int r = 0; r < height; ++r) {
        const int y = l.topDown ? height - 1 - r : r;
        for (int x = 0; x < width; ++x) {
            const auto c = testColour(x, y);
            std::vector<unsigned char> p{c[2], c[1], c[0]};
            if (bpp == 4) p.push_back(c[3]);
            pixels.push_back(p);
        }
    }
    if (l.type == 2) {
        for (const auto& p : pixels) out.insert(out.end(), p.begin(), p.end());
        return out;
    }
    // Run-length: repeat packets for runs, raw packets otherwise; packets may cross rows.
    std::size_t i = 0;
    while (i < pixels.size()) {
        std::size_t run = 1;
        while (i + run < pixels.size() && run < 128 && pixels[i + run] == pixels[i]) ++run;
        if (run > 1) {
            out.push_back(static_cast<unsigned char>(0x80 | (run - 1)));
            out.insert(out.end(), pixels[i].begin(), pixels[i].end());
            i += run;
            continue;
        }
        std::size_t raw = 1;
        while (i + raw < pixels.size() && raw < 128
               && !(i + raw + 1 < pixels.size() && pixels[i + raw] == pixels[i + raw + 1]))
            ++raw;
        out.push_back(static_cast<unsigned char>(raw - 1));
        for (std::size_t k = 0; k < raw; ++k) out.insert(out.end(), pixels[i + k].begin(), pixels[i + k].end());
        i += raw;
    }
    return out;
}

std::filesystem::path writeFile(const std::string& name, const std::vector<unsigned char>& bytes)
{
    const auto path = std::filesystem::temp_directory_path() / ("vornax-tga-" + std::to_string(::getpid()) + name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::filesystem::path crosshairFile() { return std::filesystem::path(VORNAX_REPO_DIR) / "Textures/Crosshairsnew2.tga"; }

} // namespace

TEST(TgaImageTest, ReadsBothEncodingsDepthsAndRowOrders)
{
    const int width = 37, height = 5; // odd width: rows are not word-aligned
    for (int type : {2, 10})
        for (int depth : {24, 32})
            for (bool topDown : {false, true}) {
                SCOPED_TRACE("type " + std::to_string(type) + " depth " + std::to_string(depth)
                             + (topDown ? " top-down" : " bottom-up"));
                const auto bytes = encode({type, depth, topDown}, width, height);
                const auto path = writeFile("-round.tga", bytes);
                TgaImage image;
                std::string problem;
                ASSERT_TRUE(readTga(path, image, problem)) << problem;
                std::filesystem::remove(path);
                ASSERT_EQ(image.width, width);
                ASSERT_EQ(image.height, height);
                ASSERT_EQ(image.bytesPerPixel, depth / 8);
                ASSERT_EQ(image.pixels.size(), static_cast<std::size_t>(width * height * depth / 8));
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) {
                        const auto c = testColour(x, y);
                        const unsigned char* p = &image.pixels[static_cast<std::size_t>((y * width + x) * depth / 8)];
                        ASSERT_EQ(p[0], c[0]) << x << "," << y;
                        ASSERT_EQ(p[1], c[1]) << x << "," << y;
                        ASSERT_EQ(p[2], c[2]) << x << "," << y;
                        if (depth == 32) {
                            ASSERT_EQ(p[3], c[3]) << x << "," << y;
                        }
                    }
            }
}

TEST(TgaImageTest, RefusesHostileFiles)
{
    const auto good = encode({2, 32, false}, 4, 4);
    const auto goodRle = encode({10, 24, false}, 40, 4);
    auto with = [](std::vector<unsigned char> bytes, std::size_t at, unsigned char value) {
        bytes[at] = value;
        return bytes;
    };
    auto cut = [](std::vector<unsigned char> bytes, std::size_t size) {
        bytes.resize(size);
        return bytes;
    };
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        const char* expected; // part of the problem text
    };
    std::vector<unsigned char> runPastEnd = header(10, 2, 2, 24, 0);
    runPastEnd.insert(runPastEnd.end(), {0x84, 1, 2, 3}); // five pixels into four
    std::vector<unsigned char> rawPastEnd = header(10, 2, 1, 24, 0);
    rawPastEnd.insert(rawPastEnd.end(), {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const Case cases[] = {
        {"empty", {}, "too short"},
        {"header cut", cut(good, 17), "too short"},
        {"pixels cut by one byte", cut(good, good.size() - 1), "truncated"},
        {"run-length data cut", cut(goodRle, goodRle.size() - 2), "truncated"},
        {"run-length data far too short", cut(goodRle, 22), "truncated"},
        {"id field past the end", with(cut(good, 18), 0, 200), "truncated"},
        {"zero width", with(good, 12, 0), "zero width or height"},
        {"zero height", with(good, 14, 0), "zero width or height"},
        {"huge", with(with(good, 13, 0xFF), 15, 0xFF), "too large"},
        {"product too large", with(with(good, 13, 0x3F), 15, 0x3F), "too many pixels"},
        {"colour-mapped", with(good, 2, 1), "colour-mapped"},
        {"colour-mapped RLE", with(good, 2, 9), "colour-mapped"},
        {"greyscale", with(good, 2, 3), "greyscale"},
        {"greyscale RLE", with(good, 2, 11), "greyscale"},
        {"unknown type", with(good, 2, 0), "unknown TGA image type"},
        {"colour map type 7", with(good, 1, 7), "colour map type"},
        {"16 bits", with(good, 16, 16), "pixel depth"},
        {"8 bits", with(good, 16, 8), "pixel depth"},
        {"repeat packet past the image", runPastEnd, "past the image end"},
        {"raw packet past the image", rawPastEnd, "past the image end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TgaImage image;
        image.width = 99;
        std::string problem;
        EXPECT_FALSE(readTgaBytes(c.bytes.data(), c.bytes.size(), image, problem));
        EXPECT_NE(problem.find(c.expected), std::string::npos) << problem;
        EXPECT_EQ(image.width, 0);
        EXPECT_TRUE(image.pixels.empty());
    }
    // A true-colour image may carry a colour map it does not use.
    std::vector<unsigned char> mapped = header(2, 1, 1, 24, 0);
    mapped[1] = 1;
    mapped[5] = 2;  // two entries
    mapped[7] = 24; // of three bytes
    mapped.insert(mapped.end(), {9, 9, 9, 9, 9, 9, 30, 20, 10});
    TgaImage image;
    std::string problem;
    ASSERT_TRUE(readTgaBytes(mapped.data(), mapped.size(), image, problem)) << problem;
    EXPECT_EQ(image.pixels, (std::vector<unsigned char>{10, 20, 30}));
    EXPECT_FALSE(readTga("/nonexistent/x.tga", image, problem));
    EXPECT_FALSE(readTga(std::filesystem::temp_directory_path(), image, problem));
}

TEST(TgaImageTest, CrosshairIsAnOpaqueMarkOnAClearSquare)
{
    TgaImage image;
    std::string problem;
    ASSERT_TRUE(readTga(crosshairFile(), image, problem)) << problem;
    ASSERT_EQ(image.bytesPerPixel, 4);
    ASSERT_EQ(image.width, image.height);
    int opaque = 0, clear = 0;
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        if (image.pixels[i + 3] == 255) {
            ++opaque;
            EXPECT_GT(image.pixels[i], 2 * image.pixels[i + 1]); // red marks
        } else {
            EXPECT_EQ(image.pixels[i + 3], 0);
            ++clear;
        }
    }
    EXPECT_GT(opaque, 100);
    EXPECT_GT(clear, opaque);
    // The middle is clear (the probe stays visible), the arms reach out from it.
    const int c = image.width / 2;
    EXPECT_EQ(image.pixels[static_cast<std::size_t>((c * image.width + c) * 4 + 3)], 0);
    EXPECT_EQ(image.pixels[static_cast<std::size_t>((c * image.width + c + 12) * 4 + 3)], 255);
}

TEST(TgaImageTest, TextureUploadAndRefusal)
{
    gltest::GLTestContext gl(8, 8);
    VORNAX_REQUIRE_CONTEXT(gl);
    console::Capture capture;
    const unsigned texture = loadTgaTexture(crosshairFile());
    ASSERT_NE(texture, 0u);
    GLint bound = 0, width = 0, format = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<unsigned>(bound), texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(format, GL_RGBA);
    EXPECT_TRUE(capture.lines().empty());

    EXPECT_EQ(loadTgaTexture("/nonexistent/Crosshairsnew2.tga"), 0u);
    EXPECT_TRUE(capture.contains("Texture not loaded: "));
    std::vector<unsigned char> sixteen = header(2, 1, 1, 16, 0);
    sixteen.insert(sixteen.end(), {0, 0});
    const auto bad = writeFile("-bad.tga", sixteen);
    EXPECT_EQ(loadTgaTexture(bad), 0u);
    std::filesystem::remove(bad);
    EXPECT_EQ(capture.count("Texture not loaded: "), 2);
    glDeleteTextures(1, reinterpret_cast<const GLuint*>(&texture));
}
