// End-to-end runs of `vornax-enm replay` on real structures.
#include "support/TestData.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace vornax::testing;
using json = nlohmann::json;
namespace fs = std::filesystem;

namespace {

struct ReplayRun {
    int status = -1;
    std::string err;
    json report;
};

ReplayRun replay(const std::vector<std::string>& args)
{
    TempFile jsonFile("", ".json"), errFile("", ".err");
    std::string command = shellQuoted(VORNAX_ENM_BINARY) + " replay";
    for (const std::string& a : args) command += ' ' + shellQuoted(a);
    command += " --json " + shellQuoted(jsonFile.path().string()) + " </dev/null >/dev/null 2>"
        + shellQuoted(errFile.path().string());
    ReplayRun run;
    const int raw = std::system(command.c_str());
    run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.err = readWholeFile(errFile.path());
    if (run.status == 0) run.report = json::parse(readWholeFile(jsonFile.path()), nullptr, false);
    return run;
}

const char* const kPullScript = R"(# touch node 10 from +x, pull it, let go and ramp down
5 node 10 11 0 0 0
3 node 10 11 0 0 1
40 node 10 60 0 0 1
2 node 10 60 0 0 0
1 node 10 60 0 0 1
400 node 10 60 0 0 0
)";

double maxAbs(const json& values)
{
    double m = 0.0;
    for (const json& v : values) m = std::max(m, std::fabs(v.get<double>()));
    return m;
}

} // namespace

TEST(ReplayCli, PullAndRampIsDeterministicAndReturnsTheMolecule)
{
    const auto pdb = findPdb("1crn.pdb");
    if (pdb.empty()) GTEST_SKIP() << "1crn.pdb is not available";
    TempFile script(kPullScript, ".txt");
    const ReplayRun a = replay({pdb.string(), "--script", script.path().string()});
    ASSERT_EQ(a.status, 0) << a.err;
    const json& ticks = a.report["ticks"];
    ASSERT_EQ(ticks.size(), 451u);
    EXPECT_EQ(ticks[0]["atom"], 10);
    EXPECT_EQ(ticks[0]["pressed_state"], 3);
    EXPECT_EQ(ticks[5]["pressed_state"], 1);
    // Pulling along +x: the device force points back at the atom.
    EXPECT_LT(ticks[47]["force"][0].get<double>(), 0.0);
    EXPECT_TRUE(ticks[48]["force"].is_null()); // output frozen after the button went up
    EXPECT_EQ(ticks.back()["atom"], -1);
    EXPECT_EQ(a.report["displacement"].size(), 3u * a.report["nodes"].get<std::size_t>());
    EXPECT_EQ(maxAbs(a.report["displacement"]), 0.0);
    EXPECT_TRUE(a.report["kept_forces"].empty());

    const ReplayRun b = replay({pdb.string(), "--script", script.path().string()});
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(a.report, b.report);
}

TEST(ReplayCli, SavedForceIsKeptOnAMultiChainStructure)
{
    const auto pdb = findPdb("4hhb.pdb");
    if (pdb.empty()) GTEST_SKIP() << "4hhb.pdb is not available";
    TempFile script("5 node 300 11 0 0 0\n3 node 300 11 0 0 1\n40 node 300 60 0 0 1\n5 node 300 60 0 0 0\n", ".txt");
    const ReplayRun run =
        replay({pdb.string(), "--script", script.path().string(), "--save-forces", "--force-factor", "2"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.report["kept_forces"].size(), 1u);
    EXPECT_EQ(run.report["kept_forces"][0]["node"], 300);
    EXPECT_GT(run.report["kept_forces"][0]["force"][0].get<double>(), 0.0);
    EXPECT_GT(maxAbs(run.report["displacement"]), 1e-3);
    // Let go outside the sphere: released, and the simulation answered idle.
    EXPECT_EQ(run.report["ticks"][48]["atom"], 300);
    EXPECT_EQ(run.report["ticks"][48]["pressed_state"], 3);
    EXPECT_EQ(run.report["ticks"].back()["atom"], -1);
}

TEST(ReplayCli, BadScriptsAndArgumentsExitTwoWithOneLine)
{
    const auto pdb = findPdb("1crn.pdb");
    if (pdb.empty()) GTEST_SKIP() << "1crn.pdb is not available";
    TempFile badLine("3 0 0 0\n", ".txt"), badNode("1 node 46 0 0 0 0\n", ".txt"), good("1 0 0 0 0\n", ".txt");
    TempFile hdv("not an eigen file", ".hdv");
    const std::vector<std::vector<std::string>> cases{
        {pdb.string(), "--script", badLine.path().string()},
        {pdb.string(), "--script", badNode.path().string()},
        {pdb.string(), "--script", good.path().string(), "--force-factor", "nan"},
        {pdb.string(), "--script", good.path().string(), "--rc", "-1"},
        {pdb.string(), "--script", "/nonexistent/script.txt"},
        {pdb.string()},
        {hdv.path().string(), "--script", good.path().string()},
    };
    for (const auto& args : cases) {
        const ReplayRun run = replay(args);
        EXPECT_EQ(run.status, 2) << args.back() << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

// The same pull replayed on the eigen data files of the structure: the same kept force and
// deformation, up to the single-precision positions of the stored (centred) nodes.
TEST(ReplayCli, EigenDataFilesReplayLikeThePdbFile)
{
    const auto pdb = findPdb("4hhb.pdb");
    if (pdb.empty()) GTEST_SKIP() << "4hhb.pdb is not available";
    const fs::path dir = fs::temp_directory_path() / ("vornax-replay-hdv-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string modes = shellQuoted(VORNAX_ENM_BINARY) + " modes " + shellQuoted(pdb.string()) + " --out "
        + shellQuoted(dir.string()) + " --json " + shellQuoted((dir / "modes.json").string()) + " 2>/dev/null";
    ASSERT_EQ(std::system(modes.c_str()), 0);
    TempFile script("5 node 300 11 0 0 0\n3 node 300 11 0 0 1\n40 node 300 60 0 0 1\n5 node 300 60 0 0 0\n", ".txt");
    const ReplayRun fromPdb = replay({pdb.string(), "--script", script.path().string(), "--save-forces"});
    const ReplayRun fromFiles = replay({(dir / "4HHB.hdv").string(), "--ppy", (dir / "4HHB.ppy").string(), "--script",
                                        script.path().string(), "--save-forces"});
    fs::remove_all(dir);
    ASSERT_EQ(fromPdb.status, 0) << fromPdb.err;
    ASSERT_EQ(fromFiles.status, 0) << fromFiles.err;
    ASSERT_EQ(fromFiles.report["kept_forces"].size(), 1u);
    EXPECT_EQ(fromFiles.report["kept_forces"][0]["node"], 300);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(fromFiles.report["kept_forces"][0]["force"][c].get<double>(),
                    fromPdb.report["kept_forces"][0]["force"][c].get<double>(), 1e-5);
    const json& a = fromPdb.report["displacement"];
    const json& b = fromFiles.report["displacement"];
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i].get<double>(), b[i].get<double>(), 1e-5) << i;
    EXPECT_GT(maxAbs(b), 0.1);
}
