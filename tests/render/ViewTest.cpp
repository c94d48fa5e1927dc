// The 3-D view in a real GL context: the idle scene, the camera, the stereo set-up, a loaded
// network's frame and the contact highlight.
#include "GLTestContext.h"

#include "common/Console.h"
#include "enm/Pipeline.h"
#include "haptics/Haptics.h"
#include "haptics/Workbench.h"
#include "molecule/Atom.h"
#include "molecule/FileHandle.h"
#include "molecule/SessionFile.h"
#include "molecule/SuperAtom.h"
#include "render/COpenGL.h"
#include "render/GLHeaders.h"
#include "render/IdleAnimation.h"
#include "render/StereoOptions.h"
#include "support/TestData.h"

#include "enm/io/NetworkFileHandle.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

using namespace vornax;

namespace {

constexpr int kWidth = 320, kHeight = 240;

/// Pixels inside the central `fraction` of the picture for which `match` holds.
int countPixels(const QImage& image, const std::function<bool(QColor)>& match, double fraction = 1.0)
{
    const int x0 = static_cast<int>(image.width() * (1 - fraction) / 2), x1 = image.width() - x0;
    const int y0 = static_cast<int>(image.height() * (1 - fraction) / 2), y1 = image.height() - y0;
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += match(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool notBackground(QColor c) { return c.red() < 245 || c.green() < 245 || c.blue() < 245; }

/// 1CRN loaded through the pipeline, every mode kept, ready for the view.
struct LoadedCrambin {
    LoadResult load;
    Vector3d maxPos, minPos, mid;
    std::vector<Atom*> atoms;

    LoadedCrambin()
    {
        LoadOptions options;
        options.keepAllModes = true;
        options.computeY = false;
        load = runLoadPipeline(StructureSource::pdbFile(vornax::testing::findPdb("1crn.pdb")), options);
        if (!load.ok()) return;
        maxPos = load.reader->findMaxCoord();
        minPos = load.reader->findMinCoord();
        mid = load.reader->getMidPoint();
        atoms = load.atoms.list();
    }
    bool ok() const { return load.ok(); }
};

void frame(COpenGL& view, int count = 1);

/// Hands 1CRN to the view's workbench the way the window does after a load: the idle scene has
/// been drawn before.
void handOver(COpenGL& view, LoadedCrambin& crambin)
{
    frame(view);
    Workbench& bench = view.workbench();
    bench.handOver(std::move(crambin.load.network), crambin.atoms, Placement::around(crambin.maxPos, crambin.mid));
    bench.start();
    view.resetALL();
}

void frame(COpenGL& view, int count)
{
    for (int i = 0; i < count; ++i) {
        view.Idle();
        view.Render_ELNET_Backbone();
        view.SwapOpenGLBuffers();
    }
}

/// A device object of a given model (its parameters are the model's defaults otherwise).
class ModelDevice : public Haptics {
public:
    explicit ModelDevice(int32_t model) : Haptics({}, kWidth, kHeight) { deviceParameters.deviceModel = model; }
};

/// A device object that reports a chosen atom under the stylus.
class TouchingDevice : public Haptics {
public:
    explicit TouchingDevice(Atom* atom) : Haptics({}, kWidth, kHeight), m_atom(atom) {}
    Atom* getCurrentAtom() override { return m_atom; }

private:
    Atom* m_atom;
};

} // namespace

TEST(View, IdleSceneDrawsTheTurningChain)
{
    gltest::GLTestContext gl(kWidth, kHeight);
    VORNAX_REQUIRE_CONTEXT(gl);
    Workbench bench;
    COpenGL view(bench, kWidth, kHeight, 1.52f);
    EXPECT_FALSE(bench.loaded());
    frame(view);
    const QImage first = gl.read();
    gl.savePng(gltest::picturePath("idle.png"));

    // Lit beads in the chain's colours on the white background, in the middle of the view.
    EXPECT_GT(countPixels(first, notBackground, 0.6), 2000);
    EXPECT_EQ(countPixels(first, notBackground, 1.0) - countPixels(first, notBackground, 0.9), 0)
        << "the scene stays clear of the edges";
    EXPECT_GT(countPixels(first, [](QColor c) { return c.blue() > 150 && c.red() < 90; }), 50) << "blue start";
    EXPECT_GT(countPixels(first, [](QColor c) { return c.red() > 150 && c.blue() < 90 && c.green() < 120; }), 50)
        << "red end";

    // It moves: a quarter of the loop later the picture differs.
    view.idleAnimation().advance(IdleAnimation::kLoopMilliseconds / 4);
    frame(view);
    const QImage later = gl.read();
    int changed = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) changed += first.pixel(x, y) != later.pixel(x, y) ? 1 : 0;
    EXPECT_GT(changed, 500);
}

TEST(View, IdleAnimationKeepsItsTimeWithinTheLoop)
{
    IdleAnimation a;
    a.advance(-5.0);
    a.advance(std::nan(""));
    EXPECT_EQ(a.elapsed(), 0.0);
    a.advance(IdleAnimation::kLoopMilliseconds * 2.5);
    EXPECT_NEAR(a.elapsed(), IdleAnimation::kLoopMilliseconds * 0.5, 1e-6);
    for (const Vector3d& p : a.beads()) EXPECT_LE(p.size(), 1.0f);
    EXPECT_GT(IdleAnimation::beadColour(0).z, 0.7f);
    EXPECT_GT(IdleAnimation::beadColour(IdleAnimation::kBeads - 1).x, 0.7f);
}

TEST(View, ConstructionAndDisposalWriteTheirConsoleLines)
{
    gltest::GLTestContext gl(kWidth, kHeight);
    VORNAX_REQUIRE_CONTEXT(gl);
    console::Capture capture;
    {
        Workbench bench;
        COpenGL view(bench, kWidth, kHeight, 1.52f);
        EXPECT_FLOAT_EQ(SuperAtom::getHapticRadius(), 15.2f);
        const std::string glsl = view.isShaderEnabled() ? "GLSL is Enabled" : "GLSL Cannot Be Enabled";
        bool coloured = false;
        for (const auto& [attribute, text] : capture.lines()) coloured |= text == glsl && attribute == 14;
        EXPECT_TRUE(coloured) << glsl << " in colour 14";
        EXPECT_TRUE(capture.contains("Checks Complete."));
        capture.clear();
    }
    std::vector<std::string> lines;
    for (const std::string& text : capture.texts())
        if (text.find("OpenGL") != std::string::npos || text.find("handle") != std::string::npos) lines.push_back(text);
    const std::vector<std::string> expected = {"deleting OpenGL", "handle destroyed", "finished deleting OpenGL"};
    EXPECT_EQ(lines, expected);
}

TEST(View, CameraResetZoomAndEasing)
{
    gltest::GLTestContext gl(kWidth, kHeight);
    VORNAX_REQUIRE_CONTEXT(gl);
    Workbench bench;
    COpenGL view(bench, kWidth, kHeight, 1.52f);

    struct Case {
        int model;
        float camera;
        bool notPremiumLine;
    };
    for (const Case c : {Case{2, 866.0f, false}, Case{1, 266.0f, true}, Case{0, 266.0f, true}}) {
        // The camera follows the last device opened, after it has closed too.
        bench.adoptDevice(std::make_unique<ModelDevice>(c.model));
        bench.adoptDevice(nullptr);
        console::Capture capture;
        view.resetALL();
        EXPECT_EQ(view.getCurrentCamZ(), c.camera) << "model " << c.model;
        EXPECT_EQ(view.getNewCamZ(), c.camera) << "model " << c.model;
        EXPECT_EQ(capture.contains("NOT PREMIUM. Adjusting camera accordingly..."), c.notPremiumLine);
    }

    // Zooming in stops one step before the camera would reach the molecule's plane.
    for (int i = 0; i < 100; ++i) view.scrollUpView();
    const float closest = view.getNewCamZ();
    EXPECT_GT(closest, 0.0f);
    EXPECT_LE(closest, COpenGL::kZoomStep);
    view.scrollUpView();
    EXPECT_EQ(view.getNewCamZ(), closest);

    // The easing lands exactly on the target, never overshooting, in about 35 frames at 80 fps
    // and in proportionally fewer at lower rates.
    for (const auto& [rate, maxFrames] : {std::pair{80, 37}, std::pair{40, 19}, std::pair{20, 10}}) {
        view.resetALL();
        view.setLastFrameTime(rate);
        view.scrollUpView();
        view.scrollUpView();
        const float target = view.getNewCamZ();
        int frames = 0;
        while (view.getCurrentCamZ() != target && frames < 200) {
            view.Idle();
            ++frames;
            EXPECT_GE(view.getCurrentCamZ(), target) << "overshoot at " << rate << " fps";
        }
        EXPECT_EQ(view.getCurrentCamZ(), target) << rate << " fps";
        EXPECT_LE(frames, maxFrames) << rate << " fps";
        EXPECT_GE(frames, maxFrames / 2) << rate << " fps";
    }

    // Zooming out from the reset distance.
    view.resetALL();
    view.scrollDownView();
    EXPECT_FLOAT_EQ(view.getNewCamZ(), 266.0f + COpenGL::kZoomStep);

    EXPECT_NEAR(COpenGL::nearPlane(), 2.7474774, 1e-6);
    EXPECT_NEAR(view.getAspect(), static_cast<double>(kWidth) / kHeight, 1e-12);

    // A smaller picture on the same surface keeps to its top edge.
    view.ReSizeGLScene(200, 100);
    GLint box[4] = {};
    glGetIntegerv(GL_VIEWPORT, box);
    EXPECT_EQ(std::vector<GLint>(box, box + 4), (std::vector<GLint>{0, kHeight - 100, 200, 100}));
    EXPECT_EQ(view.getScreenWidth(), 200);
    EXPECT_EQ(view.getScreenHeight(), 100);
    EXPECT_DOUBLE_EQ(view.getAspect(), 2.0);
    EXPECT_DOUBLE_EQ(view.getFarDist() - view.getNearDist(), 18000.0);
}

TEST(View, StereoIsRefusedWithoutStereoBuffersAndTheOptionsFollowTheSlider)
{
    gltest::GLTestContext gl(kWidth, kHeight);
    VORNAX_REQUIRE_CONTEXT(gl);
    Workbench bench;
    COpenGL view(bench, kWidth, kHeight, 1.52f);
    // Xvfb offers no quad-buffer stereo: the view stays mono and still draws.
    EXPECT_FALSE(view.getStereoSupport());
    StereoOptions options(view);
    EXPECT_FALSE(options.enabled());
    options.quadBufferToggled(true);
    EXPECT_FALSE(view.is3DMode());
    frame(view);
    EXPECT_GT(countPixels(gl.read(), notBackground), 1000);

    EXPECT_EQ(options.separationLabel(), "Eye Seperation: 5");
    EXPECT_EQ(view.getEyeSeperation(), 5.0f);
    struct Step {
        std::function<void()> act;
        const char* label;
        float separation;
    };
    const Step steps[] = {
        {[&] { options.sliderMoved(73); }, "Eye Seperation: 7.3", 7.3f},
        {[&] { options.swapEyesToggled(true); }, "Eye Seperation: 7.3", -7.3f},
        {[&] { options.sliderMoved(120); }, "Eye Seperation: 12", -12.0f}, // stays swapped
        {[&] { options.swapEyesToggled(false); }, "Eye Seperation: 12", 12.0f},
        {[&] { options.sliderMoved(500); }, "Eye Seperation: 20", 20.0f},
        {[&] { options.sliderMoved(-3); }, "Eye Seperation: 0", 0.0f},
    };
    for (const Step& s : steps) {
        s.act();
        EXPECT_EQ(options.separationLabel(), s.label);
        EXPECT_FLOAT_EQ(view.getEyeSeperation(), s.separation) << s.label;
    }
}

TEST(View, ContactHighlightIsNotDrawnForASelectedAtom)
{
    gltest::GLTestContext gl(kWidth, kHeight);
    VORNAX_REQUIRE_CONTEXT(gl);
    LoadedCrambin crambin;
    ASSERT_TRUE(crambin.ok()) << crambin.load.message;
    Workbench bench;
    COpenGL view(bench, kWidth, kHeight, 1.52f);
    Atom* atom = crambin.load.network->getAtom(10);
    bench.adoptDevice(std::make_unique<TouchingDevice>(atom));
    handOver(view, crambin);

    struct Case {
        bool inContact, selected, showing, drawn;
    };
    for (const Case c : {Case{true, false, true, true}, Case{true, true, true, false}, Case{false, false, true, false},
                         Case{true, false, false, false}}) {
        atom->setContact(c.inContact);
        atom->setSelected(c.selected);
        view.showSelectedAtoms(c.showing);
        frame(view);
        EXPECT_EQ(view.drewContactHighlight(), c.drawn)
            << "contact " << c.inContact << " selected " << c.selected << " showing " << c.showing;
    }
}

TEST(View, SessionForceIsReappliedToTheNamedAtomOnly)
{
    gltest::GLTestContext gl(kWidth, kHeight);
    VORNAX_REQUIRE_CONTEXT(gl);
    LoadedCrambin crambin;
    ASSERT_TRUE(crambin.ok()) << crambin.load.message;
    Workbench bench;
    COpenGL view(bench, kWidth, kHeight, 1.52f);
    handOver(view, crambin);
    ElasticNetworkModel* eln = bench.network();
    std::array<int32_t, 22> modes{};
    modes[0] = 2;

    for (const int32_t bad : {-1, eln->getAmountOfAtoms(), 1 << 30})
        EXPECT_FALSE(bench.restoreKeptForce(SessionForce{bad, Vector3d(1, 0, 0), 1.0f, 1.0f, modes})) << bad;
    EXPECT_TRUE(eln->getContactList().empty());

    ASSERT_TRUE(bench.restoreKeptForce(SessionForce{5, Vector3d(0.0f, 2.0f, 0.0f), 2.0f, 1.0f, modes}));
    Atom* atom = eln->getAtom(5);
    EXPECT_TRUE(atom->isSelected());
    // Kept, as a released pull is: idle, with the force it keeps.
    EXPECT_EQ(atom->getPressed(), 3);
    EXPECT_EQ(atom->getOLDKcalForce(), Vector3d(0.0f, 2.0f, 0.0f));
    ASSERT_EQ(eln->getContactList().size(), 1u);
    EXPECT_EQ(eln->getContactList()[0], atom);
    double moved = 0.0;
    for (double d : eln->deformation().getDisplacement()) moved += std::fabs(d);
    EXPECT_GT(moved, 0.0) << "the kept force deforms the network";
}

/// The nodes' extent on the screen (low x, low y, high x, high y) after one frame, from the
/// matrices the frame saved.
std::array<double, 4> screenExtent(COpenGL& view)
{
    frame(view);
    const ElasticNetworkModel& eln = *view.workbench().network();
    const ViewTransforms saved = view.frameTransforms();
    const auto &mv = saved.modelView, &pr = saved.projection;
    const auto& vp = saved.viewport;
    const Vector3d t = view.workbench().translation() - view.workbench().placement().centre;
    double lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};
    for (int32_t i = 0; i < eln.getAmountOfAtoms(); ++i) {
        const Vector3d p = eln.getAtom(i)->getMyLocalPosition() + t;
        double x = 0, y = 0, z = 0;
        EXPECT_EQ(gluProject(p.x, p.y, p.z, mv.data(), pr.data(), vp.data(), &x, &y, &z), GL_TRUE);
        EXPECT_GT(z, 0.0);
        EXPECT_LT(z, 1.0);
        lo[0] = std::min(lo[0], x), hi[0] = std::max(hi[0], x);
        lo[1] = std::min(lo[1], y), hi[1] = std::max(hi[1], y);
    }
    return {lo[0], lo[1], hi[0], hi[1]};
}

