// Starting a structure from its cached eigen data files against computing it from the PDB file,
// and the eigen data reader's throughput, at Rc = 11 Å:
//
//   BM_ComputeFromPdb/<file>/<nodes>       read the PDB file, network, Hessian, eigen solution,
//                                          calibration with Y, mode budget (what the files spare)
//   BM_LoadHdvPpy/<file>/<nodes>           a fresh network from <code>.hdv and <code>.ppy: checks,
//                                          network, mode budget with its real timing search, reads
//   BM_LoadHdv/<file>/<nodes>              the same without the .ppy: Y is made from the modes read
//   BM_ReadEigenFiles/<file>/<nodes>       BM_LoadHdvPpy without the timing search: the reader's
//                                          bytes per second (files in the page cache after the
//                                          first iteration)
//
// The files are written once per structure into a temporary folder (not timed).
// Files: VORNAX_BENCH_PDB (paths separated by ':'), otherwise 1igy, 3wip, 4jsv and 3j6r from
// <repo>/../shared/data/pdb plus a 5000-node cut of 1aon; without that folder there is nothing
// to measure (exit status 0). VORNAX_BENCH_MAX_NODES leaves out larger structures.
#include "EnmBenchSupport.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <map>
#include <optional>

#ifndef VORNAX_SOURCE_DIR
#error "VORNAX_SOURCE_DIR must name the repository's source directory"
#endif

namespace {

namespace fs = std::filesystem;
using vornax::ElasticNetworkModel;
using vornax::bench::envNumber;
using vornax::bench::loadNetwork;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

vornax::bench::TempDir* folder = nullptr;

struct Written {
    fs::path hdv, ppy;
    uint64_t bytes = 0;
};
std::map<fs::path, Written> written;

/// Reads, solves and calibrates `pdb` (Y held), as far as `lastStage`; null when a stage fails.
std::unique_ptr<vornax::bench::LoadedNetwork> computeFromPdb(const fs::path& pdb, vornax::LoadStage lastStage)
{
    vornax::LoadOptions options;
    options.rc = vornax::bench::kCutoff;
    options.lastStage = lastStage;
    return vornax::bench::loadThroughPipeline(pdb, options);
}

/// Writes the eigen data files of the solved `eln` into the structure's own folder and keeps
/// their names; null when they cannot be written.
const Written* writeFiles(const fs::path& pdb, ElasticNetworkModel& eln)
{
    const fs::path dir = folder->path() / pdb.stem();
    fs::create_directories(dir);
    eln.setFileNames(dir);
    if (!eln.writeEigenDataToNewFile()) return nullptr;
    Written w{eln.files().getMainFileName(), eln.files().getYFileName(), 0};
    w.bytes = fs::file_size(w.hdv) + fs::file_size(w.ppy);
    return &written.emplace(pdb, w).first->second;
}

/// The eigen data files of `pdb`, written on first use.
const Written* eigenFiles(const fs::path& pdb)
{
    if (auto it = written.find(pdb); it != written.end()) return &it->second;
    auto solved = computeFromPdb(pdb, vornax::LoadStage::Y);
    return solved ? writeFiles(pdb, *solved->eln) : nullptr;
}

void computeBenchmark(benchmark::State& state, const fs::path& pdb)
{
    for (auto _ : state) {
        const auto start = Clock::now();
        auto solved = computeFromPdb(pdb, vornax::LoadStage::Budget);
        if (!solved) {
            state.SkipWithError("the structure could not be solved");
            return;
        }
        state.SetIterationTime(secondsSince(start));
        state.counters["modes_kept"] = solved->eln->getTotalMaxModes();
        state.counters["nodes"] = solved->nodes();
        // The files are the by-product of this run; keep them for the load benchmarks.
        if (!written.count(pdb)) writeFiles(pdb, *solved->eln);
    }
}

/// `withY`: the .ppy is given; `timingSearch`: the budget times real trials.
void loadBenchmark(benchmark::State& state, const fs::path& pdb, bool withY, bool timingSearch)
{
    const Written* files = eigenFiles(pdb);
    if (!files) {
        state.SkipWithError("the eigen data files could not be made");
        return;
    }
    std::vector<std::string> names{files->hdv.string()};
    if (withY) names.push_back(files->ppy.string());
    int32_t kept = 0, nodes = 0;
    vornax::LoadOptions options;
    if (!timingSearch) options.machineFacts.trialMilliseconds = [](int32_t) { return 0.0; };
    for (auto _ : state) {
        const auto start = Clock::now();
        vornax::LoadResult load = vornax::runLoadPipeline(vornax::StructureSource::eigenDataFiles(names), options);
        if (!load.ok()) {
            state.SkipWithError(("the eigen data files were refused: " + load.message).c_str());
            return;
        }
        benchmark::DoNotOptimize(load.network->modes().getModeVectors());
        state.SetIterationTime(secondsSince(start));
        kept = load.network->getTotalMaxModes();
        nodes = load.network->getAmountOfAtoms();
    }
    state.counters["modes_kept"] = kept;
    state.counters["nodes"] = nodes;
    const uint64_t bytes = withY ? files->bytes : fs::file_size(files->hdv);
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}

std::string benchName(const char* base, const std::string& suffix)
{
    std::string name(base);
    name.append(suffix);
    return name;
}

void registerStructure(const fs::path& file, int nodes)
{
    std::string suffix(1, '/');
    suffix.append(file.stem().string()).append(1, '/').append(std::to_string(nodes));
    benchmark::RegisterBenchmark(benchName("BM_ComputeFromPdb", suffix).c_str(),
                                 [file](benchmark::State& st) { computeBenchmark(st, file); })
        ->Unit(benchmark::kSecond)
        ->UseManualTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark(benchName("BM_LoadHdvPpy", suffix).c_str(),
                                 [file](benchmark::State& st) { loadBenchmark(st, file, true, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(benchName("BM_LoadHdv", suffix).c_str(),
                                 [file](benchmark::State& st) { loadBenchmark(st, file, false, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(benchName("BM_ReadEigenFiles", suffix).c_str(),
                                 [file](benchmark::State& st) { loadBenchmark(st, file, true, false); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->MinTime(1.0);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    vornax::console::setSink([](int, const std::string&) {});
    vornax::ScriptedPrompts prompts; // "Data Required" is answered Yes
    vornax::ScopedUserPrompts scopedPrompts(&prompts);

    vornax::bench::TempDir temp;
    if (temp.path().empty()) {
        std::cerr << "no temporary folder for the eigen data files\n";
        return 1;
    }
    folder = &temp;
    const auto files = vornax::bench::benchStructures({"1igy.pdb", "3wip.pdb", "4jsv.pdb", "3j6r.pdb"}, temp);
    if (!files) return 0;
    const long maxNodes = envNumber("VORNAX_BENCH_MAX_NODES").value_or(std::numeric_limits<long>::max());
    for (const fs::path& file : *files) {
        auto network = loadNetwork(file);
        const int nodes = network ? network->nodes() : -1;
        if (nodes < 3) {
            std::cerr << file.string() << " cannot be used (" << nodes << " nodes), skipped\n";
            continue;
        }
        if (nodes > maxNodes) {
            std::cerr << file.string() << " has " << nodes << " nodes > VORNAX_BENCH_MAX_NODES, skipped\n";
            continue;
        }
        registerStructure(file, nodes);
    }
    benchmark::RunSpecifiedBenchmarks();
    written.clear();
    folder = nullptr;
    benchmark::Shutdown();
    vornax::console::setSink({});
    return 0;
}
