// The virtual device's real-time scheduler thread. Also run under ThreadSanitizer.
#include "support/TestData.h"

#include "haptics/hdapi/VirtualDevice.h"
#include "haptics/hdapi/hdapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vornax::hdapi;
using namespace std::chrono_literals;
using vornax::testing::waitFor;

namespace {

class SchedulerThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dev().reset();
        while (HD_DEVICE_ERROR(hdGetError())) {}
        useVirtualDevice(true);
        device = hdInitDevice(HD_DEFAULT_DEVICE);
        ASSERT_NE(device, HD_INVALID_HANDLE);
        hdEnable(HD_FORCE_OUTPUT);
    }
    void TearDown() override
    {
        dev().reset();
        resetDeviceChoice();
    }
    static VirtualDevice& dev() { return VirtualDevice::instance(); }
    HHD device = HD_INVALID_HANDLE;
};

struct Servo {
    HHD device = HD_INVALID_HANDLE;
    std::atomic<int> ticks{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> overlapped{false};
    std::atomic<std::thread::id> thread{};
    std::chrono::microseconds work{0};
};

HDCallbackCode readPosition(void* p)
{
    hdGetDoublev(HD_CURRENT_POSITION, static_cast<double*>(p));
    return HD_CALLBACK_DONE;
}

HDCallbackCode servoTick(void* p)
{
    auto* s = static_cast<Servo*>(p);
    if (s->inside.exchange(true)) s->overlapped = true;
    s->thread = std::this_thread::get_id();
    double pos[3];
    hdScheduleSynchronous(readPosition, pos, HD_DEFAULT_SCHEDULER_PRIORITY);
    hdBeginFrame(s->device);
    const double f[3] = {0, 0, pos[0] * 0.001};
    hdSetDoublev(HD_CURRENT_FORCE, f);
    hdEndFrame(s->device);
    if (s->work.count() > 0) std::this_thread::sleep_for(s->work);
    ++s->ticks;
    s->inside = false;
    return HD_CALLBACK_CONTINUE;
}

struct CallerThread {
    std::atomic<std::thread::id> thread{};
    std::atomic<int> runs{0};
};

HDCallbackCode noteThread(void* p)
{
    auto* c = static_cast<CallerThread*>(p);
    c->thread = std::this_thread::get_id();
    ++c->runs;
    return HD_CALLBACK_DONE;
}

} // namespace

TEST_F(SchedulerThreadTest, HoldsTheServoRateWhileTheStylusMoves)
{
    Servo servo;
    servo.device = device;
    hdScheduleAsynchronous(servoTick, &servo, HD_MAX_SCHEDULER_PRIORITY);
    hdStartScheduler();
    // The window thread moves the stylus and takes snapshots while the servo runs.
    const auto start = std::chrono::steady_clock::now();
    CallerThread caller;
    int moves = 0;
    while (std::chrono::steady_clock::now() - start < 1100ms) {
        dev().setPosition(++moves % 100, 0, 0);
        hdScheduleSynchronous(noteThread, &caller, HD_DEFAULT_SCHEDULER_PRIORITY);
        std::this_thread::sleep_for(5ms);
    }
    double rate = 0;
    hdGetDoublev(HD_UPDATE_RATE, &rate);
    hdStopScheduler();

    // Loose bounds: the exact 1 kHz is measured by bench/ServoRateProbe.
    EXPECT_GE(rate, 800.0);
    EXPECT_LE(rate, 1200.0);
    EXPECT_GE(servo.ticks.load(), 800);
    EXPECT_FALSE(servo.overlapped.load());
    EXPECT_NE(servo.thread.load(), std::this_thread::get_id());
    EXPECT_EQ(caller.thread.load(), servo.thread.load()) << "synchronous callbacks run in the servo thread";
    EXPECT_EQ(caller.runs.load(), moves);
    EXPECT_EQ(static_cast<int>(dev().forcesSent().size()), servo.ticks.load());
}

TEST_F(SchedulerThreadTest, NoCallbackRunsOnceStopReturns)
{
    Servo servo;
    servo.device = device;
    servo.work = 300us;
    hdScheduleAsynchronous(servoTick, &servo, HD_MAX_SCHEDULER_PRIORITY);
    for (int round = 0; round < 20; ++round) {
        hdStartScheduler();
        const int before = servo.ticks;
        ASSERT_TRUE(waitFor([&] { return servo.ticks > before + 2; }));
        std::this_thread::sleep_for(std::chrono::microseconds(137 * round));
        hdStopScheduler();
        EXPECT_FALSE(servo.inside.load()) << "round " << round;
        const int stopped = servo.ticks;
        std::this_thread::sleep_for(5ms);
        EXPECT_EQ(servo.ticks.load(), stopped) << "round " << round;
    }
    EXPECT_FALSE(servo.overlapped.load());
}

namespace {

struct Gate {
    std::atomic<bool> blocking{false};
    std::atomic<bool> release{false};
};

HDCallbackCode blockOnce(void* p)
{
    auto* g = static_cast<Gate*>(p);
    g->blocking = true;
    while (!g->release) std::this_thread::sleep_for(100us);
    return HD_CALLBACK_DONE;
}

} // namespace

TEST_F(SchedulerThreadTest, SynchronousCallWaitingWhenTheSchedulerStopsStillRunsOnce)
{
    Gate gate;
    hdScheduleAsynchronous(blockOnce, &gate, HD_MAX_SCHEDULER_PRIORITY);
    hdStartScheduler();
    ASSERT_TRUE(waitFor([&] { return gate.blocking.load(); }));

    CallerThread caller;
    std::atomic<bool> returned{false};
    std::thread window([&] {
        hdScheduleSynchronous(noteThread, &caller, HD_DEFAULT_SCHEDULER_PRIORITY);
        returned = true;
    });
    std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(returned.load()) << "waits for the servo thread";
    std::thread stopper([] { hdStopScheduler(); });
    std::this_thread::sleep_for(10ms);
    gate.release = true;
    stopper.join();
    window.join();
    EXPECT_EQ(caller.runs.load(), 1);
    EXPECT_FALSE(dev().schedulerRunning());
}

TEST_F(SchedulerThreadTest, ConcurrentStopsAndStartsLeaveOneConsistentScheduler)
{
    Servo servo;
    servo.device = device;
    hdScheduleAsynchronous(servoTick, &servo, HD_MAX_SCHEDULER_PRIORITY);
    std::atomic<bool> go{true};
    std::thread a([&] {
        while (go) {
            hdStartScheduler();
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread b([&] {
        while (go) {
            hdStopScheduler();
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread buttons([&] {
        for (int i = 0; go; ++i) {
            dev().setButtons(i & 3);
            std::this_thread::sleep_for(200us);
        }
    });
    std::this_thread::sleep_for(300ms);
    go = false;
    a.join();
    b.join();
    buttons.join();
    hdStopScheduler();
    const int stopped = servo.ticks;
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(servo.ticks.load(), stopped);
    EXPECT_FALSE(servo.overlapped.load());
    EXPECT_GT(stopped, 0);
}
