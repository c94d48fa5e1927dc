// The main window's controls and control loop on the offscreen platform: no GL, the view
// replaced by a small solved network and a recorded device.
#include "Form1.h"
#include "FormControls.h"
#include "FormLogic.h"
#include "FormView.h"
#include "RecentFiles.h"

#include "enm/ElasticNetworkModel.h"
#include "haptics/Workbench.h"
#include "molecule/Atom.h"
#include "support/TestData.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

using namespace vornax;

namespace {

/// The device's side recorded instead of done; 3.3 N at most.
class RecordedDevice final : public Haptics {
public:
    RecordedDevice() : Haptics({}, 800.0f, 600.0f) { deviceParameters.maxForce = 3.3f; }

    int32_t buttons = 0;
    bool firstEntry = false;
    bool toggledTranslate = true;
    std::optional<bool> allModes;
    std::map<std::string, int> calls; ///< commands with no state to read: name -> last argument

    void pointAt(Atom* atom) { currentAtom.store(atom); }
    int32_t getButtons() override { return buttons; }
    bool getFirstEntry() override { return firstEntry; }
    void setHatpicState(bool on) override { calls["setHatpicState"] = on; }
    bool toggleTranslations() override { return toggledTranslate; }
    void setStickingToSurface(bool on) override { calls["setStickingToSurface"] = on; }
    bool popLastSelectionFromStack() override
    {
        calls["popLastSelectionFromStack"] = 1;
        return true;
    }
    void resetAllForces() override { calls["resetAllForces"] = 1; }
    void setUsingAllModes(bool on) override { allModes = on; }
};

/// The view's switches recorded.
class RecordedView final : public FormView {
public:
    std::map<std::string, int> calls; ///< name -> last argument
    int frames = 0;

    void requestFrame() override { ++frames; }
    void toggleWorkspace(bool show) override { calls["toggleWorkspace"] = show; }
    void toggleRotateMode() override { calls["toggleRotateMode"] = 1; }
    void showSelectedAtoms(bool on) override { calls["showSelectedAtoms"] = on; }
    void renderSprings(bool on) override { calls["renderSprings"] = on; }
    void resetALL() override { calls["resetALL"] = 1; }
};

/// The window's controls and logic on a plain main window, over a workbench with a recorded
/// device and, when given, the network of `structure` handed over and started.
struct Harness {
    std::unique_ptr<vornax::testing::LoadedStructure> structure; // its atoms outlive the workbench
    QMainWindow window;
    FormControls c;
    Workbench bench;
    RecordedDevice* device = nullptr;
    RecordedView view;
    std::unique_ptr<FormLogic> logic;

    explicit Harness(std::unique_ptr<vornax::testing::LoadedStructure> loaded = nullptr) : structure(std::move(loaded))
    {
        auto recorded = std::make_unique<RecordedDevice>();
        device = recorded.get();
        bench.adoptDevice(std::move(recorded));
        if (structure) {
            const Placement placement = Placement::ofNodes(*structure->network);
            bench.handOver(std::move(structure->network), structure->atoms, placement);
            bench.start();
        }
        c = buildFormControls(window, nullptr);
        logic = std::make_unique<FormLogic>(c, bench, view);
    }
    FormState& state() { return logic->state(); }
    ElasticNetworkModel& network() { return *bench.network(); }
};

/// 1crn solved, every mode kept.
std::unique_ptr<vornax::testing::LoadedStructure> crambin()
{
    return vornax::testing::solvedStructure(vornax::testing::findPdb("1crn.pdb"));
}

std::vector<int32_t> selection(const ElasticNetworkModel& eln)
{
    const std::array<int32_t, 20> modes = eln.getModeArray();
    return {modes.begin(), modes.begin() + eln.getAmountSelected()};
}

/// The char format of the read-out text `fragment` lies in.
QTextCharFormat formatOf(const QTextEdit* box, const QString& fragment)
{
    for (QTextBlock b = box->document()->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().text().contains(fragment)) return it.fragment().charFormat();
    ADD_FAILURE() << "no \"" << fragment.toStdString() << "\" in " << box->toPlainText().toStdString();
    return {};
}

/// Enabled by its own state, whatever its page's.
bool ownEnabled(const QWidget* w) { return !w->testAttribute(Qt::WA_ForceDisabled); }

bool isBold(const QTextEdit* box, const QString& fragment)
{
    return formatOf(box, fragment).fontWeight() >= QFont::Bold;
}

} // namespace

