// The simulation thread: steps the force response of the network in use.
#include "enm/SimulationThread.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"

namespace vornax {

std::atomic<bool> runningELN{false};
std::atomic<ElasticNetworkModel*> globalPointerForELNAccessedBySimThread{nullptr};

namespace {
/// Bumped by everything that calls for a step; the thread sleeps while it stays the same.
std::atomic<uint64_t> g_stepRequests{0};
} // namespace

void ElasticNetworkModel::requestStep()
{
    g_stepRequests.fetch_add(1, std::memory_order_acq_rel);
    g_stepRequests.notify_all();
}

void simulateELN()
{
    if (!globalPointerForELNAccessedBySimThread.load(std::memory_order_acquire)) {
        console::line("RETURN 2");
        return;
    }
    uint64_t seen = g_stepRequests.load(std::memory_order_acquire);
    for (;;) {
        ElasticNetworkModel* eln = globalPointerForELNAccessedBySimThread.load(std::memory_order_acquire);
        if (!runningELN.load(std::memory_order_acquire) || !eln) break;
        if (eln->isInit()) {
            eln->simulate();
            eln->updateDeformables();
        }
        // A request that arrived during the step changed the counter: step again at once.
        g_stepRequests.wait(seen, std::memory_order_acquire);
        seen = g_stepRequests.load(std::memory_order_acquire);
    }
    console::line("RETURN 1");
}

SimulationThread::SimulationThread(ElasticNetworkModel* network)
{
    globalPointerForELNAccessedBySimThread.store(network, std::memory_order_release);
    runningELN.store(true, std::memory_order_release);
    m_thread = std::thread(simulateELN);
}

SimulationThread::~SimulationThread() { stop(); }

void SimulationThread::stop()
{
    if (!m_thread.joinable()) return;
    runningELN.store(false, std::memory_order_release);
    ElasticNetworkModel::requestStep();
    m_thread.join();
}

} // namespace vornax
