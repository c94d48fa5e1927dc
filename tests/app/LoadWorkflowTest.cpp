// The load workflow: the questions of "&Open" (no window needed), then every load choice end to
// end in a shown window on 1crn, with every dialog answered by a script.
#include "LoadWorkflow.h"
#include "CommandLine.h"
#include "Form1.h"
#include "FormLogic.h"
#include "DisplayRequired.h"
#include "GLTestContext.h"

#include "common/Console.h"
#include "common/UserPrompts.h"
#include "enm/ElasticNetworkModel.h"
#include "haptics/Workbench.h"
#include "render/COpenGL.h"
#include "support/TestData.h"

#include <QAction>
#include <QCheckBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

#include <fstream>
#include <set>
#include <iomanip>
#include <sstream>

using namespace vornax;
using vornax::testing::TempDir;

namespace {

std::string crambinPath() { return vornax::testing::findPdb("1crn.pdb").string(); }

void writeFile(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

/// Enabled by the load itself (its page may still be off until the stylus first enters).
bool switchedOn(const QWidget* w) { return !w->testAttribute(Qt::WA_ForceDisabled); }

} // namespace

// ---- The questions ---------------------------------------------------------------------------

TEST(LoadWorkflow, TheFirstQuestionsDecideWhetherAndWhatIsLoaded)
{
    struct Case {
        const char* what;
        int32_t button;
        std::optional<std::vector<std::string>> files; ///< the file dialog's answer
        std::vector<std::string> cutoff;
        bool loads;
        int32_t loadMode;
        float rc;
        const char* message; ///< the message box shown, if any
    };
    const std::string pdb = crambinPath();
    const std::vector<Case> cases = {
        {"close box before any choice", load::NoChoice, std::nullopt, {}, false, load::NoChoice, 0, nullptr},
        {"Cancel", load::Cancel, std::nullopt, {}, false, load::Cancel, 0, nullptr},
        {"PDB file dialog cancelled", load::PdbFile, std::nullopt, {"12"}, false, load::PdbFile, 0, nullptr},
        {"PDB file with 12.5 Å",
         load::PdbFile,
         std::vector<std::string>{pdb},
         {"12.5"},
         true,
         load::PdbFile,
         12.5f,
         nullptr},
        {"cutoff refused then closed",
         load::ElNemo,
         std::vector<std::string>{pdb},
         {"6.99", "abc"},
         true,
         load::ElNemo,
         11.0f,
         "Invalid or empty input for Rc, defaulting Rc to 11.0 \u00c5."},
        {"text eigen data, 7 Å",
         load::TextFile,
         std::vector<std::string>{pdb},
         {"7"},
         true,
         load::TextFile,
         7.0f,
         nullptr},
        {"eigen files without .hdv",
         load::EigenFiles,
         std::vector<std::string>{"/x/1crn.ppy"},
         {},
         false,
         load::Cancel,
         0,
         "File Input Error, the HDV file is missing."},
        {"eigen file dialog cancelled", load::EigenFiles, std::nullopt, {}, false, load::Cancel, 0, nullptr},
        {"eigen files",
         load::EigenFiles,
         std::vector<std::string>{"/x/1crn.hdv", "/x/1crn.ppy"},
         {},
         true,
         load::EigenFiles,
         11.0f,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        console::Capture capture;
        ScriptedPrompts prompts;
        ScopedUserPrompts installed(&prompts);
        ScriptedLoadDialogs dialogs;
        dialogs.queueChoice(c.button);
        dialogs.queueFiles(c.files);
        dialogs.queueCutoff(c.cutoff);
        LoadWorkflow flow(dialogs);
        const std::optional<LoadRequest> request = flow.begin();
        EXPECT_EQ(request.has_value(), c.loads);
        EXPECT_EQ(flow.loadMode(), c.loadMode);
        if (request) {
            EXPECT_EQ(request->loadMode, c.loadMode);
            EXPECT_FLOAT_EQ(request->rc, c.rc);
            EXPECT_EQ(request->source.fromEigenFiles(), c.loadMode == load::EigenFiles);
        }
        // The cutoff is asked only once there is a structure file.
        const bool pdbBased = c.loadMode == load::PdbFile || c.loadMode == load::ElNemo || c.loadMode == load::TextFile;
        EXPECT_EQ(dialogs.cutoffDialogs.size(), pdbBased && c.files ? 1u : 0u);
        const auto shown = prompts.messages();
        ASSERT_EQ(shown.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(shown[0].text, c.message);
            EXPECT_EQ(shown[0].caption, c.loadMode == load::Cancel ? "Elastic Network Setup Error" : "Rc Entry Error");
        }
        if (c.loadMode == load::PdbFile) {
            ASSERT_FALSE(dialogs.fileRequests.empty());
            EXPECT_EQ(dialogs.fileRequests[0].filter, LoadWorkflow::kStructureFilter);
            EXPECT_EQ(dialogs.fileRequests[0].filterIndex, 2);
            EXPECT_TRUE(capture.contains("internal eigen calculation"));
        }
    }
}

// A file that describes assemblies: computed modes ask which structure, before the cutoff.
TEST(LoadWorkflow, TheAssemblyQuestionComesWithFilesThatDescribeAssemblies)
{
    const std::string por = vornax::testing::findPdb("2por.pdb").string();
    struct Case {
        const char* what;
        std::string file;
        int32_t choice;
        std::optional<std::optional<std::size_t>> answer; ///< queued answer (none: unqueued)
        std::optional<AssemblyRequest> preset;
        bool asked;
        bool loads;
        std::string assembly; ///< the id of the request's assembly
    };
    const std::vector<Case> cases = {
        {"unanswered: the asymmetric unit", por, load::PdbFile, std::nullopt, std::nullopt, true, true, ""},
        {"assembly 1 picked", por, load::PdbFile, std::optional<std::size_t>(1), std::nullopt, true, true, "1"},
        {"cancelled", por, load::PdbFile, std::optional<std::size_t>(), std::nullopt, true, false, ""},
        {"the file's own content only", crambinPath(), load::PdbFile, std::nullopt, std::nullopt, false, true, ""},
        {"ElNemo modes are the file's own", por, load::ElNemo, std::nullopt, std::nullopt, false, true, ""},
        {"named on the command line", por, load::PdbFile, std::nullopt, AssemblyRequest{"1", {"2"}}, false, true, "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        console::Capture capture;
        ScriptedLoadDialogs dialogs;
        dialogs.queueChoice(c.choice);
        dialogs.queueFiles(std::vector<std::string>{c.file});
        if (c.answer) dialogs.queueAssembly(*c.answer);
        dialogs.queueCutoff({"11"});
        LoadWorkflow flow(dialogs);
        if (c.preset) flow.presetAssembly(*c.preset);
        const std::optional<LoadRequest> request = flow.begin();
        ASSERT_EQ(dialogs.assemblyQuestions.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(dialogs.assemblyQuestions[0].items,
                      (std::vector<std::string>{"the asymmetric unit", "assembly 1 (trimeric): 3 copies"}));
            EXPECT_EQ(dialogs.assemblyQuestions[0].heading,
                      "2por.pdb describes biological assemblies. Which structure should be loaded?");
        }
        ASSERT_EQ(request.has_value(), c.loads);
        EXPECT_EQ(dialogs.cutoffDialogs.size(), c.loads ? 1u : 0u); // a cancelled question ends the load
        if (!request) continue;
        EXPECT_EQ(request->source.assembly.id, c.assembly);
        if (c.preset) {
            EXPECT_EQ(request->source.assembly.copies, c.preset->copies);
        }
    }
}

TEST(LoadWorkflow, TheResultFolderFallsBackToTheDefaultAndTheSetUpDialogShowsTheEstimate)
{
    console::Capture capture;
    ScriptedLoadDialogs dialogs;
    dialogs.setRandomIterations(20000);
    dialogs.queueFolder(std::nullopt);
    dialogs.queueFolder(std::string("/chosen"));
    LoadWorkflow flow(dialogs);
    EXPECT_EQ(flow.askResultFolder(46, "/program"), "/program");
    EXPECT_EQ(flow.askResultFolder(46, "/program"), "/chosen");
    ASSERT_EQ(dialogs.shownLoadBoxes.size(), 2u);
    EXPECT_EQ(dialogs.shownLoadBoxes[0].button, "Start normal mode analysis...");
    EXPECT_EQ(dialogs.shownLoadBoxes[0].instruction,
              "Small molecule detected, normal mode analysis expected to take less than a minute");
    EXPECT_EQ(dialogs.folderDescriptions[0],
              "Select folder to save normal mode analysis results\n"
              "Failure to select will default to the application installation "
              "directory.");
    EXPECT_TRUE(capture.contains("PATH: /program"));
    flow.showDeviceInstructions(0);
    EXPECT_EQ(dialogs.shownLoadBoxes.back().button, "Continue...");
}

// ---- Every choice in a window ----------------------------------------------------------------

namespace {

/// A shown window without a device whose "&Open" is answered by `dialogs`.
struct OpenWindow {
    explicit OpenWindow(ScriptedLoadDialogs& dialogs)
    {
        WindowOptions options;
        options.openDevice = false;
        options.dialogs = &dialogs;
        window = std::make_unique<Form1>(options);
        window->resize(800, 600);
        window->show();
        ready = QTest::qWaitFor([&] { return window->view() != nullptr; }, 10000);
    }
    /// "&Open"; true when the load ended (successfully or not) within the time.
    bool open()
    {
        bool ended = false;
        QObject scope; // the connection ends with this call, before `ended` goes
        QObject::connect(window.get(), &Form1::loadEnded, &scope, [&](bool ok, const QString&) {
            ended = true;
            succeeded = ok;
        });
        window->controls().openToolStripMenuItem->trigger();
        return QTest::qWaitFor([&] { return ended || (!window->loading() && !window->loaded() && !started()); }, 60000)
            && ended;
    }
    bool started() const { return !window->controls().openToolStripMenuItem->isEnabled(); }

    std::unique_ptr<Form1> window;
    bool ready = false;
    bool succeeded = false;
};

/// 1crn's eigen data files, written by a command-line load into `folder`.
bool writeEigenFiles(const std::filesystem::path& folder)
{
    WindowOptions options;
    options.file = crambinPath();
    options.openDevice = false;
    options.saveDir = folder;
    Form1 window(options);
    window.show();
    return QTest::qWaitFor([&] { return window.loaded(); }, 60000);
}

/// A text eigen file of 1crn: every eigenvalue of the non-rigid modes and `vectors` vectors.
std::string textEigenFile(int vectors)
{
    auto solved = vornax::testing::buildNetwork(crambinPath());
    ScopedUserPrompts scoped(&solved->prompts);
    ElasticNetworkModel& eln = *solved->network;
    if (eln.constructHessianMatrix(nullptr) != EnmStatus::Ok || eln.calculateEigen(nullptr) != EnmStatus::Ok) return {};
    std::ostringstream text;
    text << std::setprecision(17);
    const auto& lambda = eln.modes().getEigenvalues();
    for (std::size_t i = 7; i < lambda.size(); ++i) text << (i > 7 ? " " : "") << lambda[i];
    text << '\n';
    const int dim = eln.get3N();
    for (int k = 0; k < vectors; ++k) {
        for (int c = 0; c < dim; ++c) text << eln.modes().getEigenvectorMatrixT()[k * dim + c] << ' ';
        text << '\n';
    }
    return text.str();
}

} // namespace

namespace {

/// Questions answered by a script, in a folder holding 1crn's eigen data files.
struct WithEigenFiles {
    console::Capture capture;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed{&prompts};
    TempDir folder;
    bool written = writeEigenFiles(folder.path());
    std::string hdv = (folder.path() / "1CRN.hdv").string(), ppy = (folder.path() / "1CRN.ppy").string();
};

} // namespace

TEST(LoadWorkflowWindow, EveryChoiceLoadsOneCrambinEndToEnd)
{
    REQUIRE_DISPLAY();
    WithEigenFiles files;
    ASSERT_TRUE(files.written);
    const std::string &hdv = files.hdv, &ppy = files.ppy;
    const TempDir& folder = files.folder;
    ScriptedPrompts& prompts = files.prompts;
    ASSERT_TRUE(std::filesystem::exists(hdv));
    ASSERT_TRUE(std::filesystem::exists(ppy));
    const std::filesystem::path text = folder.path() / "modes.txt";
    writeFile(text, textEigenFile(132));

    struct Case {
        const char* what;
        int32_t choice;
        std::function<void(ScriptedLoadDialogs&, const ElasticNetworkModel*)> answers;
        bool simulating; ///< modes ready, simulation thread running
        int32_t loadBoxes;
    };
    const std::filesystem::path results = folder.path() / "results";
    std::filesystem::create_directories(results);
    const std::vector<Case> cases = {
        {"computed, results in a chosen folder", load::PdbFile,
         [&](ScriptedLoadDialogs& d, const ElasticNetworkModel*) {
             d.queueFiles(std::vector<std::string>{crambinPath()});
             d.queueCutoff({"12"});
             d.queueFolder(results.string());
         },
         true, 2},
        {"own eigen data files", load::EigenFiles,
         [&](ScriptedLoadDialogs& d, const ElasticNetworkModel*) {
             d.queueFiles(std::vector<std::string>{hdv, ppy});
         },
         true, 1},
        {"text eigen data", load::TextFile,
         [&](ScriptedLoadDialogs& d, const ElasticNetworkModel*) {
             d.queueFiles(std::vector<std::string>{crambinPath()});
             d.queueCutoff({"11"});
             d.queueFiles(std::vector<std::string>{text.string()});
         },
         true, 1},
        {"text file dialog cancelled", load::TextFile,
         [&](ScriptedLoadDialogs& d, const ElasticNetworkModel*) {
             d.queueFiles(std::vector<std::string>{crambinPath()});
             d.queueCutoff({"11"});
             d.queueFiles(std::nullopt);
         },
         false, 0},
        {"ElNemo mode files cancelled", load::ElNemo,
         [&](ScriptedLoadDialogs& d, const ElasticNetworkModel*) {
             d.queueFiles(std::vector<std::string>{crambinPath()});
             d.queueCutoff({"11"});
             d.queueFiles(std::nullopt);
         },
         false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        console::Capture capture; // the eigen files' writing above let go of the outer one
        ScriptedLoadDialogs dialogs;
        dialogs.setRandomIterations(20000);
        dialogs.queueChoice(c.choice);
        c.answers(dialogs, nullptr);
        OpenWindow shown(dialogs);
        ASSERT_TRUE(shown.ready);
        ASSERT_TRUE(shown.open()) << shown.window->statusText().toStdString();
        EXPECT_TRUE(shown.succeeded);
        Form1& window = *shown.window;
        const Workbench& bench = window.workbench();
        const FormState& state = window.logic().state();
        EXPECT_EQ(state.loadMode, c.choice);
        EXPECT_FALSE(state.introState);
        // Another structure may be opened at once.
        EXPECT_TRUE(window.controls().openToolStripMenuItem->isEnabled());
        EXPECT_TRUE(window.controls().openSession->isEnabled());
        EXPECT_EQ(window.windowTitle(), "Vornax - PDB code: 1CRN");
        EXPECT_EQ(bench.network()->getAmountOfAtoms(), 46);
        EXPECT_EQ(bench.simulationRunning(), c.simulating);
        EXPECT_EQ(bench.loaded(), c.simulating);
        EXPECT_EQ(static_cast<int32_t>(dialogs.shownLoadBoxes.size()), c.loadBoxes);
        if (c.simulating) {
            EXPECT_GT(state.originalMaxModes, 0);
            EXPECT_TRUE(switchedOn(window.controls().modeArray[0]));
            EXPECT_EQ(dialogs.shownLoadBoxes.back().button, "Continue...");
        }
        if (c.choice == load::PdbFile) {
            EXPECT_FLOAT_EQ(state.Rc, 12.0f);
            EXPECT_TRUE(std::filesystem::exists(results / "1CRN.hdv"));
            EXPECT_EQ(dialogs.shownLoadBoxes[0].button, "Start normal mode analysis...");
        }
        // The console lines of each choice's set-up.
        const std::vector<std::string> lines = capture.texts();
        const auto said = [&](const std::string& start) {
            return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
        };
        if (c.choice == load::EigenFiles) {
            EXPECT_FLOAT_EQ(state.Rc, 11.0f);
            EXPECT_TRUE(said("gotS "));
            EXPECT_NE(std::find(lines.begin(), lines.end(), "showing"), lines.end());
        }
        if (c.choice == load::TextFile && c.simulating)
            EXPECT_TRUE(said("Amount of Vectors: 132 length of first vector: 138"));
        window.close();
    }
    EXPECT_EQ(prompts.messages().size(), 0u);
}

TEST(LoadWorkflowWindow, ElNemoModesEnableTheirBoxesOnly)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    auto built = vornax::testing::buildNetwork(crambinPath());
    TempDir folder;
    const std::filesystem::path seven = folder.path() / "mode7.pdb", eight = folder.path() / "mode8.pdb";
    writeFile(seven, vornax::testing::elnemoFile(*built->network, 7));
    writeFile(eight, vornax::testing::elnemoFile(*built->network, 8));

    ScriptedLoadDialogs dialogs;
    dialogs.queueChoice(load::ElNemo);
    dialogs.queueFiles(std::vector<std::string>{crambinPath()});
    dialogs.queueCutoff({"11"});
    dialogs.queueFiles(std::vector<std::string>{seven.string(), eight.string()});
    dialogs.queueEigenvalues(std::string("0 0 0 0 0 0 1.5 2.5"));
    OpenWindow shown(dialogs);
    ASSERT_TRUE(shown.ready);
    ASSERT_TRUE(shown.open());
    Form1& window = *shown.window;
    const FormControls& c = window.controls();
    EXPECT_TRUE(window.logic().state().loadedELNEMO);
    EXPECT_FALSE(window.logic().state().introState);
    EXPECT_TRUE(window.workbench().simulationRunning());
    EXPECT_TRUE(switchedOn(c.modeArray[0]));
    EXPECT_TRUE(switchedOn(c.modeArray[1]));
    EXPECT_FALSE(switchedOn(c.modeArray[2]));
    EXPECT_TRUE(switchedOn(c.resetSimulation));
    EXPECT_EQ(dialogs.fileRequests[1].title, "Select the PDB files for the desired modes");
    EXPECT_TRUE(dialogs.fileRequests[1].multiple);
    ASSERT_EQ(dialogs.shownLoadBoxes.size(), 1u);
    window.close();
}

TEST(LoadWorkflowWindow, TheCommandLineAnswersEveryChoice)
{
    REQUIRE_DISPLAY();
    WithEigenFiles files;
    ASSERT_TRUE(files.written);
    const std::filesystem::path& folder = files.folder.path();
    auto built = vornax::testing::buildNetwork(crambinPath());
    const std::string seven = (folder / "mode7.pdb").string(), values = (folder / "values.txt").string(),
                      text = (folder / "modes.txt").string();
    writeFile(seven, vornax::testing::elnemoFile(*built->network, 7));
    writeFile(values, "0 0 0 0 0 0\n3.25\n");
    writeFile(text, textEigenFile(20));

    struct Case {
        std::vector<std::string> args;
        int32_t choice;
        int32_t modes; ///< the modes the network holds (every eigenvalue of a text file counts)
    };
    const std::vector<Case> cases = {
        {{files.hdv, "--ppy", files.ppy}, load::EigenFiles, 132},
        {{files.hdv}, load::EigenFiles, 132},
        {{"--choice", "elnemo", crambinPath(), "--modes", seven, "--eigenvalues", values}, load::ElNemo, 1},
        {{"--choice", "text", crambinPath(), "--rc", "12", "--eigen-file", text}, load::TextFile, 132},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        std::vector<const char*> argv{"vornax", "--no-device"};
        for (const std::string& a : c.args) argv.push_back(a.c_str());
        const CommandLine line = parseCommandLine(static_cast<int>(argv.size()), argv.data());
        ASSERT_EQ(line.exitStatus, -1) << line.message;
        Form1 window(line.window);
        window.resize(800, 600);
        window.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.loaded(); }, 60000)) << window.statusText().toStdString();
        EXPECT_EQ(window.logic().state().loadMode, c.choice);
        const Workbench& bench = window.workbench();
        EXPECT_EQ(bench.network()->getAmountOfAtoms(), 46);
        EXPECT_TRUE(bench.simulationRunning());
        EXPECT_EQ(bench.network()->getTotalMaxModes(), c.modes);
        EXPECT_EQ(window.logic().state().loadedELNEMO, c.choice == load::ElNemo);
        if (c.choice == load::TextFile) EXPECT_FLOAT_EQ(window.logic().state().Rc, 12.0f);
        // The response matrix comes with the .ppy, or is computed from every mode without it.
        if (c.choice == load::EigenFiles) EXPECT_NE(bench.network()->modes().getYMatrix(), nullptr);
        window.close();
    }
    EXPECT_EQ(files.prompts.messages().size(), 0u) << files.prompts.messages()[0].text;
}

