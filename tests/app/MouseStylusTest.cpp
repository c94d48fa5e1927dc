// The mouse as a stylus on 1CRN in a real view: a press on a node's pixel grabs that node, a
// drag pulls it, a release lets go, a press on the background grabs nothing, and the pointer
// still lands on the node after the camera zooms or pans. The virtual device runs its servo
// ticks by hand, each followed by one simulation step.
#include "../render/GLTestContext.h"

#include "MouseStylus.h"
#include "enm/Pipeline.h"
#include "haptics/Haptics.h"
#include "haptics/Workbench.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"
#include "molecule/FileHandle.h"
#include "render/COpenGL.h"
#include "render/GLHeaders.h"
#include "support/TestData.h"

#include "enm/io/NetworkFileHandle.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

using namespace vornax;
using hdapi::VirtualDevice;

namespace {

constexpr int kWidth = 320, kHeight = 240;
using Button = MouseStylus::Button;

/// 1CRN loaded and handed to a view with the virtual device, as the window's load leaves it.
struct Scene {
    gltest::GLTestContext gl{kWidth, kHeight};
    LoadResult load;
    std::vector<Atom*> atoms;
    Workbench bench;
    std::unique_ptr<COpenGL> view;
    MouseStylus stylus;
    ElasticNetworkModel* eln = nullptr;
    bool ready = false;

    explicit Scene(bool manual = true)
    {
        if (!gl.valid()) return;
        LoadOptions options;
        options.keepAllModes = true;
        options.computeY = false;
        load = runLoadPipeline(StructureSource::pdbFile(vornax::testing::findPdb("1crn.pdb")), options);
        if (!load.ok()) return;
        VirtualDevice& vd = VirtualDevice::instance();
        vd.reset();
        hdapi::useVirtualDevice(true);
        vd.setManualMode(manual);
        vd.setUsableWorkspace({-80.0, -60.0, -40.0, 80.0, 60.0, 40.0});

        const Vector3d maxPos = load.reader->findMaxCoord();
        const Vector3d mid = load.reader->getMidPoint();
        atoms = load.atoms.list();
        view = std::make_unique<COpenGL>(bench, kWidth, kHeight, 1.52f);
        frame();
        if (!bench.openDevice(atoms)) return;
        bench.handOver(std::move(load.network), atoms, Placement::around(maxPos, mid));
        bench.start();
        view->resetALL();
        eln = bench.network();
        if (manual)
            ticks(1); // the servo publishes the molecule's transform
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        frame(); // the view saves its matrices
        stylus.attach(*view);
        ready = stylus.isActive();
    }
    ~Scene()
    {
        stylus.detach();
        view.reset();
        bench.shutdown();
        VirtualDevice::instance().reset();
        hdapi::resetDeviceChoice();
    }

    void frame(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            view->Idle();
            view->Render_ELNET_Backbone();
            view->SwapOpenGLBuffers();
        }
    }
    void ticks(int count)
    {
        for (int i = 0; i < count; ++i) {
            VirtualDevice::instance().tick();
            eln->simulate();
            eln->updateDeformables();
        }
    }
    /// Where node `i` is drawn: its surface pixel (x, y) and window depth.
    std::array<double, 3> pixelOf(int32_t i) { return view->surfacePixelOf(i); }
    /// The node nearest the eye among those drawn well inside the picture: nothing lies in
    /// front of it. With `awayFrom`, only nodes drawn at least 40 pixels from that node.
    int32_t frontNode(int32_t awayFrom = -1)
    {
        int32_t best = -1;
        double bestDepth = 2.0;
        const auto far = awayFrom >= 0 ? pixelOf(awayFrom) : std::array<double, 3>{-1e9, -1e9, 0};
        for (int32_t i = 0; i < eln->getAmountOfAtoms(); ++i) {
            const auto p = pixelOf(i);
            if (p[0] < 20 || p[0] > kWidth - 20 || p[1] < 20 || p[1] > kHeight - 20) continue;
            if (std::hypot(p[0] - far[0], p[1] - far[1]) < 40) continue;
            if (p[2] < bestDepth) {
                bestDepth = p[2];
                best = i;
            }
        }
        return best;
    }
    /// Presses the left button at (x, y) and lets the servo take the grab.
    void grab(double x, double y)
    {
        ASSERT_TRUE(stylus.press(x, y, Button::Left));
        EXPECT_EQ(stylus.buttons() & 1, 0) << "the front button waits for the servo";
        ticks(3);
        stylus.update();
        EXPECT_EQ(stylus.buttons(), 1);
        ticks(2);
    }
    Atom* current() { return bench.device()->getCurrentAtom(); }
};

