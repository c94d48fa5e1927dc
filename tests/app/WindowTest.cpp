// The program's window under a real X server: it draws while it loads, hands the structure to
// the view, and closes cleanly in the middle of a load.
#include "AdvancedOptionsDialog.h"
#include "DisplayRequired.h"
#include "Form1.h"
#include "FormControls.h"
#include "FormLogic.h"
#include "GLTestContext.h"
#include "LoadDialogs.h"
#include "MapLegend.h"
#include "PlotsWindow.h"
#include "RecentFiles.h"
#include "SessionWorkflow.h"
#include "ViewSurface.h"

#include "common/Console.h"
#include "common/TextParse.h"
#include "common/Units.h"
#include "common/UserPrompts.h"
#include "enm/Calibration.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/NetworkMaps.h"
#include "enm/NodeMaps.h"
#include "haptics/Haptics.h"
#include "haptics/Workbench.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "haptics/hdapi/hdapi.h"
#include "molecule/Atom.h"
#include "molecule/SessionFile.h"
#include "render/COpenGL.h"
#include "render/NetworkDrawing.h"
#include "support/TestData.h"

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <future>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

using namespace vornax;

namespace {

/// Pixels of `image` for which `pred` (on their colour) holds.
template <typename Pred>
int countPixels(const QImage& image, Pred pred)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += pred(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

int drawnPixels(const QImage& image)
{
    return countPixels(image, [](const QColor& c) { return c.red() < 245 || c.green() < 245 || c.blue() < 245; });
}

/// Pixels of `image` close to pure red.
int redPixels(const QImage& image)
{
    return countPixels(image, [](const QColor& c) { return c.red() > 110 && c.green() < 60 && c.blue() < 60; });
}

WindowOptions optionsFor(const std::string& structure)
{
    WindowOptions options;
    options.file = vornax::testing::findPdb(structure);
    options.openDevice = false;
    return options;
}

/// The built-in virtual device chosen for the test's duration, and put back after.
struct VirtualDeviceChoice {
    VirtualDeviceChoice()
    {
        hdapi::useVirtualDevice(true);
        hdapi::VirtualDevice::instance().reset();
    }
    ~VirtualDeviceChoice()
    {
        hdapi::resetDeviceChoice();
        hdapi::VirtualDevice::instance().reset();
    }
};

/// `structure` loaded in a shown 1024 × 768 window, with the device of the HDAPI layer's choice
/// or none; null when the file is not available or the load does not end in time.
std::unique_ptr<Form1> shownWindow(const std::string& structure, bool device)
{
    WindowOptions options = optionsFor(structure);
    if (options.file.empty()) return nullptr;
    options.openDevice = device;
    auto window = std::make_unique<Form1>(options);
    window->resize(1024, 768);
    window->show();
    if (!QTest::qWaitFor([&] { return window->loaded(); }, 120000)) return nullptr;
    return window;
}

/// 1crn loaded in a shown window with the virtual device.
std::unique_ptr<Form1> windowWithDevice() { return shownWindow("1crn.pdb", true); }

/// `structure` loaded in a shown window with the virtual device, chosen for the object's life.
struct DeviceWindow {
    VirtualDeviceChoice choice;
    std::unique_ptr<Form1> window;

    explicit DeviceWindow(const std::string& structure) : window(shownWindow(structure, true)) {}
};

} // namespace

TEST(Window, DrawsTheIdleSceneThenTheLoadedNetwork)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    Form1 window(optionsFor("1crn.pdb"));
    window.resize(1024, 768);
    window.show();
    EXPECT_TRUE(window.statusText().startsWith("Loading 1crn.pdb")) << window.statusText().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.loaded(); }, 30000)) << window.statusText().toStdString();
    ASSERT_NE(window.view(), nullptr);
    EXPECT_FALSE(window.surface()->stereo()) << "Xvfb offers no stereo";
    EXPECT_FALSE(window.view()->getStereoSupport());
    EXPECT_TRUE(window.workbench().loaded());
    EXPECT_TRUE(window.workbench().simulationRunning());
    EXPECT_TRUE(window.statusText().contains("46 nodes")) << window.statusText().toStdString();
    EXPECT_TRUE(capture.contains("COMPLETE SETUP"));

    // Frames keep coming from the timer.
    const int64_t before = window.view()->getFramesDrawn();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.view()->getFramesDrawn() > before + 5; }, 10000));

    // Needs the network drawing: the molecule fills the middle of the view.
    const QImage picture = window.surface()->grabFrame();
    picture.save(QString::fromStdString(gltest::picturePath("window-1crn.png")));
    window.grab().save(QString::fromStdString(gltest::picturePath("window.png")));
    EXPECT_GT(drawnPixels(picture), 5000);
}

// 4hhb with the virtual device: framed at the start; zoomed in past its edges and panned it is
// not, and "Reset All Transformations" frames it again; zoomed out from there it stays whole,
// never cut by the far plane, however far the wheel goes.
TEST(Window, ResetFramesTheMoleculeAndZoomingOutKeepsItWhole)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    if (vornax::testing::findPdb("4hhb.pdb").empty()) GTEST_SKIP() << "4hhb.pdb is not available";
    DeviceWindow shown("4hhb.pdb");
    ASSERT_TRUE(shown.window);
    Form1& window = *shown.window;
    COpenGL& view = *window.view();
    ASSERT_NE(window.workbench().device(), nullptr);
    // The report of a frame drawn after the camera came to rest.
    auto settled = [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return view.getCurrentCamZ() == view.getNewCamZ(); }, 20000));
        const int64_t frames = view.getFramesDrawn();
        EXPECT_TRUE(QTest::qWaitFor([&] { return view.getFramesDrawn() > frames + 2; }, 10000));
        return view.viewReport();
    };
    auto wheel = [&](int steps) {
        for (int i = 0; i < std::abs(steps); ++i) {
            QWheelEvent event(QPointF(200, 200), QPointF(200, 200), QPoint(), QPoint(0, steps > 0 ? 120 : -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&window, &event);
        }
    };
    const ViewReport framed = settled();
    const float zoomAtLoad = window.workbench().device()->getZoom();
    EXPECT_EQ(framed.nodes, 576);
    EXPECT_EQ(framed.nodesOutside, 0);
    const float framedZ = view.getCurrentCamZ();
    EXPECT_GT(framedZ, Workbench::kStandardCameraZ) << "4hhb needs more room than the device's own distance";
    EXPECT_FLOAT_EQ(framedZ, view.framedCameraZ());

    wheel(20);
    view.shiftCam(0, 0);
    view.mouseDownTranslate(0, 0);
    view.shiftCam(400, 300);
    EXPECT_GT(settled().nodesOutside, 0) << "zoomed in and panned, some of it is out of view";
    window.controls().resetELNTransform->click();
    const ViewReport reset = settled();
    EXPECT_EQ(reset.nodesOutside, 0);
    EXPECT_FLOAT_EQ(view.getCurrentCamZ(), framedZ);
    EXPECT_EQ(reset.nodeBounds, framed.nodeBounds);

    // Each wheel step out goes a twentieth further: 120 steps are about 350 times the distance.
    wheel(-120);
    const ViewReport far = settled();
    EXPECT_GT(view.getCurrentCamZ(), 300.0f * framedZ);
    EXPECT_EQ(far.nodesOutside, 0) << "cut off by the far plane at " << view.getFarDist();
    EXPECT_LT(far.nodeBounds[2] - far.nodeBounds[0], 0.05 * (framed.nodeBounds[2] - framed.nodeBounds[0]));
    EXPECT_GT(window.workbench().device()->getZoom(), zoomAtLoad) << "the workspace grows with the distance";
    // Back from there, the device's workspace comes back with the camera.
    window.controls().resetELNTransform->click();
    EXPECT_EQ(settled().nodeBounds, framed.nodeBounds);
    EXPECT_FLOAT_EQ(window.workbench().device()->getZoom(), zoomAtLoad);
}

