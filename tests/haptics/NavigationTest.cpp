// Navigation in the device workspace: the cube, first entry and growth, easing, the stylus
// arc-ball, reset and the session copy-in and copy-out.
#include "HapticsTestSupport.h"

#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace vornax;
using namespace vornax::testing;

namespace {

class NavigationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto path = findPdb("1crn.pdb");
        if (path.empty()) GTEST_SKIP() << "1crn.pdb is not available";
        s = solvedStructure(path);
        ASSERT_TRUE(s);
        session = std::make_unique<VirtualDeviceSession>(*s->network, s->atoms, testOptions());
        ASSERT_TRUE(session->ok());
        dev = &session->device();
    }

    /// Far above the molecule: no atom there.
    TickRecord tick(float x, float y, float z, int buttons = 0, int64_t n = 1)
    {
        return session->hold(Vector3d(x, y, z), buttons, n);
    }

    std::unique_ptr<LoadedStructure> s;
    std::unique_ptr<VirtualDeviceSession> session;
    SensableHaptics* dev = nullptr;
};

} // namespace

TEST_F(NavigationTest, LeavingTheCubeMovesTheTargetByTheDepth)
{
    dev->setTranslates(true);
    // The cube is half of the workspace: x from −40 to 40.
    const Vector3d start = dev->getTVEC();
    tick(50.0f, 0.0f, 0.0f, 0, 10); // 10 mm beyond x-max
    EXPECT_NEAR(dev->getTVEC().x, start.x - 10 * 0.01f, 1e-4);
    EXPECT_EQ(dev->getTVEC().y, start.y);
    EXPECT_TRUE(dev->getWorkspaceView().faceCrossed[FaceXMax]);
    // The molecule follows the target.
    EXPECT_LT(dev->getTranslation().x, start.x);
    // F5: ten times the gain.
    dev->setTransformAmount(0.01f);
    const Vector3d before = dev->getTVEC();
    tick(50.0f, 0.0f, 0.0f, 0, 1);
    EXPECT_NEAR(dev->getTVEC().x, before.x - 0.1f, 1e-4);
    // Beyond y-min the target moves up.
    dev->setTransformAmount(0.001f);
    const Vector3d y0 = dev->getTVEC();
    tick(0.0f, -40.0f, 0.0f, 0, 1);
    EXPECT_NEAR(dev->getTVEC().y, y0.y + 0.01f, 1e-5);
    EXPECT_TRUE(dev->getWorkspaceView().faceCrossed[FaceYMin]);
    EXPECT_FALSE(dev->getWorkspaceView().faceCrossed[FaceXMax]);
    // Exactly on the min plane: the flag is neither set nor cleared.
    tick(0.0f, -30.0f, 0.0f, 0, 1);
    EXPECT_TRUE(dev->getWorkspaceView().faceCrossed[FaceYMin]);
    tick(0.0f, -29.0f, 0.0f, 0, 1);
    EXPECT_FALSE(dev->getWorkspaceView().faceCrossed[FaceYMin]);
    // Navigation off: the flags clear and the target stays.
    dev->setTranslates(false);
    const Vector3d off = dev->getTVEC();
    tick(60.0f, 0.0f, 0.0f, 0, 5);
    EXPECT_EQ(dev->getTVEC(), off);
    EXPECT_FALSE(dev->getWorkspaceView().faceCrossed[FaceXMax]);
}

TEST_F(NavigationTest, EasingIsSlowWhileNavigationIsOff)
{
    const Vector3d start = dev->getTranslation();
    dev->scrollUp(); // target + 20.1 in z
    tick(0, 0, 0);   // weight 0: no motion yet, weight becomes 0.0001
    EXPECT_EQ(dev->getTranslation().z, start.z);
    tick(0, 0, 0);
    EXPECT_NEAR(dev->getTranslation().z - start.z, 20.1f * 0.0001f, 1e-5);
    // With navigation on the weight grows by 0.1 per tick and the molecule arrives.
    dev->setTranslates(true);
    tick(0, 0, 0, 0, 40);
    EXPECT_EQ(dev->getTranslation().z, dev->getTVEC().z);
}

