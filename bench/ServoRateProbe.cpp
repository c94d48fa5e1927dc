// Servo rate of the virtual device's scheduler: runs a servo callback shaped like the device
// logic's (synchronous snapshot, frame, force) for a while and prints the rate it achieved.
//   servo_rate_probe [seconds=10] [FILE.pdb]
// With FILE the network of the structure is solved first and the simulation thread runs beside
// the servo, woken by a new force every millisecond as a pull with the device wakes it.
// Exit status 1 when the overall rate is off 1 kHz by more than 2 %.
#include "EnmBenchSupport.h"
#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/SimulationThread.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "haptics/hdapi/hdapi.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

using namespace vornax::hdapi;
using Clock = std::chrono::steady_clock;

namespace {

struct Servo {
    HHD device = HD_INVALID_HANDLE;
    std::vector<Clock::time_point> stamps; // written by the servo thread only, read after stop
    double position[3] = {};
};

HDCallbackCode snapshot(void* p)
{
    hdGetDoublev(HD_CURRENT_POSITION, static_cast<double*>(p));
    return HD_CALLBACK_DONE;
}

HDCallbackCode servoTick(void* p)
{
    auto* s = static_cast<Servo*>(p);
    s->stamps.push_back(Clock::now());
    hdScheduleSynchronous(snapshot, s->position, HD_DEFAULT_SCHEDULER_PRIORITY);
    hdBeginFrame(s->device);
    const double f[3] = {0.0, 0.0, s->position[0] * 1e-3};
    hdSetDoublev(HD_CURRENT_FORCE, f);
    hdEndFrame(s->device);
    return HD_CALLBACK_CONTINUE;
}

} // namespace

/// A solved network whose simulation thread steps a pull of node 0 whose force changes every
/// millisecond.
class PulledNetwork {
public:
    explicit PulledNetwork(const char* file)
    {
        vornax::ScopedUserPrompts quiet(&m_prompts);
        const vornax::console::Capture engineLines; // the solve's diagnostics stay off the report
        m_loaded = vornax::bench::solveNetwork(file);
        if (!m_loaded) return;
        vornax::ElasticNetworkModel& eln = *m_loaded->eln;
        eln.setInit();
        eln.getAtom(0)->simulateState(0);
        m_simulation = std::make_unique<vornax::SimulationThread>(&eln);
        m_puller = std::thread([this, &eln] {
            for (int k = 0; m_pulling.load(std::memory_order_acquire); ++k) {
                eln.applyForce(vornax::Vector3d(0.05f * static_cast<float>(k % 11), 0.1f, -0.2f), 0);
                ++m_forces;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        m_ok = true;
    }
    ~PulledNetwork()
    {
        const vornax::console::Capture engineLines;
        m_pulling.store(false, std::memory_order_release);
        if (m_puller.joinable()) m_puller.join();
        m_simulation.reset();
        m_loaded.reset();
    }
    bool ok() const { return m_ok; }
    int nodes() const { return m_loaded ? m_loaded->nodes() : 0; }
    long forces() const { return m_forces; }

private:
    vornax::ScriptedPrompts m_prompts;
    std::unique_ptr<vornax::bench::LoadedNetwork> m_loaded;
    std::unique_ptr<vornax::SimulationThread> m_simulation;
    std::thread m_puller;
    std::atomic<bool> m_pulling{true};
    std::atomic<long> m_forces{0};
    bool m_ok = false;
};

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10.0;
    std::unique_ptr<PulledNetwork> network;
    if (argc > 2) {
        network = std::make_unique<PulledNetwork>(argv[2]);
        if (!network->ok()) {
            std::fprintf(stderr, "%s: the network could not be solved\n", argv[2]);
            return 2;
        }
        std::printf("simulation thread running on %d nodes\n", network->nodes());
    }
    useVirtualDevice(true);
    Servo servo;
    servo.stamps.reserve(static_cast<std::size_t>(seconds * 1100) + 1000);
    servo.device = hdInitDevice(HD_DEFAULT_DEVICE);
    if (servo.device == HD_INVALID_HANDLE) {
        std::fprintf(stderr, "virtual device did not open\n");
        return 2;
    }
    hdEnable(HD_FORCE_OUTPUT);
    hdScheduleAsynchronous(servoTick, &servo, HD_MAX_SCHEDULER_PRIORITY);
    hdStartScheduler();

    std::vector<double> reported;
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        double rate = 0;
        hdGetDoublev(HD_UPDATE_RATE, &rate);
        reported.push_back(rate);
        // The window thread moves the stylus meanwhile.
        VirtualDevice::instance().setPosition(static_cast<double>(reported.size()), 0, 0);
    }
    hdStopScheduler();
    if (network) std::printf("forces handed to the simulation: %ld\n", network->forces());
    network.reset();

    const auto& t = servo.stamps;
    if (t.size() < 2) return 2;
    const double span = std::chrono::duration<double>(t.back() - t.front()).count();
    const double overall = (t.size() - 1) / span;
    std::vector<double> gaps;
    for (std::size_t i = 1; i < t.size(); ++i)
        gaps.push_back(std::chrono::duration<double, std::micro>(t[i] - t[i - 1]).count());
    std::sort(gaps.begin(), gaps.end());
    auto pct = [&](double q) { return gaps[static_cast<std::size_t>(q * (gaps.size() - 1))]; };

    std::printf("ticks: %zu over %.3f s\n", t.size(), span);
    std::printf("overall rate: %.2f Hz (deviation %+.3f %%)\n", overall, (overall / 1000.0 - 1.0) * 100.0);
    std::printf("HD_UPDATE_RATE each second:");
    for (double r : reported) std::printf(" %.1f", r);
    std::printf("\n");
    std::printf("tick interval us: median %.1f, p1 %.1f, p99 %.1f, max %.1f\n", pct(0.5), pct(0.01), pct(0.99),
                gaps.back());
    std::printf("forces sent: %zu\n", VirtualDevice::instance().forcesSent().size());
    const bool ok = std::abs(overall - 1000.0) <= 20.0;
    std::printf("within 1 kHz +- 2 %%: %s\n", ok ? "yes" : "no");
    return ok ? 0 : 1;
}