void expectCentredInView(const std::array<double, 4>& e)
{
    EXPECT_GE(e[0], 0.0);
    EXPECT_GE(e[1], 0.0);
    EXPECT_LE(e[2], kWidth);
    EXPECT_LE(e[3], kHeight);
    EXPECT_NEAR((e[0] + e[2]) / 2, kWidth / 2.0, kWidth * 0.1);
    EXPECT_NEAR((e[1] + e[3]) / 2, kHeight / 2.0, kHeight * 0.1);
    EXPECT_GT(e[3] - e[1], kHeight * 0.3) << "the molecule fills a good part of the view";
}

TEST(View, LoadedMoleculeProjectsIntoTheMiddleOfTheView)
{
    gltest::GLTestContext gl(kWidth, kHeight);
    VORNAX_REQUIRE_CONTEXT(gl);
    LoadedCrambin crambin;
    ASSERT_TRUE(crambin.ok()) << crambin.load.message;
    Workbench bench;
    COpenGL view(bench, kWidth, kHeight, 1.52f);
    handOver(view, crambin);
    const auto whole = screenExtent(view);
    expectCentredInView(whole);

    // Zoomed in, once the easing has landed, it covers more of the view.
    for (int i = 0; i < 5; ++i) view.scrollUpView();
    for (int i = 0; i < 60; ++i) view.Idle();
    const auto closer = screenExtent(view);
    EXPECT_GT(closer[3] - closer[1], (whole[3] - whole[1]) * 1.1);
}

