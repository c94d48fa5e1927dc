// The load dialogs: what each answer decides, through the dialogs themselves and through the
// scripted stand-in a load is driven by without windows. Runs on the offscreen platform.
#include "LoadDialogs.h"
#include "CutoffDialog.h"
#include "EigenvalueDialog.h"
#include "LoadChoiceDialog.h"
#include "PdbCodeDialog.h"
#include "VornaxLoadBox.h"

#include "common/Console.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

using namespace vornax;

namespace {

/// Runs `action` once the next modal dialog's event loop is running.
template <typename F>
void whenShown(F action)
{
    QTimer::singleShot(0, qApp, action);
}

using Files = std::optional<std::vector<std::string>>;

} // namespace

// ---- Cutoff ----------------------------------------------------------------------------------

TEST(CutoffDialog, SevenAngstromIsTheBoundaryAndOddTextNeverGetsThrough)
{
    using O = CutoffEntry::Outcome;
    const std::string huge(100000, '9');
    const struct {
        std::string typed;
        O outcome;
        float value;      ///< handed back afterwards
        const char* line; ///< console line, or nullptr for none
    } cases[] = {
        {"7.0", O::Accepted, 7.0f, nullptr},
        {" 12.5 ", O::Accepted, 12.5f, nullptr},
        {"6.99", O::TooSmall, 0.0f, nullptr},
        {"-8", O::TooSmall, 0.0f, nullptr},
        {"", O::NotANumber, 0.0f, "The String* is 0."},
        {"   ", O::NotANumber, 0.0f, "The String* is 0."},
        {"abc", O::NotANumber, 0.0f, "The String* is not formatted as a float."},
        {"7,5", O::NotANumber, 0.0f, "The String* is not formatted as a float."},
        {"nan", O::NotANumber, 0.0f, "The String* is not formatted as a float."},
        {"-inf", O::NotANumber, 0.0f, "The String* is not formatted as a float."},
        {"1e999", O::NotANumber, 0.0f, "The conversion from String*-to-float overflowed."},
        {"1e39", O::NotANumber, 0.0f, "The conversion from String*-to-float overflowed."},
        {huge, O::NotANumber, 0.0f, "The conversion from String*-to-float overflowed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.substr(0, 20));
        console::Capture console;
        CutoffEntry entry;
        EXPECT_EQ(entry.enter(c.typed), c.outcome);
        EXPECT_EQ(entry.getValue(), c.value);
        EXPECT_EQ(entry.isHintRed(), c.outcome == O::TooSmall);
        const std::vector<std::string> lines = c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{};
        EXPECT_EQ(console.texts(), lines);
    }

    // Through the dialog: a refused value turns the hint red and keeps it open, a bad text
    // keeps the state, 7 closes it with the hint back to normal.
    CutoffDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Elastic Bond Cutoff");
    EXPECT_EQ(dialog.hint()->text(), QString::fromUtf8("Distance entered must be larger than 7Å"));
    dialog.show();
    dialog.textBox()->setText("6.99");
    dialog.enterButton()->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.hint()->styleSheet().contains("red"));
    dialog.textBox()->setText("abc");
    dialog.enterButton()->click();
    EXPECT_TRUE(dialog.isVisible());
    dialog.textBox()->setText("7");
    dialog.enterButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.entry().getValue(), 7.0f);
    EXPECT_FALSE(dialog.hint()->styleSheet().contains("red"));

    // Closed with its close box after a refused number: nothing is handed back, so the load
    // falls back to its default cutoff instead of using 5 Å.
    CutoffDialog closed;
    whenShown([&] {
        closed.textBox()->setText("5");
        closed.enterButton()->click();
        closed.close();
    });
    EXPECT_EQ(closed.ask(), 0.0f);
}

// ---- Eigenvalue entry ------------------------------------------------------------------------

