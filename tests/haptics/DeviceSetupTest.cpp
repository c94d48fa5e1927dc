// Device discovery and set-up on the virtual device, the model table, the rotation helpers,
// and the stylus scripts of the replay command.
#include "HapticsTestSupport.h"

#include "common/Console.h"
#include "haptics/ArcBall.h"
#include "haptics/SensableHaptics.h"
#include "haptics/Workbench.h"
#include "haptics/StylusScript.h"
#include "haptics/hdapi/VirtualDevice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace vornax;
using namespace vornax::testing;
using hdapi::VirtualDevice;

namespace {

/// A device object opened on the virtual device reporting `model`.
std::unique_ptr<SensableHaptics> openVirtual(const std::string& model, bool* ok)
{
    VirtualDevice& vd = VirtualDevice::instance();
    vd.reset();
    hdapi::useVirtualDevice(true);
    vd.setManualMode(true);
    vd.setModelName(model);
    vd.setUsableWorkspace(kTestWorkspace);
    auto dev = std::make_unique<SensableHaptics>(std::vector<Atom*>{}, 800.0f, 600.0f);
    *ok = dev->initHD();
    return dev;
}

void expectBox(const std::array<double, 6>& box, const std::array<double, 6>& expected)
{
    for (std::size_t i = 0; i < 6; ++i) EXPECT_NEAR(box[i], expected[i], 1e-4) << "value " << i;
}

float diagonal(const std::array<double, 6>& b)
{
    const Vector3d lo(static_cast<float>(b[0]), static_cast<float>(b[1]), static_cast<float>(b[2]));
    const Vector3d hi(static_cast<float>(b[3]), static_cast<float>(b[4]), static_cast<float>(b[5]));
    return lo.euclideanDistance(hi);
}

} // namespace

TEST(DeviceModelTable, EachModelItsParametersAndEveryOtherNameTheSafeSet)
{
    std::string message;
    DeviceParameters p = deviceParametersForModel("PHANTOM Omni", &message);
    EXPECT_EQ(message, "Found Phantom Omni device. Adjusting spring stiffness...");
    EXPECT_FLOAT_EQ(p.springStiffness, 0.19f);
    EXPECT_FLOAT_EQ(p.maxForce, 3.0f);
    EXPECT_FLOAT_EQ(p.workspaceScale, 1.2f);
    EXPECT_EQ(p.deviceModel, 0);

    p = deviceParametersForModel("PHANTOM Desktop", &message);
    EXPECT_EQ(message, "Found Phantom Desktop. Adjusting spring stiffness...");
    EXPECT_FLOAT_EQ(p.maxForce, 6.0f);
    EXPECT_EQ(p.deviceModel, 1);

    for (const char* name : {"PHANTOM Device", "PHANTOM Premium 1.5 6DOF"}) {
        p = deviceParametersForModel(name, &message);
        EXPECT_EQ(message, "Found Phantom. Adjusting spring stiffness...");
        EXPECT_FLOAT_EQ(p.maxForce, 8.0f);
        EXPECT_EQ(p.deviceModel, 2);
        EXPECT_FLOAT_EQ(p.viewHeightOffset, 150.0f);
    }
    // Prefixes, other cases, trailing text and blanks are not the listed names.
    for (const char* name : {"PHANTOM Omni+", "PHANTOM Omni ", "phantom omni", "PHANTOM", "", "PHANTOM Desktop 2",
                             "Vornax Virtual Stylus"}) {
        p = deviceParametersForModel(name, &message);
        EXPECT_EQ(message, "Device not listed. Adjusting spring stiffness to safe values...") << name;
        EXPECT_FLOAT_EQ(p.springStiffness, 0.15f);
        EXPECT_FLOAT_EQ(p.maxForce, 3.0f);
        EXPECT_FLOAT_EQ(p.maxVelocity, 450.0f);
        EXPECT_FLOAT_EQ(p.workspaceScale, 1.0f);
        EXPECT_EQ(p.deviceModel, 1);
        EXPECT_FLOAT_EQ(p.viewHeightOffset, 0.0f);
        EXPECT_FLOAT_EQ(p.averageForce, 1.0f);
    }
}

