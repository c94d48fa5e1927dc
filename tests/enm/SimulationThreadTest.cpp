// The simulation thread against a servo-like writer, a window-like reader and mode changes.
// Also built with ThreadSanitizer.
#include "enm/SimulationThread.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

using namespace vornax;
using namespace vornax::testing;
using namespace std::chrono_literals;

namespace {

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

std::unique_ptr<LoadedStructure> ready(const char* name)
{
    auto s = solvedStructure(findPdb(name));
    if (s) s->network->setInit();
    return s;
}

} // namespace

TEST(SimulationThreadTest, PullsFromAnotherThreadAreStepped)
{
    auto s = ready("1crn.pdb");
    auto* eln = s->network.get();
    const int node = 10;
    const Vector3d last(0.1f, 0.3f, -0.2f);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    {
        SimulationThread sim(eln);
        // The window: reads deformed positions while the molecule moves.
        std::thread window([&] {
            while (!done.load()) {
                for (int i = 0; i < eln->getAmountOfAtoms(); ++i) {
                    const Vector3d p = eln->deformation().getDeformedPosition(i);
                    const Vector3d q = eln->getAtom(i)->getMyDeformedPosition();
                    if (!std::isfinite(p.x) || !std::isfinite(q.z)) torn.fetch_add(1);
                }
                std::this_thread::yield();
            }
        });
        // The user interface: changes the modes under the handshake.
        std::thread ui([&] {
            for (int round = 0; round < 50 && !done.load(); ++round) {
                const ModeChangeToken token = eln->beginModeChange(); // "please wait..."
                eln->useAllModes(token, round % 2 == 0);
                eln->selectModeState(token, 2);
                std::this_thread::sleep_for(1ms);
            }
        });
        // The servo: grab, pull for a while at about 1 kHz, release.
        eln->getAtom(node)->simulateState(0);
        for (int tick = 0; tick < 200; ++tick) {
            const float t = tick / 200.0f;
            eln->applyForce(Vector3d(0.1f * t, 0.3f * t, -0.2f * t), node);
            std::this_thread::sleep_for(500us);
        }
        eln->applyForce(last, node);
        eln->getAtom(node)->simulateState(2);
        Deformation::requestStep();
        EXPECT_TRUE(waitFor([&] { return eln->getAtom(node)->getPressed() == 3; })) << "release was not stepped";
        done.store(true);
        ui.join();
        window.join();
        sim.stop();
        EXPECT_FALSE(sim.isRunning());
    }
    EXPECT_EQ(torn.load(), 0);
    // The last force before the release is the one kept, and it is all that moves the molecule.
    const Vector3d kept = eln->getAtom(node)->getOLDKcalForce();
    const Vector3d sent = eln->getAtom(node)->getKcalForce();
    EXPECT_EQ(kept, sent);
    const double f[3] = {kept.x, kept.y, kept.z};
    std::vector<double> want(static_cast<std::size_t>(eln->get3N()));
    eln->deformation().computeResponse(f, node, 2, eln->getTotalMaxModes(), nullptr, want.data());
    double scale = 0, err = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        scale = std::max(scale, std::fabs(want[i]));
        err = std::max(err, std::fabs(eln->deformation().getDisplacement()[i] - want[i]));
    }
    EXPECT_LT(err, 1e-9 * scale);
    const Vector3d moved = eln->deformation().getDeformedPosition(node) - eln->getAtom(node)->getMyLocalPosition();
    EXPECT_NEAR(moved.y, 10 * want[3 * node + 1], 1e-3);
}