TEST(Form1, ControlsStartWithTheirNamesTextsAndStates)
{
    Harness h;
    struct Expect {
        const char* name;
        QString text;
        bool enabled;
        bool ticked;
    };
    const Expect widgets[] = {
        {"hapticsOnOff", "Force Feedback, CTRL", true, false},
        {"hapticsTranslate", "Auto Scroll Mode, F2", true, false},
        {"selectMode1", "1", false, false},
        {"selectMode20", "20", false, false},
        {"modes1_10", "Modes 01-10:", false, false},
        {"modes11_20", "Modes 11-20:", false, false},
        {"uncheckAllModes", "Select Maximum Modes", false, false},
        {"undoSelection", "Undo Last Force Application", false, false},
        {"resetSimulation", "Clear All Forces", false, false},
        {"saveForces", "Save Forces", false, false},
        {"resetELNTransform", "Reset All Transformations", true, false},
        {"showForces", "Show Forces", false, true},
        {"hideSpheres", "Show Spheres", false, true},
        {"showSelectedAtoms", "Show Selected Atoms", false, true},
        {"showELNBBCheckBox", "Show Springs", false, false},
        {"flucPercLabel", "Fluctation Percentage: ", true, false},
        {"currentModesSelectedLabel", "Amount of Modes Selected:  1", true, false},
        {"dispCurrentForceLbl", "Haptic Scaling Factor (S         ):  1.0", true, false},
    };
    for (const Expect& e : widgets) {
        SCOPED_TRACE(e.name);
        auto* w = h.window.findChild<QWidget*>(e.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(ownEnabled(w), e.enabled);
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(b->text(), e.text);
            EXPECT_EQ(b->isChecked(), e.ticked);
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(l->text(), e.text);
        }
    }
    const std::pair<const char*, QString> actions[] = {{"openToolStripMenuItem", "&Open"},
                                                       {"saveSessionToolStripMenuItem", "Save &Session"},
                                                       {"saveAsToolStripMenuItem", "Save &As"},
                                                       {"exitToolStripMenuItem", "E&xit"},
                                                       {"viewTutorialToolStripMenuItem", "View Tutorial..."}};
    for (const auto& [name, text] : actions) {
        auto* a = h.window.findChild<QAction*>(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->text(), text);
        EXPECT_EQ(a->isEnabled(), std::string(name) != "saveSessionToolStripMenuItem") << name;
    }
    EXPECT_EQ(h.c.modeSlider->maximum(), 200);
    EXPECT_EQ(h.c.modeSlider->value(), 1);
    EXPECT_EQ(h.c.forceMagSlider->value(), 10);
    const QStringList pages = {"Information", "Colouring", "ENM Options", "Force Properties"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(h.c.tabControl1->tabText(i), pages[i]);
        EXPECT_EQ(h.c.tabControl1->isTabEnabled(i), i == 0) << i;
    }
    EXPECT_EQ(h.c.realTimeForceBox->toPlainText(),
              "Contacted Residue:\nForce Applied: \nScaling Factor (S): \nFluctuation Percentage:");
    EXPECT_EQ(h.state().simMode, SimMode::Maximum);
    EXPECT_EQ(h.state().loadMode, 4);
    EXPECT_TRUE(h.state().introState);
}

TEST(Form1, WindowBuildsItsControlsWithoutAView)
{
    WindowOptions options;
    options.openDevice = false;
    Form1 window(options);
    EXPECT_EQ(window.windowTitle(), "Vornax");
    EXPECT_NE(window.findChild<QCheckBox*>("selectMode13"), nullptr);
    EXPECT_NE(window.findChild<QTextEdit*>("realTimeForceBox2"), nullptr);
    EXPECT_TRUE(window.controls().infoText->text().startsWith("To start please open a PDB file using the file menu."));
    // The loop runs (and changes nothing) without a view.
    for (int i = 0; i < 12; ++i) window.logic().tick();
    EXPECT_FALSE(window.loaded());

    // Keys reach the loop's handlers once, before any control; Ctrl waits for first entry.
    int helpShown = 0;
    QObject::connect(&window.logic(), &FormLogic::helpIndexRequested, [&] { ++helpShown; });
    for (const int key : {int(Qt::Key_F1), int(Qt::Key_Control)}) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(&window, &down);
        QApplication::sendEvent(&window, &up);
    }
    EXPECT_EQ(helpShown, 1);
    EXPECT_FALSE(window.controls().hapticsOnOff->isChecked());
}

