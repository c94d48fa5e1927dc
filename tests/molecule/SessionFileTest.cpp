// Session files: the byte layout, the refusals of files that are not whole sessions, and the
// check against the network a session is opened on.
#include "molecule/SessionFile.h"

#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <random>

using namespace vornax;

namespace {

SessionData twoForces()
{
    SessionData d;
    d.saveForces = 1;
    d.sliderPosition = 15;
    d.workspace.transform[12] = 3.5f;
    d.workspace.lastRotation[7] = -0.25f;
    d.workspace.thisRotation[1] = 0.5f;
    d.workspace.translation = {1.0f, -2.0f, 30.0f};
    for (std::size_t i = 0; i < 20; i += 2) d.modeSwitches[i] = 1;
    SessionForce listed;
    listed.node = 3;
    listed.force = Vector3d(1.5f, -2.0f, 0.25f);
    listed.magnitude = 2.5f;
    listed.eqForce = 0.75f;
    listed.modeState = {0, 3, 0, 2, 4};
    SessionForce all = listed;
    all.node = 40;
    all.force = Vector3d(-0.125f, 0.0f, 8.0f);
    all.modeState = {2, 60};
    d.forces = {listed, all};
    return d;
}

int32_t int32At(const std::vector<unsigned char>& b, std::size_t offset)
{
    int32_t v = 0;
    std::memcpy(&v, b.data() + offset, 4); // the test hosts are little-endian
    return v;
}

float floatAt(const std::vector<unsigned char>& b, std::size_t offset)
{
    float v = 0;
    std::memcpy(&v, b.data() + offset, 4);
    return v;
}

void putInt32(std::vector<unsigned char>& b, std::size_t offset, int32_t v) { std::memcpy(b.data() + offset, &v, 4); }
void putFloat(std::vector<unsigned char>& b, std::size_t offset, float v) { std::memcpy(b.data() + offset, &v, 4); }

} // namespace

TEST(SessionFile, FieldsSitAtTheirOffsetsAndReadBackUnchanged)
{
    const SessionData d = twoForces();
    const std::vector<unsigned char> b = encodeSession(d);
    ASSERT_EQ(b.size(), 244u + 2u * 112u);
    EXPECT_EQ(int32At(b, 0), 1);
    EXPECT_EQ(int32At(b, 4), 1);
    EXPECT_EQ(int32At(b, 8), 15);
    EXPECT_EQ(floatAt(b, 12 + 12 * 4), 3.5f);
    EXPECT_EQ(floatAt(b, 76 + 7 * 4), -0.25f);
    EXPECT_EQ(floatAt(b, 112 + 4), 0.5f);
    EXPECT_EQ(floatAt(b, 148 + 8), 30.0f);
    EXPECT_EQ(int32At(b, 160), 1);
    EXPECT_EQ(int32At(b, 164), 0);
    EXPECT_EQ(int32At(b, 240), 2);
    // The records: node, force, M, eqForce, mode state.
    EXPECT_EQ(int32At(b, 244), 3);
    EXPECT_EQ(floatAt(b, 244 + 8), -2.0f);
    EXPECT_EQ(floatAt(b, 244 + 16), 2.5f);
    EXPECT_EQ(floatAt(b, 244 + 20), 0.75f);
    EXPECT_EQ(int32At(b, 244 + 24 + 4), 3);
    EXPECT_EQ(int32At(b, 244 + 112), 40);
    EXPECT_EQ(int32At(b, 244 + 112 + 24), 2);

    std::string error;
    const std::optional<SessionData> back = decodeSession(b.data(), b.size(), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, d);

    // No forces: the header alone, and through a file too.
    vornax::testing::TempDir folder;
    const auto path = folder.path() / "empty.vsf";
    ASSERT_TRUE(writeSessionFile(path, SessionData(), error)) << error;
    EXPECT_EQ(std::filesystem::file_size(path), 244u);
    const std::optional<SessionData> empty = readSessionFile(path, error);
    ASSERT_TRUE(empty) << error;
    EXPECT_EQ(*empty, SessionData());
}