TEST(EigenvalueDialog, ValuesOnOneLineAndOnePerLineAreAllRead)
{
    const std::vector<double> expected{0, 0, 0, 0, 0, 0, 1.5, 2.5e-3};
    for (const char* pasted : {"0 0 0 0 0 0 1.5 2.5e-3", "0\n0\n0\n0\n0\n0\n1.5\n2.5e-3\n",
                               "0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n1.5\r\n2.5e-3\r\n", "\n 0 0  0\n\n0 0 0 \n1.5 2.5e-3 "}) {
        SCOPED_TRACE(pasted);
        EigenvalueDialog dialog;
        dialog.show();
        dialog.textBox()->setPlainText(pasted);
        dialog.loadButton()->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.getValues(), expected);
    }

    // A piece that is not a number is reported and skipped, the others are kept.
    console::Capture console;
    ScriptedLoadDialogs scripted;
    scripted.queueEigenvalues("1.0 x\n2.0 1e999");
    scripted.queueEigenvalues(std::nullopt);
    EXPECT_EQ(scripted.askEigenvalues(), (std::vector<double>{1.0, 2.0}));
    EXPECT_EQ(console.count("The String* is not formatted as a float."), 1);
    EXPECT_EQ(console.count("The conversion from String*-to-float overflowed."), 1);
    EXPECT_TRUE(scripted.askEigenvalues().empty()); // closed with its close box

    EigenvalueDialog closed;
    whenShown([&] {
        closed.textBox()->setPlainText("1 2 3");
        closed.close();
    });
    EXPECT_TRUE(closed.ask().empty());
}

// ---- Set-up dialog ---------------------------------------------------------------------------

TEST(VornaxLoadBox, TimeEstimateTexts)
{
    const std::string small = "Small molecule detected, normal mode analysis expected to take less than a minute";
    const std::string medium = "Medium size molecule detected, normal mode analysis expected to take approximately: ";
    const std::string large = "Large molecule detected, normal mode analysis expected to take approximately: ";
    const struct {
        double seconds;
        std::string text;
    } cases[] = {
        {0.0, small},
        {59.9, small},
        {60.0, medium + "1 mins"},
        {3599.9, medium + "59 mins"},
        {3600.0, large + "1 hours and 0 mins"},
        {7380.0, large + "2 hours and 3 mins"},
        {-5.0, small},
        {std::nan(""), small},
    };
    for (const auto& c : cases) EXPECT_EQ(timeEstimateText(c.seconds), c.text) << c.seconds;
    // Absurd estimates still give a text.
    EXPECT_EQ(timeEstimateText(std::numeric_limits<double>::infinity()).rfind(large, 0), 0u);

    // (3 × 1000)³ / (450000 × 1000) is 60 s exactly; a machine a little faster gives 59.9 s.
    EXPECT_EQ(estimatedSeconds(1000, 450000), 60.0);
    EXPECT_EQ(estimatedSeconds(1000, 450751), 59.9);
    EXPECT_EQ(estimatedSeconds(0, 450000), 0.0);

    VornaxLoadBox box;
    EXPECT_EQ(box.closeButton()->text(), "Setup Elastic Network");
    EXPECT_EQ(box.instructionLabel()->text(), "Setup the elastic network data using the button below to begin...");
    box.setTimeEstimate(1000, 450000);
    EXPECT_EQ(box.instructionLabel()->text().toStdString(), medium + "1 mins");
    EXPECT_EQ(box.closeButton()->text(), "Start normal mode analysis...");
    box.setTimeEstimate(1000, 450751);
    EXPECT_EQ(box.instructionLabel()->text().toStdString(), small);

    // Timed on this machine: at least 15500 calls, so 100 nodes take well under a minute.
    const int64_t iterations = calibrateRandomIterations();
    EXPECT_GE(iterations, 15500);
    EXPECT_EQ(iterations % 500, 0);
    box.setOkButtonToDiagNow(false, 100);
    EXPECT_EQ(box.instructionLabel()->text().toStdString(), small);
}