// The window's mode handlers against live steps: they try the handshake and skip while a step
// runs, or wait for it; every change lands whole, and the kept force leaves by the route the
// last change recorded.
TEST(SimulationThreadTest, ModeChangesWithTheTokenAgainstLiveSteps)
{
    auto s = ready("1crn.pdb");
    auto* eln = s->network.get();
    const int node = 20;
    Atom* atom = eln->getAtom(node);
    std::atomic<bool> pulling{true};
    int changed = 0, skipped = 0;
    const auto saved =
        std::filesystem::temp_directory_path() / ("vornax-live-save-" + std::to_string(::getpid()) + ".pdb");
    {
        SimulationThread sim(eln);
        atom->simulateState(0);
        std::thread servo([&] {
            for (int tick = 0; pulling.load(); ++tick) {
                const float t = 0.5f + 0.5f * static_cast<float>(tick % 100) / 100.0f;
                eln->applyForce(Vector3d(0.2f * t, -0.1f * t, 0.3f * t), node);
                std::this_thread::sleep_for(200us);
            }
        });
        const int32_t ticked[3] = {1, 4, 9};
        for (int round = 0; round < 120; ++round) {
            auto change = [&](const ModeChangeToken& token) {
                switch (round % 3) {
                case 0: // the slider
                    eln->useAllModes(token, false);
                    eln->selectAmountOfModes(token, 5 + round % 40);
                    eln->selectModeState(token, 1);
                    break;
                case 1: // the mode boxes
                    eln->receiveNewModes(token, ticked, 1 + round % 3);
                    eln->useAllModes(token, false);
                    eln->selectModeState(token, 0);
                    break;
                default: // select all
                    eln->receiveNewModes(token, nullptr, 0);
                    eln->selectModeState(token, 2);
                    eln->useAllModes(token, true);
                }
            };
            if (round % 2 == 0) {
                if (auto token = eln->tryBeginModeChange()) {
                    EXPECT_FALSE(eln->deformation().isSimulating());
                    change(*token);
                    ++changed;
                } else {
                    ++skipped;
                }
            } else {
                change(eln->beginModeChange());
                ++changed;
            }
            // "Save As" on the window thread while the molecule moves.
            if (round % 40 == 39) {
                EXPECT_TRUE(eln->write_C_alphaFile(saved.string()));
            }
            std::this_thread::sleep_for(300us);
        }
        pulling.store(false);
        servo.join();
        atom->simulateState(2);
        Deformation::requestStep();
        EXPECT_TRUE(waitFor([&] { return atom->getPressed() == 3; })) << "release was not stepped";
    }
    std::filesystem::remove(saved);
    EXPECT_GE(changed, 60);
    EXPECT_EQ(changed + skipped, 120);
    // The kept force is the only one: the displacement is its response by the recorded route.
    const Vector3d kept = atom->getOLDKcalForce();
    ASSERT_NE(kept, Vector3d());
    const ModeStateArray state = atom->getStateArray();
    const double f[3] = {kept.x, kept.y, kept.z};
    std::vector<double> want(static_cast<std::size_t>(eln->get3N()));
    eln->deformation().computeResponse(f, node, state[0], state[1], state.data() + 2, want.data());
    double scale = 0, err = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        scale = std::max(scale, std::fabs(want[i]));
        err = std::max(err, std::fabs(eln->deformation().getDisplacement()[i] - want[i]));
    }
    EXPECT_GT(scale, 0.0);
    EXPECT_LT(err, 1e-9 * scale);
}

TEST(SimulationThreadTest, SleepsWhenNothingChanges)
{
    auto s = ready("1crn.pdb");
    auto* eln = s->network.get();
    SimulationThread sim(eln);
    std::this_thread::sleep_for(50ms);
    const double cpu0 = processCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(300ms);
    const double cpu = processCpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    EXPECT_LT(cpu, 0.25 * wall) << "the simulation thread spins while idle";
    // And it wakes for a force at once.
    eln->getAtom(5)->simulateState(0);
    eln->applyForce(Vector3d(0, 0, 0.5f), 5);
    EXPECT_TRUE(waitFor([&] { return eln->getAtom(5)->getPressed() == 1; }));
    EXPECT_TRUE(waitFor([&] { return !(eln->deformation().getDeformedPosition(5) == eln->getAtom(5)->getMyLocalPosition()); }));
    sim.stop();
    EXPECT_TRUE(s->console.contains("RETURN 1"));
}

TEST(SimulationThreadTest, NoNetworkEndsAtOnce)
{
    console::Capture capture;
    {
        SimulationThread sim(nullptr);
    }
    EXPECT_TRUE(capture.contains("RETURN 2"));
}

// What the threads hand each other sequence-locked: two writers racing, a reader that never
// sees half of one value and half of another.
TEST(SeqLockedTest, ReadersSeeWholeValuesWhileWritersRace)
{
    struct Wide {
        uint64_t w[6];
    };
    auto make = [](uint64_t v) {
        Wide x{};
        for (uint64_t& e : x.w) e = v;
        return x;
    };
    SeqLocked<Wide> shared(make(0));
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (uint64_t id : {1u, 2u})
        writers.emplace_back([&, id] {
            for (uint64_t i = 0; !stop.load(); ++i) shared.store(make(id << 32 | i));
        });
    int torn = 0;
    for (const auto until = std::chrono::steady_clock::now() + 300ms; std::chrono::steady_clock::now() < until;)
        for (int i = 0; i < 1000; ++i) {
            const Wide x = shared.load();
            for (uint64_t e : x.w) torn += e != x.w[0];
        }
    stop.store(true);
    for (std::thread& t : writers) t.join();
    EXPECT_EQ(torn, 0);
}