TEST(Form1, CheckBoxesRunTheirHandlersWhenChangedFromCode)
{
    Harness h;
    h.c.showELNBBCheckBox->setChecked(true);
    h.c.hideSpheres->setChecked(false);
    h.c.hapticsTranslate->setChecked(true);
    h.c.hapticsOnOff->setChecked(true);
    EXPECT_EQ(h.view.calls["renderSprings"], 1);
    EXPECT_FALSE(h.network().isRenderingSpheres());
    EXPECT_TRUE(h.device->getTranslates());
    EXPECT_EQ(h.view.calls["toggleWorkspace"], 1);
    EXPECT_EQ(h.device->calls["setHatpicState"], 1);
    EXPECT_EQ(h.device->getStatus(), 1);
    h.c.hapticsOnOff->setChecked(false);
    EXPECT_EQ(h.device->calls["setHatpicState"], 0);
    EXPECT_EQ(h.device->getStatus(), 0);
}

class Form1Modes : public ::testing::Test {
protected:
    void SetUp() override
    {
        h = std::make_unique<Harness>(crambin());
        eln = &h->network();
        ASSERT_EQ(eln->getSimulationMode(), -2) << "every mode kept";
        maxModes = eln->getTotalMaxModes();
        ASSERT_GE(maxModes, 20);
        h->logic->networkLoaded(maxModes, eln->geometry().get3NMinus6(), eln->getS(), 11.0f);
        // The pages open as at the stylus's first entry.
        for (int i = 1; i < 4; ++i) h->c.tabControl1->setTabEnabled(i, true);
    }
    QString percentOf(double part) const { return roundedText(part * 100.0 / eln->getRTotal(), 1); }

    ElasticNetworkModel* eln = nullptr;
    std::unique_ptr<Harness> h;
    int maxModes = 0;
};

TEST_F(Form1Modes, LoadEnablesTheModeControlsAndNamesTheModes)
{
    EXPECT_TRUE(ownEnabled(h->c.modes1_10));
    EXPECT_TRUE(ownEnabled(h->c.modeArray[19]));
    EXPECT_TRUE(ownEnabled(h->c.saveForces));
    EXPECT_EQ(h->c.modeSlider->maximum(), maxModes);
    EXPECT_EQ(h->c.uncheckAllModes->text(), QString("Select all %1 modes").arg(eln->geometry().get3NMinus6()));
    EXPECT_EQ(h->state().flucPerc, "100");
    EXPECT_EQ(h->c.flucPercLabel->text(), "Fluctation Percentage: 100%");
    EXPECT_FALSE(h->state().introState);
    EXPECT_GE(h->state().finalM, 1.0);
    EXPECT_LT(h->state().finalM, 10.0);
}

