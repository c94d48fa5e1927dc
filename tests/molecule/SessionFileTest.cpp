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
    d.workspace.lastRotation = {1, 0, 0, 0, 0.6f, 0.8f, 0, -0.8f, 0.6f}; // about x
    d.workspace.thisRotation = {0.6f, 0.8f, 0, -0.8f, 0.6f, 0, 0, 0, 1}; // about z
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
    d.structure = describeStructure({"ATOM      1  CA  THR A   1", "ATOM      2  CA  THR A   2"}, 2, 11.0f, 46, "1CRN");
    return d;
}

/// What a session is checked against: 1CRN's 46 nodes (the fingerprint of twoForces), 60 modes
/// with every-mode responses, 3.786 kcal/mol/Å per N and a device of 8 N.
SessionTarget crambin()
{
    SessionTarget t;
    t.structure = *twoForces().structure;
    t.keptModes = 60;
    t.allModesHeld = true;
    t.kcalPerNewton = 3.786;
    t.deviceForce = 8.0;
    return t;
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
    ASSERT_EQ(b.size(), 244u + 2u * 112u + 28u + 4u);
    EXPECT_EQ(int32At(b, 0), 1);
    EXPECT_EQ(int32At(b, 4), 1);
    EXPECT_EQ(int32At(b, 8), 15);
    EXPECT_EQ(floatAt(b, 12 + 12 * 4), 3.5f);
    EXPECT_EQ(floatAt(b, 76 + 7 * 4), -0.8f);
    EXPECT_EQ(floatAt(b, 112 + 4), 0.8f);
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
    // The structure trailer after the records, which readers of the layout never reach.
    const std::size_t t = 244 + 2 * 112;
    EXPECT_EQ(std::string(b.begin() + t, b.begin() + t + 8), "VXSTRUCT");
    EXPECT_EQ(int32At(b, t + 16), 46);
    EXPECT_EQ(floatAt(b, t + 20), 11.0f);
    EXPECT_EQ(int32At(b, t + 24), 4);
    EXPECT_EQ(std::string(b.begin() + t + 28, b.end()), "1CRN");

    std::string error;
    const std::optional<SessionData> back = decodeSession(b.data(), b.size(), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, d);

    // The old layout, without the trailer, and no forces: the header alone, through a file too.
    std::vector<unsigned char> old = b;
    old.resize(t);
    SessionData withoutTrailer = d;
    withoutTrailer.structure.reset();
    const std::optional<SessionData> oldBack = decodeSession(old.data(), old.size(), error);
    ASSERT_TRUE(oldBack) << error;
    EXPECT_EQ(*oldBack, withoutTrailer);
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
        {"truncated by a byte", [](auto& b) { b.pop_back(); }, "trailer is 31 bytes"},
        {"cut within the trailer", [](auto& b) { b.resize(244 + 224 + 20); }, "not a structure trailer"},
        {"cut within a record", [](auto& b) { b.resize(244 + 200); }, "counts 2 forces in room for 1"},
        {"header only, cut short", [](auto& b) { b.resize(243); }, "size"},
        {"padded by a byte", [](auto& b) { b.push_back(0); }, "trailer is 33 bytes"},
        {"padded by a whole record", [](auto& b) { b.resize(b.size() + 112, 0); }, "trailer"},
        {"a byte after the records, no trailer", [](auto& b) { b.resize(244 + 224 + 1); }, "not a structure"},
        {"another magic word", [](auto& b) { b[244 + 224] = 'W'; }, "not a structure trailer"},
        {"a name of 65 bytes", [](auto& b) { putInt32(b, 244 + 224 + 24, 65); }, "name of 65"},
        {"a trailer of no nodes", [](auto& b) { putInt32(b, 244 + 224 + 16, 0); }, "describes 0 nodes"},
        {"a force beyond the trailer's nodes", [](auto& b) { putInt32(b, 244 + 112, 46); }, "node 46"},
        {"a name with a line end", [](auto& b) { b.back() = '\n'; }, "control character"},
        {"an all-zero workspace transform", [](auto& b) { std::fill(b.begin() + 12, b.begin() + 76, 0); },
         "transform is not a rotation"},
        {"a workspace transform of 3e38",
         [](auto& b) {
             for (std::size_t i = 0; i < 16; ++i) putFloat(b, 12 + 4 * i, 3e38f);
         },
         "transform is not a rotation"},
        {"a transform that scales by 2",
         [](auto& b) {
             for (std::size_t i : {0, 5, 10}) putFloat(b, 12 + 4 * i, 2.0f);
         },
         "transform is not a rotation"},
        {"a transform translated by 1e7", [](auto& b) { putFloat(b, 12 + 4 * 13, 1e7f); }, "beyond any navigation"},
        {"a last rotation of zeros", [](auto& b) { std::fill(b.begin() + 76, b.begin() + 112, 0); },
         "last workspace rotation"},
        {"a mirrored current rotation", [](auto& b) { putFloat(b, 112 + 32, -1.0f); }, "current workspace rotation"},
        {"a translation of 3e38", [](auto& b) { putFloat(b, 148 + 4, 3e38f); }, "beyond any navigation"},
        {"a mode listed twice", [](auto& b) { putInt32(b, 244 + 24 + 12, 0); }, "lists mode 1 twice"},
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
    // Nodes 3 and 40; modes up to 60; a force through every mode; forces of 2.5 and 8.0
    // kcal/mol/Å (0.66 and 2.1 N at the device) at three quarters of the device's maximum.
    using Edit = std::function<void(SessionData&, SessionTarget&)>;
    struct Case {
        const char* what;
        Edit edit;
        const char* says; ///< nullptr: it fits
    };
    const std::vector<Case> cases = {
        {"its own structure", [](SessionData&, SessionTarget&) {}, nullptr},
        {"1UBQ's files",
         [](SessionData&, SessionTarget& t) {
             t.structure = describeStructure({"ATOM      1  CA  MET A   1"}, 1, 11.0f, 76, "1UBQ");
         },
         "saved on 1CRN (46 nodes, Rc 11 Å), not on the chosen eigen data files' 1UBQ (76 nodes, Rc 11 Å)"},
        {"1CRN at Rc 8",
         [](SessionData&, SessionTarget& t) {
             t.structure = describeStructure({"ATOM      1  CA  THR A   1", "ATOM      2  CA  THR A   2"}, 2, 8.0f, 46,
                                             "1CRN");
         },
         "not on the chosen eigen data files' 1CRN (46 nodes, Rc 8 Å)"},
        {"another structure of 46 nodes under the same name",
         [](SessionData&, SessionTarget& t) {
             t.structure = describeStructure({"ATOM      1  CA  THR A   1", "ATOM      2  CA  THR A   3"}, 2, 11.0f, 46,
                                             "1CRN");
         },
         "(their record lines differ)"},
        {"the old layout on 1UBQ's 76 nodes: a warning only",
         [](SessionData& d, SessionTarget& t) {
             d.structure.reset();
             t.structure.nodes = 76;
         },
         nullptr},
        {"too few nodes", [](SessionData& d, SessionTarget& t) { d.structure.reset(), t.structure.nodes = 40; },
         "node 40"},
        {"too few modes", [](SessionData&, SessionTarget& t) { t.keptModes = 59; }, "60 modes"},
        {"mode 19 switched on", [](SessionData&, SessionTarget& t) { t.keptModes = 18; }, "mode 19"},
        {"the largest listed mode",
         [](SessionData& d, SessionTarget&) { d.forces[0].modeState[4] = INT32_MAX; }, "through mode 2147483648"},
        {"no every-mode responses", [](SessionData&, SessionTarget& t) { t.allModesHeld = false; },
         "response matrix"},
        {"1e6 kcal/mol/Å", [](SessionData& d, SessionTarget&) { d.forces[1].force = Vector3d(0, 0, 1e6f); },
         "1e+06 kcal/mol/Å, a device force of 264131 N: at its force scaling of 1.5 a device pulls with at most 12 N"},
        {"3e38 kcal/mol/Å", [](SessionData& d, SessionTarget&) { d.forces[0].force = Vector3d(3e38f, 3e38f, 0); },
         "force record 1 (node 3)"},
        {"13 N at a share of the device's maximum no scaling reaches",
         [](SessionData& d, SessionTarget&) {
             d.forces[1].force = Vector3d(0, 0, 50.0f);
             d.forces[1].eqForce = 0.05f;
         },
         "at most 12 N"},
        {"the slider moved down after the pull", [](SessionData& d, SessionTarget&) { d.sliderPosition = 1; },
         nullptr},
        {"the slider down and no share of the device's maximum",
         [](SessionData& d, SessionTarget&) { d.sliderPosition = 1, d.forces[1].eqForce = 0; }, "at most 0.8 N"},
        {"the slider down and a share above the device's maximum",
         [](SessionData& d, SessionTarget&) { d.sliderPosition = 1, d.forces[1].eqForce = 1.5f; }, "at most 0.8 N"},
        {"8 N at the slider's top", [](SessionData& d, SessionTarget&) {
             d.sliderPosition = 200, d.forces[1].eqForce = 0, d.forces[1].force = Vector3d(0, 0, 605.7f);
         }, nullptr},
        {"just beyond 8 N at the slider's top", [](SessionData& d, SessionTarget&) {
             d.sliderPosition = 200, d.forces[1].eqForce = 1, d.forces[1].force = Vector3d(0, 0, 606.0f);
         }, "at most 160 N"},
        {"files without force scaling", [](SessionData&, SessionTarget& t) { t.kcalPerNewton = 0; },
         "no force scaling"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SessionData d = twoForces();
        SessionTarget t = crambin();
        c.edit(d, t);
        std::string error, warning;
        EXPECT_EQ(sessionFitsNetwork(d, t, error, warning), c.says == nullptr) << error;
        if (c.says) {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
        }
        EXPECT_EQ(warning.empty(), d.structure.has_value()) << warning;
        if (!d.structure) {
            EXPECT_NE(warning.find("cannot be checked"), std::string::npos) << warning;
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