TEST_F(NavigationTest, FirstEntryAndGrowth)
{
    const WorkspaceView half = dev->getWorkspaceView();
    EXPECT_FALSE(half.enteredCube);
    EXPECT_TRUE(dev->isWorkspaceGrowing());
    // Outside the cube: no entry, and the cube does not grow whatever the frame rate.
    tick(45.0f, 0.0f, 0.0f);
    EXPECT_FALSE(dev->getFirstEntry());
    for (int i = 0; i < 50; ++i) dev->growHapticWS(0.5f);
    EXPECT_EQ(dev->getWorkspaceView().navigationBox, half.navigationBox);
    // On the face is not inside.
    tick(40.0f, 0.0f, 0.0f);
    EXPECT_FALSE(dev->getFirstEntry());
    tick(10.0f, 5.0f, -3.0f);
    EXPECT_TRUE(dev->getFirstEntry());
    EXPECT_TRUE(dev->getWorkspaceView().enteredCube);
    EXPECT_EQ(dev->getDevicePoint(), Vector3d(10.0f, 5.0f, -3.0f));
    // Growth: the first frame has weight 0, later frames move towards the usable workspace.
    dev->growHapticWS(0.25f);
    EXPECT_EQ(dev->getWorkspaceView().navigationBox, half.navigationBox);
    dev->growHapticWS(0.25f);
    EXPECT_NEAR(dev->getWorkspaceView().navigationBox[3], 40.0 + (80.0 - 40.0) * 0.25, 1e-9);
    for (int i = 0; i < 10; ++i) dev->growHapticWS(0.25f);
    EXPECT_FALSE(dev->isWorkspaceGrowing());
    const auto grown = dev->getWorkspaceView().navigationBox;
    EXPECT_GT(grown[3], 75.0);
    EXPECT_LE(grown[3], 80.0);
    // A new load: half size again, not entered.
    dev->resetWorkspace();
    EXPECT_EQ(dev->getWorkspaceView().navigationBox, half.navigationBox);
    EXPECT_FALSE(dev->getWorkspaceView().enteredCube);
}

TEST_F(NavigationTest, BackButtonRotatesWithTheStylusAndResetUndoesIt)
{
    dev->setTranslates(true);
    dev->setProbeWindowPosition(400.0, 300.0, 0.5);
    tick(0, 0, 0, 2); // press: drag starts
    dev->setProbeWindowPosition(600.0, 300.0, 0.5);
    tick(0, 0, 0, 2);
    const Matrix3f rotated = dev->getHapticsThisRot();
    EXPECT_NE(rotated, identity3());
    const Matrix4f t = dev->getTransform();
    EXPECT_EQ(t[0], rotated[0]);
    tick(0, 0, 0, 0, 3); // button up: the rotation stays
    EXPECT_EQ(dev->getHapticsThisRot(), rotated);
    // Front button with pulling on does not rotate.
    dev->setProbeWindowPosition(100.0, 100.0, 0.5);
    tick(0, 0, 0, 1, 3);
    EXPECT_EQ(dev->getHapticsThisRot(), rotated);

    const Vector3d home(0.0f, 0.0f, -session->sphereRadius());
    dev->reset(home);
    tick(0, 0, 0, 0, 3);
    EXPECT_EQ(dev->getHapticsThisRot(), identity3());
    EXPECT_EQ(dev->getTransform()[0], 1.0f);
    EXPECT_EQ(dev->getTranslation(), home);
}

TEST_F(NavigationTest, SessionCopyInRestoresWithoutMotion)
{
    dev->setTranslates(true);
    dev->setProbeWindowPosition(400.0, 300.0, 0.5);
    tick(0, 0, 0, 2);
    dev->setProbeWindowPosition(500.0, 250.0, 0.5);
    tick(0, 0, 0, 2);
    tick(50.0f, 0, 0, 0, 20);
    const Matrix4f transform = dev->getHapticsTransform();
    const Matrix3f last = dev->getHapticsLastRot();
    const Matrix3f current = dev->getHapticsThisRot();
    const Vector3d target = dev->getTVEC();

    dev->reset(Vector3d());
    tick(0, 0, 0, 0, 2);
    dev->setHapticsTransform(transform);
    dev->setHapticsLastRot(last);
    dev->setHapticsThisRot(current);
    dev->setTranslationVector(target.x, target.y, target.z);
    tick(0, 0, 0, 0, 5);
    EXPECT_EQ(dev->getTranslation(), target);
    EXPECT_EQ(dev->getHapticsThisRot(), current);
    EXPECT_EQ(dev->getHapticsTransform(), transform);
}

