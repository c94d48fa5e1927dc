// The simulation thread: while it runs, it steps the force response of its network once that
// network is initialised, and sleeps between requests for a step. Each object has its own
// network and run flag, so several may run in one process.
//
//     SimulationThread simulation(network);  // starts
//     network->setInit();                    // steps begin
//     simulation.stop();                     // also on destruction
#pragma once

#include <atomic>
#include <thread>

namespace vornax {

class ElasticNetworkModel;

/// Runs the simulation loop on its own thread and stops and joins it on destruction.
class SimulationThread {
public:
    /// Starts the thread on `network`; without one it ends at once.
    explicit SimulationThread(ElasticNetworkModel* network);
    ~SimulationThread();
    SimulationThread(const SimulationThread&) = delete;
    SimulationThread& operator=(const SimulationThread&) = delete;
    /// Ends the loop and joins the thread.
    void stop();
    /// The loop has been asked to run and not yet to stop.
    bool isRunning() const { return m_running.load(std::memory_order_acquire); }
    ElasticNetworkModel* network() const { return m_network; }

private:
    /// Steps the network while running, sleeping until a force, press state or mode changes.
    void simulate();

    ElasticNetworkModel* const m_network;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

} // namespace vornax