TEST(VornaxLoadBox, DeviceInstructions)
{
    const std::string move = "Move the haptic pointer into the cube to navigate around the molecule.";
    const std::string hold = "When in contact with a atom press and hold the front button on the device\n";
    const std::string rest =
        "\n\nOptions including saving the force applied to each seperate atom can be found on the Elastic Network "
        "Options tab.\nFurther information on force application and saved forces can be found on the Elastic "
        "Network Information tab\n\n\nPlease press the button to continue...";
    const std::string omniRelease =
        "to begin applying force. When the button is released and pressed again the molecule will return to its "
        "initial state.";
    const std::string release =
        "to begin applying force. When the button is released the molecule will return to its initial state.";
    const struct {
        int32_t device;
        std::string first;
        std::string second;
        DevicePicture picture;
    } cases[] = {
        {0, move + "\nThe back button on the haptic stylus will rotate the molecule.\n\n", hold + omniRelease + rest,
         DevicePicture::Omni},
        {1, move + "\n\n", hold + release + rest, DevicePicture::Desktop},
        {2, move + "\n\n", hold + release + rest, DevicePicture::Premium},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        VornaxLoadBox box;
        box.setTimeEstimate(10, 450000);
        box.changeLabel(c.device);
        EXPECT_EQ(box.instructionLabel()->text().toStdString(), c.first);
        EXPECT_EQ(box.secondInstructionLabel()->text().toStdString(), c.second);
        EXPECT_EQ(box.closeButton()->text(), "Continue...");
        EXPECT_EQ(box.text().picture, c.picture);
        EXPECT_FALSE(box.pictureLabel(c.picture)->isHidden());
        for (DevicePicture other : {DevicePicture::Omni, DevicePicture::Desktop, DevicePicture::Premium}) {
            if (other != c.picture) {
                EXPECT_TRUE(box.pictureLabel(other)->isHidden());
            }
        }
        EXPECT_EQ(box.size(), QSize(810, 800));
    }
    // Any other code leaves the dialog as it was.
    for (int32_t device : {3, -1, 99}) {
        LoadBoxText text;
        text.setTimeEstimate(1000, 450000);
        const LoadBoxText before = text;
        text.changeLabel(device);
        EXPECT_EQ(text.instruction, before.instruction);
        EXPECT_EQ(text.button, before.button);
        EXPECT_EQ(text.picture, DevicePicture::None);
        EXPECT_EQ(text.width, 0);
    }
}

// ---- Load choice -----------------------------------------------------------------------------