TEST(DeviceSetup, WorkspaceAndScaleFollowTheModel)
{
    console::Capture console;
    bool ok = false;
    auto omni = openVirtual("PHANTOM Omni", &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(console.contains("Device type: PHANTOM Omni"));
    EXPECT_TRUE(console.contains("Found Phantom Omni device."));
    EXPECT_TRUE(console.contains("Using Haptics Device"));
    // Scaled by 1.2, then min y moved up by 25 mm; the navigation cube is the central half.
    const std::array<double, 6> omniBox{-96.0, -72.0 + 25.0, -48.0, 96.0, 72.0, 48.0};
    expectBox(omni->getUsableWorkspace(), omniBox);
    std::array<double, 6> half{};
    for (std::size_t i = 0; i < 6; ++i) half[i] = omniBox[i] * 0.5;
    expectBox(omni->getWorkspaceView().navigationBox, half);
    EXPECT_FLOAT_EQ(omni->getHapticScale(), diagonal(omniBox) / 10.0f);
    omni.reset();

    auto desktop = openVirtual("PHANTOM Desktop", &ok);
    ASSERT_TRUE(ok);
    expectBox(desktop->getUsableWorkspace(), kTestWorkspace);
    desktop.reset();

    auto premium = openVirtual("PHANTOM Premium 1.5 6DOF", &ok);
    ASSERT_TRUE(ok);
    const std::array<double, 6> premiumBox{-80.0 - 65, -60.0 - 15, -40.0 + 85, 80.0 + 65, 60.0 - 50, 40.0};
    expectBox(premium->getUsableWorkspace(), premiumBox);
    EXPECT_FLOAT_EQ(premium->getHapticScale(), diagonal(premiumBox) / 10.0f);
    premium.reset();
    VirtualDevice::instance().reset();
}

TEST(DeviceSetup, WithoutADeviceInitFailsAndEveryCallIsHarmless)
{
    console::Capture console;
    VirtualDevice::instance().reset();
    hdapi::useVirtualDevice(false);
    hdapi::setVendorLibraryName("/nonexistent/libHD-vornax-test.so");
    {
        SensableHaptics dev({}, 800.0f, 600.0f);
        EXPECT_FALSE(dev.initHD());
        EXPECT_FALSE(dev.getUsingDevice());
        EXPECT_TRUE(console.contains("NO DEVICE LOADED"));
        EXPECT_TRUE(console.contains("NOT Using Haptics Device"));
        dev.startSched();
        dev.stopSched();
        EXPECT_FALSE(dev.popLastSelectionFromStack());
        dev.resetAllForces();
    }
    hdapi::setVendorLibraryName("libHD.so");
}

TEST(DeviceSetup, ViewSetUpTellsTheUserOnceWhenThereIsNoDevice)
{
    ScriptedPrompts prompts;
    ScopedUserPrompts scoped(&prompts);
    console::Capture console;
    VirtualDevice::instance().reset();
    hdapi::useVirtualDevice(false);
    hdapi::setVendorLibraryName("/nonexistent/libHD-vornax-test.so");
    EXPECT_EQ(setUpHapticDevice({}, 800.0f, 600.0f), nullptr);
    ASSERT_EQ(prompts.messages().size(), 1u);
    EXPECT_EQ(prompts.messages()[0].caption, "Haptics device Error");
    EXPECT_EQ(prompts.messages()[0].text, "No device has been loaded.");
    hdapi::setVendorLibraryName("libHD.so");

    hdapi::useVirtualDevice(true);
    VirtualDevice::instance().setManualMode(true);
    VirtualDevice::instance().setModelName("PHANTOM Premium 1.5 6DOF");
    int32_t model = -1;
    Workbench bench;
    ASSERT_TRUE(bench.openDevice({}, &model));
    EXPECT_EQ(model, 2);
    EXPECT_FLOAT_EQ(bench.deviceParameters().viewHeightOffset, 150.0f);
    EXPECT_EQ(bench.cameraDistance(), Workbench::kPremiumCameraZ);
    EXPECT_EQ(prompts.messages().size(), 1u);
    bench.shutdown();
    VirtualDevice::instance().reset();
}

TEST(DeviceSetup, SchedulerStopMeansNoTick)
{
    bool ok = false;
    auto dev = openVirtual("PHANTOM Desktop", &ok);
    ASSERT_TRUE(ok);
    VirtualDevice& vd = VirtualDevice::instance();
    EXPECT_TRUE(vd.tick());
    dev->stopSched();
    EXPECT_FALSE(vd.tick());
    dev->startSched();
    EXPECT_TRUE(vd.tick());
    // Deleting the object takes its callback off the scheduler.
    dev.reset();
    EXPECT_EQ(vd.scheduledCallbacks(), 0u);
    vd.reset();
}

TEST(DeviceSetup, CameraZoomIsClamped)
{
    bool ok = false;
    auto dev = openVirtual("PHANTOM Desktop", &ok);
    ASSERT_TRUE(ok);
    dev->setCameraZoom(266.0f);
    EXPECT_FLOAT_EQ(dev->getZoom(), 1.0f);
    dev->setCameraZoom(1064.0f);
    EXPECT_FLOAT_EQ(dev->getZoom(), 1.5f);
    dev->setCameraZoom(700.0f);
    EXPECT_FLOAT_EQ(dev->getZoom(), 700.0f / 266.0f * 0.5f);
    // The base object: only the lower bound.
    Haptics base({}, 100.0f, 100.0f);
    base.setCameraZoom(1064.0f);
    EXPECT_FLOAT_EQ(base.getZoom(), 4.0f);
    base.setCameraZoom(100.0f);
    EXPECT_FLOAT_EQ(base.getZoom(), 1.0f);
    dev.reset();
    VirtualDevice::instance().reset();
}

TEST(DeviceGeometry, PointToPlaneAndDragProxy)
{
    SensableHaptics dev({}, 800.0f, 600.0f);
    EXPECT_TRUE(dev.pointToPlane(Vector3d(0, 0, 0), Vector3d(1, 0, 0), Vector3d(0, 5, 5))); // on the plane
    EXPECT_TRUE(dev.pointToPlane(Vector3d(0, 0, 0), Vector3d(1, 0, 0), Vector3d(1, 0, 0)));
    EXPECT_FALSE(dev.pointToPlane(Vector3d(0, 0, 0), Vector3d(1, 0, 0), Vector3d(-0.001f, 0, 0)));

    float force[3] = {0, 0, 0};
    const float p0[3] = {0, 0, 0};
    EXPECT_TRUE(dev.calcForce(force, p0, p0)); // first call only places the proxy
    EXPECT_EQ(force[0], 0.0f);
    const float p1[3] = {2, 0, 0};
    dev.calcForce(force, p1, p1); // inside the proxy radius: the proxy stays
    EXPECT_FLOAT_EQ(force[0], -0.6f);
    force[0] = 0;
    const float p2[3] = {12, 0, 0};
    dev.calcForce(force, p2, p2); // 12 from the proxy: it follows to √15 − 0.35 behind
    EXPECT_FLOAT_EQ(force[0], -3.6f);
    force[0] = 0;
    dev.calcForce(force, p2, p2);
    EXPECT_NEAR(force[0], -0.3f * (std::sqrt(15.0f) - 0.35f), 1e-5);
}

TEST(ArcBall, DragsRotateAndAClickWithoutMotionDoesNot)
{
    ArcBall_t ball(801.0f, 601.0f);
    ball.click(400.0f, 300.0f); // the centre maps to the sphere's pole
    EXPECT_NEAR(ball.getClickVector()[2], 1.0f, 1e-6);
    const Quat4f none = ball.drag(400.0f, 300.0f);
    EXPECT_EQ(none.x, 0.0f);
    EXPECT_EQ(none.w, 0.0f);
    const Matrix3f same = rotationFromQuat(none);
    EXPECT_EQ(same, identity3());
    // Outside the ball the point lies on the rim.
    float rim[3];
    ball.mapToSphere(800.0f, 300.0f, rim);
    EXPECT_NEAR(rim[0], 1.0f, 1e-6);
    EXPECT_EQ(rim[2], 0.0f);
    // Centre to the right rim: the quaternion (click × drag, click · drag) turns by twice the
    // angle between the two points, here 180° about +y.
    const Matrix3f r = rotationFromQuat(ball.drag(800.0f, 300.0f));
    EXPECT_NEAR(r[0], -1.0f, 1e-5);
    EXPECT_NEAR(r[8], -1.0f, 1e-5);
    EXPECT_NEAR(r[4], 1.0f, 1e-5);
}

TEST(Quaternion, AxisAngleMatrix)
{
    Quaternion q;
    EXPECT_EQ(q.getW(), 1.0);
    EXPECT_EQ(q.getX(), 1.0);
    q.CreateFromAxisAngle(0, 0, 1, 90);
    const double* m = q.getMatrix();
    EXPECT_NEAR(m[0], 0.0, 1e-12);
    EXPECT_NEAR(m[1], 1.0, 1e-12); // x turns to y
    EXPECT_NEAR(m[4], -1.0, 1e-12);
    EXPECT_EQ(m[15], 1.0);
    EXPECT_EQ(m[3], 0.0);
}

TEST(StylusScript, ReadsBothFormsAndSkipsCommentsAndBlanks)
{
    std::istringstream in("# approach\n\n  10 0 0 -5.5 0\r\n3 node 4 1 2 3 1\n   # done\n");
    std::string error;
    const auto steps = parseStylusScript(in, error);
    ASSERT_TRUE(steps) << error;
    ASSERT_EQ(steps->size(), 2u);
    EXPECT_EQ((*steps)[0].ticks, 10);
    EXPECT_FALSE((*steps)[0].atNode);
    EXPECT_EQ((*steps)[0].position[2], -5.5);
    EXPECT_EQ((*steps)[0].line, 3);
    EXPECT_TRUE((*steps)[1].atNode);
    EXPECT_EQ((*steps)[1].node, 4);
    EXPECT_EQ((*steps)[1].buttons, 1);
    EXPECT_TRUE(checkScriptNodes(*steps, 5, error));
    EXPECT_FALSE(checkScriptNodes(*steps, 4, error));
    EXPECT_NE(error.find("line 4"), std::string::npos);
}

TEST(StylusScript, BadLinesAreNamed)
{
    const char* bad[] = {"0 1 2 3 0",           "-3 1 2 3 0",        "1.5 1 2 3 0",     "10 1 2 0",
                         "10 1 2 3 4",          "10 1 2 3 0 9",      "10 nan 2 3 0",    "10 1 inf 3 0",
                         "10 node -1 0 0 0 0",  "10 node x 0 0 0 0", "10 node 1 0 0 0", "10 1e400 0 0 0",
                         "99999999999 0 0 0 0", "10 1 2 3 1x",       "ticks 1 2 3 0"};
    for (const char* text : bad) {
        std::istringstream in(std::string("1 0 0 0 0\n") + text + "\n");
        std::string error;
        EXPECT_FALSE(parseStylusScript(in, error)) << text;
        EXPECT_EQ(error.rfind("script line 2:", 0), 0u) << text << " -> " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    // The total is bounded too.
    std::istringstream many("6000000 0 0 0 0\n6000000 0 0 0 0\n");
    std::string error;
    EXPECT_FALSE(parseStylusScript(many, error));
}
