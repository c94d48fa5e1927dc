// The simulation thread: while runningELN is set, it steps the force response of the network
// in globalPointerForELNAccessedBySimThread once that network is initialised, and sleeps
// between requests for a step.
//
//     SimulationThread simulation(network);  // publishes the network, sets runningELN, starts
//     network->setInit();                    // steps begin
//     simulation.stop();                     // also on destruction
#pragma once

#include <atomic>
#include <thread>

namespace vornax {

class ElasticNetworkModel;

extern std::atomic<bool> runningELN;
extern std::atomic<ElasticNetworkModel*> globalPointerForELNAccessedBySimThread;
/// Body of the simulation thread: steps the global network while runningELN is set,
/// sleeping until a force, press state or mode changes.
void simulateELN();

/// Starts simulateELN on its own thread and stops and joins it on destruction.
class SimulationThread {
public:
    explicit SimulationThread(ElasticNetworkModel* network);
    ~SimulationThread();
    SimulationThread(const SimulationThread&) = delete;
    SimulationThread& operator=(const SimulationThread&) = delete;
    void stop();

private:
    std::thread m_thread;
};

} // namespace vornax