// "Motion": the lowest mode of 1crn swings in the view at its thermal amplitude, scaled by the
// slider; the deformation and the kept forces stay as they were; a mode box or a press of the
// stylus stops it.
TEST(Window, AModeSwingsInTheViewUntilAPullOrAModeChange)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    DeviceWindow shown("1crn.pdb");
    ASSERT_TRUE(shown.window);
    Form1& window = *shown.window;
    const FormControls& c = window.controls();
    Workbench& bench = window.workbench();
    const ElasticNetworkModel& eln = *bench.network();
    COpenGL& view = *window.view();
    auto frames = [&] {
        const int64_t n = view.getFramesDrawn();
        EXPECT_TRUE(QTest::qWaitFor([&] { return view.getFramesDrawn() > n + 2; }, 10000));
    };
    std::vector<Vector3d> rest;
    for (int32_t i = 0; i < eln.getAmountOfAtoms(); ++i) rest.push_back(eln.deformation().getDeformedPosition(i));
    frames();
    const ViewReport still = view.viewReport();

    c.tabControl1->setTabEnabled(c.tabControl1->indexOf(c.motionTab), true);
    c.tabControl1->setCurrentWidget(c.motionTab);
    ASSERT_TRUE(c.animateMode->isEnabled());
    EXPECT_EQ(c.animateModeNumber->maximum(), 132);
    c.animateModeNumber->setValue(1);
    c.animateMode->click();
    ModeAnimation& animation = bench.animation();
    ASSERT_TRUE(animation.running()) << c.animationAmplitudeLabel->text().toStdString();
    EXPECT_EQ(c.animateMode->text(), "Stop");
    // √(kT / (K λ)) of the lowest mode, from the calibration.
    const double expected = std::sqrt(0.6 * eln.modes().getInverseScaledEigenvalues()[0]);
    EXPECT_NEAR(animation.thermalAmplitude(), expected, 1e-9 * expected);
    EXPECT_TRUE(c.animationAmplitudeLabel->text().startsWith("Thermal amplitude: " + QString::number(expected, 'f', 2)
                                                             + " Å; shown ×1,"))
        << c.animationAmplitudeLabel->text().toStdString();

    // Ten times the thermal amplitude, held at its largest swing.
    c.animationAmplitude->setValue(70);
    EXPECT_NEAR(animation.scale(), 10.0, 1e-9);
    animation.holdAtPeak();
    frames();
    const ViewReport swung = view.viewReport();
    EXPECT_NE(swung.nodeBounds, still.nodeBounds);
    float largest = 0.0f;
    const std::vector<Vector3d>& drawn = view.getNetworkDrawing()->framePositions();
    for (std::size_t i = 0; i < rest.size(); ++i) largest = std::max(largest, drawn[i].euclideanDistance(rest[i]));
    EXPECT_NEAR(largest, units::toModel(animation.largestNodeSwing()), 1e-3 * largest);
    window.surface()->grabFrame().save(QString::fromStdString(gltest::picturePath("mode-animated.png")));
    for (int32_t i = 0; i < eln.getAmountOfAtoms(); ++i)
        EXPECT_EQ(eln.deformation().getDeformedPosition(i), rest[static_cast<std::size_t>(i)]) << "node " << i;
    EXPECT_TRUE(eln.deformation().keptForces().empty());

    // A mode box changes the modes: the swing stops, and the view is the deformation again.
    c.modeArray[2]->click();
    EXPECT_FALSE(animation.running());
    EXPECT_FALSE(c.animateMode->isChecked());
    EXPECT_EQ(c.animateMode->text(), "Animate");
    frames();
    EXPECT_EQ(view.viewReport().nodeBounds, still.nodeBounds);

    // A press of the stylus stops it too.
    c.animateMode->click();
    ASSERT_TRUE(animation.running());
    hdapi::VirtualDevice::instance().setButtons(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !animation.running(); }, 5000));
    EXPECT_FALSE(c.animateMode->isChecked());
    hdapi::VirtualDevice::instance().setButtons(0);
}

TEST(Window, ClosingDuringALoadStopsItAndClosesCleanly)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    Form1 window(optionsFor("4hhb.pdb"));
    window.resize(1024, 768);
    window.show();
    EXPECT_TRUE(window.loading());
    window.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 60000));
    EXPECT_FALSE(window.loading());
    EXPECT_FALSE(window.loaded());
    EXPECT_FALSE(window.workbench().simulationRunning());
}

TEST(Window, ABadFileIsReportedOnTheStatusLine)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    vornax::testing::TempFile bad("HEADER    NOT A STRUCTURE\nEND\n");
    WindowOptions options;
    options.file = bad.path();
    options.openDevice = false;
    Form1 window(options);
    window.resize(1024, 768);
    window.show();
    bool ended = false, ok = true;
    QObject::connect(&window, &Form1::loadEnded, [&](bool success, const QString&) {
        ended = true;
        ok = success;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended; }, 30000));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(window.loaded());
    EXPECT_TRUE(window.statusText().startsWith("The structure could not be loaded"))
        << window.statusText().toStdString();
    // The idle scene goes on.
    QImage picture;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            picture = window.surface()->grabFrame();
            return drawnPixels(picture) > 1000;
        },
        10000));
    picture.save(QString::fromStdString(gltest::picturePath("window-idle.png")));
}

TEST(Window, VirtualDeviceIsOpenedAndDrivesTheViewWhileFramesRun)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    VirtualDeviceChoice choice;
    {
        const auto shown = windowWithDevice();
        ASSERT_TRUE(shown);
        Form1& window = *shown;
        COpenGL* view = window.view();
        ASSERT_NE(window.workbench().device(), nullptr);
        EXPECT_EQ(window.workbench().forceMax(), window.workbench().deviceParameters().maxForce);
        EXPECT_FALSE(window.statusText().contains("no haptic device")) << window.statusText().toStdString();
        // The servo thread, the simulation thread and the frames run together for a while (as
        // long as six frames take: under ThreadSanitizer, in software, that is over 400 ms).
        const int64_t before = view->getFramesDrawn();
        EXPECT_TRUE(QTest::qWaitFor([&] { return view->getFramesDrawn() > before + 5; }, 10000));
        window.close();
    }
    EXPECT_TRUE(capture.contains("RETURN 1")) << "the simulation thread ended with the window";
}