TEST(View, NetworkFromEigenDataFilesIsCentredToo)
{
    gltest::GLTestContext gl(kWidth, kHeight);
    VORNAX_REQUIRE_CONTEXT(gl);
    ScriptedPrompts prompts; // the budget asks whether to wait for the response matrix: yes
    ScopedUserPrompts installed(&prompts);
    vornax::testing::TempDir folder;
    LoadOptions options;
    options.keepAllModes = true;
    options.computeY = false;
    options.eigenFileFolder = folder.path();
    LoadResult computed = runLoadPipeline(StructureSource::pdbFile(vornax::testing::findPdb("1crn.pdb")), options);
    ASSERT_TRUE(computed.ok()) << computed.message;
    ASSERT_TRUE(computed.eigenFilesWritten) << computed.eigenFileError;
    LoadResult stored =
        runLoadPipeline(StructureSource::eigenDataFiles({computed.network->files().getMainFileName()}), options);
    ASSERT_TRUE(stored.ok()) << stored.message;

    Workbench bench;
    COpenGL view(bench, kWidth, kHeight, 1.52f);
    const Placement placement = Placement::ofNodes(*stored.network);
    bench.handOver(std::move(stored.network), {}, placement);
    bench.start();
    view.resetALL();
    EXPECT_NEAR(bench.placement().sphereRadius, 200.0f, 80.0f) << "1CRN reaches about 20 Å from its centre";
    expectCentredInView(screenExtent(view));
}

