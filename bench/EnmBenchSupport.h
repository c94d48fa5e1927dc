// Shared by the engine benchmark and the memory probe: which structures to use, the
// 5000-node cut of 1aon made at run time, and loading a structure into a network.
#pragma once

#include "common/Console.h"
#include "common/UserPrompts.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/io/NetworkFileHandle.h"
#include "enm/Pipeline.h"
#include "molecule/Atom.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace vornax::bench {

namespace fs = std::filesystem;

/// Cutoff of every benchmarked network (Å), the value ProDy is given too.
constexpr float kCutoff = 11.0f;

/// Nodes of the cut of 1aon that stands in for a ~5000-node structure.
constexpr int kLargeCutNodes = 5000;

/// `<repo>/../shared/data/pdb`, where the public structures live beside a full checkout.
inline fs::path sharedPdbDir()
{
    return (fs::path(VORNAX_SOURCE_DIR) / ".." / "shared" / "data" / "pdb").lexically_normal();
}

/// The size curve from about 100 to about 3000 nodes, smallest first.
inline std::vector<std::string> defaultStructureNames()
{
    return {"1d66.pdb", "1ake.pdb", "4hhb.pdb", "1igy.pdb", "3wip.pdb", "4jsv.pdb", "3j6r.pdb"};
}

/// True for the record lines that become network nodes: ATOM/HETATM whose atom name
/// (columns 13–16) is exactly " CA ", or whose columns 14–15, trimmed, are "P".
inline bool isNodeRecord(const std::string& line)
{
    if (line.size() < 16) return false;
    if (line.compare(0, 6, "ATOM  ") != 0 && line.compare(0, 6, "HETATM") != 0) return false;
    if (line.compare(12, 4, " CA ") == 0) return true;
    const std::string cols = line.substr(13, 2);
    return cols == "P " || cols == " P";
}

/// Writes to `out` the header of `source` and its ATOM (and TER) lines up to and including
/// the `nodes`-th C-alpha line, then TER and END. Returns the C-alpha lines written (fewer
/// than `nodes` when the source has fewer), or -1 when a file cannot be opened.
inline int writeCalphaCut(const fs::path& source, const fs::path& out, int nodes)
{
    std::ifstream in(source);
    std::ofstream os(out);
    if (!in || !os) return -1;
    std::string line;
    int calphas = 0;
    bool coordinates = false;
    while (calphas < nodes && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool atom = line.compare(0, 6, "ATOM  ") == 0;
        const bool record = atom || line.compare(0, 6, "HETATM") == 0 || line.compare(0, 3, "TER") == 0
            || line.compare(0, 5, "MODEL") == 0;
        coordinates = coordinates || record;
        if (!coordinates) {
            os << line << '\n'; // header: keeps the experiment and its temperature
            continue;
        }
        const bool end = line.compare(0, 3, "END") == 0 && (line.size() == 3 || line[3] == ' ');
        if (end || line.compare(0, 6, "ENDMDL") == 0) break;
        if (!atom && line.compare(0, 3, "TER") != 0) continue;
        os << line << '\n';
        if (atom && line.size() >= 16 && line.compare(12, 4, " CA ") == 0) ++calphas;
    }
    os << "TER\nEND\n";
    return os ? calphas : -1;
}

/// A temporary folder removed (with its contents) when the object goes.
class TempDir {
public:
    TempDir()
    {
        std::error_code ec;
        path_ = fs::temp_directory_path(ec) / ("vornax-enm-bench-" + std::to_string(::getpid()));
        fs::create_directories(path_, ec);
        if (ec) path_.clear();
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

/// A whole number from the environment; nothing when unset, or (with a note) not a number.
inline std::optional<long> envNumber(const char* name)
{
    const char* text = std::getenv(name);
    if (!text || !*text) return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0') {
        std::cerr << name << "=" << text << " is not a number; ignored\n";
        return std::nullopt;
    }
    return value;
}

/// Paths separated by ':' (empty entries skipped).
inline std::vector<fs::path> splitPathList(const std::string& list)
{
    std::vector<fs::path> files;
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t end = list.find(':', pos);
        if (end == std::string::npos) end = list.size();
        if (end > pos) files.emplace_back(list.substr(pos, end - pos));
        pos = end + 1;
    }
    return files;
}

