// The program's command line: each load choice with the files it needs, and every misfit
// refused before a window opens.
#include "CommandLine.h"

#include "support/TestData.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

using namespace vornax;
using vornax::testing::TempDir;

namespace {

CommandLine parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "vornax");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

} // namespace

TEST(CommandLine, EachChoiceTakesItsFilesAndRefusesTheRest)
{
    TempDir dir;
    auto file = [&](const std::string& name, const std::string& text = "x") {
        const std::string path = (dir.path() / name).string();
        std::ofstream(path) << text;
        return path;
    };
    const std::string pdb = file("1abc.pdb"), hdv = file("1ABC.hdv"), ppy = file("1ABC.ppy"), mode7 = file("m7.pdb"),
                      values = file("values.txt", "0 0 0 0 0 0\n1.5 2.5\n"), eigen = file("eigen.txt");
    const std::string folder = dir.path().string();
    const std::string por = vornax::testing::findPdb("2por.pdb").string();
    const std::string session = (dir.path() / "s.vsf").string(), notSession = file("t.vsf", std::string(245, 'x'));
    std::string error;
    ASSERT_TRUE(writeSessionFile(session, SessionData(), error)) << error;
    const std::string fifo = (dir.path() / "pipe.pdb").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string bigValues = file("big.txt", std::string((1 << 20) + 1, '1'));
    const std::string nanScript = file("nan.stylus", "10 0 0 0 0\n10 nan 0 0 0\n");
    const std::string longScript = file("long.stylus", "9000000 0 0 0 0\n9000000 0 0 0 0\n");
    const std::string goodScript = file("good.stylus", "# pull\n10 node 3 0 0 0 1\n");

    struct Case {
        std::vector<std::string> args;
        int32_t choice;      ///< the load choice, when accepted
        const char* refusal; ///< part of the message, when refused
    };
    const std::vector<Case> cases = {
        {{pdb}, load::PdbFile, nullptr},
        {{pdb, "--rc", "7", "--save-dir", folder}, load::PdbFile, nullptr},
        {{hdv}, load::EigenFiles, nullptr},
        {{hdv, "--ppy", ppy}, load::EigenFiles, nullptr},
        {{"--choice", "eigen", hdv, "--ppy", ppy}, load::EigenFiles, nullptr},
        {{"--choice", "elnemo", pdb, "--modes", mode7, mode7, "--eigenvalues", values}, load::ElNemo, nullptr},
        {{"--choice", "text", pdb, "--eigen-file", eigen}, load::TextFile, nullptr},
        {{pdb, "--rc", "6.99"}, 0, "from 7 to 1000 Å, not 6.99"},
        {{pdb, "--rc", "nan"}, 0, "from 7 to 1000 Å"},
        {{pdb, "--rc", "1001"}, 0, "from 7 to 1000 Å, not 1001"},
        {{pdb, "--pull-first", "-1"}, 0, "0 or more, not -1"},
        // Inputs that would hold the program (a FIFO) or never end (a device).
        {{fifo}, 0, "not a regular file"},
        {{"--choice", "text", pdb, "--eigen-file", fifo}, 0, "--eigen-file: "},
        {{"--choice", "elnemo", pdb, "--modes", mode7, "--eigenvalues", "/dev/zero"}, 0, "--eigenvalues: "},
        {{"--choice", "elnemo", pdb, "--modes", fifo}, 0, "--modes: "},
        {{hdv, "--ppy", fifo}, 0, "--ppy: "},
        {{pdb, "--mouse-stylus", "--stylus-script", fifo}, 0, "--stylus-script: "},
        {{"--choice", "elnemo", pdb, "--modes", mode7, "--eigenvalues", bigValues}, 0, "larger than 1 MiB"},
        // Stylus scripts are read before the window opens.
        {{pdb, "--mouse-stylus", "--stylus-script", nanScript}, 0, "line 2"},
        {{pdb, "--mouse-stylus", "--stylus-script", longScript}, 0, "more than 10000000 ticks"},
        {{pdb, "--mouse-stylus", "--stylus-script", goodScript, "--quit"}, load::PdbFile, nullptr},
        // Outputs: their folders exist, and their names are kept as given.
        {{pdb, "--screenshot", folder + "/missing/shot.png"}, 0, "--screenshot: the folder"},
        {{pdb, "--save-as", folder + "/missing/x.pdb"}, 0, "--save-as: the folder"},
        {{pdb, "--screenshot", folder + "/shot\xff.png"}, 0, "shot\\xff.png is not plain UTF-8"},
        {{pdb, "--view-report", folder + "/missing/view.json"}, 0, "--view-report: the folder"},
        {{pdb, "--window-size", "1300x900", "--view-report", folder + "/view.json"}, load::PdbFile, nullptr},
        {{pdb, "--window-size", "1300"}, 0, "WIDTHxHEIGHT in pixels, each 200 to 10000, not 1300"},
        {{pdb, "--plot", "bfactors", folder + "/b.svg", "--animate-mode", "2"}, load::PdbFile, nullptr},
        {{pdb, "--plot", "histogram", folder + "/b.png"}, 0, "no plot \"histogram\""},
        {{pdb, "--plot", "bfactors", folder + "/b.pdf"}, 0, "b.pdf is not a .png, .svg or .csv file"},
        {{pdb, "--plot", "bfactors", folder + "/missing/b.csv"}, 0, "--plot: the folder"},
        {{pdb, "--animate-mode", "0"}, 0, "--animate-mode"},
        {{pdb, "--colour-by", "mode:3", "--screenshot", folder + "/m.png"}, load::PdbFile, nullptr},
        {{pdb, "--colour-by", "mode:0"}, 0, "--colour-by: no map \"mode:0\""},
        {{pdb, "--colour-by", "rainbow"}, 0, "--colour-by: no map \"rainbow\""},
        {{pdb, "--window-size", "199x900"}, 0, "not 199x900"},
        {{pdb, "--window-size", "1300x-9"}, 0, "not 1300x-9"},
        {{pdb, "--window-size", "99999999999x900"}, 0, "not 99999999999x900"},
        {{pdb, "--rc", "abc"}, 0, "--rc"},
        {{"--choice", "eigen", pdb}, 0, ".hdv"},
        {{"--choice", "pdb", hdv}, 0, "use --choice eigen"},
        {{pdb, "--ppy", ppy}, 0, "--ppy goes with a .hdv"},
        {{hdv, "--ppy", pdb}, 0, "--ppy wants a .ppy"},
        {{"--choice", "elnemo", pdb}, 0, "--modes"},
        {{pdb, "--modes", mode7}, 0, "go with --choice elnemo"},
        {{"--choice", "text", pdb}, 0, "--eigen-file"},
        {{"--choice", "fancy", pdb}, 0, "--choice"},
        {{hdv, "--save-dir", folder}, 0, "--save-dir"},
        {{pdb, "--save-dir", pdb}, 0, "is not a folder"},
        {{(dir.path() / "missing.pdb").string()}, 0, "missing.pdb"},
        {{pdb, "--no-device", "--mouse-stylus"}, 0, "excludes"},
        {{pdb, "--stylus-script", mode7}, 0, "--mouse-stylus"},
        {{pdb, pdb}, 0, "not expected"},
        {{pdb, "--bogus"}, 0, "--bogus"},
        {{hdv, "--open-session", session, "--save-session", session}, load::EigenFiles, nullptr},
        {{pdb, "--open-session", session}, 0, "give the .hdv file"},
        {{hdv, "--open-session", notSession}, 0, "t.vsf is not a session file"},
        {{por, "--assembly", "1"}, load::PdbFile, nullptr},
        {{por, "--assembly", "1", "--copies", "1,3"}, load::PdbFile, nullptr},
        {{por, "--assembly", "7"}, 0, "describes no assembly 7 (it describes 1)"},
        {{por, "--assembly", "1", "--copies", "2,4"}, 0, "has no operator 4"},
        {{por, "--assembly", "1", "--copies", "3-1"}, 0, "reversed"},
        {{por, "--copies", "1"}, 0, "--copies goes with --assembly"},
        {{hdv, "--assembly", "1"}, 0, "--assembly goes with a structure file"},
        {{"--choice", "elnemo", por, "--modes", mode7, "--assembly", "1"}, 0, "--assembly goes with"},
        {{pdb, "--assembly", "1"}, 0, "describes no assembly 1"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.args) shown += a + ' ';
        SCOPED_TRACE(shown);
        const CommandLine line = parse(c.args);
        if (c.refusal) {
            EXPECT_EQ(line.exitStatus, 2);
            EXPECT_NE(line.message.find(c.refusal), std::string::npos) << line.message;
            EXPECT_EQ(line.message.rfind("vornax: ", 0), 0u) << line.message;
            continue;
        }
        ASSERT_EQ(line.exitStatus, -1) << line.message;
        EXPECT_EQ(line.window.loadChoice, c.choice);
    }

    // The answers themselves.
    const CommandLine assembly = parse({por, "--assembly", "1", "--copies", "2-3"});
    EXPECT_EQ(assembly.window.assembly.id, "1");
    EXPECT_EQ(assembly.window.assembly.copies, (std::vector<std::string>{"2", "3"}));
    const CommandLine elnemo = parse({"--choice", "elnemo", pdb, "--rc", "12.5", "--modes", mode7, pdb, "--eigenvalues",
                                      values, "--mouse-stylus", "--save-forces", "--quit"});
    ASSERT_EQ(elnemo.exitStatus, -1) << elnemo.message;
    EXPECT_FLOAT_EQ(elnemo.window.rc, 12.5f);
    EXPECT_EQ(elnemo.window.modeFiles, (std::vector<std::filesystem::path>{mode7, pdb}));
    EXPECT_EQ(elnemo.window.eigenvalueText, std::optional<std::string>("0 0 0 0 0 0\n1.5 2.5\n"));
    EXPECT_TRUE(elnemo.mouseStylus);
    EXPECT_TRUE(elnemo.steps.saveForces && elnemo.steps.quit);
    EXPECT_TRUE(elnemo.window.openDevice);
    const CommandLine plain = parse({});
    EXPECT_TRUE(plain.window.file.empty());
    EXPECT_FLOAT_EQ(plain.window.rc, 11.0f);
    EXPECT_FALSE(plain.window.eigenvalueText.has_value());
    EXPECT_FALSE(parse({"--no-device"}).window.openDevice);
    const CommandLine resumed = parse({hdv, "--open-session", session, "--save-session", "out.vsf"});
    EXPECT_EQ(resumed.window.session, std::optional<SessionData>(SessionData()));
    EXPECT_EQ(resumed.steps.saveSession, "out.vsf");
    EXPECT_EQ(parse({pdb, "--mouse-stylus", "--stylus-script", goodScript}).steps.scriptSteps.size(), 1u);
    EXPECT_LT(parse({pdb, "--pull-first", "-1"}).message.size(), 120u);
    const CommandLine help = parse({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.message.find("--choice"), std::string::npos);
}
