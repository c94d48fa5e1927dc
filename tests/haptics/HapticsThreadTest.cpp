// The servo thread (the virtual device's 1 kHz scheduler) and the simulation thread live
// together while the window thread reads and changes the device object. Also built and run
// with ThreadSanitizer.
#include "HapticsTestSupport.h"

#include "enm/SimulationThread.h"
#include "haptics/Workbench.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vornax;
using namespace vornax::testing;
using namespace std::chrono_literals;
using hdapi::VirtualDevice;

namespace {

/// The servo and simulation threads under ThreadSanitizer are slow: a longer wait.
template <typename Pred>
bool waitForServo(Pred pred)
{
    return waitFor(pred, 20000ms);
}

/// Waits until the servo loop has run `n` more ticks.
bool waitTicks(uint64_t n)
{
    const uint64_t start = VirtualDevice::instance().tickCount();
    return waitForServo([&] { return VirtualDevice::instance().tickCount() >= start + n; });
}

class HapticsThreadTest : public ::testing::Test {
protected:
    void open(bool saving)
    {
        const auto path = findPdb("1crn.pdb");
        if (path.empty()) GTEST_SKIP() << "1crn.pdb is not available";
        s = solvedStructure(path);
        ASSERT_TRUE(s);
        VirtualSessionOptions o = testOptions(saving);
        o.manual = false;
        session = std::make_unique<VirtualDeviceSession>(*s->network, s->atoms, o);
        ASSERT_TRUE(session->ok());
        eln = s->network.get();
        dev = &session->device();
    }

    void stylus(int node, float dx, int buttons)
    {
        session->setStylus(nodes[static_cast<std::size_t>(node)] + Vector3d(dx, 0.0f, 0.0f), buttons);
        ASSERT_TRUE(waitTicks(20));
    }

    /// Device positions of the nodes, taken before the threads start.
    void takeNodePositions()
    {
        for (int i = 0; i < eln->getAmountOfAtoms(); ++i) nodes.push_back(session->nodeInDevice(i));
    }

    /// The window thread's share: read what the servo thread writes, write what it reads.
    void startWindow()
    {
        window = std::thread([this] {
            int frame = 0;
            while (!stopWindow.load()) {
                (void)dev->getSCP();
                (void)dev->getTransform();
                (void)dev->getProbeMarker();
                (void)dev->getButtons();
                (void)dev->getLastFrameTimeNEW();
                (void)dev->getFirstEntry();
                if (Atom* a = dev->getCurrentAtom()) (void)a->getMyApplyingForce();
                dev->growHapticWS(0.01f);
                dev->setProbeWindowPosition(400.0 + frame % 7, 300.0, 0.5);
                dev->setCameraZoom(266.0f);
                dev->setTransformAmount(frame % 2 ? 0.001f : 0.01f);
                for (int i = 0; i < eln->getAmountOfAtoms(); ++i) (void)eln->deformation().getDeformedPosition(i);
                ++frame;
                std::this_thread::sleep_for(2ms);
            }
        });
    }

    /// Pulls nodes 5 and 30 in turn and lets go outside: both forces are kept.
    void keepTwoForces()
    {
        for (int node : {5, 30}) {
            session->setStylus(Vector3d(0.0f, 0.0f, 1000.0f), 0);
            ASSERT_TRUE(waitTicks(20));
            stylus(node, 11.0f, 0);
            ASSERT_TRUE(waitForServo([&] { return dev->getCurrentAtom() == eln->getAtom(node); }));
            stylus(node, 11.0f, 1);
            stylus(node, 50.0f, 1);
            stylus(node, 50.0f, 0);
            ASSERT_TRUE(waitForServo([&] { return eln->getAtom(node)->getOLDKcalForce() != Vector3d(); }));
        }
    }

    void TearDown() override
    {
        stopWindow.store(true);
        if (window.joinable()) window.join();
    }

    std::unique_ptr<LoadedStructure> s;
    std::unique_ptr<VirtualDeviceSession> session;
    ElasticNetworkModel* eln = nullptr;
    SensableHaptics* dev = nullptr;
    std::vector<Vector3d> nodes;
    std::thread window;
    std::atomic<bool> stopWindow{false};
};

} // namespace

TEST_F(HapticsThreadTest, PullReleaseAndRampWithLiveThreads)
{
    open(false);
    takeNodePositions();
    const int node = 15;
    Atom* atom = eln->getAtom(node);
    const Vector3d rest = eln->deformation().getDeformedPosition(node);
    SimulationThread sim(eln);
    startWindow();

    stylus(node, 11.0f, 0);
    ASSERT_TRUE(waitForServo([&] { return dev->getCurrentAtom() == atom; }));
    stylus(node, 11.0f, 1);
    stylus(node, 50.0f, 1);
    ASSERT_TRUE(waitForServo([&] { return atom->getPressed() == 1 && eln->deformation().getDeformedPosition(node).x > rest.x; }));
    EXPECT_TRUE(atom->isSelected());

    stylus(node, 50.0f, 0); // output frozen
    stylus(node, 50.0f, 1); // press again
    stylus(node, 50.0f, 0); // let go outside: ramp down
    ASSERT_TRUE(waitForServo([&] { return dev->getCurrentAtom() != atom && !atom->isSelected(); }));
    ASSERT_TRUE(waitForServo([&] { return atom->getPressed() == 3 && eln->deformation().getDeformedPosition(node) == rest; }))
        << "the last ramp force stayed in the displacement";

    // Stopping the scheduler means no tick runs any more.
    dev->stopSched();
    const uint64_t stopped = VirtualDevice::instance().tickCount();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(VirtualDevice::instance().tickCount(), stopped);
    dev->startSched();
    EXPECT_TRUE(waitTicks(5));
    sim.stop();
}