TEST_F(NavigationTest, ProbeGoesToModelCoordinatesThroughTheTransform)
{
    // A node drawn at its device position is touched there, with the molecule turned and moved.
    dev->setTranslates(true);
    dev->setProbeWindowPosition(400.0, 300.0, 0.5);
    tick(0, 0, 0, 2);
    dev->setProbeWindowPosition(520.0, 200.0, 0.5);
    tick(0, 0, 0, 2);
    tick(0, 0, 0, 0);
    dev->setTranslates(false);
    const int node = 17;
    const Vector3d p = session->nodeInDevice(node);
    tick(0.0f, 0.0f, 1000.0f); // away from everything
    EXPECT_EQ(session->tick(p + Vector3d(0.0f, 0.0f, 3.0f), 0).atom, node);
}

TEST_F(NavigationTest, MouseTranslationAndToggles)
{
    const Vector3d start = dev->getTVEC();
    dev->mouseDownTranslate(100, 100);
    dev->updateMoleculeTranslation(150, 50);
    EXPECT_NEAR(dev->getTVEC().x, start.x + 1.0f, 1e-6);
    EXPECT_NEAR(dev->getTVEC().y, start.y + 1.0f, 1e-6);
    EXPECT_TRUE(dev->toggleTranslations());
    EXPECT_FALSE(dev->toggleTranslations());
    // checkToggle flips navigation only while the buttons read exactly 1.
    tick(0, 0, 0, 2);
    EXPECT_FALSE(dev->checkToggle());
    tick(0, 0, 0, 1);
    EXPECT_TRUE(dev->checkToggle());
    EXPECT_TRUE(dev->getTranslates());
}

namespace {
/// The device object with its navigation lock within reach, to hold it as the window does.
class LockableDevice : public SensableHaptics {
public:
    using SensableHaptics::SensableHaptics;
    std::mutex& navigationLock() { return navigationMutex; }
};
} // namespace

TEST(NavigationLockTest, ServoTickNeverWaitsForTheWindowThread)
{
    using namespace std::chrono_literals;
    const auto path = findPdb("1crn.pdb");
    if (path.empty()) GTEST_SKIP() << "1crn.pdb is not available";
    auto s = solvedStructure(path);
    ASSERT_TRUE(s);
    hdapi::VirtualDevice& vd = hdapi::VirtualDevice::instance();
    vd.reset();
    hdapi::useVirtualDevice(true);
    vd.setManualMode(true);
    vd.setUsableWorkspace(kTestWorkspace);
    {
        LockableDevice dev(s->atoms, 800.0f, 600.0f);
        ASSERT_TRUE(dev.initHD());
        dev.addElasticNetworkInfo(s->network.get());
        dev.resetWorkspace();
        dev.setTranslates(true);
        s->network->setInit();
        vd.setPosition(50.0, 0.0, 0.0); // 10 mm beyond the cube's x-max face
        const Vector3d start = dev.getTVEC();

        // The window thread holds the navigation (at most two seconds) while the servo ticks.
        std::atomic<bool> held{false}, done{false};
        std::thread window([&] {
            std::lock_guard lock(dev.navigationLock());
            held.store(true);
            const auto until = std::chrono::steady_clock::now() + 2s;
            while (!done.load() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
        });
        while (!held.load()) std::this_thread::yield();
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(vd.tick(20), 20);
        const auto waited = std::chrono::steady_clock::now() - t0;
        done.store(true);
        window.join();
        EXPECT_LT(waited, 1s) << "the servo tick waited for the window thread";
        // Those ticks left the navigation alone; the next one moves the target again.
        EXPECT_EQ(dev.getTVEC(), start);
        vd.tick();
        EXPECT_NEAR(dev.getTVEC().x, start.x - 10 * 0.001f, 1e-5);
    }
    vd.reset();
}
