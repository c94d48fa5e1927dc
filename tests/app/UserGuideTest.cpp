// The start-up preference and the welcome panel, the tutorial pop-up, the help window and the
// Help menu: plain widgets (offscreen, or under xvfb-run, which also gives the pictures in
// build/shots their real fonts).
#include "Form1.h"
#include "FormControls.h"
#include "FormLogic.h"
#include "HelpIndex.h"
#include "HelpWindow.h"
#include "LoadDialogs.h"
#include "StartupConfig.h"
#include "TutorialWindow.h"
#include "UserGuide.h"
#include "WelcomePanel.h"

#include "render/RuntimeData.h"
#include "support/TestData.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

using namespace vornax;
using vornax::testing::readWholeFile;
using vornax::testing::TempDir;

namespace {

void writeText(const std::filesystem::path& file, const std::string& text)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

std::filesystem::path configFile(const std::filesystem::path& home)
{
    return home / StartupConfig::kFolderName / StartupConfig::kFileName;
}

QString helpFolder() { return QString::fromStdString((std::filesystem::path(VORNAX_REPO_DIR) / "Help").string()); }

/// Writes `picture` of `widget` to the build's shots folder.
void shoot(QWidget& widget, const char* picture)
{
    widget.show();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    std::filesystem::create_directories(VORNAX_SHOTS_DIR);
    const std::string path = std::string(VORNAX_SHOTS_DIR) + "/" + picture;
    EXPECT_TRUE(widget.grab().save(QString::fromStdString(path))) << path;
}

} // namespace

// ---- The start-up preference --------------------------------------------------------------