#define VORNAX_REQUIRE_SCENE(s)                     \
    do {                                            \
        VORNAX_REQUIRE_CONTEXT((s).gl);             \
        ASSERT_TRUE((s).ready) << (s).load.message; \
    } while (false)

} // namespace

TEST(MouseStylus, PressOnANodeGrabsItADragPullsItAReleaseLetsGo)
{
    Scene s;
    VORNAX_REQUIRE_SCENE(s);
    const int32_t node = s.frontNode();
    ASSERT_GE(node, 0);
    Atom* atom = s.eln->getAtom(node);
    // The pixel convention is the picture's: the node is drawn where the pointer will press
    // (read() keeps GL's row order, bottom row first).
    {
        const auto drawn = s.pixelOf(node);
        const QColor c = s.gl.read().pixelColor(static_cast<int>(std::lround(drawn[0])),
                                                kHeight - 1 - static_cast<int>(std::lround(drawn[1])));
        EXPECT_TRUE(c.red() < 245 || c.green() < 245 || c.blue() < 245) << "background where the node is drawn";
    }

    // Without a button the tip follows the pointer at its depth.
    s.stylus.move(100, 80);
    const auto hover = s.stylus.toPixel(s.stylus.tip());
    ASSERT_TRUE(hover);
    EXPECT_NEAR((*hover)[0], 100, 1e-3);
    EXPECT_NEAR((*hover)[1], 80, 1e-3);

    // A click too short for the servo grabs nothing but leaves the tip touching that node.
    const int32_t other = s.frontNode(node);
    ASSERT_GE(other, 0);
    const auto touch = s.pixelOf(other);
    ASSERT_TRUE(s.stylus.press(touch[0], touch[1], Button::Left));
    s.stylus.release(touch[0], touch[1], Button::Left);
    s.ticks(3);
    ASSERT_EQ(s.current(), s.eln->getAtom(other));

    // A press on the node leaves the one touched and grabs the node.
    const auto at = s.pixelOf(node);
    s.grab(at[0], at[1]);
    EXPECT_EQ(s.stylus.grabbedNode(), node);
    ASSERT_EQ(s.current(), atom);
    EXPECT_TRUE(atom->isInContact());
    EXPECT_TRUE(atom->isSelected());
    EXPECT_FALSE(s.eln->getAtom(other)->isSelected());

    // Drag 30 pixels to the right: a pull on the node, which moves along.
    const Vector3d before = s.eln->deformation().getDeformedPosition(node);
    s.stylus.move(at[0] + 30, at[1]);
    s.ticks(300);
    EXPECT_GT(atom->getMyApplyingForce().size(), 0.0f);
    const Vector3d moved = s.eln->deformation().getDeformedPosition(node) - before;
    EXPECT_GT(moved.size(), 1.0f) << "the node should move (model units)";
    const Matrix4f m = s.bench.device()->getTransform();
    const double screenX = m[0] * moved.x + m[4] * moved.y + m[8] * moved.z; // device x is screen right
    EXPECT_GT(screenX, 0.5 * moved.size()) << "the node should follow the drag";

    // The wheel moves the tip in depth under the pointer.
    const Vector3d tip = s.stylus.tip();
    const auto tipPixel = s.stylus.toPixel(tip);
    ASSERT_TRUE(s.stylus.wheel(2));
    const auto deeper = s.stylus.toPixel(s.stylus.tip());
    ASSERT_TRUE(tipPixel && deeper);
    EXPECT_NEAR((s.stylus.tip() - tip).size(), 2 * MouseStylus::kWheelStep, 1e-3);
    EXPECT_NEAR((*deeper)[0], (*tipPixel)[0], 1e-2);
    EXPECT_NEAR((*deeper)[1], (*tipPixel)[1], 1e-2);
    EXPECT_GT((*deeper)[2], (*tipPixel)[2]);
    ASSERT_TRUE(s.stylus.wheel(-2));
    s.ticks(20);

    // Release: the front button goes up and the pull no longer follows the pointer.
    s.stylus.release(at[0] + 30, at[1], Button::Left);
    EXPECT_EQ(s.stylus.buttons(), 0);
    EXPECT_FALSE(s.stylus.wheel(1)) << "without a drag the wheel is the window's zoom";
    s.ticks(5);
    const Vector3d held = atom->getMyApplyingForce();
    s.stylus.move(at[0] + 80, at[1] + 40);
    s.ticks(50);
    EXPECT_EQ(atom->getMyApplyingForce(), held);

    // A click away from the node lets the held pull go: its force ramps down and it is
    // deselected.
    s.grab(5, 5);
    EXPECT_EQ(s.stylus.grabbedNode(), -1);
    s.stylus.release(5, 5, Button::Left);
    s.ticks(400);
    EXPECT_FALSE(atom->isSelected());
    EXPECT_TRUE(s.eln->getContactList().empty());
    EXPECT_EQ(s.current(), nullptr);
}

