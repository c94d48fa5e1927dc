// Load time of the PDB reader: FileHandle construction, openFile, taking the atoms and the
// network, and freeing them again.
//
// Files: VORNAX_BENCH_PDB (one path, or several separated by ':'), otherwise the size curve
// 1crn, 4hhb, 3wip and 1aon (the largest public entry) from <repo>/../shared/data/pdb.
// A missing file is reported as an error of its benchmark, not a crash.
//
//   BM_ReadPdb/<file>            whole load including the cleanup the program pays later
//   BM_ReadPdbNoCleanup/<file>   the same with deleting atoms and network outside the timing
//
// bench/run-all.sh runs this side by side with ProDy's parsePDB and prints the ratios.

#include "EnmBenchSupport.h"
#include "common/Console.h"
#include "common/UserPrompts.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/io/NetworkFileHandle.h"
#include "molecule/Atom.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifndef VORNAX_SOURCE_DIR
#error "VORNAX_SOURCE_DIR must name the repository's source directory"
#endif

namespace {

namespace fs = std::filesystem;
using vornax::Atom;
using vornax::ElasticNetworkModel;
using vornax::NetworkFileHandle;

std::vector<fs::path> benchFiles()
{
    if (const char* env = std::getenv("VORNAX_BENCH_PDB"); env && *env) return vornax::bench::splitPathList(env);
    std::vector<fs::path> files;
    for (const char* name : {"1crn.pdb", "4hhb.pdb", "3wip.pdb", "1aon.pdb"})
        files.push_back(vornax::bench::sharedPdbDir() / name);
    return files;
}

/// Loads `path` the way the program does; returns the atom count, or -1 when the load failed.
/// With `cleanupTimed` false the atoms and the network are freed with the timer paused.
long loadOnce(benchmark::State& state, const fs::path& path, bool cleanupTimed)
{
    NetworkFileHandle reader;
    if (!reader.openFile(path)) return -1;
    std::vector<Atom*> atoms = reader.getAtomList();
    ElasticNetworkModel* network = reader.getElasticNetwork();
    const long count = static_cast<long>(atoms.size());
    benchmark::DoNotOptimize(atoms.data());
    benchmark::DoNotOptimize(network);
    if (!cleanupTimed) state.PauseTiming();
    vornax::deleteAtoms(atoms);
    delete network;
    if (!cleanupTimed) state.ResumeTiming();
    return count;
}

void readPdb(benchmark::State& state, const fs::path& path, bool cleanupTimed)
{
    std::error_code ec;
    const auto bytes = fs::file_size(path, ec);
    if (ec) {
        state.SkipWithError(("missing file " + path.string()).c_str());
        return;
    }
    // Files without a header or experiment details ask questions; answer them without blocking.
    vornax::ScriptedPrompts prompts;
    vornax::ScopedUserPrompts scopedPrompts(&prompts);

    long atoms = 0;
    for (auto _ : state) {
        atoms = loadOnce(state, path, cleanupTimed);
        if (atoms < 0) {
            state.SkipWithError(("cannot load " + path.string()).c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["atoms"] = static_cast<double>(atoms);
    state.counters["file_bytes"] = static_cast<double>(bytes);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    for (const fs::path& file : benchFiles()) {
        const std::string name = file.filename().string();
        benchmark::RegisterBenchmark(("BM_ReadPdb/" + name).c_str(),
                                     [file](benchmark::State& s) { readPdb(s, file, true); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("BM_ReadPdbNoCleanup/" + name).c_str(),
                                     [file](benchmark::State& s) { readPdb(s, file, false); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }

    // The reader's console lines are dropped so that terminal output is not part of the timing.
    vornax::console::setSink([](int, const std::string&) {});
    benchmark::RunSpecifiedBenchmarks();
    vornax::console::setSink({});
    benchmark::Shutdown();
    return 0;
}
