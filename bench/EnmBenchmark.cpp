// Costs of the elastic network engine per structure size, at Rc = 11 Å:
//
//   BM_Hessian/<file>/<nodes>            constructHessianMatrix (allocation included)
//   BM_EigenLapack/<file>/<nodes>        calculateEigen with the default solver (LAPACK stages, sparse first block, blocked back-transformation)
//   BM_Y/<file>/<nodes>                  calculateY on the calibrated network (BLAS dsyrk)
//   BM_ResponseY/<file>/<nodes>          one simulate() step of a pulled node through Y
//   BM_ResponseModes100/<file>/<nodes>   the same step through the first 100 modes
//   BM_EigenLapackDC/<file>/<nodes>      calculateEigen with dsyevd
//   BM_EigenLapackMRRR/<file>/<nodes>    calculateEigen with dsyevr (ProDy's driver)
//   BM_EigenReference/<file>/<nodes>     calculateEigen with tred2 + tqli (small networks only)
//
// The eigen benchmarks build the Hessian outside the timed region; each repetition is one
// solve (Iterations(1)) and the median of the repetitions is the result. The solution of the
// last default solve is kept for the Y and response benchmarks of the same structure. The
// Hessian benchmark times what the program pays: the zeroed allocation (pages are mapped as
// they are first written) and the fill; from the second iteration on also freeing the last one.
//
// Files: VORNAX_BENCH_PDB (one path or several separated by ':'), otherwise 1d66, 1ake, 4hhb,
// 1igy, 3wip, 4jsv and 3j6r from <repo>/../shared/data/pdb plus a 5000-node cut of 1aon made
// in a temporary folder. Without that folder there is nothing to measure: exit status 0.
// Environment:
//   VORNAX_BENCH_MAX_NODES       leave out structures with more nodes (quick runs: at 5000
//                                nodes each full solve takes 10-16 minutes on 2 shared cores
//                                and the whole structure about half an hour)
//   VORNAX_BENCH_REFERENCE_MAX_NODES  largest network for the reference solver (default 700)
//   VORNAX_BENCH_HEAP_SHIFT      bytes allocated before anything else (0): shifts where the
//                                network's buffers lie, to tell layout effects from code effects
//   VORNAX_BENCH_SOLVE_REPS      repetitions of each solve and of Y (default 3 up to 700
//                                nodes, 1 above; the reference solver 1 above 300 nodes)
//
// bench/enm-vs-prody.sh runs this side by side with ProDy and prints the ratios.

#include "EnmBenchSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#ifndef VORNAX_SOURCE_DIR
#error "VORNAX_SOURCE_DIR must name the repository's source directory"
#endif

namespace {

namespace fs = std::filesystem;
using vornax::EigenSolver;
using vornax::ElasticNetworkModel;
using vornax::EnmStatus;
using vornax::Vector3d;
using vornax::bench::envNumber;
using vornax::bench::LoadedNetwork;
using vornax::bench::loadNetwork;

using Clock = std::chrono::steady_clock;
double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}
double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

/// The network of one structure solved with the default solver, shared by the benchmarks that need a
/// solution (Y and the response steps). Only one structure is held at a time: at 5000 nodes
/// the eigenvectors and Y are 1.8 GB each.
struct SolvedCache {
    fs::path file;
    std::unique_ptr<LoadedNetwork> network;
    bool calibrated = false;
    bool yHeld = false;

    void drop()
    {
        network.reset();
        file.clear();
        calibrated = yHeld = false;
    }
} solvedCache;

void keepSolved(const fs::path& file, std::unique_ptr<LoadedNetwork> network)
{
    solvedCache.drop();
    solvedCache.file = file;
    solvedCache.network = std::move(network);
}

/// The cached solution of `file`, solving it when the eigen benchmark did not run first.
LoadedNetwork* solvedNetwork(const fs::path& file)
{
    if (solvedCache.network && solvedCache.file == file) return solvedCache.network.get();
    solvedCache.drop();
    vornax::LoadOptions options;
    options.rc = vornax::bench::kCutoff;
    options.solver = EigenSolver::Lapack;
    options.lastStage = vornax::LoadStage::Eigen;
    auto loaded = vornax::bench::loadThroughPipeline(file, options);
    if (!loaded) return nullptr;
    keepSolved(file, std::move(loaded));
    return solvedCache.network.get();
}

/// The cached solution with its calibration (and Y when `withY`).
LoadedNetwork* calibratedNetwork(const fs::path& file, bool withY)
{
    LoadedNetwork* network = solvedNetwork(file);
    if (!network) return nullptr;
    if (!solvedCache.calibrated) {
        // Calibration only: Y is made (and timed) by BM_Y.
        network->eln->calculateForceScaler(1.0f, true);
        solvedCache.calibrated = true;
    }
    if (withY && !solvedCache.yHeld) {
        if (network->eln->calculateY() != EnmStatus::Ok) return nullptr;
        solvedCache.yHeld = true;
    }
    return network;
}