TEST_F(HapticsThreadTest, KeptForcesWithLiveThreads)
{
    open(true);
    takeNodePositions();
    SimulationThread sim(eln);
    startWindow();
    keepTwoForces();
    EXPECT_EQ(dev->getSelectionStack(), (std::vector<int32_t>{5, 30}));
    EXPECT_TRUE(eln->getAtom(5)->isSelected());
    sim.stop();
    // Undone with the simulation stopped.
    EXPECT_TRUE(dev->popLastSelectionFromStack());
    EXPECT_EQ(eln->getAtom(30)->getOLDKcalForce(), Vector3d());
    dev->resetAllForces();
    EXPECT_TRUE(dev->getSelectionStack().empty());
}

// Undo runs on the window thread while the simulation thread keeps publishing positions. The
// network's applyZeroForce writes the displacement that updateDeformables reads outside the
// step's handshake, so ThreadSanitizer reports that race in the network until it is closed there.
TEST_F(HapticsThreadTest, KeptForcesUndoneWhileTheSimulationRuns)
{
    open(true);
    takeNodePositions();
    SimulationThread sim(eln);
    startWindow();
    keepTwoForces();
    EXPECT_TRUE(dev->popLastSelectionFromStack());
    EXPECT_EQ(eln->getAtom(30)->getOLDKcalForce(), Vector3d());
    dev->resetAllForces();
    EXPECT_TRUE(dev->getSelectionStack().empty());
    ASSERT_TRUE(waitForServo(
        [&] { return eln->deformation().getDeformedPosition(5).isEqual(eln->getAtom(5)->getMyLocalPosition(), 1e-3f); }));
    sim.stop();
}

// Two workbenches in one process, each with its own network and simulation thread: pulls made
// at once from two threads are stepped by each one's own thread into its own network, and one
// stopped leaves the other running.
TEST(WorkbenchThreadTest, TwoWorkbenchesRunSideBySide)
{
    const auto path = findPdb("1crn.pdb");
    if (path.empty()) GTEST_SKIP() << "1crn.pdb is not available";
    std::unique_ptr<LoadedStructure> loaded[2] = {solvedStructure(path), solvedStructure(path)};
    ASSERT_TRUE(loaded[0] && loaded[1]);
    Workbench benches[2];
    for (int k = 0; k < 2; ++k) {
        const Placement placement = Placement::ofNodes(*loaded[k]->network);
        benches[k].handOver(std::move(loaded[k]->network), loaded[k]->atoms, placement);
        benches[k].start();
        benches[k].startSimulation();
        EXPECT_TRUE(benches[k].simulationRunning());
    }
    ElasticNetworkModel* eln[2] = {benches[0].network(), benches[1].network()};
    const int nodes[2] = {10, 30};
    const Vector3d forces[2] = {Vector3d(0.2f, 0.0f, 0.1f), Vector3d(0.0f, -0.3f, 0.2f)};

    // Each network pulled by its own servo-like thread, then let go with the force kept.
    auto pull = [](ElasticNetworkModel* network, int node, Vector3d force) {
        network->getAtom(node)->simulateState(0);
        for (int tick = 1; tick <= 100; ++tick) {
            network->applyForce(force * (tick / 100.0f), node);
            std::this_thread::sleep_for(200us);
        }
        network->getAtom(node)->simulateState(2);
        Deformation::requestStep();
    };
    std::thread servo0(pull, eln[0], nodes[0], forces[0]);
    std::thread servo1(pull, eln[1], nodes[1], forces[1]);
    servo0.join();
    servo1.join();
    for (int k = 0; k < 2; ++k) {
        Atom* atom = eln[k]->getAtom(nodes[k]);
        ASSERT_TRUE(waitForServo([&] { return atom->getPressed() == 3; })) << "workbench " << k;
        EXPECT_EQ(atom->getOLDKcalForce(), atom->getKcalForce()) << "workbench " << k;
        EXPECT_NE(atom->getOLDKcalForce(), Vector3d()) << "workbench " << k;
        // The other workbench's pull left this network alone.
        EXPECT_EQ(eln[k]->getAtom(nodes[1 - k])->getOLDKcalForce(), Vector3d()) << "workbench " << k;
        EXPECT_GT(eln[k]->deformation().getDeformedPosition(nodes[k]).euclideanDistance(atom->getMyLocalPosition()), 0.0f);
    }

    // The first stops: a request on it stays unanswered while the second answers a later one.
    benches[0].stopSimulation();
    EXPECT_FALSE(benches[0].simulationRunning());
    EXPECT_TRUE(benches[1].simulationRunning());
    Atom* idle = eln[0]->getAtom(5);
    idle->simulateState(0);
    eln[0]->applyForce(Vector3d(0.1f, 0.1f, 0.1f), 5);
    Atom* live = eln[1]->getAtom(5);
    live->simulateState(0);
    eln[1]->applyForce(Vector3d(0.1f, 0.1f, 0.1f), 5);
    EXPECT_TRUE(waitForServo([&] { return live->getPressed() == 1; }));
    EXPECT_EQ(idle->getPressed(), 0);
    benches[1].shutdown();
    EXPECT_FALSE(benches[1].simulationRunning());
    EXPECT_EQ(benches[1].network(), nullptr);
}