/// The structures to measure: VORNAX_BENCH_PDB when set, otherwise `names` from the shared
/// folder plus the 5000-node cut of 1aon written into `temp`. Nothing when the shared folder
/// is absent (the caller has nothing to measure).
inline std::optional<std::vector<fs::path>> benchStructures(const std::vector<std::string>& names, const TempDir& temp)
{
    if (const char* env = std::getenv("VORNAX_BENCH_PDB"); env && *env) return splitPathList(env);
    const fs::path dir = sharedPdbDir();
    if (!fs::is_directory(dir)) {
        std::cout << "The public structure set (" << dir.string() << ") is not present: nothing to benchmark.\n";
        return std::nullopt;
    }
    std::vector<fs::path> files;
    for (const std::string& name : names) files.push_back(dir / name);
    const fs::path cut = temp.path() / "1aon-5000.pdb";
    if (!temp.path().empty() && writeCalphaCut(dir / "1aon.pdb", cut, kLargeCutNodes) > 0) files.push_back(cut);
    return files;
}

/// A structure read from disk through the load pipeline, as far as it was asked to go.
struct LoadedNetwork {
    std::vector<Atom*> atoms;
    std::unique_ptr<ElasticNetworkModel> eln;

    LoadedNetwork() = default;
    LoadedNetwork(const LoadedNetwork&) = delete;
    LoadedNetwork& operator=(const LoadedNetwork&) = delete;
    ~LoadedNetwork()
    {
        deleteAtoms(atoms);
        eln.reset();
    }
    int nodes() const { return eln ? eln->getAmountOfAtoms() : 0; }
    /// The pipeline's record of each stage.
    std::array<StageRecord, kLoadStageCount> stages{};
    int64_t peakRssBytes = 0;
};

/// Loads `path` through the load pipeline; null (with the reason in `why`, when given) when the
/// load does not finish.
inline std::unique_ptr<LoadedNetwork> loadThroughPipeline(const fs::path& path, const LoadOptions& options,
                                                          std::string* why = nullptr)
{
    LoadResult load = runLoadPipeline(StructureSource::pdbFile(path), options);
    if (!load.ok()) {
        if (why) *why = load.message;
        return nullptr;
    }
    auto loaded = std::make_unique<LoadedNetwork>();
    loaded->atoms = load.takeAtoms();
    loaded->eln = std::move(load.network);
    loaded->stages = load.stages;
    loaded->peakRssBytes = load.peakRssBytes;
    return loaded;
}

/// Reads `path` and builds its network (nodes and springs); null when it cannot be loaded.
inline std::unique_ptr<LoadedNetwork> loadNetwork(const fs::path& path, float cutoff = kCutoff)
{
    LoadOptions options;
    options.rc = cutoff;
    options.lastStage = LoadStage::Network;
    return loadThroughPipeline(path, options);
}

/// Reads, solves and calibrates `path` (Y held), every mode kept; null when a stage fails.
inline std::unique_ptr<LoadedNetwork> solveNetwork(const fs::path& path, float cutoff = kCutoff)
{
    LoadOptions options;
    options.rc = cutoff;
    options.keepAllModes = true;
    return loadThroughPipeline(path, options);
}

/// The network of an assembly, for the probes that take `FILE ASSEMBLY [--copies LIST]
/// [--rc ANGSTROM] [FLAG VALUE ...]`: flags the probe knows itself go to `other` (false: unknown,
/// ignored). Prints what is wrong and returns nothing on a bad list or a failed load.
template <typename Other>
std::optional<LoadResult> loadAssemblyNetwork(int argc, char** argv, LoadOptions options, Other&& other,
                                              AssemblyRequest* used = nullptr)
{
    AssemblyRequest assembly;
    assembly.id = argv[2];
    options.lastStage = LoadStage::Network;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string flag = argv[i], value = argv[i + 1];
        if (flag == "--rc") {
            options.rc = std::strtof(value.c_str(), nullptr);
        } else if (flag == "--copies") {
            std::string error;
            auto ids = parseCopyList(value, error);
            if (!ids) {
                std::cerr << error << '\n';
                return std::nullopt;
            }
            assembly.copies = *ids;
        } else {
            other(flag, value);
        }
    }
    console::setSink([](int, const std::string&) {});
    LoadResult load = runLoadPipeline(StructureSource::pdbFile(argv[1], assembly), options);
    if (!load.ok()) {
        std::cerr << load.message << '\n';
        return std::nullopt;
    }
    if (used) *used = assembly;
    return load;
}

} // namespace vornax::bench
