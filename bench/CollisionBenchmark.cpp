// Contact search of the servo tick (ElasticNetworkModel::collisionCheck) on large networks.
// Synthetic networks: N nodes on a jittered cubic lattice with the C-alpha spacing (3.8 Å), the
// probe wandering through the cloud. Most probes touch nothing, the case the servo tick meets
// while the stylus moves through the structure.
//   collision_benchmark [--benchmark_filter=...]
#include "enm/ElasticNetworkModel.h"
#include "molecule/Atom.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace vornax;

namespace {

constexpr float kSpacing = 38.0f; // 3.8 Å in model units

struct Cloud {
    std::unique_ptr<ElasticNetworkModel> eln = std::make_unique<ElasticNetworkModel>();
    std::vector<Vector3d> probes;
    float extent = 0.0f;
};

std::unique_ptr<Cloud> makeCloud(int n)
{
    auto c = std::make_unique<Cloud>();
    const int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(n))));
    c->extent = side * kSpacing;
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> jitter(-4.0f, 4.0f);
    ChainList chains(1);
    for (int i = 0; i < n; ++i) {
        const int x = i % side, y = (i / side) % side, z = i / (side * side);
        const Vector3d p(x * kSpacing + jitter(rng), y * kSpacing + jitter(rng), z * kSpacing + jitter(rng));
        ELNBackboneData r(p, "A", "ALA", std::to_string(i % 10000), 20.0, false);
        r.coordinates = {p.x / 10.0, p.y / 10.0, p.z / 10.0};
        chains[0].push_back(r);
    }
    c->eln->recieveChainList(chains);
    c->eln->generateRenderingBB();
    c->eln->buildLightAtomList();
    std::uniform_real_distribution<float> inside(0.0f, c->extent);
    for (int i = 0; i < 4096; ++i) c->probes.emplace_back(inside(rng), inside(rng), inside(rng));
    return c;
}

void BM_CollisionCheck(benchmark::State& state)
{
    const auto cloud = makeCloud(static_cast<int>(state.range(0)));
    std::size_t k = 0;
    int64_t hits = 0;
    for (auto _ : state) {
        bool res = false;
        Atom* a = cloud->eln->collisionCheck(cloud->probes[k++ & 4095], res);
        benchmark::DoNotOptimize(a);
        hits += res;
    }
    state.counters["hit_fraction"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
}

// The search as it was before the grid: every node in network order until the first hit.
void BM_PlainScan(benchmark::State& state)
{
    const auto cloud = makeCloud(static_cast<int>(state.range(0)));
    auto& eln = *cloud->eln;
    std::size_t k = 0;
    int64_t hits = 0;
    for (auto _ : state) {
        const Vector3d& probe = cloud->probes[k++ & 4095];
        Atom* a = nullptr;
        for (int32_t i = 0; i < eln.getAmountOfAtoms(); ++i)
            if (eln.getAtom(i)->pointToSphereAt(probe, eln.deformation().getDeformedPosition(i))) {
                a = eln.getAtom(i);
                break;
            }
        benchmark::DoNotOptimize(a);
        hits += a != nullptr;
    }
    state.counters["hit_fraction"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_PlainScan)
    ->Arg(5000)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_CollisionCheck)
    ->Arg(5000)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Coming to rest after a deformation: positions republished, one search scans, the next rebuilds
// the grid (the tick that pays for the rebuild).
void BM_RestAfterUpdate(benchmark::State& state)
{
    const auto cloud = makeCloud(static_cast<int>(state.range(0)));
    auto& eln = *cloud->eln;
    std::size_t k = 0;
    for (auto _ : state) {
        eln.updateDeformables();
        bool res = false;
        benchmark::DoNotOptimize(eln.collisionCheck(cloud->probes[k++ & 4095], res));
        benchmark::DoNotOptimize(eln.collisionCheck(cloud->probes[k++ & 4095], res));
    }
}

// The position update alone, to read the rebuild cost off the one above.
void BM_UpdateOnly(benchmark::State& state)
{
    const auto cloud = makeCloud(static_cast<int>(state.range(0)));
    for (auto _ : state) cloud->eln->updateDeformables();
}

BENCHMARK(BM_UpdateOnly)
    ->Arg(5000)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_RestAfterUpdate)
    ->Arg(5000)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