TEST(StartupConfig, OnlyAnExactOneShowsThePanel)
{
    struct Case {
        const char* name;
        std::optional<std::string> content; ///< nothing: no file yet
        bool shown;
    };
    const Case cases[] = {
        {"first run", std::nullopt, true}, {"one", "1\n", true},      {"Windows line end", "1\r\n", true},
        {"no line end", "1", true},        {"zero", "0\n", false},    {"trailing blank", "1 \n", false},
        {"empty", "", false},              {"ten", "10\n", false},    {"second line", "0\n1\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir home;
        if (c.content) writeText(configFile(home.path()), *c.content);
        ScriptedPrompts prompts;
        ScopedUserPrompts installed(&prompts);
        console::Capture console;
        StartupConfig config(home.path());
        EXPECT_EQ(config.readAtStartup(), c.shown);
        EXPECT_TRUE(prompts.messages().empty());
        EXPECT_FALSE(config.failureReported());
        EXPECT_TRUE(console.contains("Filename for saved config file: " + configFile(home.path()).string()));
        EXPECT_EQ(console.contains("That path exists already."), c.content.has_value());
        EXPECT_EQ(console.contains("That file exists already."), c.content.has_value());
        // A first run leaves "1"; a file that was there is only read.
        EXPECT_EQ(readWholeFile(configFile(home.path())), c.content.value_or("1\n"));
    }
}

TEST(StartupConfig, AFileThatCannotBeReadGivesTheWarningAndHidesThePanel)
{
    TempDir home;
    std::filesystem::create_directories(configFile(home.path())); // a folder in the file's place
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    StartupConfig config(home.path());
    EXPECT_FALSE(config.readAtStartup());
    ASSERT_EQ(prompts.messages().size(), 1u);
    EXPECT_EQ(prompts.messages()[0].caption, "Vornax initilization error");
    EXPECT_EQ(prompts.messages()[0].text, "Cannot find configuration file!");
    EXPECT_EQ(prompts.messages()[0].icon, MessageIcon::Warning);
}

TEST(StartupConfig, AnUnwritableHomeIsReportedOnceAndNothingStops)
{
    TempDir dir;
    const std::filesystem::path home = dir.path() / "not-a-folder";
    writeText(home, "a plain file where the home folder should be");
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    console::Capture console;
    StartupConfig config(home);
    EXPECT_FALSE(config.readAtStartup());
    EXPECT_FALSE(config.write(false));
    EXPECT_FALSE(config.write(true));
    EXPECT_TRUE(config.failureReported());
    EXPECT_EQ(console.count("creation process failed"), 1);
    EXPECT_EQ(console.count("The directory creation process failed: "), 1);
    EXPECT_TRUE(prompts.messages().empty());
}

// ---- The welcome panel ----------------------------------------------------------------------

TEST(WelcomePanel, EitherButtonHidesThePanelAndWritesThePreferenceFirst)
{
    struct Case {
        bool tutorial; ///< "View Tutorial ..." (else "Continue to Open a File")
        bool doNotShow;
    };
    for (const Case c : {Case{false, false}, Case{false, true}, Case{true, false}, Case{true, true}}) {
        SCOPED_TRACE(::testing::Message() << "tutorial " << c.tutorial << ", do not show " << c.doNotShow);
        TempDir home;
        QMainWindow window;
        FormControls controls = buildFormControls(window, nullptr);
        StartupConfig config(home.path());
        ASSERT_TRUE(config.readAtStartup());
        WelcomePanel panel(controls, &config);
        panel.show();
        EXPECT_TRUE(panel.isShown());
        EXPECT_GE(controls.tutorialWindow->height(), controls.tutorialWindow->heightForWidth(controls.tutorialWindow->width()));
        EXPECT_TRUE(controls.tutorialWindow->isEnabled());

        std::string seenByAction;
        int continued = 0, tutorials = 0;
        QObject::connect(&panel, &WelcomePanel::continueChosen, [&] {
            ++continued;
            seenByAction = readWholeFile(config.file());
        });
        QObject::connect(&panel, &WelcomePanel::tutorialChosen, [&] {
            ++tutorials;
            seenByAction = readWholeFile(config.file());
        });
        controls.doNotShowBox->setChecked(c.doNotShow);
        (c.tutorial ? controls.tutorialButton : controls.continueButton)->click();

        const std::string expected = c.doNotShow ? "0\n" : "1\n";
        EXPECT_EQ(seenByAction, expected);
        EXPECT_EQ(tutorials, c.tutorial ? 1 : 0);
        EXPECT_EQ(continued, c.tutorial ? 0 : 1);
        EXPECT_FALSE(panel.isShown());
        EXPECT_FALSE(controls.tutorialWindow->isEnabled());
        // The next start follows the box.
        StartupConfig next(home.path());
        EXPECT_EQ(next.readAtStartup(), !c.doNotShow);
    }
}

TEST(WelcomePanel, TextsAreTheProgramsOwn)
{
    QMainWindow window;
    FormControls c = buildFormControls(window, nullptr);
    EXPECT_EQ(c.tutorialWindow->objectName(), "tutorialWindow");
    EXPECT_EQ(c.tutorialButton->text(), "View Tutorial (Recomended for first time users)");
    EXPECT_EQ(c.continueButton->text(), "Continue to Open a File");
    EXPECT_EQ(c.doNotShowBox->text(), "Do not show this message at startup");
    EXPECT_TRUE(c.tutorialWindow->isHidden());
}

// ---- The window: preference, Help menu, F1 and the tutorial --------------------------------

namespace {

struct GuidedWindow {
    TempDir home;
    ScriptedLoadDialogs dialogs;
    std::unique_ptr<Form1> window;

    /// `file` empty: none named; `isDefault`: the structure opened when none is named.
    explicit GuidedWindow(const std::string& preference, std::filesystem::path file = {}, bool isDefault = false)
    {
        if (!preference.empty()) writeText(configFile(home.path()), preference);
        WindowOptions options;
        options.openDevice = false;
        options.profileFolder = home.path();
        options.dialogs = &dialogs;
        options.file = std::move(file);
        options.fileIsDefault = isDefault;
        window = std::make_unique<Form1>(options);
    }
    UserGuide& guide() { return window->guide(); }
    bool panelShown() { return guide().welcome().isShown(); }
};

} // namespace

TEST(UserGuide, ThePanelShowsAtStartupOnlyWhenAskedAndNoFileIsNamed)
{
    const std::filesystem::path crambin = vornax::testing::findPdb("1crn.pdb");
    struct Case {
        const char* name;
        std::string preference; ///< "" : first run
        std::filesystem::path file;
        bool isDefault;
        bool shown;
        bool loads;
    };
    const Case cases[] = {
        {"first run", "", {}, false, true, false},
        {"switched off", "0\n", {}, false, false, false},
        {"default structure held back", "1\n", crambin, true, true, false},
        // A person at the window opens a structure of their own: the window starts empty.
        {"default structure held back without the panel too", "0\n", crambin, true, false, false},
        {"a named file", "1\n", "/no/such/file.pdb", false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        console::Capture console;
        GuidedWindow w(c.preference, c.file, c.isDefault);
        EXPECT_EQ(w.panelShown(), c.shown);
        EXPECT_EQ(w.window->loading() || w.window->statusText().startsWith("Loading"), c.loads);
        EXPECT_TRUE(std::filesystem::exists(configFile(w.home.path())));
    }
}

TEST(UserGuide, HelpMenuF1AndTheWelcomePanelOpenWhatTheySay)
{
    GuidedWindow w("1\n");
    const FormControls& c = w.window->controls();
    HelpWindow& help = w.guide().help();
    const std::pair<QAction*, HelpWindow::Tab> menu[] = {
        {c.contents, HelpWindow::Contents}, {c.index, HelpWindow::Index}, {c.search, HelpWindow::Search}};
    for (const auto& [action, tab] : menu) {
        help.hide();
        action->trigger();
        EXPECT_TRUE(help.isVisible()) << action->text().toStdString();
        EXPECT_EQ(help.currentTab(), tab) << action->text().toStdString();
    }
    help.hide();
    w.window->logic().keyDown(Qt::Key_F1);
    EXPECT_TRUE(help.isVisible());
    EXPECT_EQ(help.currentTab(), HelpWindow::Index);
    EXPECT_EQ(help.currentPage(), "contents.html");

    // "Continue to Open a File" opens the load's first question; "View Tutorial..." brings the
    // panel back; its tutorial button starts the tutorial, which the load dialogs follow.
    w.dialogs.queueChoice(load::Cancel);
    c.continueButton->click();
    EXPECT_FALSE(w.panelShown());
    EXPECT_EQ(w.window->workflow().loadMode(), load::Cancel);
    c.viewTutorial->trigger();
    EXPECT_TRUE(w.panelShown());
    c.tutorialButton->click();
    EXPECT_TRUE(w.guide().tutorial().isVisible());
    EXPECT_EQ(w.guide().tutorial().steps().current(), TutorialSteps::Welcome);
    EXPECT_TRUE(w.dialogs.loadChoice().isTutorial());
    w.guide().tutorial().reject();
    EXPECT_FALSE(w.dialogs.loadChoice().isTutorial());
}

TEST(UserGuide, DuringTheTutorialTheEigenFilesAreOfferedFromTheTutorialFolderAndLoad)
{
    GuidedWindow w("1\n");
    w.window->controls().tutorialButton->click();
    const std::filesystem::path folder = std::filesystem::path(QCoreApplication::applicationDirPath().toStdString());
    w.dialogs.loadChoice().setApplicationFolder(folder.string());
    w.dialogs.queueChoice(load::EigenFiles);
    w.dialogs.queueFiles(std::nullopt); // cancelled: nothing is loaded
    w.window->openFile();
    ASSERT_FALSE(w.dialogs.fileRequests.empty());
    EXPECT_EQ(w.dialogs.fileRequests.back().folder, (folder / "TutorialFiles").string());
    EXPECT_EQ(w.dialogs.tutorialsShown, 1);
    w.guide().eigenFilesAsked(); // what the Qt dialogs call there
    EXPECT_EQ(w.guide().tutorial().steps().current(), TutorialSteps::FromEigenFiles);

    // The files the build made for the tutorial load as the tutorial says.
    const std::filesystem::path hdv = runtimeDataPath("TutorialFiles/1CRN.hdv");
    const std::filesystem::path ppy = runtimeDataPath("TutorialFiles/1CRN.ppy");
    ASSERT_TRUE(std::filesystem::exists(hdv)) << hdv;
    ASSERT_TRUE(std::filesystem::exists(ppy)) << ppy;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    LoadResult load = runLoadPipeline(StructureSource::eigenDataFiles({hdv.string(), ppy.string()}), LoadOptions{});
    ASSERT_TRUE(load.ok()) << load.message;
    EXPECT_EQ(load.network->getAmountOfAtoms(), 46);
    EXPECT_FLOAT_EQ(load.rc, 11.0f);
}

// ---- The tutorial ---------------------------------------------------------------------------

TEST(Tutorial, StepsAdvanceToFinishAndBackToTheFirst)
{
    TutorialWindow tutorial;
    int opens = 0, finished = 0;
    QObject::connect(&tutorial, &TutorialWindow::openRequested, [&] { ++opens; });
    QObject::connect(&tutorial, &QDialog::finished, [&] { ++finished; });
    tutorial.start();
    auto* next = tutorial.findChild<QPushButton*>("tutorialNext");
    auto* back = tutorial.findChild<QPushButton*>("tutorialBack");
    auto* open = tutorial.findChild<QPushButton*>("tutorialOpenFile");
    ASSERT_TRUE(next && back && open);
    EXPECT_FALSE(back->isEnabled());
    EXPECT_EQ(tutorial.findChild<QLabel*>("tutorialHeading")->text(), "Step 1 of 7: Welcome");
    for (int step = 1; step < TutorialSteps::Count; ++step) {
        next->click();
        EXPECT_EQ(tutorial.steps().current(), step);
        EXPECT_EQ(open->isVisibleTo(&tutorial), step == TutorialSteps::OpenFile) << step;
    }
    EXPECT_EQ(next->text(), "&Finish");
    for (int step = TutorialSteps::Count - 1; step > 0; --step) back->click();
    EXPECT_TRUE(tutorial.steps().isFirst());
    EXPECT_FALSE(back->isEnabled());
    EXPECT_EQ(finished, 0);

    // "Open a File Now" asks for the load and shows what its first dialog offers.
    tutorial.showStep(TutorialSteps::OpenFile);
    open->click();
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(tutorial.steps().current(), TutorialSteps::FromPdb);
    tutorial.showStep(TutorialSteps::Count - 1);
    next->click(); // "Finish"
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(tutorial.isVisible());

    // The choice-3 step names the files the build puts in TutorialFiles.
    const QString eigen = TutorialSteps::pages()[TutorialSteps::FromEigenFiles].html;
    EXPECT_TRUE(eigen.contains("1CRN.hdv") && eigen.contains("1CRN.ppy") && eigen.contains("TutorialFiles"));
}

// ---- The help pages -------------------------------------------------------------------------

TEST(HelpIndex, EveryPageLoadsAndEveryLinkLeadsToOne)
{
    HelpIndex help;
    ASSERT_TRUE(help.load(helpFolder())) << help.error().toStdString();
    EXPECT_TRUE(help.error().isEmpty()) << help.error().toStdString();
    ASSERT_GE(help.pages().size(), 8u);
    const QRegularExpression link(QStringLiteral("href=\"([^\"#:]+)"));
    for (const HelpPage& page : help.pages()) {
        SCOPED_TRACE(page.file.toStdString());
        EXPECT_FALSE(page.keywords.isEmpty());
        EXPECT_NE(page.title, page.file); // a <title> was found
        const QString html = QString::fromStdString(readWholeFile(helpFolder().toStdString() + "/" + page.file.toStdString()));
        for (auto it = link.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            EXPECT_GE(help.pageOf(target), 0) << target.toStdString();
        }
    }
    HelpIndex missing;
    EXPECT_FALSE(missing.load("/no/such/help"));
    EXPECT_TRUE(missing.error().contains("contents.html"));
}

TEST(HelpIndex, KeywordsAndSearchFindTheirPages)
{
    HelpIndex help;
    ASSERT_TRUE(help.load(helpFolder()));
    struct Case {
        const char* query;
        const char* firstPage; ///< "" : nothing found
    };
    const Case searches[] = {
        {"elastic bond cutoff", "loading.html"}, {"MOUSE stylus wheel", "pulling.html"},
        {"spring constant", "numbers.html"}, {"undo", "forces.html"},
        {"session", "saving.html"},         {"F7", "keys.html"},
        {"slider modes", "modes.html"},     {"pull", "pulling.html"},
        {"zebra", ""},                      {"  ", ""},
        {"cutoff zebra", ""},
    };
    for (const Case& s : searches) {
        SCOPED_TRACE(s.query);
        const std::vector<int> found = help.search(s.query);
        if (*s.firstPage == '\0') {
            EXPECT_TRUE(found.empty());
            continue;
        }
        ASSERT_FALSE(found.empty());
        EXPECT_EQ(help.pages()[static_cast<std::size_t>(found.front())].file, s.firstPage);
    }
    // The index: sorted whatever the case, one entry per keyword, found as it is typed.
    const auto& entries = help.indexEntries();
    for (std::size_t i = 1; i < entries.size(); ++i)
        EXPECT_LT(QString::localeAwareCompare(entries[i - 1].keyword.toLower(), entries[i].keyword.toLower()), 0)
            << entries[i].keyword.toStdString();
    const int save = help.findIndexEntry("save f");
    ASSERT_GE(save, 0);
    EXPECT_EQ(entries[static_cast<std::size_t>(save)].keyword, "Save Forces");
    EXPECT_EQ(help.findIndexEntry("zzz"), -1);
}

TEST(HelpWindow, IndexAndSearchShowTheirPages)
{
    HelpWindow help(helpFolder());
    help.showIndex();
    auto* indexEdit = help.findChild<QLineEdit*>("helpIndexEdit");
    QTest::keyClicks(indexEdit, "undo");
    QTest::keyClick(indexEdit, Qt::Key_Return);
    EXPECT_EQ(help.currentPage(), "forces.html");
    const std::vector<int> found = help.index().search("fluctuation percentage");
    ASSERT_GE(found.size(), 2u);
    EXPECT_EQ(help.search("fluctuation percentage"), static_cast<int>(found.size()));
    EXPECT_EQ(help.currentTab(), HelpWindow::Search);
    EXPECT_EQ(help.findChild<QListWidget*>("helpSearchResults")->count(), static_cast<int>(found.size()));
    EXPECT_EQ(help.currentPage(), help.index().pages()[static_cast<std::size_t>(found.front())].file);
    EXPECT_EQ(help.search("zebra"), 0);
    EXPECT_EQ(help.findChild<QListWidget*>("helpSearchResults")->item(0)->text(), "No topics found.");

    HelpWindow none("/no/such/help");
    EXPECT_TRUE(none.findChild<QTextBrowser*>("helpBrowser")->toPlainText().contains("Help"));
}

TEST(Pictures, HelpWindowAndTutorialFirstStep)
{
    HelpWindow help(helpFolder());
    help.showContents();
    help.showPage("pulling.html");
    EXPECT_EQ(help.findChild<QListWidget*>("helpContents")->currentRow(), help.index().pageOf("pulling.html"));
    shoot(help, "help.png");
    TutorialWindow tutorial;
    tutorial.start();
    shoot(tutorial, "tutorial.png");
}