TEST(LoadChoiceDialog, ValuesCancelAndCloseBox)
{
    const std::vector<std::string> eigenFiles{"/data/1crn.hdv", "/data/1crn.ppy"};
    // Each row: the buttons pressed in turn (0: the close box), the file dialog's answers in
    // turn, and the choice after each press.
    const struct {
        std::vector<int32_t> presses;
        std::vector<Files> files;
        std::vector<int32_t> choices;
    } cases[] = {
        {{1, 2, 4, 5}, {}, {1, 2, 4, 5}},
        {{0}, {}, {0}},       // closed before any choice: nothing
        {{1, 0}, {}, {1, 1}}, // the close box keeps the choice
        {{3}, {eigenFiles}, {3}},
        {{3}, {std::nullopt}, {4}},                   // file dialog cancelled
        {{3, 0}, {eigenFiles, std::nullopt}, {3, 4}}, // the old files are not reloaded unasked
        {{3, 0}, {eigenFiles, eigenFiles}, {3, 3}},
        {{5, 7, -1}, {}, {5, 5, 5}}, // no such button
    };
    for (const auto& c : cases) {
        ScriptedLoadDialogs scripted;
        for (const auto& f : c.files) scripted.queueFiles(f);
        for (std::size_t i = 0; i < c.presses.size(); ++i) {
            scripted.queueChoice(c.presses[i]);
            EXPECT_EQ(scripted.chooseLoad(), c.choices[i]) << "press " << i << " of row " << (&c - cases);
        }
        EXPECT_EQ(scripted.fileRequests.size(), c.files.size());
        const bool kept = c.choices.back() == load::EigenFiles;
        EXPECT_EQ(scripted.getEigenFileNames(), kept ? eigenFiles : std::vector<std::string>{});
    }

    // The eigen file dialog: its filter, and the folder it starts in, in and out of the tutorial.
    console::Capture console;
    ScriptedLoadDialogs scripted;
    scripted.loadChoice().setApplicationFolder("/opt/vornax");
    scripted.queueFiles(eigenFiles);
    scripted.queueChoice(3);
    scripted.chooseLoad();
    scripted.setTutorial(true);
    scripted.queueChoice(3);
    scripted.chooseLoad();
    ASSERT_EQ(scripted.fileRequests.size(), 2u);
    EXPECT_EQ(scripted.fileRequests[0].filter, "Vornax files(*.hdv;*.ppy)|*.hdv;*.ppy");
    EXPECT_EQ(scripted.fileRequests[0].filterIndex, 3);
    EXPECT_TRUE(scripted.fileRequests[0].multiple);
    EXPECT_EQ(scripted.fileRequests[0].folder, "");
    EXPECT_EQ(console.count("restoring directory"), 1);
    EXPECT_EQ(scripted.fileRequests[1].folder, "/opt/vornax/TutorialFiles");
    EXPECT_EQ(scripted.tutorialsShown, 1);
    scripted.setTutorial(false);
    scripted.queueChoice(3);
    scripted.chooseLoad();
    EXPECT_EQ(scripted.fileRequests[2].folder, "/data");

    // The dialog itself: its buttons store their values, the close box keeps the last one.
    std::vector<Files> answers{eigenFiles, std::nullopt};
    LoadChoiceDialog dialog([&](const FileRequest&) {
        Files f = answers.front();
        answers.erase(answers.begin());
        return f;
    });
    EXPECT_EQ(dialog.windowTitle(), "Normal Mode Analysis Options");
    for (const auto& [value, text] : LoadChoice::buttons()) EXPECT_EQ(dialog.button(value)->text().toStdString(), text);
    whenShown([&] { dialog.close(); });
    EXPECT_EQ(dialog.choose(), load::NoChoice);
    whenShown([&] { dialog.button(load::ElNemo)->click(); });
    EXPECT_EQ(dialog.choose(), load::ElNemo);
    whenShown([&] { dialog.close(); });
    EXPECT_EQ(dialog.choose(), load::ElNemo);
    whenShown([&] { dialog.button(load::EigenFiles)->click(); });
    EXPECT_EQ(dialog.choose(), load::EigenFiles);
    EXPECT_EQ(dialog.logic().getFileNames(), eigenFiles);
    whenShown([&] { dialog.button(load::EigenFiles)->click(); });
    EXPECT_EQ(dialog.choose(), load::Cancel);
}

// ---- PDB code, file filters, a scripted load ---------------------------------------------------