// The porin trimer of 2por's REMARK 350, named on the command line: three copies of the chain
// in the window, and eigen data files of their own.
TEST(LoadWorkflowWindow, TheCommandLineLoadsAnAssembly)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    TempDir folder;
    const std::string por = vornax::testing::findPdb("2por.pdb").string();
    const std::string dir = folder.path().string();
    std::vector<const char*> argv{"vornax", "--no-device", por.c_str(), "--assembly", "1", "--save-dir", dir.c_str()};
    const CommandLine line = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    ASSERT_EQ(line.exitStatus, -1) << line.message;
    Form1 window(line.window);
    window.resize(1000, 800);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.loaded(); }, 240000)) << window.statusText().toStdString();
    EXPECT_EQ(window.workbench().network()->getAmountOfAtoms(), 3 * 301);
    EXPECT_EQ(window.windowTitle(), "Vornax - PDB code: 2PORA1");
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "2PORA1.hdv"));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "2POR.hdv"));
    // Three chains, one per copy, each drawn.
    std::set<std::string> chains;
    for (const auto& node : window.workbench().network()->geometry().getBackboneList()) chains.insert(node.chainID);
    EXPECT_EQ(chains.size(), 3u);
    QTest::qWait(300);
    const std::filesystem::path picture = gltest::picturePath("2por-assembly1.png");
    std::filesystem::create_directories(picture.parent_path());
    EXPECT_TRUE(window.grab().toImage().save(QString::fromStdString(picture.string())));
    // The file's experiment is known; its temperature is not (NULL), as for the file's own content.
    ASSERT_EQ(prompts.messages().size(), 1u);
    EXPECT_NE(prompts.messages()[0].text.find("temperature unable to be determined"), std::string::npos);
    window.close();
}

