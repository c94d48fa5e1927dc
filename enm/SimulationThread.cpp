// The simulation thread: steps the force response of the network in use.
#include "enm/SimulationThread.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"

#include <algorithm>
#include <chrono>

namespace vornax {

namespace {
/// Bumped by everything that calls for a step; the threads sleep while it stays the same (a
/// request wakes every simulation thread of the process: one without news steps its network
/// once more and sleeps again).
std::atomic<uint64_t> g_stepRequests{0};
/// Steps up to this long follow each other at once (small networks step at the servo's rate).
constexpr std::chrono::microseconds kLongStep{500};
/// The longest rest after a step, whatever the step took.
constexpr std::chrono::milliseconds kLongestRest{50};
} // namespace

void Deformation::requestStep()
{
    g_stepRequests.fetch_add(1, std::memory_order_acq_rel);
    g_stepRequests.notify_all();
}

void SimulationThread::simulate()
{
    ElasticNetworkModel* const eln = m_network;
    if (!eln) {
        console::line("RETURN 2");
        return;
    }
    uint64_t seen = g_stepRequests.load(std::memory_order_acquire);
    for (;;) {
        if (!m_running.load(std::memory_order_acquire)) break;
        if (eln->isInit()) {
            const auto start = std::chrono::steady_clock::now();
            eln->simulate();
            eln->updateDeformables();
            // A long step (a large network) rests as long as it took before the next one, so
            // that the thread takes at most half a core from the drawing and the servo; the
            // requests that arrive meanwhile are answered by one step after the rest.
            const auto took = std::chrono::steady_clock::now() - start;
            if (took > kLongStep)
                std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(took, kLongestRest));
        }
        // A request that arrived during the step changed the counter: step again at once.
        g_stepRequests.wait(seen, std::memory_order_acquire);
        seen = g_stepRequests.load(std::memory_order_acquire);
    }
    console::line("RETURN 1");
}

SimulationThread::SimulationThread(ElasticNetworkModel* network) : m_network(network)
{
    m_running.store(true, std::memory_order_release);
    m_thread = std::thread([this] { simulate(); });
}

SimulationThread::~SimulationThread() { stop(); }

void SimulationThread::stop()
{
    if (!m_thread.joinable()) return;
    m_running.store(false, std::memory_order_release);
    Deformation::requestStep();
    m_thread.join();
}

} // namespace vornax