namespace {

/// The nodes drawn well inside the view, nearest the eye first.
std::vector<int> frontNodes(const Form1& window)
{
    const ElasticNetworkModel& eln = *window.workbench().network();
    const QWidget* surface = window.surface()->widget();
    const double ratio = surface->devicePixelRatioF();
    std::vector<std::pair<double, int>> nodes;
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i)
        if (const auto p = window.mouseStylus().nodePixel(i); p && (*p)[0] > 60 && (*p)[1] > 60
            && (*p)[0] < surface->width() * ratio - 120 && (*p)[1] < surface->height() * ratio - 60)
            nodes.emplace_back((*p)[2], i);
    std::sort(nodes.begin(), nodes.end());
    std::vector<int> order;
    for (const auto& n : nodes) order.push_back(n.second);
    return order;
}

/// Whether the applied forces list names `node`'s residue.
bool listed(const Form1& window, int node)
{
    const Atom* a = window.workbench().network()->getAtom(node);
    return window.findChild<QTextEdit*>("appliedForcesTextBox")
        ->toPlainText()
        .contains(QString::fromStdString(a->getResidueName() + " " + a->getResidue()));
}

/// A person's pull with the mouse: press on `node`, drag up and to the right, let go, and move
/// the pointer away from the node.
void pull(Form1& window, int node)
{
    SCOPED_TRACE(node);
    ElasticNetworkModel& eln = *window.workbench().network();
    QWidget* surface = window.surface()->widget();
    const double ratio = surface->devicePixelRatioF();
    const auto p = window.mouseStylus().nodePixel(node);
    ASSERT_TRUE(p);
    const QPoint pixel(static_cast<int>((*p)[0] / ratio), static_cast<int>((*p)[1] / ratio));
    const Vector3d before = eln.deformation().getDeformedPosition(node);
    QTest::mouseMove(surface, pixel);
    QTest::mousePress(surface, Qt::LeftButton, {}, pixel);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.mouseStylus().buttons() == 1; }, 2000));
    EXPECT_EQ(window.mouseStylus().grabbedNode(), node);
    for (int step = 1; step <= 15; ++step) {
        QTest::mouseMove(surface, pixel + QPoint(3 * step, -3 * step));
        QTest::qWait(30);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return eln.getAtom(node)->getMyApplyingForce() != Vector3d(); }, 3000));
    // The network answers the pull (model units: tenths of an ångström).
    EXPECT_TRUE(QTest::qWaitFor([&] { return eln.deformation().getDeformedPosition(node).euclideanDistance(before) > 0.2f; }, 3000));
    QTest::mouseRelease(surface, Qt::LeftButton, {}, pixel + QPoint(45, -45));
    EXPECT_EQ(window.mouseStylus().buttons(), 0);
    QTest::mouseMove(surface, pixel + QPoint(110, 0));
}

/// "Save &As" from the File menu, its file dialog answered with `file` (closed unanswered when
/// that does not take within ten seconds, so that a fault fails the test instead of hanging it).
void saveAsFromTheMenu(Form1& window, const QString& file)
{
    QTimer answer;
    int tries = 0;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (++tries > 200) {
            if (auto* dialog = qobject_cast<QDialog*>(modal)) QMetaObject::invokeMethod(dialog, "reject");
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            // The whole path typed into the name box, then "Save": the dialog's folder
            // view may still be loading its first folder.
            if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) name->setText(file);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    answer.start(50);
    window.controls().saveAs->trigger();
}

std::vector<std::string> linesOf(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

/// `ours` (the window's "Save As") and `theirs` (vornax-enm deform) hold the same structure: every
/// record alike, and the same forces. A force's newtons are the device's own in the window and
/// derived from kcal/mol/Å in vornax-enm, so those REMARK numbers may differ in the sixth digit.
void expectSameDeformedStructure(const std::filesystem::path& ours, const std::filesystem::path& theirs,
                                 const std::string& note = {})
{
    const std::vector<std::string> a = linesOf(ours), b = linesOf(theirs);
    ASSERT_EQ(a.size(), b.size()) << note;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].rfind("REMARK   1 Force Applied", 0) != 0) {
            EXPECT_EQ(a[i], b[i]) << "line " << i << ", " << note;
            continue;
        }
        std::istringstream left(a[i]), right(b[i]);
        std::string x, y;
        while (left >> x) {
            ASSERT_TRUE(right >> y) << a[i] << " | " << b[i];
            double u = 0, v = 0;
            if (text::parseDouble(x, u) && text::parseDouble(y, v))
                EXPECT_NEAR(u, v, 2e-5 * std::max(1.0, std::abs(u))) << a[i] << " | " << b[i];
            else
                EXPECT_EQ(x, y) << a[i] << " | " << b[i];
        }
        EXPECT_FALSE(right >> y) << a[i] << " | " << b[i];
    }
}

/// What vornax-enm deform writes to `out` for 1crn with the forces `nodes` keep in `eln`.
void deformThroughCli(const ElasticNetworkModel& eln, const std::vector<int>& nodes,
                      const std::filesystem::path& out)
{
    QStringList args{"deform", QString::fromStdString(vornax::testing::findPdb("1crn.pdb").string()), "--out",
                     QString::fromStdString(out.string())};
    for (const int node : nodes) {
        const Vector3d f = eln.getAtom(node)->getOLDKcalForce();
        args << "--node" << QString::number(node) << "--force" << QString::number(f.x, 'g', 9)
             << QString::number(f.y, 'g', 9) << QString::number(f.z, 'g', 9);
    }
    QProcess deform;
    deform.start(QStringLiteral(VORNAX_ENM_BINARY), args);
    ASSERT_TRUE(deform.waitForFinished(60000));
    ASSERT_EQ(deform.exitCode(), 0) << deform.readAllStandardError().toStdString();
}

} // namespace