TEST(LoadDialogs, PdbCodeFileFiltersAndAScriptedLoad)
{
    PdbCodeDialog code;
    EXPECT_EQ(code.windowTitle(), "File Data Warning");
    code.show();
    code.textBox()->setText("   ");
    code.enterButton()->click();
    EXPECT_TRUE(code.isVisible()); // nothing entered: the dialog stays
    code.textBox()->setText(" 1abc ");
    code.enterButton()->click();
    EXPECT_FALSE(code.isVisible());
    EXPECT_EQ(code.getText(), "1abc");

    using Pairs = std::vector<std::pair<std::string, std::vector<std::string>>>;
    EXPECT_EQ(splitFileFilter("txt files (*.txt)|*.txt|All files (*.*)|*.*"),
              (Pairs{{"txt files (*.txt)", {"*.txt"}}, {"All files (*.*)", {"*.*"}}}));
    EXPECT_EQ(splitFileFilter("Vornax files(*.hdv;*.ppy)|*.hdv;*.ppy"),
              (Pairs{{"Vornax files(*.hdv;*.ppy)", {"*.hdv", "*.ppy"}}}));
    EXPECT_TRUE(splitFileFilter("").empty());
    EXPECT_TRUE(splitFileFilter("odd|").empty());

    // The answers of a PDB load, in the order the load asks for them.
    ScriptedLoadDialogs scripted;
    scripted.setRandomIterations(450000);
    scripted.queueChoice(load::PdbFile);
    scripted.queueFiles(std::vector<std::string>{"/data/1crn.pdb"});
    scripted.queueCutoff({"abc", "6", "11"});
    scripted.queueFolder("/results");
    EXPECT_EQ(scripted.chooseLoad(), load::PdbFile);
    EXPECT_EQ(scripted.chooseFiles({"", "PDB files (*.pdb)|*.pdb", 2, "", false}), (Files{{"/data/1crn.pdb"}}));
    EXPECT_EQ(scripted.askCutoff(), 11.0f);
    scripted.setOkButtonToDiagNow(false, 1000);
    EXPECT_EQ(scripted.chooseFolder("Select folder"), "/results");
    scripted.showLoadBox();
    scripted.changeLabel(1);
    scripted.showLoadBox();
    ASSERT_EQ(scripted.shownLoadBoxes.size(), 2u);
    EXPECT_EQ(scripted.shownLoadBoxes[0].button, "Start normal mode analysis...");
    EXPECT_EQ(scripted.shownLoadBoxes[1].picture, DevicePicture::Desktop);
    // A second load: the cutoff dialog is new, and closing it without a value gives 0.
    EXPECT_EQ(scripted.askCutoff(), 0.0f);
    ASSERT_EQ(scripted.cutoffDialogs.size(), 2u);
    EXPECT_FALSE(scripted.cutoffDialogs[1].isHintRed());

    // The window's dialogs keep the load choice and the set-up dialog between loads.
    QtLoadDialogs window(nullptr, "/opt/vornax");
    window.setTutorial(true);
    EXPECT_TRUE(window.loadChoiceDialog().logic().isTutorial());
    window.changeLabel(2);
    EXPECT_EQ(window.loadBox().closeButton()->text(), "Continue...");
}

TEST(LoadDialogs, TheAssemblyQuestionListsEachAssemblyAndCanBeCancelled)
{
    AssemblyInfo trimer{"1", {"1", "2", "3"}, "TRIMERIC", false};
    const auto question = AssemblyQuestion::about("2por.pdb", {trimer, AssemblyInfo{"2", {"4"}, "", false}});
    ASSERT_TRUE(question);
    EXPECT_EQ(question->items,
              (std::vector<std::string>{"the asymmetric unit", "assembly 1 (trimeric): 3 copies", "assembly 2: 1 copy"}));
    EXPECT_FALSE(AssemblyQuestion::about("1crn.pdb", {AssemblyInfo{"1", {"1"}, "MONOMERIC", true}}));
    EXPECT_FALSE(AssemblyQuestion::about("x.pdb", {}));

    // The window's question: the item picked, or nothing when it is cancelled.
    QtLoadDialogs window(nullptr, "/opt/vornax");
    for (const int picked : {2, -1}) {
        whenShown([picked] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle(), "Biological Assembly");
            EXPECT_EQ(dialog->comboBoxItems().size(), 3);
            if (picked < 0) return dialog->reject();
            dialog->setTextValue(dialog->comboBoxItems()[picked]);
            dialog->accept();
        });
        const auto answer = window.chooseAssembly(*question);
        if (picked < 0) EXPECT_FALSE(answer);
        else EXPECT_EQ(answer, std::optional<std::size_t>(static_cast<std::size_t>(picked)));
    }
}

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