// Needs the network drawing (render/NetworkDrawing, render/AtomDrawing).
TEST(View, LoadedCrambinNetworkIsDrawnInMono)
{
    gltest::GLTestContext gl(kWidth * 2, kHeight * 2);
    VORNAX_REQUIRE_CONTEXT(gl);
    LoadedCrambin crambin;
    ASSERT_TRUE(crambin.ok()) << crambin.load.message;
    Workbench bench;
    COpenGL view(bench, gl.width(), gl.height(), 1.52f);
    handOver(view, crambin);
    EXPECT_TRUE(bench.loaded());
    EXPECT_GT(bench.placement().sphereRadius, 100.0f);

    bench.startSimulation();
    EXPECT_TRUE(bench.simulationRunning());
    frame(view, 5);
    const QImage picture = gl.read();
    gl.savePng(gltest::picturePath("1crn.png"));
    bench.stopSimulation();
    EXPECT_FALSE(bench.simulationRunning());

    // The molecule sits in the middle of the view; its nodes are the network's grey.
    EXPECT_GT(countPixels(picture, notBackground, 0.7), 3000);
    EXPECT_LT(countPixels(picture, notBackground, 1.0) - countPixels(picture, notBackground, 0.95), 200);
    EXPECT_GT(countPixels(picture,
                          [](QColor c) {
                              return std::abs(c.red() - c.green()) < 12 && std::abs(c.green() - c.blue()) < 12
                                  && c.red() > 60 && c.red() < 235;
                          }),
              1000)
        << "grey nodes";

    // "Colour Chains" through the view: the one chain turns blue; back to grey after.
    auto blue = [](QColor c) { return c.blue() > c.red() + 60 && c.blue() > c.green() + 60; };
    bench.network()->generateColourList();
    frame(view, 1);
    EXPECT_GT(countPixels(gl.read(), blue), 1000);
    bench.network()->clearAllResCols();
    frame(view, 1);
    EXPECT_LT(countPixels(gl.read(), blue), 50);
}