TEST(Window, MouseDragsOnNodesPullThemAndSaveAsWritesWhatDeformGives)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    VirtualDeviceChoice choice;
    vornax::testing::TempDir folder;
    const std::filesystem::path saved = folder.path() / "pulled.pdb", deformed = folder.path() / "deformed.pdb";
    std::vector<int> pulled;
    {
        const auto shown = windowWithDevice();
        ASSERT_TRUE(shown);
        Form1& window = *shown;
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.mouseStylus().isActive(); }, 5000));
        ElasticNetworkModel& eln = *window.workbench().network();
        window.findChild<QCheckBox*>("saveForces")->setChecked(true);
        const auto* applied = window.findChild<QTextEdit*>("appliedForcesTextBox");

        // Two pulls, on the front node and on the next one that is not its neighbour.
        const std::vector<int> nodes = frontNodes(window);
        ASSERT_GE(nodes.size(), 2u);
        const int first = nodes[0];
        int second = -1;
        for (std::size_t k = 1; k < nodes.size() && second < 0; ++k)
            if (std::abs(nodes[k] - first) > 2) second = nodes[k];
        ASSERT_GE(second, 0);
        for (const int node : {first, second}) {
            pull(window, node);
            // The tip has left the node: the saved force is listed by its residue.
            EXPECT_TRUE(QTest::qWaitFor([&] { return listed(window, node); }, 3000))
                << applied->toPlainText().toStdString();
            pulled.push_back(node);
        }
        // The second pull kept the first.
        EXPECT_TRUE(listed(window, first)) << applied->toPlainText().toStdString();
        EXPECT_NE(eln.getAtom(first)->getKcalForce(), Vector3d());

        // "Save &As", and the same kept forces through vornax-enm deform.
        saveAsFromTheMenu(window, QString::fromStdString(saved.string()));
        ASSERT_TRUE(std::filesystem::exists(saved));
        deformThroughCli(eln, pulled, deformed);
        window.close();
    }
    EXPECT_EQ(linesOf(saved).size(), 2u * 2u + 46u + 1u);
    expectSameDeformedStructure(saved, deformed);
}

TEST(Window, WithoutAnArmTheMouseIsTheStylusAndItsSwitchActsAtOnce)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    // No arm's library on this machine, and no choice made.
    struct NoArm {
        NoArm()
        {
            hdapi::resetDeviceChoice();
            hdapi::setVendorLibraryName("libvornax-no-such-HD.so");
            hdapi::VirtualDevice::instance().reset();
        }
        ~NoArm()
        {
            hdapi::resetDeviceChoice();
            hdapi::setVendorLibraryName("libHD.so");
            hdapi::VirtualDevice::instance().reset();
        }
    } noArm;
    const auto shown = windowWithDevice();
    ASSERT_TRUE(shown);
    Form1& window = *shown;
    const FormControls& c = window.controls();
    auto expectState = [&](bool stylus) {
        EXPECT_EQ(window.usingMouseStylus(), stylus);
        EXPECT_EQ(window.workbench().device() != nullptr, stylus);
        EXPECT_EQ(c.mouseStylus->isChecked(), stylus);
        EXPECT_EQ(c.mouseStylusItem->isChecked(), stylus);
        EXPECT_EQ(c.hapticsOnOff->isChecked(), stylus);
        // The information text says how to switch the stylus off, or on.
        EXPECT_EQ(c.infoText->text().contains("The mouse is the stylus."), stylus) << c.infoText->text().toStdString();
        EXPECT_EQ(c.infoText->text().contains("To pull atoms with the mouse, tick \"Mouse Stylus\""), !stylus)
            << c.infoText->text().toStdString();
        EXPECT_EQ(window.statusText().endsWith(stylus ? "(mouse stylus)" : "(no haptic device)"), true)
            << window.statusText().toStdString();
    };
    {
        SCOPED_TRACE("on by default");
        expectState(true);
    }
    EXPECT_TRUE(prompts.messages().empty()) << "no arm is no error";
    {
        SCOPED_TRACE("off with the check box");
        c.mouseStylus->setChecked(false);
        expectState(false);
    }
    {
        SCOPED_TRACE("on again from the menu; the new device pulls");
        c.mouseStylusItem->trigger();
        expectState(true);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.mouseStylus().isActive(); }, 5000));
        const std::vector<int> nodes = frontNodes(window);
        ASSERT_FALSE(nodes.empty());
        pull(window, nodes[0]);
    }
    window.close();
}

TEST(Window, AdvancedOptionsDialogShowsTheStereoSettings)
{
    struct FakeView final : StereoView {
        bool support = false, mode = false;
        float separation = 5.0f;
        void set3DMode(bool on) override { mode = on; }
        void setEyeSeperation(float s) override { separation = s; }
        void toggleEyeSeperation() override { separation = -separation; }
        bool getStereoSupport() const override { return support; }
    };
    for (const bool support : {false, true}) {
        FakeView view;
        view.support = support;
        AdvancedOptionsDialog dialog(view);
        EXPECT_EQ(dialog.windowTitle(), "Advanced Graphics Options");
        EXPECT_EQ(dialog.stereoGroup()->isEnabled(), support);
        EXPECT_EQ(dialog.separationLabel()->text(), "Eye Seperation: 5");
        dialog.separationSlider()->setValue(85);
        EXPECT_EQ(dialog.separationLabel()->text(), "Eye Seperation: 8.5");
        EXPECT_FLOAT_EQ(view.separation, 8.5f);
        dialog.quadBufferBox()->setChecked(true);
        EXPECT_TRUE(view.mode);
    }
}

TEST(Window, ColouringPageHighlightsResiduesInTheView)
{
    REQUIRE_DISPLAY();
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    Form1 window(optionsFor("1crn.pdb")); // no device: the page is enabled by the load
    window.resize(1024, 768);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.loaded(); }, 30000)) << window.statusText().toStdString();
    QTabWidget* tabs = window.controls().tabControl1;
    ASSERT_TRUE(tabs->isTabEnabled(tabs->indexOf(window.controls().viewingTab)));
    tabs->setCurrentWidget(window.controls().viewingTab);
    auto* residue = window.findChild<QLineEdit*>("residueBox");
    auto* chain = window.findChild<QLineEdit*>("chainBox");
    auto* add = window.findChild<QPushButton*>("performSearch");
    auto* list = window.findChild<QPlainTextEdit*>("highlightedResidues");
    ASSERT_TRUE(residue && chain && add && list);

    // Residues 10 to 20 in red, then the cysteines of chain A in green, typed as a person would.
    prompts.queueColour(Rgb8{255, 0, 0});
    prompts.queueColour(Rgb8{0, 255, 0});
    auto type = [](QLineEdit* box, const char* text) {
        QTest::mouseClick(box, Qt::LeftButton); // the prompt makes way when the box has the focus
        box->selectAll();
        QTest::keyClicks(box, text);
    };
    type(residue, "10-20");
    QTest::mouseClick(add, Qt::LeftButton);
    type(residue, "cys");
    type(chain, "a");
    QTest::mouseClick(add, Qt::LeftButton);
    EXPECT_EQ(residue->text(), "Enter Residue ID");
    const QStringList lines = list->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 12) << list->toPlainText().toStdString();
    EXPECT_EQ(lines.front(), "Added Residue Seq: 10 Colour (R, G, B): (1, 0, 0)");
    EXPECT_EQ(lines.back(), "Added Residue: CYS Chain: A Colour (R, G, B): (0, 1, 0)");
    const ElasticNetworkModel* eln = window.workbench().network();
    EXPECT_EQ(eln->getAtom(9)->getMyResidueColour(), Vector3d(1, 0, 0)); // residue 10
    EXPECT_EQ(eln->getAtom(2)->getMyResidueColour(), Vector3d(0, 1, 0)); // CYS 3
    EXPECT_EQ(eln->getAtom(0)->getMyResidueColour(), Vector3d(200 / 255.0f, 200 / 255.0f, 200 / 255.0f));

    // The next frames draw the highlights.
    int red = 0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (red = redPixels(window.surface()->grabFrame())) > 500; }, 10000)) << red;
    window.grab().save(QString::fromStdString(gltest::picturePath("colouring.png")));

    QTest::mouseClick(window.findChild<QPushButton*>("removeAll"), Qt::LeftButton);
    EXPECT_TRUE(list->toPlainText().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return redPixels(window.surface()->grabFrame()) < red / 20; }, 10000));
}