TEST(MouseStylus, PressOnTheBackgroundGrabsNothing)
{
    Scene s;
    VORNAX_REQUIRE_SCENE(s);
    for (const auto& [x, y] : {std::array<double, 2>{3, 3}, std::array<double, 2>{kWidth - 4, kHeight - 4}}) {
        s.grab(x, y);
        EXPECT_EQ(s.stylus.grabbedNode(), -1);
        s.stylus.move(x + 20, y + 10);
        s.ticks(50);
        EXPECT_EQ(s.current(), nullptr);
        EXPECT_TRUE(s.eln->getContactList().empty());
        s.stylus.release(x + 20, y + 10, Button::Left);
        s.ticks(5);
    }
    for (double d : s.eln->deformation().getDisplacement()) EXPECT_EQ(d, 0.0);
}

TEST(MouseStylus, PointerFindsTheNodeAfterTheCameraMoves)
{
    struct Case {
        const char* name;
        std::function<void(Scene&)> change;
    };
    const Case cases[] = {
        {"zoom in",
         [](Scene& s) {
             for (int i = 0; i < 4; ++i) s.view->scrollUpView();
         }},
        {"zoom out",
         [](Scene& s) {
             for (int i = 0; i < 3; ++i) s.view->scrollDownView();
         }},
        {"pan",
         [](Scene& s) {
             s.view->mouseDownTranslate(0, 0);
             s.view->shiftCam(2000, 1000);
         }},
        {"rotate",
         [](Scene& s) {
             s.bench.device()->mouseDownRotate(160, 120);
             s.bench.device()->updateMoleculePosition(300, 200);
             s.ticks(3);
         }},
    };
    for (const Case& c : cases) {
        Scene s;
        VORNAX_REQUIRE_SCENE(s);
        const int32_t node = s.frontNode();
        ASSERT_GE(node, 0) << c.name;
        const auto was = s.pixelOf(node);
        c.change(s);
        for (int i = 0; i < 200 && s.view->getCurrentCamZ() != s.view->getNewCamZ(); ++i) s.frame();
        s.frame();
        const auto now = s.pixelOf(node);
        EXPECT_GT(std::hypot(now[0] - was[0], now[1] - was[1]), 3.0) << c.name << ": the picture should change";

        const int32_t target = s.frontNode();
        ASSERT_GE(target, 0) << c.name;
        const auto at = s.pixelOf(target);
        s.grab(at[0], at[1]);
        EXPECT_EQ(s.stylus.grabbedNode(), target) << c.name;
        EXPECT_EQ(s.current(), s.eln->getAtom(target)) << c.name;
    }
}

TEST(MouseStylus, WithTheServoThreadThePressGrabsAtOnce)
{
    Scene s(false);
    VORNAX_REQUIRE_SCENE(s);
    const int32_t node = s.frontNode();
    ASSERT_GE(node, 0);
    const auto at = s.pixelOf(node);
    ASSERT_TRUE(s.stylus.press(at[0], at[1], Button::Left));
    // The press waits the few servo ticks itself; on a loaded machine the window's timer
    // finishes it.
    for (int i = 0; i < 100 && s.stylus.buttons() != 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        s.stylus.update();
    }
    EXPECT_EQ(s.stylus.buttons(), 1);
    Atom* atom = s.eln->getAtom(node);
    for (int i = 0; i < 500 && !atom->isSelected(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(s.current(), atom);
    EXPECT_TRUE(atom->isSelected());
    s.stylus.release(at[0], at[1], Button::Left);
}

TEST(MouseStylus, WithTheDeviceTheMoleculeSitsInTheMiddleOfTheView)
{
    Scene s;
    VORNAX_REQUIRE_SCENE(s);
    double x = 0.0, y = 0.0;
    int drawn = 0;
    for (int32_t i = 0; i < s.eln->getAmountOfAtoms(); ++i)
        if (const auto p = s.stylus.nodePixel(i)) {
            x += (*p)[0];
            y += (*p)[1];
            ++drawn;
        }
    ASSERT_EQ(drawn, s.eln->getAmountOfAtoms());
    // The nodes' centre, where the view looks: not the file's origin.
    EXPECT_NEAR(x / drawn, kWidth / 2.0, kWidth * 0.1);
    EXPECT_NEAR(y / drawn, kHeight / 2.0, kHeight * 0.1);
}
