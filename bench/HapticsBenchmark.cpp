// Cost of one servo tick of the device logic on the virtual device in manual mode: without
// contact (the contact search scans every node), in contact (surface force), and pulling.
// Synthetic networks of 1000, 5000 and 20000 nodes (a chain folded through a cubic lattice of
// 3.8 Å) stand in for structures of that size; the pull runs on 4hhb, whose eigen solution is
// needed for forces. Reported per benchmark: median_us and p99_us of the single ticks.
#include "EnmBenchSupport.h"

#include "common/Console.h"
#include "common/UserPrompts.h"
#include "haptics/VirtualDeviceSession.h"
#include "haptics/hdapi/VirtualDevice.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>

using namespace vornax;
using namespace vornax::bench;
using hdapi::VirtualDevice;

namespace {

/// PDB text of `n` C-alpha atoms, a chain snaking through a cubic lattice of spacing 3.8 Å.
std::string latticeChain(int n)
{
    const int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(n))));
    std::string text;
    char line[96];
    for (int i = 0; i < n; ++i) {
        const int layer = i / (side * side), inLayer = i % (side * side);
        int row = inLayer / side, col = inLayer % side;
        if (row % 2) col = side - 1 - col; // boustrophedon: neighbours in the chain stay 3.8 Å apart
        if (layer % 2) row = side - 1 - row;
        std::snprintf(line, sizeof line, "ATOM  %5d  CA  ALA %c%4d    %8.3f%8.3f%8.3f  1.00 20.00           C\n",
                      i % 100000, 'A' + (i / 9999) % 26, i % 9999 + 1, col * 3.8, row * 3.8, layer * 3.8);
        text += line;
    }
    return text + "END\n";
}

struct Fixture {
    TempDir dir;
    std::unique_ptr<LoadedNetwork> loaded;
    std::unique_ptr<VirtualDeviceSession> session;
};

ScopedUserPrompts* quietPrompts()
{
    static ConsolePrompts prompts;
    static ScopedUserPrompts scoped(&prompts);
    return &scoped;
}

/// The synthetic network of `n` nodes with a device session on it (built once per size).
Fixture& synthetic(int n)
{
    static std::map<int, std::unique_ptr<Fixture>> cache;
    auto& slot = cache[n];
    if (!slot) {
        slot = std::make_unique<Fixture>();
        const fs::path pdb = slot->dir.path() / ("lattice" + std::to_string(n) + ".pdb");
        std::ofstream(pdb) << latticeChain(n);
        console::Capture quiet;
        slot->loaded = loadNetwork(pdb);
    }
    return *slot;
}

void openSession(Fixture& f, bool solved)
{
    VirtualSessionOptions o;
    o.usableWorkspace = std::array<double, 6>{-80.0, -60.0, -40.0, 80.0, 60.0, 40.0};
    console::Capture quiet;
    f.session.reset();
    f.session = std::make_unique<VirtualDeviceSession>(*f.loaded->eln, f.loaded->atoms, o);
    (void)solved;
}

/// Runs ticks with the stylus at `p` and `buttons`, timing each one.
void timeTicks(benchmark::State& state, VirtualDeviceSession& session, const Vector3d& p, int buttons)
{
    VirtualDevice& vd = VirtualDevice::instance();
    session.setStylus(p, buttons);
    for (int i = 0; i < 50; ++i) vd.tick(); // settle: contact found, proxies placed
    std::vector<double> us;
    us.reserve(200000);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        vd.tick();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        us.push_back(seconds * 1e6);
    }
    if (us.empty()) return;
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    state.counters["nodes"] = session.network().getAmountOfAtoms();
}

void BM_ServoTickNoContact(benchmark::State& state)
{
    quietPrompts();
    Fixture& f = synthetic(static_cast<int>(state.range(0)));
    openSession(f, false);
    // The centre of a lattice cell in the middle of the block: 33 model units from every node,
    // so the contact search scans all of them.
    const Vector3d cell =
        f.session->nodeInDevice(f.loaded->eln->getAmountOfAtoms() / 2) + Vector3d(19.0f, 19.0f, 19.0f);
    timeTicks(state, *f.session, cell, 0);
    if (f.session->device().getCurrentAtom()) state.SkipWithError("the probe touched a node");
    f.session.reset();
}

void BM_ServoTickContact(benchmark::State& state)
{
    quietPrompts();
    Fixture& f = synthetic(static_cast<int>(state.range(0)));
    openSession(f, false);
    const int node = f.loaded->eln->getAmountOfAtoms() - 1; // the last node: the search runs to the end
    timeTicks(state, *f.session, f.session->nodeInDevice(node) + Vector3d(8.0f, 0.0f, 0.0f), 0);
    if (!f.session->device().getCurrentAtom()) state.SkipWithError("no contact");
    f.session.reset();
}

void BM_ServoTickPull(benchmark::State& state)
{
    quietPrompts();
    static Fixture f;
    if (!f.loaded) {
        console::Capture quiet;
        f.loaded = vornax::bench::solveNetwork(fs::path(VORNAX_SOURCE_DIR) / "tests/data/pdb/4hhb.pdb");
        if (!f.loaded) {
            state.SkipWithError("4hhb.pdb could not be loaded");
            return;
        }
    }
    openSession(f, true);
    VirtualDeviceSession& s = *f.session;
    const int node = 300;
    s.tick(s.nodeInDevice(node) + Vector3d(11.0f, 0.0f, 0.0f), 0);
    s.tick(s.nodeInDevice(node) + Vector3d(11.0f, 0.0f, 0.0f), 1);
    timeTicks(state, s, s.nodeInDevice(node) + Vector3d(40.0f, 0.0f, 0.0f), 1);
    if (f.loaded->eln->getAtom(node)->getMyApplyingForce() == Vector3d()) state.SkipWithError("no pull");
    state.counters["nodes"] = f.loaded->eln->getAmountOfAtoms();
    f.session.reset();
}

} // namespace

BENCHMARK(BM_ServoTickNoContact)->Arg(1000)->Arg(5000)->Arg(20000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ServoTickContact)->Arg(1000)->Arg(5000)->Arg(20000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ServoTickPull)->UseManualTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