// "Colour by" on 1crn with a force kept: each map colours the nodes from blue (lowest) through
// white to red (highest) and shows its legend; residue highlights stay on top; a map the network
// cannot give is refused with its reason; None brings the plain drawing back.
TEST(Window, ColourByMapsTheNodesWithALegendUnderTheHighlights)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    DeviceWindow shown("1crn.pdb");
    ASSERT_TRUE(shown.window);
    Form1& window = *shown.window;
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.mouseStylus().isActive(); }, 5000));
    const FormControls& c = window.controls();
    c.saveForces->setChecked(true);
    const int pulled = frontNodes(window).front();
    pull(window, pulled);
    const ElasticNetworkModel& eln = *window.workbench().network();
    ASSERT_TRUE(QTest::qWaitFor([&] { return eln.deformation().keptForces().size() == 1; }, 5000));

    c.tabControl1->setTabEnabled(c.tabControl1->indexOf(c.viewingTab), true);
    c.tabControl1->setCurrentWidget(c.viewingTab);
    auto* box = window.findChild<QComboBox*>("colourBy");
    auto* results = window.findChild<QLabel*>("resultsLine");
    ASSERT_TRUE(box && results);
    const NodeColouring& colouring = window.workbench().colouring();
    const MapLegend& legend = window.mapLegend();
    auto choose = [&](ColourBy by) {
        const int index = static_cast<int>(std::find(std::begin(kColourChoices), std::end(kColourChoices), by)
                                           - std::begin(kColourChoices));
        box->setCurrentIndex(index);
        emit box->activated(index);
        const int64_t frames = window.view()->getFramesDrawn();
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.view()->getFramesDrawn() > frames + 2; }, 10000));
    };
    auto colourOf = [&](int node) {
        return window.view()->getNetworkDrawing()->nodeColourOf(static_cast<std::size_t>(node));
    };
    const Vector3d red(1, 0, 0), blue(0, 0, 1);
    for (const ColourBy by : kColourChoices) {
        if (by == ColourBy::None) continue;
        SCOPED_TRACE(colourByName(by));
        choose(by);
        const NodeMap* map = colouring.map();
        ASSERT_NE(map, nullptr) << results->text().toStdString();
        ASSERT_EQ(map->values.size(), 46u);
        EXPECT_TRUE(QTest::qWaitFor([&] { return legend.isVisible(); }, 5000));
        EXPECT_EQ(legend.valueTexts().front(), QString::number(map->high, 'g', 3));
        EXPECT_EQ(legend.valueTexts().back(), QString::number(map->low, 'g', 3));
        ASSERT_GT(map->high, map->low);
        const auto highest = std::max_element(map->values.begin(), map->values.end()) - map->values.begin();
        const auto lowest = std::min_element(map->values.begin(), map->values.end()) - map->values.begin();
        EXPECT_EQ(colourOf(static_cast<int>(highest)), red);
        EXPECT_EQ(colourOf(static_cast<int>(lowest)), blue);
        if (by == ColourBy::Displacement) {
            EXPECT_GT(map->values[static_cast<std::size_t>(pulled)], 0.5 * map->high);
        }
        std::string name = colourByName(by);
        std::replace_if(
            name.begin(), name.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '-');
        window.grab().save(QString::fromStdString(gltest::picturePath("colour-by-" + name + ".png")));
    }

    // Calibrated fluctuations: the map is what the B-factors are fitted to.
    choose(ColourBy::Fluctuation);
    double predicted = 0.0, measured = 0.0;
    for (int i = 0; i < 46; ++i) {
        predicted += kEightPiSquared / 3.0 * colouring.map()->values[static_cast<std::size_t>(i)];
        measured += eln.getAtom(i)->getMyBFactor();
    }
    EXPECT_NEAR(predicted, measured, 1e-6 * measured);

    // A residue highlighted in green stays green on the map.
    prompts.queueColour(Rgb8{0, 255, 0});
    auto* residue = window.findChild<QLineEdit*>("residueBox");
    residue->setText("10");
    QTest::mouseClick(window.findChild<QPushButton*>("performSearch"), Qt::LeftButton);
    EXPECT_EQ(colourOf(9), Vector3d(0, 1, 0));

    // A mode the network does not hold: refused, and back to None.
    window.findChild<QSpinBox*>("colourByMode")->setValue(5000);
    choose(ColourBy::ModeShape);
    EXPECT_EQ(colouring.map(), nullptr);
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_EQ(results->text(), "Cannot colour by Mode shape: mode 5000 is not held");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !legend.isVisible(); }, 5000));
    EXPECT_EQ(colourOf(0), kPlainNodeColour);
}