void setNodeCounters(benchmark::State& state, const LoadedNetwork& network)
{
    state.counters["nodes"] = network.nodes();
    state.counters["springs"] = network.eln->geometry().getAmountOfSprings();
}

void hessianBenchmark(benchmark::State& state, const fs::path& file)
{
    auto network = loadNetwork(file);
    if (!network) {
        state.SkipWithError(("cannot load " + file.string()).c_str());
        return;
    }
    for (auto _ : state) {
        if (network->eln->constructHessianMatrix(nullptr) != EnmStatus::Ok) {
            state.SkipWithError("constructHessianMatrix failed");
            break;
        }
        benchmark::DoNotOptimize(network->eln->modes().isHessianFinite());
        benchmark::ClobberMemory();
    }
    setNodeCounters(state, *network);
}

void eigenBenchmark(benchmark::State& state, const fs::path& file, EigenSolver solver)
{
    // Other solves need the memory more than the kept default solution (which Y used already).
    solvedCache.drop();
    std::unique_ptr<LoadedNetwork> network;
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        network = loadNetwork(file);
        if (!network) {
            state.SkipWithError(("cannot load " + file.string()).c_str());
            break;
        }
        ElasticNetworkModel& eln = *network->eln;
        eln.modes().setEigenSolver(solver);
        if (eln.constructHessianMatrix(nullptr) != EnmStatus::Ok) {
            state.SkipWithError("constructHessianMatrix failed");
            break;
        }
        const double cpuStart = processCpuSeconds();
        const auto start = Clock::now();
        const EnmStatus status = eln.calculateEigen(nullptr);
        state.SetIterationTime(secondsSince(start));
        cpuSeconds += processCpuSeconds() - cpuStart;
        if (status != EnmStatus::Ok) {
            state.SkipWithError("calculateEigen failed");
            break;
        }
    }
    if (!network) return;
    setNodeCounters(state, *network);
    // CPU time of all threads in the solve alone (the benchmark's own CPU column also counts
    // the untimed load and Hessian build).
    state.counters["solve_cpu_s"] = benchmark::Counter(cpuSeconds, benchmark::Counter::kAvgIterations);
    state.counters["extra_zero_modes"] = network->eln->modes().getExtraZeroModes();
    if (solver == EigenSolver::Lapack && network->eln->modes().isEigenComputed()) keepSolved(file, std::move(network));
}

void yBenchmark(benchmark::State& state, const fs::path& file)
{
    LoadedNetwork* network = calibratedNetwork(file, false);
    if (!network) {
        state.SkipWithError("no eigen solution");
        return;
    }
    for (auto _ : state) {
        if (network->eln->calculateY() != EnmStatus::Ok) {
            state.SkipWithError("calculateY failed");
            break;
        }
        benchmark::DoNotOptimize(network->eln->modes().getYMatrix());
        benchmark::ClobberMemory();
    }
    solvedCache.yHeld = network->eln->modes().getYMatrix() != nullptr;
    setNodeCounters(state, *network);
}

/// One simulation step of a node held at press state 1 (pulled, force being updated):
/// through Y when `modes` is 0, through the first `modes` modes otherwise.
void responseBenchmark(benchmark::State& state, const fs::path& file, int modes)
{
    LoadedNetwork* network = calibratedNetwork(file, modes == 0);
    if (!network) {
        state.SkipWithError("no eigen solution");
        return;
    }
    ElasticNetworkModel& eln = *network->eln;
    const int32_t node = eln.getAmountOfAtoms() / 2;
    eln.modes().setUpAllModes(eln.geometry(), eln.deformation());
    eln.applyForce(Vector3d(0.0f, 0.0f, 1e-9f), node);
    // First step of the grab (press state 0) records the route and moves the node to state 1.
    eln.getAtom(node)->simulateState(0);
    eln.simulate();
    if (modes > 0) eln.selectAmountOfModes(eln.beginModeChange(), modes); // also puts the node back to state 1
    if (eln.getAtom(node)->getPressed() != 1) {
        state.SkipWithError("the pulled node is not in press state 1");
        return;
    }
    const std::vector<double>& displacement = eln.deformation().getDisplacement();
    for (auto _ : state) {
        eln.simulate();
        benchmark::DoNotOptimize(displacement.data());
        benchmark::ClobberMemory();
    }
    // A response that moved nothing would mean the step took a shortcut.
    double largest = 0.0;
    for (double d : displacement) largest = std::max(largest, std::abs(d));
    if (!(largest > 0.0)) state.SkipWithError("the step produced no displacement");
    state.counters["max_displacement_A"] = largest;
    state.counters["through_y"] = modes == 0 && eln.modes().getYMatrix() != nullptr ? 1 : 0;
    setNodeCounters(state, *network);
    eln.zeroForces();
    eln.getAtom(node)->simulateState(0);
}

