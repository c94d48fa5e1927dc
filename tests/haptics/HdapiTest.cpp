// The HDAPI layer: back-end selection, the dlopen back-end against a stand-in library, and the
// virtual device driven tick by tick.
#include "haptics/hdapi/hdapi.h"
#include "haptics/hdapi/VirtualDevice.h"

#include "common/Console.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace vornax;
using namespace vornax::hdapi;

namespace {

std::vector<HDerror> drainErrors()
{
    std::vector<HDerror> codes;
    for (HDErrorInfo e = hdGetError(); HD_DEVICE_ERROR(e); e = hdGetError()) codes.push_back(e.errorCode);
    return codes;
}

/// A fresh virtual device in manual mode, opened, force output on, scheduler started.
class VirtualDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dev().reset();
        drainErrors();
        useVirtualDevice(true);
        dev().setManualMode(true);
    }
    void TearDown() override
    {
        dev().reset();
        resetDeviceChoice();
    }

    static VirtualDevice& dev() { return VirtualDevice::instance(); }

    HHD open()
    {
        const HHD h = hdInitDevice(HD_DEFAULT_DEVICE);
        EXPECT_NE(h, HD_INVALID_HANDLE);
        EXPECT_FALSE(HD_DEVICE_ERROR(hdGetError()));
        hdMakeCurrentDevice(h);
        hdEnable(HD_FORCE_OUTPUT);
        return h;
    }
};

struct Counter {
    int runs = 0;
    int doneAfter = 1 << 30;
    std::vector<int>* order = nullptr;
    int id = 0;
};

HDCallbackCode countRuns(void* p)
{
    auto* c = static_cast<Counter*>(p);
    ++c->runs;
    if (c->order) c->order->push_back(c->id);
    return c->runs >= c->doneAfter ? HD_CALLBACK_DONE : HD_CALLBACK_CONTINUE;
}

} // namespace

// ---- No device ----

TEST(HdapiSelectionTest, MissingVendorLibraryMeansNoDeviceWithAnErrorAndAMessage)
{
    VirtualDevice::instance().reset();
    drainErrors();
    useVirtualDevice(false);
    setVendorLibraryName("libVornaxNoSuchHD.so");
    console::Capture console;

    EXPECT_EQ(hdInitDevice(HD_DEFAULT_DEVICE), HD_INVALID_HANDLE);
    const HDErrorInfo first = hdGetError();
    EXPECT_TRUE(HD_DEVICE_ERROR(first));
    EXPECT_EQ(first.errorCode, HD_DEVICE_FAULT);
    // The configured name fails the same way; the reason is printed once.
    EXPECT_EQ(hdInitDevice("Omni1"), HD_INVALID_HANDLE);
    EXPECT_TRUE(HD_DEVICE_ERROR(hdGetError()));
    EXPECT_FALSE(HD_DEVICE_ERROR(hdGetError())) << "each failure leaves one error";
    EXPECT_EQ(console.count("libVornaxNoSuchHD.so"), 1);
    EXPECT_NE(vendorLibraryProblem().find("could not be loaded"), std::string::npos);
    EXPECT_EQ(activeBackend(), Backend::None);

    // Without a device the other calls report an error and leave their output alone.
    double pos[3] = {7, 7, 7};
    hdGetDoublev(HD_CURRENT_POSITION, pos);
    EXPECT_EQ(pos[0], 7);
    EXPECT_EQ(hdGetString(HD_DEVICE_MODEL_TYPE), nullptr);
    EXPECT_EQ(hdScheduleAsynchronous(countRuns, nullptr, HD_MAX_SCHEDULER_PRIORITY), HD_INVALID_SCHEDULER_HANDLE);
    EXPECT_EQ(hdGetError().errorCode, HD_BAD_HANDLE);
    hdStopScheduler(); // harmless
    drainErrors();
    setVendorLibraryName("libHD.so");
    resetDeviceChoice();
}

TEST(HdapiSelectionTest, EnvironmentAsksForTheVirtualDeviceAndACallOverridesIt)
{
    resetDeviceChoice();
    ::setenv("VORNAX_HAPTICS", "virtual", 1);
    EXPECT_TRUE(virtualDeviceRequested());
    useVirtualDevice(false);
    EXPECT_FALSE(virtualDeviceRequested());
    resetDeviceChoice();
    ::setenv("VORNAX_HAPTICS", "Virtual device please", 1);
    EXPECT_FALSE(virtualDeviceRequested());
    ::unsetenv("VORNAX_HAPTICS");
    EXPECT_FALSE(virtualDeviceRequested());
    useVirtualDevice(true);
    EXPECT_TRUE(virtualDeviceRequested());
    resetDeviceChoice();
}