// View > Plots on 1crn: the four pages drawn from the network, each exported as PNG, SVG and CSV;
// a click on a point of a profile highlights its node in the view, and a click on a row of the
// response map colours the view by the response to a push there.
TEST(Window, PlotsShowTheNumbersAndClicksReachTheView)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    const std::unique_ptr<Form1> shown = shownWindow("1crn.pdb", false);
    ASSERT_TRUE(shown);
    Form1& window = *shown;
    const FormControls& c = window.controls();
    ASSERT_TRUE(c.plots->isEnabled());
    c.plots->trigger();
    PlotsWindow& plots = window.plots();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plots));
    const ElasticNetworkModel& eln = *window.workbench().network();

    // The B-factor page: r as vornax-enm fluct gives it, K and S.
    std::string why;
    const std::optional<NodeMap> fluct = nodeMap(eln, ColourBy::Fluctuation, 0, why);
    ASSERT_TRUE(fluct);
    std::vector<double> b;
    for (int i = 0; i < 46; ++i) b.push_back(eln.getAtom(i)->getMyBFactor());
    EXPECT_TRUE(plots.bFactorSummary().startsWith("r = " + QString::number(pearsonCorrelation(fluct->values, b), 'f', 3)
                                                  + "; K = "))
        << plots.bFactorSummary().toStdString();
    vornax::testing::TempDir folder;
    for (const PlotsWindow::Plot plot : PlotsWindow::kPlots) {
        SCOPED_TRACE(PlotsWindow::name(plot));
        plots.pages()->setCurrentIndex(static_cast<int>(plot));
        EXPECT_FALSE(plots.chartView(plot)->chart()->series().isEmpty());
        for (const char* ending : {".png", ".svg", ".csv"}) {
            const std::filesystem::path out = folder.path() / (std::string(PlotsWindow::name(plot)) + ending);
            std::string error;
            ASSERT_TRUE(plots.exportPlot(plot, out, error)) << error;
            EXPECT_GT(std::filesystem::file_size(out), 100u);
        }
        const std::string csv =
            vornax::testing::readWholeFile(folder.path() / (std::string(PlotsWindow::name(plot)) + ".csv"));
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), plot == PlotsWindow::Plot::Eigenvalues ? 51 : 47)
            << csv.substr(0, 80);
        plots.grab().save(
            QString::fromStdString(gltest::picturePath(std::string("plot-") + PlotsWindow::name(plot) + ".png")));
    }
    std::string error;
    EXPECT_FALSE(plots.exportPlot(PlotsWindow::Plot::BFactors, folder.path() / "b.txt", error));
    EXPECT_EQ(error, "a plot is written as .png, .svg or .csv, not \".txt\"");

    // A click on the fifth point of the displacement profile (node 4).
    plots.pages()->setCurrentIndex(static_cast<int>(PlotsWindow::Plot::Displacement));
    QChartView* view = plots.chartView(PlotsWindow::Plot::Displacement);
    auto* series = static_cast<QLineSeries*>(view->chart()->series().front());
    const QPoint at = view->mapFromScene(view->chart()->mapToPosition(series->at(4), series));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(eln.getAtom(4)->getMyResidueColour(), Vector3d(1, 1, 0));

    // A click on row 10 of the response map.
    plots.pages()->setCurrentIndex(static_cast<int>(PlotsWindow::Plot::Response));
    QLabel* heat = plots.heatMap();
    QTest::mouseClick(heat, Qt::LeftButton, {}, QPoint(5, static_cast<int>((10.5 / 46.0) * heat->height())));
    const NodeMap* map = window.workbench().colouring().map();
    ASSERT_NE(map, nullptr);
    const Atom* pushed = eln.getAtom(10);
    EXPECT_EQ(map->title,
              "Response to " + pushed->getResidueName() + " " + pushed->getResidue() + " " + pushed->getChainID());
    EXPECT_EQ(map->values[10], 1.0) << "a node's response to itself is the row's scale";
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.mapLegend().isVisible(); }, 5000));
    plots.close();
}

namespace {

/// What a session brings back, as the window shows it.
struct SessionView {
    std::vector<SessionForce> forces;
    QStringList applied; ///< the lines of "Applied Forces", sorted
    std::array<bool, 20> modes{};
    int slider = 0;
    bool saveForces = false;
    SessionWorkspace workspace;
    std::vector<Vector3d> positions;
};

SessionView sessionView(Form1& window)
{
    SessionView v;
    const ElasticNetworkModel& eln = *window.workbench().network();
    const FormControls& c = window.controls();
    v.forces = eln.deformation().keptForces();
    v.applied = c.appliedForcesTextBox->toPlainText().split('\n', Qt::SkipEmptyParts);
    v.applied.sort();
    for (std::size_t i = 0; i < 20; ++i) v.modes[i] = c.modeArray[i]->isChecked();
    v.slider = c.forceMagSlider->value();
    v.saveForces = c.saveForces->isChecked();
    EXPECT_TRUE(window.workbench().writeWorkspace(v.workspace));
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) v.positions.push_back(eln.deformation().getDeformedPosition(i));
    return v;
}

/// The largest distance between the nodes' deformed positions and `want`, in Å.
double largestShift(const Form1& window, const std::vector<Vector3d>& want)
{
    const ElasticNetworkModel& eln = *window.workbench().network();
    double largest = 0;
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i)
        largest = std::max(largest, 0.1 * eln.deformation().getDeformedPosition(i).euclideanDistance(want[static_cast<std::size_t>(i)]));
    return largest;
}

/// A window loading nothing, with the virtual device and scripted questions.
std::unique_ptr<Form1> sessionWindow(LoadDialogs& load, SessionDialogs& sessions, const std::string& hdv = {},
                                     const std::string& ppy = {})
{
    WindowOptions options;
    options.file = hdv;
    options.ppy = ppy;
    options.loadChoice = load::EigenFiles;
    options.dialogs = &load;
    options.sessionDialogs = &sessions;
    auto window = std::make_unique<Form1>(options);
    window->resize(1024, 768);
    window->show();
    return window;
}

} // namespace