TEST(SessionFile, FilesThatAreNotWholeSessionsAreRefused)
{
    const std::vector<unsigned char> good = encodeSession(twoForces());
    using Edit = std::function<void(std::vector<unsigned char>&)>;
    struct Case {
        const char* what;
        Edit edit;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"truncated by a byte", [](auto& b) { b.pop_back(); }, "size"},
        {"header only, cut short", [](auto& b) { b.resize(243); }, "size"},
        {"padded by a byte", [](auto& b) { b.push_back(0); }, "size"},
        {"padded by a whole record", [](auto& b) { b.resize(b.size() + 112, 0); }, "counts"},
        {"empty", [](auto& b) { b.clear(); }, "size"},
        {"version 2", [](auto& b) { putInt32(b, 0, 2); }, "version"},
        {"negative count", [](auto& b) { putInt32(b, 240, -1); }, "counts"},
        {"absurd count", [](auto& b) { putInt32(b, 240, 1 << 30); }, "counts"},
        {"save-forces option 2", [](auto& b) { putInt32(b, 4, 2); }, "save-forces"},
        {"slider beyond 200", [](auto& b) { putInt32(b, 8, 201); }, "slider"},
        {"mode switch 7", [](auto& b) { putInt32(b, 160 + 4 * 5, 7); }, "mode 6"},
        {"infinite translation", [](auto& b) { putFloat(b, 148, INFINITY); }, "finite"},
        {"negative node", [](auto& b) { putInt32(b, 244, -4); }, "node -4"},
        {"node given twice", [](auto& b) { putInt32(b, 244 + 112, 3); }, "second time"},
        {"force not a number", [](auto& b) { putFloat(b, 244 + 4, NAN); }, "not finite"},
        {"zero force", [](auto& b) { putFloat(b, 356 + 4, 0), putFloat(b, 356 + 12, 0); }, "no force"},
        {"route 3", [](auto& b) { putInt32(b, 244 + 24, 3); }, "mode state 3"},
        {"21 listed modes", [](auto& b) { putInt32(b, 244 + 28, 21); }, "mode count"},
        {"a negative listed mode", [](auto& b) { putInt32(b, 244 + 32, -1); }, "lists the mode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> b = good;
        c.edit(b);
        std::string error;
        EXPECT_FALSE(decodeSession(b.data(), b.size(), error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }

    // Random bytes of session sizes, and a foreign file.
    std::mt19937 random(7);
    int refused = 0;
    for (int k = 0; k < 200; ++k) {
        std::vector<unsigned char> b(244 + 112 * static_cast<std::size_t>(k % 3));
        for (auto& byte : b) byte = static_cast<unsigned char>(random());
        std::string error;
        refused += decodeSession(b.data(), b.size(), error) ? 0 : 1;
    }
    EXPECT_EQ(refused, 200);
    std::string error;
    EXPECT_FALSE(readSessionFile(vornax::testing::findPdb("1crn.pdb"), error));
    EXPECT_NE(error.find("1crn.pdb"), std::string::npos) << error;
    EXPECT_FALSE(readSessionFile("/no/such/session.vsf", error));
    EXPECT_FALSE(error.empty());
}

TEST(SessionFile, ASessionMustFitTheNetworkItIsOpenedOn)
{
    const SessionData d = twoForces(); // nodes 3 and 40; modes up to 60; a force through Y
    struct Case {
        int32_t nodes, modes;
        bool holdsY;
        const char* says; ///< nullptr: it fits
    };
    const std::vector<Case> cases = {
        {41, 60, true, nullptr},    {40, 60, true, "node 40"},
        {41, 59, true, "60 modes"}, {41, 60, false, "response matrix"},
        {41, 18, true, "mode 19"}, // the switch of mode 19 is on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nodes);
        SCOPED_TRACE(c.modes);
        std::string error;
        EXPECT_EQ(sessionFitsNetwork(d, c.nodes, c.modes, c.holdsY, error), c.says == nullptr) << error;
        if (c.says) {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
        }
    }
}

TEST(SessionFile, AFileThatCannotBeWrittenIsReportedAndLeavesNothing)
{
    vornax::testing::TempDir folder;
    std::string error;
    const auto missing = folder.path() / "no-such-folder" / "s.vsf";
    EXPECT_FALSE(writeSessionFile(missing, twoForces(), error));
    EXPECT_NE(error.find("s.vsf"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(missing));

    // A folder in the way: the old content stays, no temporary file is left beside it.
    const auto blocked = folder.path() / "blocked.vsf";
    std::filesystem::create_directory(blocked);
    EXPECT_FALSE(writeSessionFile(blocked, twoForces(), error));
    EXPECT_TRUE(std::filesystem::is_directory(blocked));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}