TEST(LoadWorkflowWindow, ClosingWhileTheSetUpQuestionsWaitStopsTheLoad)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    // The window closes before its timer answers the worker's questions.
    ScriptedLoadDialogs dialogs;
    dialogs.queueChoice(load::PdbFile);
    dialogs.queueFiles(std::vector<std::string>{crambinPath()});
    dialogs.queueCutoff({"11"});
    {
        OpenWindow shown(dialogs);
        ASSERT_TRUE(shown.ready);
        shown.window->openFile();
        EXPECT_TRUE(shown.window->loading());
        shown.window->close();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.window->isVisible(); }, 30000));
        EXPECT_FALSE(shown.window->loaded());
        EXPECT_FALSE(shown.window->workbench().simulationRunning());
    }
}

TEST(LoadWorkflowWindow, TheWindowDrawsWhileTheModesAreComputedAndSimulatesOnlyAfter)
{
    REQUIRE_DISPLAY();
    const std::filesystem::path pdb = vornax::testing::findPdb("4hhb.pdb");
    if (pdb.empty()) GTEST_SKIP() << "4hhb.pdb is not available";
    console::Capture capture;
    ScriptedLoadDialogs dialogs;
    dialogs.setRandomIterations(20000);
    dialogs.queueChoice(load::PdbFile);
    dialogs.queueFiles(std::vector<std::string>{pdb.string()});
    dialogs.queueCutoff({"11"});
    dialogs.queueFolder(std::string()); // no result files
    OpenWindow shown(dialogs);
    ASSERT_TRUE(shown.ready);
    Form1& window = *shown.window;
    COpenGL& view = *window.view();
    window.openFile();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.shownLoadBoxes.empty(); }, 30000));
    const int64_t frames = view.getFramesDrawn();
    bool simulatedEarly = false, animatedBusy = false;
    const auto* bar = window.findChild<QProgressBar*>("ELNcalcProgBar");
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            simulatedEarly = simulatedEarly || (!window.loaded() && window.workbench().simulationRunning());
            animatedBusy = animatedBusy || bar->maximum() == 0;
            return window.loaded();
        },
        120000));
    EXPECT_FALSE(simulatedEarly);
    // A CPU driver would recompose the window for every step of the style's busy animation.
    if (view.drawsInSoftware()) EXPECT_FALSE(animatedBusy);
    EXPECT_GT(view.getFramesDrawn(), frames + 5) << "frames while the modes were computed";
    EXPECT_TRUE(window.workbench().simulationRunning());
    EXPECT_TRUE(capture.contains("amount of c alpha: 576"));
    EXPECT_EQ(window.workbench().network()->getAmountOfAtoms(), 576);
    window.close();
}