TEST(Window, ASessionComesBackAsItWasSavedAndUndoTakesItsForcesOut)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    VirtualDeviceChoice choice;
    vornax::testing::TempDir folder;
    {
        // 4hhb's eigen data files, from a load that computes them.
        WindowOptions options = optionsFor("4hhb.pdb");
        options.saveDir = folder.path();
        Form1 window(options);
        window.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.loaded(); }, 180000));
    }
    const std::string hdv = (folder.path() / "4HHB.hdv").string(), ppy = (folder.path() / "4HHB.ppy").string();
    const std::string saved = (folder.path() / "pulled.vsf").string();
    ScriptedLoadDialogs load;
    ScriptedSessionDialogs sessions;
    SessionView before;
    {
        const auto window = sessionWindow(load, sessions, hdv, ppy);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->loaded(); }, 120000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->mouseStylus().isActive(); }, 5000));
        const FormControls& c = window->controls();
        for (const int box : {0, 2, 4}) c.modeArray[static_cast<std::size_t>(box)]->setChecked(true);
        c.forceMagSlider->setValue(15);
        c.saveForces->setChecked(true);
        const std::vector<int> nodes = frontNodes(*window);
        ASSERT_GE(nodes.size(), 2u);
        int second = -1;
        for (std::size_t k = 1; k < nodes.size() && second < 0; ++k)
            if (std::abs(nodes[k] - nodes[0]) > 2) second = nodes[k];
        for (const int node : {nodes[0], second}) {
            pull(*window, node);
            // Kept (the step after the release has run), and the list redrawn since: the list
            // may have been drawn during the pull too, when the stylus left a node it touched.
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    return window->workbench().network()->getAtom(node)->getPressed() == 3
                        && !window->workbench().network()->getNeedsListUpdate() && listed(*window, node);
                },
                5000));
        }
        // The stylus left beside the front nodes may be outside the navigation cube, which
        // moves the workspace on every tick while translation is on: the user switches it off
        // so that what is saved is what is read here.
        c.hapticsTranslate->setChecked(false);
        window->workbench().device()->mouseDownRotate(300, 300);
        window->workbench().device()->updateMoleculePosition(360, 330);
        QTest::qWait(300);
        before = sessionView(*window);
        ASSERT_EQ(before.forces.size(), 2u);
        sessions.queueSaveFile(saved);
        c.saveSession->trigger();
        ASSERT_EQ(sessions.requests.size(), 1u);
        EXPECT_EQ(sessions.requests[0].folder, QDir::homePath().toStdString());
        ASSERT_TRUE(std::filesystem::exists(saved));
        EXPECT_EQ(std::filesystem::file_size(saved), 244u + 2u * 112u + 28u + 4u); // and the trailer naming 4HHB
        window->close();
    }

    const auto window = sessionWindow(load, sessions);
    const FormControls& c = window->controls();
    auto open = [&](const std::string& file, std::optional<std::vector<std::string>> eigen) {
        sessions.queueFiles(std::vector<std::string>{file});
        if (eigen) sessions.queueFiles(eigen);
        c.openSession->trigger();
    };
    {
        SCOPED_TRACE("files that are not whole sessions: refused before anything is loaded");
        const std::string whole = vornax::testing::readWholeFile(saved);
        std::string random(244 + 112, '\0');
        for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 7919u) >> 3);
        const std::vector<std::pair<std::string, std::string>> bad = {
            {"truncated.vsf", whole.substr(0, whole.size() - 1)},
            {"padded.vsf", whole + std::string(112, '\0')},
            {"random.vsf", random},
        };
        std::vector<std::string> files{vornax::testing::findPdb("1crn.pdb").string()};
        for (const auto& [name, bytes] : bad) {
            files.push_back((folder.path() / name).string());
            std::ofstream(files.back(), std::ios::binary) << bytes;
        }
        for (const std::string& file : files) {
            const std::size_t asked = sessions.requests.size();
            open(file, std::nullopt);
            EXPECT_EQ(sessions.requests.size(), asked + 1) << file << ": no eigen data files are asked for";
            EXPECT_FALSE(window->loading() || window->loaded()) << file;
        }
        EXPECT_EQ(prompts.countMessages("is not a session file"), 4);
    }
    {
        SCOPED_TRACE("the eigen data files' dialog cancelled, then a session of another structure");
        sessions.queueFiles(std::vector<std::string>{saved});
        c.openSession->trigger();
        EXPECT_FALSE(window->loading() || window->loaded());
        std::string error;
        std::optional<SessionData> other = readSessionFile(saved, error);
        ASSERT_TRUE(other) << error;
        ASSERT_TRUE(other->structure);
        other->structure->rc = 8.0f; // 4HHB's network at another cutoff
        other->structure->fingerprint ^= 1;
        const std::string misfit = (folder.path() / "other.vsf").string();
        ASSERT_TRUE(writeSessionFile(misfit, *other, error)) << error;
        bool ended = false;
        QObject scope; // the connection ends with this block, before `ended` goes
        QObject::connect(window.get(), &Form1::loadEnded, &scope, [&](bool ok, const QString&) { ended = !ok; });
        open(misfit, std::vector<std::string>{hdv, ppy});
        ASSERT_TRUE(QTest::qWaitFor([&] { return ended; }, 120000));
        EXPECT_TRUE(window->sessionRefused());
        EXPECT_FALSE(window->loaded());
        EXPECT_EQ(prompts.countMessages("Rc 8 Å), not on the chosen eigen data files' 4HHB"), 1);
        EXPECT_TRUE(c.openSession->isEnabled());
    }

    open(saved, std::vector<std::string>{hdv, ppy});
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->loaded(); }, 120000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return largestShift(*window, before.positions) < 1e-5; }, 5000))
        << largestShift(*window, before.positions);
    const SessionView after = sessionView(*window);
    EXPECT_EQ(after.forces, before.forces);
    EXPECT_EQ(after.applied, before.applied);
    EXPECT_EQ(after.modes, before.modes);
    EXPECT_EQ(after.slider, 15);
    EXPECT_TRUE(after.saveForces);
    EXPECT_EQ(after.workspace, before.workspace);
    EXPECT_NE(after.workspace.thisRotation, SessionWorkspace().thisRotation) << "the workspace was turned";

    // Undo takes the last restored force out: the deformation is that of the other alone. (The
    // button's page opens when the stylus first enters the workspace; its handler is called.)
    EXPECT_TRUE(c.undoSelection->testAttribute(Qt::WA_ForceDisabled) == false);
    window->logic().undoLastForce();
    const ElasticNetworkModel& eln = *window->workbench().network();
    const SessionForce& other = before.forces[0];
    const double f[3] = {other.force.x, other.force.y, other.force.z};
    std::vector<double> response(static_cast<std::size_t>(eln.get3N()));
    const_cast<ElasticNetworkModel&>(eln).deformation().computeResponse(f, other.node, other.modeState[0], other.modeState[1],
                                                           other.modeState.data() + 2, response.data());
    std::vector<Vector3d> alone;
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) {
        const auto k = static_cast<std::size_t>(3 * i);
        alone.push_back(eln.getAtom(i)->getMyLocalPosition()
                        + Vector3d(static_cast<float>(10 * response[k]), static_cast<float>(10 * response[k + 1]),
                                   static_cast<float>(10 * response[k + 2])));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return largestShift(*window, alone) < 1e-5; }, 5000))
        << largestShift(*window, alone);
    EXPECT_EQ(eln.deformation().keptForces().size(), 1u);
    EXPECT_EQ(c.appliedForcesTextBox->toPlainText().split('\n', Qt::SkipEmptyParts).size(), 1);
    window->close();
}

// A structure is pulled on its lowest modes while every mode is computed in the background;
// when they are ready they take over without moving the picture, and "Save As" writes what
// vornax-enm deform gives with every mode.
TEST(Window, PullFirstThenEveryModeTakesOverWithoutAJump)
{
    REQUIRE_DISPLAY();
    console::Capture capture;
    VirtualDeviceChoice choice;
    vornax::testing::TempDir folder;
    const std::filesystem::path saved = folder.path() / "pulled.pdb", deformed = folder.path() / "deformed.pdb";
    std::promise<void> go;
    std::shared_future<void> released = go.get_future().share();
    WindowOptions options = optionsFor("1crn.pdb");
    options.openDevice = true;
    options.pullFirstNodes = 10;
    options.everyModeStarts = [released] { released.wait(); };
    std::vector<Vector3d> kept;
    int node = -1;
    std::string route; // the kept force's, for a failure's message
    {
        Form1 window(options);
        window.resize(1024, 768);
        window.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.loaded(); }, 30000)) << window.statusText().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.mouseStylus().isActive(); }, 5000));
        ElasticNetworkModel& eln = *window.workbench().network();
        EXPECT_TRUE(eln.modes().isSparse());
        EXPECT_TRUE(window.statusText().contains("46 nodes, 20 modes (the lowest modes; every mode is being computed)"))
            << window.statusText().toStdString();

        window.findChild<QCheckBox*>("saveForces")->setChecked(true);
        node = frontNodes(window).at(0);
        pull(window, node);
        ASSERT_TRUE(QTest::qWaitFor([&] { return listed(window, node) && eln.getAtom(node)->getPressed() == 3; }, 3000));
        QTest::qWait(100);
        std::vector<Vector3d> before;
        for (int i = 0; i < eln.getAmountOfAtoms(); ++i) before.push_back(eln.deformation().getDeformedPosition(i));

        go.set_value();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !eln.modes().isSparse(); }, 60000)) << window.statusText().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.statusText().contains("46 nodes, 132 modes"); }, 5000))
            << window.statusText().toStdString();
        EXPECT_FALSE(window.statusText().contains("lowest")) << window.statusText().toStdString();
        EXPECT_TRUE(eln.modes().getYMatrix());
        QTest::qWait(200);
        for (int i = 0; i < eln.getAmountOfAtoms(); ++i)
            EXPECT_LT(eln.deformation().getDeformedPosition(i).euclideanDistance(before[static_cast<std::size_t>(i)]), 1e-4f) << i;

        saveAsFromTheMenu(window, QString::fromStdString(saved.string()));
        ASSERT_TRUE(std::filesystem::exists(saved));
        deformThroughCli(eln, {node}, deformed);
        const auto state = eln.getAtom(node)->getStateArray();
        route = "route " + std::to_string(state[0]) + ", " + std::to_string(state[1]) + " modes";
        window.close();
    }
    expectSameDeformedStructure(saved, deformed, route);
}