TEST_F(Form1Modes, EveryWayOfChoosingReachesTheNetwork)
{
    struct Case {
        const char* what;
        std::function<void(Harness&)> act;
        std::vector<int> disabledBoxes; ///< 1-based, disabled before acting
        int state;                      ///< the network's mode state
        std::vector<int32_t> modes;     ///< 0-based, state 0
        int amount;                     ///< state 1: modes used
        QString label;
        SimMode simMode;
    };
    const Case cases[] = {
        {"one box",
         [](Harness& x) { x.c.modeArray[2]->setChecked(true); },
         {},
         0,
         {2},
         0,
         "Amount of Modes Selected:  1",
         SimMode::Boxes},
        {"Modes 01-10:",
         [](Harness& x) { x.c.modes1_10->click(); },
         {},
         0,
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
         0,
         "Amount of Modes Selected:  10",
         SimMode::Boxes},
        {"Modes 11-20: skips disabled boxes",
         [](Harness& x) { x.c.modes11_20->click(); },
         {15, 16, 17, 18, 19, 20},
         0,
         {10, 11, 12, 13},
         0,
         "Amount of Modes Selected:  4",
         SimMode::Boxes},
        {"slider pressed",
         [](Harness& x) {
             x.c.modeSlider->setSliderPosition(7);
             x.logic->sliderMouseDown();
         },
         {},
         1,
         {},
         7,
         "Amount of Modes Selected:  7",
         SimMode::Slider},
        {"slider stepped",
         [](Harness& x) {
             x.c.modeSlider->setValue(4);
             x.c.modeSlider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
         },
         {},
         1,
         {},
         5,
         "Amount of Modes Selected:  5",
         SimMode::Slider},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        // Start from the maximum, with a box left ticked from before.
        h->c.uncheckAllModes->click();
        ASSERT_EQ(eln->getModeSelectState(), 2);
        ASSERT_EQ(h->device->allModes, std::optional<bool>(true));
        for (QCheckBox* box : h->c.modeArray) box->setEnabled(true);
        for (int m : k.disabledBoxes) h->c.modeArray[static_cast<std::size_t>(m - 1)]->setEnabled(false);
        k.act(*h);
        EXPECT_EQ(eln->getModeSelectState(), k.state);
        EXPECT_EQ(h->device->allModes, std::optional<bool>(false));
        EXPECT_EQ(h->state().simMode, k.simMode);
        EXPECT_EQ(h->c.currentModesSelectedLabel->text(), k.label);
        if (k.state == 0) {
            EXPECT_EQ(selection(*eln), k.modes);
            double sum = 0.0;
            for (int32_t m : k.modes) sum += eln->getRMSingle(m);
            EXPECT_EQ(h->state().flucPerc, percentOf(sum));
            EXPECT_EQ(h->c.modes1_10->styleSheet(), FormLogic::activeStyle());
            EXPECT_EQ(h->c.modeSlider->styleSheet(), FormLogic::inactiveStyle());
        } else {
            EXPECT_EQ(eln->getAmountSelected(), k.amount);
            EXPECT_EQ(h->state().flucPerc, percentOf(eln->getRMForTest(k.amount)));
            for (QCheckBox* box : h->c.modeArray) EXPECT_FALSE(box->isChecked());
        }
        for (int m : k.disabledBoxes) EXPECT_FALSE(h->c.modeArray[static_cast<std::size_t>(m - 1)]->isChecked());
    }
    // Back to the maximum: boxes cleared silently, every kept mode, 100 %.
    h->c.modes1_10->click();
    h->c.uncheckAllModes->click();
    EXPECT_EQ(h->state().simMode, SimMode::Maximum);
    EXPECT_EQ(eln->getModeSelectState(), 2);
    EXPECT_EQ(eln->getAmountSelected(), 0);
    for (QCheckBox* box : h->c.modeArray) EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(h->c.flucPercLabel->text(), "Fluctation Percentage: 100%");
    EXPECT_EQ(h->c.uncheckAllModes->styleSheet(), FormLogic::activeStyle());
}

TEST_F(Form1Modes, SaveForcesLocksTheModesAndFreesUndoAndClear)
{
    h->c.appliedForcesTextBox->setPlainText("old list");
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on);
        h->c.saveForces->setChecked(on);
        EXPECT_EQ(h->device->getSaveForces(), on);
        EXPECT_EQ(ownEnabled(h->c.undoSelection), on);
        EXPECT_EQ(ownEnabled(h->c.resetSimulation), on);
        for (QWidget* w : {static_cast<QWidget*>(h->c.modes1_10), static_cast<QWidget*>(h->c.modes11_20),
                           static_cast<QWidget*>(h->c.modeSlider), static_cast<QWidget*>(h->c.uncheckAllModes),
                           static_cast<QWidget*>(h->c.modeArray[0]), static_cast<QWidget*>(h->c.modeArray[19])})
            EXPECT_EQ(ownEnabled(w), !on) << w->objectName().toStdString();
        EXPECT_TRUE(h->c.appliedForcesTextBox->toPlainText().isEmpty());
    }
}