struct Structure {
    fs::path file;
    std::string label; // file name without extension
    int nodes = 0;
};

int countNodes(const fs::path& file)
{
    auto network = loadNetwork(file);
    return network ? network->nodes() : -1;
}

void registerStructure(const Structure& s)
{
    const std::string suffix = "/" + s.label + "/" + std::to_string(s.nodes);
    const long reps = envNumber("VORNAX_BENCH_SOLVE_REPS").value_or(s.nodes <= 700 ? 3 : 1);
    const long referenceMax = envNumber("VORNAX_BENCH_REFERENCE_MAX_NODES").value_or(700);
    const fs::path file = s.file;

    auto solve = [&](const char* name, EigenSolver solver, long repetitions) {
        auto* b =
            benchmark::RegisterBenchmark((std::string(name) + suffix).c_str(),
                                         [file, solver](benchmark::State& st) { eigenBenchmark(st, file, solver); });
        b->Unit(benchmark::kSecond)->UseManualTime()->Iterations(1);
        if (repetitions > 1) b->Repetitions(static_cast<int>(repetitions));
    };

    benchmark::RegisterBenchmark(("BM_Hessian" + suffix).c_str(),
                                 [file](benchmark::State& st) { hessianBenchmark(st, file); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.5);
    solve("BM_EigenLapack", EigenSolver::Lapack, reps);
    auto* y =
        benchmark::RegisterBenchmark(("BM_Y" + suffix).c_str(), [file](benchmark::State& st) { yBenchmark(st, file); });
    y->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
    if (reps > 1) y->Repetitions(static_cast<int>(reps));
    benchmark::RegisterBenchmark(("BM_ResponseY" + suffix).c_str(),
                                 [file](benchmark::State& st) { responseBenchmark(st, file, 0); })
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime()
        ->MinTime(0.3);
    if (s.nodes * 3 - 6 >= 100)
        benchmark::RegisterBenchmark(("BM_ResponseModes100" + suffix).c_str(),
                                     [file](benchmark::State& st) { responseBenchmark(st, file, 100); })
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime()
            ->MinTime(0.3);
    solve("BM_EigenLapackDC", EigenSolver::LapackDC, reps);
    // dsyevr in this process: the driver ProDy's full solve calls, without Python around it.
    solve("BM_EigenLapackMRRR", EigenSolver::LapackMRRR, reps);
    // The reference solver takes ~25 s at 430 nodes and ~60 s at 580: one run there.
    if (s.nodes <= referenceMax)
        solve("BM_EigenReference", EigenSolver::Reference,
              envNumber("VORNAX_BENCH_SOLVE_REPS").value_or(s.nodes <= 300 ? 3 : 1));
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    // Console lines of the engine are dropped so that terminal output is not timed; files
    // without experiment details ask questions, answered without blocking.
    vornax::console::setSink([](int, const std::string&) {});
    vornax::ScriptedPrompts prompts;
    vornax::ScopedUserPrompts scopedPrompts(&prompts);

    // A block of this many bytes, held for the run, moves everything allocated after it: the
    // figures that change with it measure where the buffers happen to lie, not the code.
    const std::vector<char> heapShift(static_cast<std::size_t>(std::max(0L, envNumber("VORNAX_BENCH_HEAP_SHIFT").value_or(0))));
    benchmark::DoNotOptimize(heapShift.data());

    vornax::bench::TempDir temp;
    const auto files = vornax::bench::benchStructures(vornax::bench::defaultStructureNames(), temp);
    if (!files) return 0;

    const long maxNodes = envNumber("VORNAX_BENCH_MAX_NODES").value_or(std::numeric_limits<long>::max());
    for (const fs::path& file : *files) {
        Structure s{file, file.stem().string(), countNodes(file)};
        if (s.nodes < 0) {
            std::cerr << "cannot load " << file.string() << ", skipped\n";
            continue;
        }
        if (s.nodes < 3) {
            std::cerr << file.string() << " has " << s.nodes << " nodes, too few for normal modes; skipped\n";
            continue;
        }
        if (s.nodes > maxNodes) {
            std::cerr << file.string() << " has " << s.nodes << " nodes > VORNAX_BENCH_MAX_NODES, skipped\n";
            continue;
        }
        registerStructure(s);
    }

    benchmark::RunSpecifiedBenchmarks();
    solvedCache.drop();
    benchmark::Shutdown();
    vornax::console::setSink({});
    return 0;
}