// "&Open" and "Open &Session" at any time: 1crn with a force kept, then 4hhb opened over it (the
// user is asked first whether to save 1crn's session, and saves it), then that session opened
// over 4hhb. Each structure replaces the one before: its simulation and device stop, the new
// one's start, and the recent files list all three, newest first.
TEST(Window, AnyStructureOpensAtAnyTimeReplacingTheOneShown)
{
    REQUIRE_DISPLAY();
    const std::filesystem::path haemoglobin = vornax::testing::findPdb("4hhb.pdb");
    if (haemoglobin.empty()) GTEST_SKIP() << "4hhb.pdb is not available";
    console::Capture capture;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    VirtualDeviceChoice choice;
    vornax::testing::TempDir folder;
    ScriptedLoadDialogs load;
    ScriptedSessionDialogs sessions;
    WindowOptions options = optionsFor("1crn.pdb");
    options.openDevice = true;
    options.saveDir = folder.path();
    options.dialogs = &load;
    options.sessionDialogs = &sessions;
    options.profileFolder = folder.path();
    Form1 window(options);
    window.resize(1024, 768);
    window.show();
    const FormControls& c = window.controls();
    auto shot = [&](const char* name) {
        QTest::qWait(300);
        window.grab().save(QString::fromStdString(gltest::picturePath(name)));
    };

    ASSERT_TRUE(QTest::qWaitFor([&] { return window.loaded(); }, 120000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.mouseStylus().isActive(); }, 5000));
    EXPECT_TRUE(c.openToolStripMenuItem->isEnabled());
    EXPECT_TRUE(c.openSession->isEnabled());
    c.saveForces->setChecked(true);
    const std::vector<int> nodes = frontNodes(window);
    ASSERT_FALSE(nodes.empty());
    pull(window, nodes[0]);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.workbench().network()->getAtom(nodes[0])->getPressed() == 3 && listed(window, nodes[0]); },
        5000));
    ASSERT_EQ(window.workbench().network()->deformation().keptForces().size(), 1u);
    shot("open-any-time-1crn.png");

    // 4hhb over it: asked first, and the session saved.
    const std::string session = (folder.path() / "1crn-pulled.vsf").string();
    sessions.queueSaveFile(session);
    load.queueChoice(load::PdbFile);
    load.queueFiles(std::vector<std::string>{haemoglobin.string()});
    load.queueCutoff({"11"});
    load.queueFolder(std::string()); // no eigen data files
    c.openToolStripMenuItem->trigger();
    EXPECT_EQ(prompts.countMessages("Save its session first?"), 1);
    ASSERT_TRUE(std::filesystem::exists(session));
    EXPECT_EQ(std::filesystem::file_size(session), 244u + 112u + 28u + 4u);
    EXPECT_TRUE(window.loading());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.loaded() && window.workbench().network()->getAmountOfAtoms() == 576; },
                                180000));
    EXPECT_EQ(window.windowTitle(), "Vornax - PDB code: 4HHB");
    EXPECT_TRUE(window.workbench().network()->deformation().keptForces().empty());
    EXPECT_TRUE(window.workbench().simulationRunning());
    EXPECT_NE(window.workbench().device(), nullptr);
    EXPECT_TRUE(c.appliedForcesTextBox->toPlainText().trimmed().isEmpty()) << "1crn's forces are not listed";
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.mouseStylus().isActive(); }, 5000));
    shot("open-any-time-4hhb.png");

    // The session over 4hhb, which keeps no force: nothing is asked.
    sessions.queueFiles(std::vector<std::string>{session});
    sessions.queueFiles(std::vector<std::string>{(folder.path() / "1CRN.hdv").string(),
                                                 (folder.path() / "1CRN.ppy").string()});
    c.openSession->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.loaded() && window.workbench().network()->getAmountOfAtoms() == 46; },
                                120000));
    EXPECT_EQ(prompts.countMessages("Save its session first?"), 1);
    EXPECT_EQ(window.workbench().network()->deformation().keptForces().size(), 1u);
    EXPECT_TRUE(window.workbench().simulationRunning());
    EXPECT_EQ(window.windowTitle(), "Vornax - PDB code: 1CRN");
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed(window, nodes[0]); }, 5000));
    shot("open-any-time-session.png");

    // Dropped on the window: a text file is not taken; 1crn's main eigen data file is, the user
    // first cancelling at the question, then declining to save the session.
    auto drop = [&](const std::string& file) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(&window, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(&window, &dropped);
        QTest::qWait(100); // the opening follows the drop
        return true;
    };
    const std::string hdv = (folder.path() / "1CRN.hdv").string();
    EXPECT_FALSE(drop((folder.path() / "notes.txt").string()));
    prompts.queueAnswer(MessageAnswer::Cancel);
    ASSERT_TRUE(drop(hdv));
    EXPECT_EQ(prompts.countMessages("Save its session first?"), 2);
    EXPECT_FALSE(window.loading());
    EXPECT_EQ(window.workbench().network()->deformation().keptForces().size(), 1u) << "cancelled: the structure stays";
    prompts.queueAnswer(MessageAnswer::No);
    ASSERT_TRUE(drop(hdv));
    EXPECT_EQ(prompts.countMessages("Save its session first?"), 3);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !window.loading() && window.loaded() && window.workbench().network()->deformation().keptForces().empty(); },
        120000));
    EXPECT_EQ(window.workbench().network()->getAmountOfAtoms(), 46);

    const std::vector<std::string> recent{hdv, session, haemoglobin.string(),
                                          vornax::testing::findPdb("1crn.pdb").string()};
    EXPECT_EQ(window.recentFiles().files(), recent);
    EXPECT_EQ(c.openRecent->actions().size(), 4);
    EXPECT_TRUE(c.openRecent->isEnabled());

    // A file of no kind the window opens is refused by name, and nothing changes.
    window.openPath("/tmp/notes.txt");
    EXPECT_FALSE(window.loading());
    EXPECT_TRUE(window.statusText().contains("notes.txt is not a structure")) << window.statusText().toStdString();
    window.close();
}