TEST_F(Form1Modes, ReadOutsShowTheContactedAtomEvery11thTickBoldWhenSaturated)
{
    Atom* atom = eln->getAtom(0);
    ASSERT_NE(atom, nullptr);
    const QString residue =
        QString::fromStdString(atom->getResidueName() + " " + atom->getResidue() + " " + atom->getChainID());
    atom->setScaledForce(Vector3d(3.0f, 4.0f, 0.0f)); // 5 kcal/mol/Å
    struct Case {
        const char* what;
        Atom* atom;
        Vector3d deviceForce;
        float eqForce;
        QString forces;
        bool bold;
    };
    const Case cases[] = {
        {"no contact", nullptr, Vector3d(), 1.0f, "Haptic Force Applied: 0 N \nScaled Force Applied: 0 kcal mol-1Å-1",
         false},
        {"pulling", atom, Vector3d(1.0f, 0.0f, 0.0f), 1.0f,
         "Haptic Force Applied: 1 N \nScaled Force Applied: 5 kcal mol-1Å-1", false},
        {"saturated", atom, Vector3d(0.0f, 3.3f, 0.0f), 1.0f,
         "Haptic Force Applied: 3.3 N \nScaled Force Applied: 5 kcal mol-1Å-1", true},
        {"saturated, scaled by S", atom, Vector3d(0.0f, 0.0f, 6.6f), 2.0f,
         "Haptic Force Applied: 6.6 N \nScaled Force Applied: 5 kcal mol-1Å-1", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        h->device->pointAt(k.atom);
        atom->addAForce(k.deviceForce, 1.0f);
        h->c.forceMagSlider->setValue(static_cast<int>(k.eqForce * 10.0f));
        // Nothing changes until the 11th tick.
        h->c.realTimeForceBox->clear();
        while (h->logic->tickCount() < 10) h->logic->tick();
        EXPECT_TRUE(h->c.realTimeForceBox->toPlainText().isEmpty());
        h->logic->tick();
        EXPECT_EQ(h->logic->tickCount(), 0);
        for (const QTextEdit* box : {h->c.realTimeForceBox, h->c.realTimeForceBox2}) {
            const QString text = box->toPlainText();
            EXPECT_TRUE(text.startsWith("RC : 11\nContacted Residue: " + (k.atom ? residue : QString()) + "\n"))
                << text.toStdString();
            EXPECT_TRUE(text.contains(k.forces)) << text.toStdString();
            EXPECT_TRUE(text.contains("Fluctuation Percentage:100%")) << text.toStdString();
            EXPECT_EQ(isBold(box, "Haptic Force Applied"), k.bold);
            EXPECT_EQ(isBold(box, "Scaled Force Applied"), k.bold);
            EXPECT_FALSE(isBold(box, "Contacted Residue"));
            EXPECT_EQ(formatOf(box, "-1").verticalAlignment(), QTextCharFormat::AlignSuperScript);
            EXPECT_EQ(formatOf(box, "atom").verticalAlignment(), QTextCharFormat::AlignSubScript);
        }
    }
    atom->addAForce(Vector3d(), 1.0f);
    atom->setScaledForce(Vector3d());
}

TEST_F(Form1Modes, AppliedForcesListLeavesOutAtomsWithoutForce)
{
    Atom* pulled = eln->getAtom(1);
    Atom* idle = eln->getAtom(2);
    pulled->setScaledForce(Vector3d(0.0f, -2.0f, 0.0f));
    idle->setScaledForce(Vector3d());
    eln->deformation().addAtomToList(pulled);
    eln->deformation().addAtomToList(idle);
    const QString name = QString::fromStdString(pulled->getResidueName() + " " + pulled->getResidue());
    const QString chain = QString::fromStdString(pulled->getChainID());

    h->c.saveForces->setChecked(true);
    eln->setNeedsListUpdate(true);
    for (int i = 0; i < 11; ++i) h->logic->tick();
    EXPECT_EQ(h->c.appliedForcesTextBox->toPlainText().trimmed(),
              "Chain: " + name + " " + chain + " Force: 2 kcal mol-1Å-1");
    EXPECT_FALSE(eln->getNeedsListUpdate()) << "the list is rebuilt once per new force";

    h->c.undoSelection->click();
    EXPECT_EQ(h->device->calls["popLastSelectionFromStack"], 1);
    EXPECT_EQ(h->c.appliedForcesTextBox->toPlainText().trimmed(),
              "Chain: " + name + " Force: 2 kcal mol-1Å-1 (0, 2, 0)");

    h->c.resetSimulation->click();
    EXPECT_EQ(h->device->calls["resetAllForces"], 1);
    EXPECT_TRUE(h->c.appliedForcesTextBox->toPlainText().isEmpty());
    h->c.saveForces->setChecked(false);
    pulled->setScaledForce(Vector3d());
}

TEST_F(Form1Modes, FirstEntrySwitchesTheDeviceOnAndTicksTheElNemoModes)
{
    // ElNemo modes 13, 15 and 31 read: boxes 7 and 9 (mode 31 has none).
    eln->setupBlankArrays();
    for (const int mode : {13, 15, 31}) {
        const vornax::testing::TempFile file(vornax::testing::elnemoFile(*eln, mode));
        ASSERT_TRUE(eln->calculateEigenFromElnemo(file.path().string())) << mode;
    }
    ASSERT_EQ(eln->getElNemoModes(), (std::vector<int32_t>{7, 9, 25}));
    h->state().loadedELNEMO = true;
    h->device->firstEntry = true;
    h->state().introState = true;
    h->logic->tick();
    EXPECT_FALSE(h->state().firstEntry) << "waits for the load to complete";
    EXPECT_FALSE(h->logic->keyDown(Qt::Key_F2)) << "keys wait for first entry";
    h->state().introState = false;
    h->logic->tick();
    EXPECT_TRUE(h->state().firstEntry);
    EXPECT_TRUE(h->c.hapticsOnOff->isChecked());
    EXPECT_TRUE(h->c.hapticsTranslate->isChecked());
    EXPECT_EQ(h->view.calls["toggleWorkspace"], 1);
    EXPECT_EQ(h->device->calls["setHatpicState"], 1);
    for (int i = 1; i < 4; ++i) EXPECT_TRUE(h->c.tabControl1->isTabEnabled(i));
    EXPECT_TRUE(h->c.modeArray[6]->isChecked());
    EXPECT_TRUE(h->c.modeArray[8]->isChecked());
    EXPECT_EQ(selection(*eln), (std::vector<int32_t>{6, 8}));
    EXPECT_EQ(eln->getModeSelectState(), 0);

    // After first entry: Ctrl toggles force feedback, F2 takes the device's auto-scroll state.
    EXPECT_TRUE(h->logic->keyDown(Qt::Key_Control));
    EXPECT_FALSE(h->c.hapticsOnOff->isChecked());
    h->device->toggledTranslate = false;
    EXPECT_TRUE(h->logic->keyDown(Qt::Key_F2));
    EXPECT_FALSE(h->c.hapticsTranslate->isChecked());
    EXPECT_EQ(h->view.calls["toggleWorkspace"], 0);
    h->c.uncheckAllModes->click();
}

TEST(Form1, StylusButtonsLockTheModePageWhileHeld)
{
    Harness h;
    h.c.elasticNetworkTab->setEnabled(true);
    // Buttons as bits: 1 front, 2 back; both (3) starts no press; only 0 ends one.
    const std::pair<int, bool> steps[] = {{3, false}, {1, true}, {3, true}, {2, true},
                                          {0, false}, {2, true}, {0, false}};
    for (const auto& [buttons, pressed] : steps) {
        h.device->buttons = buttons;
        h.logic->tick();
        EXPECT_EQ(h.state().pressed, pressed) << buttons;
        EXPECT_EQ(ownEnabled(h.c.elasticNetworkTab), !pressed) << buttons;
    }
}

TEST(Form1, ForceSliderSetsTheScalingFactor)
{
    Harness h;
    const std::pair<int, const char*> steps[] = {{25, "2.5"}, {0, "0.0"}, {200, "20.0"}, {10, "1.0"}};
    for (const auto& [value, shown] : steps) {
        h.c.forceMagSlider->setValue(value);
        EXPECT_FLOAT_EQ(h.state().eqForce, value / 10.0f);
        EXPECT_EQ(h.c.dispCurrentForceLbl->text(), QString("Haptic Scaling Factor (S         ):  ") + shown);
        EXPECT_FLOAT_EQ(h.device->getEqForceFactor(), value / 10.0f);
    }
}

TEST(Form1, ScalerIsShownAsMantissaAndPowerOfTen)
{
    const struct {
        double s, m;
        float n;
    } cases[] = {{0.0123456, 1.235, -2.0f}, {3.5, 3.5, 0.0f}, {1e-7, 1.0, -7.0f}, {0.0, 0.0, 0.0f}, {-2.0, 0.0, 0.0f}};
    for (const auto& k : cases) {
        double m = -1.0;
        float n = 1.0f;
        scalerDisplay(k.s, m, n);
        EXPECT_NEAR(m, k.m, 1e-9) << k.s;
        EXPECT_EQ(n, k.n) << k.s;
    }
}

TEST(Form1, PercentageWithoutModesIsZero)
{
    Harness h;
    h.logic->calculatePercentageDeformation(5);
    EXPECT_EQ(h.c.flucPercLabel->text(), "Fluctation Percentage: 0%");
}

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST(RecentFiles, NewestFirstOnceEachAtMostEightAndKeptWhole)
{
    vornax::testing::TempDir home;
    {
        RecentFiles recent(home.path());
        EXPECT_TRUE(recent.files().empty());
        for (int i = 0; i < 10; ++i) EXPECT_TRUE(recent.add("/data/s" + std::to_string(i) + ".pdb"));
        EXPECT_TRUE(recent.add("/data/s5.pdb")); // again: to the front, not twice
        EXPECT_FALSE(recent.add("/data/two\nlines.pdb"));
        EXPECT_FALSE(recent.add(""));
    }
    const std::vector<std::string> expected{"/data/s5.pdb", "/data/s9.pdb", "/data/s8.pdb", "/data/s7.pdb",
                                            "/data/s6.pdb", "/data/s4.pdb", "/data/s3.pdb", "/data/s2.pdb"};
    EXPECT_EQ(RecentFiles(home.path()).files(), expected) << "read back as written";
    // Without a profile folder the list lives in memory only.
    RecentFiles unkept({});
    EXPECT_TRUE(unkept.add("/data/a.pdb"));
    EXPECT_EQ(unkept.files(), std::vector<std::string>{"/data/a.pdb"});
}

TEST(RecentFiles, AKeptListThatIsNotOneIsReadBoundedly)
{
    const std::string longName(kLongestName + 1, 'a');
    const std::string nine = "1\n2\n3\n4\n5\n6\n7\n8\n9\n";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"/a.pdb\r\n/b.pdb", {"/a.pdb", "/b.pdb"}},                   // CR LF, no last line end
        {"/a.pdb\n\n/a.pdb\n", {"/a.pdb"}},                          // blank and repeated lines
        {longName + "\n/b.pdb\n", {"/b.pdb"}},                        // a name no file can have
        {longName.substr(1) + "\n", {longName.substr(1)}},             // the longest name kept
        {std::string("/a\0.pdb\n/b.pdb", 14), {"/b.pdb"}},            // a NUL
        {nine, {"1", "2", "3", "4", "5", "6", "7", "8"}},              // at most eight
        {std::string(RecentFiles::kMaximum * (kLongestName + 2), 'x') + "\n/late.pdb\n", {}}, // one endless line
    };
    for (const auto& [text, expected] : cases) {
        std::istringstream in(text);
        EXPECT_EQ(readRecentList(in), expected) << text.substr(0, 40);
    }
}

TEST(RecentFiles, FilesOpenByTheirNames)
{
    const std::pair<const char*, OpenKind> cases[] = {
        {"/d/1crn.pdb", OpenKind::Structure},   {"/d/1CRN.PDB", OpenKind::Structure},
        {"/d/4hhb.cif", OpenKind::Structure},   {"/d/4hhb.cif.gz", OpenKind::Structure},
        {"/d/x.mmcif", OpenKind::Structure},    {"/d/pdb1crn.ent", OpenKind::Structure},
        {"/d/1CRN.hdv", OpenKind::EigenData},   {"/d/pulled.vsf", OpenKind::Session},
        {"/d/1CRN.ppy", OpenKind::None},        {"/d/notes.txt", OpenKind::None},
        {"/d/.pdb", OpenKind::None},            {"/d/archive.gz", OpenKind::None},
    };
    for (const auto& [file, kind] : cases) EXPECT_EQ(openKindOf(file), kind) << file;
}
