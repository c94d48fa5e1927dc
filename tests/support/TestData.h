// Locating test structures and loading them with scripted prompts and a captured console.
#pragma once

#include "common/Console.h"
#include "common/UserPrompts.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/io/NetworkFileHandle.h"
#include "enm/Pipeline.h"
#include "molecule/Atom.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vornax::testing {

/// Structures kept in the repository (tests/data/pdb).
std::filesystem::path repoPdbDir();
/// The full public set beside the checkout, or an empty path when it is absent.
std::filesystem::path sharedPdbDir();
/// Peer reference results beside the checkout, or an empty path when absent.
std::filesystem::path sharedReferenceDir();
/// Names (without .json) of the peer results beside the checkout, sorted; empty when absent.
std::vector<std::string> referenceResultNames();
/// The whole number in environment variable `name`, or `fallback` when it is unset.
int environmentNumber(const char* name, int fallback);
/// `name` from the repository copy, else from the shared set; empty when neither has it.
std::filesystem::path findPdb(const std::string& name);

/// `text` as one gzip member (level 9).
std::string gzipped(const std::string& text);

/// Writes `content` to a fresh temporary file and returns its path (removed by the caller
/// through TempFile's destructor).
class TempFile {
public:
    explicit TempFile(const std::string& content, const std::string& suffix = ".pdb");
    ~TempFile();
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

/// A fresh temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

/// One load through FileHandle, or through the load pipeline, owning what the load created.
struct LoadedStructure {
    ScriptedPrompts prompts;
    console::Capture console;
    std::unique_ptr<NetworkFileHandle> reader;
    std::vector<Atom*> atoms;
    std::unique_ptr<ElasticNetworkModel> network;
    bool ok = false;
    /// Through the pipeline: how the load ended, and its per-stage records.
    LoadStatus status = LoadStatus::Ok;
    std::string message;
    std::array<StageRecord, kLoadStageCount> stages{};
    EnginePath path = EnginePath::Dense;
    std::string pathReason;
    double timeToFirstPull = 0.0;
    bool eigenFilesWritten = false;
    bool denseLater = false;

    /// Reads `path` (nothing built), as one of its assemblies when `assembly` names one.
    explicit LoadedStructure(const std::filesystem::path& path, const AssemblyRequest& assembly = {});
    /// Runs the load pipeline on `source`.
    LoadedStructure(const StructureSource& source, const LoadOptions& options);
    /// Loads PDB text written to a temporary file.
    static std::unique_ptr<LoadedStructure> fromText(const std::string& pdbText);
    ~LoadedStructure();
    LoadedStructure(const LoadedStructure&) = delete;
    LoadedStructure& operator=(const LoadedStructure&) = delete;

    int nodeCount() const { return static_cast<int>(network->geometry().getBackboneList().size()); }
};

/// PDB text of one chain of C-alpha atoms at `positions` (Å), each with B-factor `bFactor`.
std::string cAlphaChain(const std::vector<Vector3d>& positions, double bFactor = 20.0, char chain = 'A');

/// A loaded structure with its network built (nodes and springs) for cutoff `rc` (Å), without
/// the load's checks: for networks the load would refuse (too few nodes, nodes at one place).
std::unique_ptr<LoadedStructure> buildNetwork(const std::filesystem::path& pdb, float rc = 11.0f,
                                              const AssemblyRequest& assembly = {});
std::unique_ptr<LoadedStructure> buildNetworkFromText(const std::string& pdbText, float rc = 11.0f);

/// Load options of a solved test structure: cutoff `rc`, Y when `withY`, every mode kept.
LoadOptions solvedOptions(float rc = 11.0f, bool withY = true);
/// `pdb` through the load pipeline with `options`; null (and a test failure) when it fails.
std::unique_ptr<LoadedStructure> loadedThroughPipeline(const std::filesystem::path& pdb, const LoadOptions& options);
/// A structure loaded, its network built, solved and calibrated (Y held), every mode kept.
std::unique_ptr<LoadedStructure> solvedStructure(const std::filesystem::path& pdb, float rc = 11.0f);

/// Polls `pred` every millisecond until it holds (true) or `limit` has passed (false).
template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

/// `text` quoted for /bin/sh.
std::string shellQuoted(const std::string& text);
/// The whole content of `path` (empty when it cannot be read).
std::string readWholeFile(const std::filesystem::path& path);

/// The largest absolute value of `values` (0 when empty).
double maxAbs(const std::vector<double>& values);

/// A PDB ATOM/HETATM line built field by field (80 columns).
std::string atomLine(const std::string& record, int serial, const std::string& name, const std::string& resName,
                     char chain, int resSeq, double x, double y, double z, double bFactor = 20.0,
                     const std::string& element = "C");

/// An ElNemo mode file for `mode`: the structure's nodes displaced by −d_i, a vector unique to
/// the node and the mode (so the file's eigenvector is the normalised d); `atoms` nodes (the
/// network's count when negative), the header left out when `header` is false.
std::string elnemoFile(const ElasticNetworkModel& eln, int mode, int atoms = -1, bool header = true);
/// d_i of elnemoFile, component `k`.
double elnemoDisplacement(int node, int mode, int k);

// ---- Eigen data files changed in place -------------------------------------------------------

template <typename T>
void writeAt(std::string& bytes, std::size_t at, T value)
{
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

template <typename T>
T readAt(const std::string& bytes, std::size_t at)
{
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

/// Where the numbers of a main eigen data file (dense or sparse) of `dim` coordinates lie,
/// found by walking its stored lines: tests change one of them at a known place.
struct EigenFileLayout {
    bool sparse = false;
    std::size_t rc = 0;                 ///< float32 cutoff
    std::size_t firstLine = 0;          ///< the first stored line's length field
    std::size_t fields = 0;             ///< newtonToKcal, S (then K, Σinv, bound, k when sparse)
    int32_t k = 0;                      ///< modes stored
    std::size_t values = 0;             ///< sparse: the eigenvalues
    std::size_t inverse = 0, modes = 0; ///< inverse scaled eigenvalues, the modes (rows of dim)
    std::size_t dim = 0;
    std::size_t spring() const { return fields + 16; } ///< sparse: K
};

EigenFileLayout eigenFileLayout(const std::string& bytes, std::size_t dim);
/// The x coordinate of the first stored C-alpha line moved by `by` Å (same columns).
void moveFirstCAlpha(std::string& bytes, const EigenFileLayout& layout, double by);
/// The first `rows` mode rows all copies of the first.
void equalModes(std::string& bytes, const EigenFileLayout& layout, int32_t rows);

} // namespace vornax::testing