// ---- The dlopen back-end against the stand-in library ----

TEST(HdapiVendorTest, LibraryLackingCallsIsNoDeviceAndNamesThem)
{
    VirtualDevice::instance().reset();
    drainErrors();
    useVirtualDevice(false);
    setVendorLibraryName(HDAPI_FAKE_INCOMPLETE_LIBRARY);
    console::Capture console;
    EXPECT_EQ(hdInitDevice(HD_DEFAULT_DEVICE), HD_INVALID_HANDLE);
    EXPECT_EQ(hdGetError().errorCode, HD_DEVICE_FAULT);
    const std::string why = vendorLibraryProblem();
    EXPECT_NE(why.find("hdStartScheduler"), std::string::npos) << why;
    EXPECT_NE(why.find("hdStopScheduler"), std::string::npos) << why;
    EXPECT_EQ(why.find("hdInitDevice"), std::string::npos) << why;
    EXPECT_TRUE(console.contains("lacks"));
    EXPECT_EQ(activeBackend(), Backend::None);
    setVendorLibraryName("libHD.so");
    resetDeviceChoice();
}

TEST(HdapiVendorTest, CallsReachTheLibraryWithTheirArguments)
{
    VirtualDevice::instance().reset();
    drainErrors();
    useVirtualDevice(false);
    setVendorLibraryName(HDAPI_FAKE_LIBRARY);

    // A failure inside the library comes back through hdGetError with its code.
    EXPECT_EQ(hdInitDevice("Broken"), HD_INVALID_HANDLE);
    const HDErrorInfo e = hdGetError();
    EXPECT_EQ(e.errorCode, HD_COMM_ERROR);
    EXPECT_EQ(e.internalErrorCode, 42);

    const HHD h = hdInitDevice(HD_DEFAULT_DEVICE);
    ASSERT_EQ(h, 7u);
    EXPECT_FALSE(HD_DEVICE_ERROR(hdGetError()));
    EXPECT_EQ(activeBackend(), Backend::Vendor);
    EXPECT_STREQ(hdGetString(HD_DEVICE_MODEL_TYPE), "Fake Arm");
    double box[6] = {};
    hdGetDoublev(HD_USABLE_WORKSPACE_DIMENSIONS, box);
    EXPECT_EQ(box[0], -100.0);
    EXPECT_EQ(box[5], 105.0);
    HDint buttons = 0;
    hdGetIntegerv(HD_CURRENT_BUTTONS, &buttons);
    EXPECT_EQ(buttons, HD_DEVICE_BUTTON_1 | HD_DEVICE_BUTTON_2);
    Counter c;
    EXPECT_EQ(hdScheduleAsynchronous(countRuns, &c, HD_MAX_SCHEDULER_PRIORITY), 99u);
    hdScheduleSynchronous(countRuns, &c, HD_DEFAULT_SCHEDULER_PRIORITY);
    EXPECT_EQ(c.runs, 2);
    const double f[3] = {0.5, -1.0, 2.0};
    hdBeginFrame(h);
    hdSetDoublev(HD_CURRENT_FORCE, f);
    hdEndFrame(h);
    hdStartScheduler();
    hdStopScheduler();

    void* lib = dlopen(HDAPI_FAKE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    auto lastForce = reinterpret_cast<const double* (*)()>(dlsym(lib, "fakeHdLastForce"));
    auto calls = reinterpret_cast<int (*)()>(dlsym(lib, "fakeHdCallCount"));
    ASSERT_TRUE(lastForce && calls);
    EXPECT_EQ(lastForce()[1], -1.0);
    EXPECT_EQ(lastForce()[2], 2.0);
    EXPECT_EQ(calls(), 2 + 1 + 1 + 3 + 2) << "init x2, get x2, set, frame x2, scheduler x2";
    dlclose(lib);

    // The virtual device can take over afterwards.
    useVirtualDevice(true);
    EXPECT_NE(hdInitDevice(HD_DEFAULT_DEVICE), HD_INVALID_HANDLE);
    EXPECT_EQ(activeBackend(), Backend::Virtual);
    VirtualDevice::instance().reset();
    setVendorLibraryName("libHD.so");
    resetDeviceChoice();
}

// ---- The virtual device ----

TEST_F(VirtualDeviceTest, DescribesADesktopArmWithAnUnlistedModel)
{
    const HHD h = open();
    EXPECT_EQ(activeBackend(), Backend::Virtual);
    EXPECT_EQ(hdGetCurrentDevice(), h);
    const std::string model = hdGetString(HD_DEVICE_MODEL_TYPE);
    for (const char* known : {"PHANTOM Omni", "PHANTOM Desktop", "PHANTOM Device", "PHANTOM Premium 1.5 6DOF"})
        EXPECT_NE(model, known);

    double box[6] = {};
    hdGetDoublev(HD_USABLE_WORKSPACE_DIMENSIONS, box);
    const double expected[6] = {-210, -110, -85, 210, 205, 130};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(box[i], expected[i]) << i;
    HDint rate = 0;
    hdGetIntegerv(HD_UPDATE_RATE, &rate);
    EXPECT_EQ(rate, 1000);
    double maxForce = 0;
    hdGetDoublev(HD_NOMINAL_MAX_FORCE, &maxForce);
    EXPECT_GT(maxForce, 3.0);
    EXPECT_TRUE(hdIsEnabled(HD_FORCE_OUTPUT));
    EXPECT_TRUE(drainErrors().empty());

    // Unknown codes and null outputs are errors that touch nothing.
    double untouched = 5;
    hdGetDoublev(0x1234, &untouched);
    EXPECT_EQ(untouched, 5);
    hdGetIntegerv(HD_CURRENT_BUTTONS, nullptr);
    EXPECT_EQ(hdGetString(0x1234), nullptr);
    EXPECT_EQ(drainErrors(), (std::vector<HDerror>{HD_INVALID_ENUM, HD_INVALID_VALUE, HD_INVALID_ENUM}));

    // The model name is what a test sets, and the text handed out earlier stays readable.
    const char* before = hdGetString(HD_DEVICE_MODEL_TYPE);
    dev().setModelName("PHANTOM Omni");
    EXPECT_STREQ(hdGetString(HD_DEVICE_MODEL_TYPE), "PHANTOM Omni");
    EXPECT_EQ(std::string(before), model);
}

TEST_F(VirtualDeviceTest, OpensOnceUntilDisabledAndStaleErrorsDoNotFailTheNextOpening)
{
    const HHD h = open();
    EXPECT_EQ(hdInitDevice("Omni1"), HD_INVALID_HANDLE);
    EXPECT_EQ(hdGetError().errorCode, HD_DEVICE_ALREADY_INITIATED);

    hdDisableDevice(h);
    EXPECT_FALSE(dev().isOpen());
    hdDisableDevice(h); // a second close is an error, left on the stack
    hdDisableDevice(HD_INVALID_HANDLE);
    const HHD again = hdInitDevice(HD_DEFAULT_DEVICE);
    EXPECT_EQ(again, h);
    EXPECT_FALSE(HD_DEVICE_ERROR(hdGetError())) << "an opening that worked reads as one";
}

TEST_F(VirtualDeviceTest, AsynchronousCallbacksRunEachTickUntilDoneInPriorityOrder)
{
    open();
    std::vector<int> order;
    Counter low{0, 1 << 30, &order, 1}, high{0, 3, &order, 2}, same{0, 1 << 30, &order, 3};
    hdScheduleAsynchronous(countRuns, &low, HD_MIN_SCHEDULER_PRIORITY);
    hdScheduleAsynchronous(countRuns, &high, HD_MAX_SCHEDULER_PRIORITY);
    const HDSchedulerHandle sameHandle = hdScheduleAsynchronous(countRuns, &same, HD_MIN_SCHEDULER_PRIORITY);

    EXPECT_FALSE(dev().tick()) << "no tick before the scheduler starts";
    EXPECT_EQ(low.runs, 0);
    hdStartScheduler();
    EXPECT_EQ(dev().tick(5), 5);
    EXPECT_EQ(high.runs, 3) << "DONE on the third run unschedules it";
    EXPECT_EQ(low.runs, 5);
    EXPECT_EQ(same.runs, 5);
    EXPECT_EQ((std::vector<int>(order.begin(), order.begin() + 3)), (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(dev().scheduledCallbacks(), 2u);

    hdUnschedule(sameHandle);
    dev().tick();
    EXPECT_EQ(same.runs, 5);
    EXPECT_EQ(low.runs, 6);
    hdUnschedule(sameHandle);
    EXPECT_EQ(hdGetError().errorCode, HD_INVALID_VALUE);

    // Callbacks stay scheduled across a stop and start.
    hdStopScheduler();
    EXPECT_FALSE(dev().tick());
    hdStartScheduler();
    EXPECT_TRUE(dev().tick());
    EXPECT_EQ(low.runs, 7);
    EXPECT_EQ(dev().tickCount(), 7u);
}

namespace {

struct Snapshot {
    double position[3] = {};
    double transform[16] = {};
    double velocity[3] = {};
    HDint rate = 0;
    HDint buttons = 0;
};

HDCallbackCode copyState(void* p)
{
    auto* s = static_cast<Snapshot*>(p);
    hdGetDoublev(HD_CURRENT_POSITION, s->position);
    hdGetDoublev(HD_CURRENT_TRANSFORM, s->transform);
    hdGetDoublev(HD_CURRENT_VELOCITY, s->velocity);
    hdGetIntegerv(HD_UPDATE_RATE, &s->rate);
    hdGetIntegerv(HD_CURRENT_BUTTONS, &s->buttons);
    return HD_CALLBACK_DONE;
}

/// A servo callback shaped like the device logic's: snapshot, then a frame with a force that
/// depends on the buttons.
struct Servo {
    HHD device = HD_INVALID_HANDLE;
    Snapshot snapshot;
    int ticks = 0;
};

HDCallbackCode servoTick(void* p)
{
    auto* s = static_cast<Servo*>(p);
    hdScheduleSynchronous(copyState, &s->snapshot, HD_DEFAULT_SCHEDULER_PRIORITY);
    hdBeginFrame(s->device);
    if (s->snapshot.buttons & HD_DEVICE_BUTTON_1) {
        const double f[3] = {0.0, 0.1 * ++s->ticks, -0.1 * s->snapshot.position[2]};
        hdSetDoublev(HD_CURRENT_FORCE, f);
    }
    hdEndFrame(s->device);
    return HD_CALLBACK_CONTINUE;
}

} // namespace

TEST_F(VirtualDeviceTest, ServoTickSeesTheStylusAndSendsForcesLoggedWithTheirTick)
{
    Servo servo;
    servo.device = open();
    hdScheduleAsynchronous(servoTick, &servo, HD_MAX_SCHEDULER_PRIORITY);
    hdStartScheduler();

    dev().setPosition(10, 20, 30);
    dev().setVelocity(1, 2, 3);
    dev().tick(2);
    EXPECT_EQ(servo.snapshot.position[1], 20);
    EXPECT_EQ(servo.snapshot.transform[14], 30) << "the transform carries the position";
    EXPECT_EQ(servo.snapshot.transform[0], 1);
    EXPECT_EQ(servo.snapshot.velocity[2], 3);
    EXPECT_EQ(servo.snapshot.rate, 1000);
    EXPECT_TRUE(dev().forcesSent().empty()) << "no button, no force";

    dev().setButtons(HD_DEVICE_BUTTON_1 | HD_DEVICE_BUTTON_2);
    dev().tick(); // tick 3
    dev().setButtons(HD_DEVICE_BUTTON_2);
    dev().tick(); // tick 4: back button only
    dev().setButtons(HD_DEVICE_BUTTON_1);
    dev().setPosition(0, 0, -4);
    dev().tick(); // tick 5
    const auto log = dev().forcesSent();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].tick, 3u);
    EXPECT_DOUBLE_EQ(log[0].force[1], 0.1);
    EXPECT_DOUBLE_EQ(log[0].force[2], -3.0);
    EXPECT_EQ(log[1].tick, 5u);
    EXPECT_DOUBLE_EQ(log[1].force[2], 0.4);
    EXPECT_EQ(dev().currentForce(), log[1].force);
    double held[3] = {};
    hdGetDoublev(HD_CURRENT_FORCE, held);
    EXPECT_DOUBLE_EQ(held[2], 0.4);
    EXPECT_TRUE(drainErrors().empty());
}

TEST_F(VirtualDeviceTest, ForcesOutsideFramesOrUnsafeAreNotSent)
{
    const HHD h = open();
    const double f[3] = {1, 0, 0};
    hdSetDoublev(HD_CURRENT_FORCE, f);
    EXPECT_EQ(hdGetError().errorCode, HD_INVALID_OPERATION);

    hdEndFrame(h);
    EXPECT_EQ(hdGetError().errorCode, HD_ILLEGAL_END);
    hdBeginFrame(h);
    hdBeginFrame(h);
    EXPECT_EQ(hdGetError().errorCode, HD_ILLEGAL_BEGIN);
    const double nan[3] = {std::numeric_limits<double>::quiet_NaN(), 0, 0};
    hdSetDoublev(HD_CURRENT_FORCE, nan);
    EXPECT_EQ(hdGetError().errorCode, HD_INVALID_VALUE);
    hdSetDoublev(HD_CURRENT_FORCE, nullptr);
    EXPECT_EQ(hdGetError().errorCode, HD_INVALID_VALUE);
    hdEndFrame(h);
    EXPECT_TRUE(dev().forcesSent().empty());

    // Above the nominal maximum: clamped along its direction, reported.
    dev().setNominalMaxForce(5.0);
    const double big[3] = {0, 30, 40};
    hdBeginFrame(h);
    hdSetDoublev(HD_CURRENT_FORCE, big);
    hdEndFrame(h);
    EXPECT_EQ(hdGetError().errorCode, HD_EXCEEDED_MAX_FORCE);
    ASSERT_EQ(dev().forcesSent().size(), 1u);
    EXPECT_DOUBLE_EQ(dev().forcesSent()[0].force[1], 3.0);
    EXPECT_DOUBLE_EQ(dev().forcesSent()[0].force[2], 4.0);

    // With force output off nothing reaches the motors, and they let go.
    hdDisable(HD_FORCE_OUTPUT);
    EXPECT_EQ(dev().currentForce(), (std::array<double, 3>{}));
    hdBeginFrame(h);
    hdSetDoublev(HD_CURRENT_FORCE, f);
    hdEndFrame(h);
    EXPECT_EQ(dev().forcesSent().size(), 1u);
    EXPECT_TRUE(drainErrors().empty());
}

namespace {

struct Nested {
    int innerRuns = 0;
    bool innerInline = false;
};

HDCallbackCode inner(void* p)
{
    ++static_cast<Nested*>(p)->innerRuns;
    return HD_CALLBACK_DONE;
}

HDCallbackCode stopsItself(void* p)
{
    auto* n = static_cast<Nested*>(p);
    const int before = n->innerRuns;
    hdScheduleSynchronous(inner, n, HD_DEFAULT_SCHEDULER_PRIORITY);
    n->innerInline = n->innerRuns == before + 1;
    hdStopScheduler();
    return HD_CALLBACK_CONTINUE;
}

} // namespace

TEST_F(VirtualDeviceTest, SynchronousCallbacksRunAtOnceOutsideTicksAndInsideCallbacks)
{
    open();
    Nested n;
    hdScheduleSynchronous(inner, &n, HD_DEFAULT_SCHEDULER_PRIORITY); // scheduler stopped
    EXPECT_EQ(n.innerRuns, 1);
    hdStartScheduler();
    hdScheduleSynchronous(inner, &n, HD_DEFAULT_SCHEDULER_PRIORITY); // manual mode
    EXPECT_EQ(n.innerRuns, 2);

    hdScheduleAsynchronous(stopsItself, &n, HD_MAX_SCHEDULER_PRIORITY);
    EXPECT_TRUE(dev().tick());
    EXPECT_TRUE(n.innerInline) << "a synchronous call from a callback runs inside it";
    EXPECT_FALSE(dev().schedulerRunning()) << "a callback may stop the scheduler";
    EXPECT_FALSE(dev().tick());
    EXPECT_EQ(dev().scheduledCallbacks(), 1u);
}

TEST_F(VirtualDeviceTest, ResetReturnsToTheDefaults)
{
    open();
    dev().setModelName("PHANTOM Desktop");
    dev().setButtons(3);
    dev().setUsableWorkspace({-1, -1, -1, 1, 1, 1});
    Counter c;
    hdScheduleAsynchronous(countRuns, &c, HD_MAX_SCHEDULER_PRIORITY);
    hdStartScheduler();
    dev().reset();
    EXPECT_FALSE(dev().isOpen());
    EXPECT_FALSE(dev().manualMode());
    EXPECT_EQ(dev().scheduledCallbacks(), 0u);
    EXPECT_EQ(dev().modelName(), VirtualDevice::DefaultModelName);
    EXPECT_EQ(dev().stylus().buttons, 0);
    EXPECT_EQ(dev().usableWorkspace()[3], 210);
}
