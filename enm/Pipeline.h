// One load of a structure, from its file to a network ready for the simulation, in the order
// of the program's load workflow:
//
//   PDB file:        read → network → Hessian → eigen → calibration → Y → eigen files → budget
//   eigen data files: read → network → budget (the budget reads the modes and Y)
//
// Every check a load needs runs here or in the engine operations it calls: too few nodes,
// nodes at one position (right after the read, before any work that grows with N²), files
// that do not fit together, memory, solvers that do not converge. The load returns a status
// and throws nothing of its own; a load that does not finish leaves nothing behind (no network,
// no eigen data file that is not whole).
//
//     LoadOptions options;
//     options.rc = 11.0f;
//     options.progress = &bar;                  // steps, and isCancelled() to stop the load
//     LoadResult load = runLoadPipeline(StructureSource::pdbFile(path), options);
//     if (!load.ok()) report(load.message);             // nothing of the load is left
//     else use(load.network.release(), load.takeAtoms()); // the caller owns both now
#pragma once

#include "enm/ElasticNetworkModel.h"
#include "enm/io/EigenFileNames.h" // isMainEigenDataFile, isResponseMatrixFile (callers of the pipeline)
#include "molecule/StructureFile.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vornax {

class Atom;
class NetworkFileHandle;
class Progress;

enum class LoadStatus {
    Ok,
    TooFewNodes,     ///< fewer than 3 network nodes
    CoincidentNodes, ///< two nodes at one position: a spring without direction
    OutOfMemory,
    Cancelled,    ///< Progress::isCancelled, or the caller's network check said no
    NotConverged, ///< the eigen solver did not converge
    BadInput,     ///< unreadable or unusable file, bad cutoff, eigen data that do not fit
};

/// Short lower-case words for `status`.
const char* describe(LoadStatus status);

/// The stages of a load, in the order they run.
enum class LoadStage { Read, Network, Hessian, Eigen, Calibration, Y, EigenFiles, Budget };
inline constexpr std::size_t kLoadStageCount = 8;
/// "read", "network", "hessian", "eigen", "calibration", "y", "eigen_files", "budget".
const char* stageName(LoadStage stage);

/// Where the structure comes from.
struct StructureSource {
    std::filesystem::path pdb;           ///< a PDB or mmCIF (.cif, .cif.gz) structure file, or
    std::vector<std::string> eigenFiles; ///< a main eigen data file (.hdv), optionally its .ppy

    /// A biological assembly of the structure file instead of its own content (optional).
    AssemblyRequest assembly;

    static StructureSource pdbFile(std::filesystem::path file, AssemblyRequest assembly = {});
    static StructureSource eigenDataFiles(std::vector<std::string> names);
    bool fromEigenFiles() const { return pdb.empty(); }
    /// The file the structure is named by in messages.
    std::string name() const;
};

/// Which solution of the network a PDB load computes.
enum class EnginePath {
    Auto,   ///< the dense solution where it fits the available memory, else the sparse one
    Dense,  ///< every mode (LAPACK), Y and the mode budget
    Sparse, ///< the lowest modes, Σinv and all-mode responses from a sparse factorisation
};
/// "auto", "dense", "sparse".
const char* pathName(EnginePath path);

struct LoadOptions {
    float rc = 11.0f; ///< Å; eigen data files bring their own
    EigenSolver solver = EigenSolver::Lapack;
    bool computeY = true;            ///< the response matrix Y (calibrated structures only)
    float averageDeviceForce = 1.0f; ///< newtons; the force scaler S is computed for it
    MachineFacts machineFacts;       ///< what the mode budget asks of the machine
    EnginePath path = EnginePath::Auto;
    /// Sparse path: the non-rigid modes computed, lowest first (at least the 20 the window offers).
    int32_t lowestModes = 20;
    /// Auto: from this many nodes on, the sparse path first (pullable within seconds) even where
    /// the dense solution fits; LoadResult::denseLater then says it may follow in the background.
    /// 0 never.
    int32_t pullFirstNodes = 0;
    /// Sparse path: Σinv is exact while 3N is at most this, estimated (with its bound) beyond.
    int32_t exactTraceLimit = 2400;
    /// Keep every mode without the budget's memory and timing search (tests, benchmarks).
    bool keepAllModes = false;
    /// Folder for <code>.hdv and .ppy of a computed structure; empty writes none.
    std::filesystem::path eigenFileFolder;
    /// The load ends successfully after this stage (later stages are not run).
    LoadStage lastStage = LoadStage::Budget;
    /// Receives the engine's progress steps; its isCancelled() stops the load between stages
    /// and inside the long ones (eigen solution, Y).
    Progress* progress = nullptr;
    /// Called as each stage starts.
    std::function<void(LoadStage)> stageStarted;
    /// Looks at the built network before the Hessian; false ends the load as Cancelled.
    std::function<bool(const ElasticNetworkModel&)> checkNetwork;
    /// Measure each stage's own peak resident memory, sampled every 10 ms by a thread that runs
    /// as long as the load (ResidentSampler). The process's own peak is left as it is.
    bool measureStagePeaks = false;
};

/// Time and memory of one stage.
struct StageRecord {
    bool ran = false;
    double seconds = 0.0;
    int64_t processPeakRssBytes = 0; ///< the process's peak resident memory at the end of the stage
    int64_t stagePeakRssBytes = 0;   ///< the peak sampled during the stage (measureStagePeaks), else as above
};

/// The reader's atoms, deleted with the object unless taken.
class NodeAtoms {
public:
    NodeAtoms() = default;
    ~NodeAtoms();
    NodeAtoms(NodeAtoms&& other) noexcept;
    NodeAtoms& operator=(NodeAtoms&& other) noexcept;
    std::vector<Atom*>& list() { return m_atoms; }
    const std::vector<Atom*>& list() const { return m_atoms; }
    /// The atoms, now owned by the caller.
    std::vector<Atom*> release();

private:
    std::vector<Atom*> m_atoms;
};

struct LoadResult {
    LoadStatus status = LoadStatus::Ok;
    LoadStage stage = LoadStage::Read; ///< the last stage that ran: where the load stopped
    std::string message;               ///< why it stopped (empty when Ok)
    /// The network, ready (Ok) or null: a load that did not finish keeps none.
    std::unique_ptr<ElasticNetworkModel> network;
    NodeAtoms atoms;                           ///< every atom of a PDB file (empty for eigen data files)
    std::unique_ptr<NetworkFileHandle> reader; ///< the PDB reader (centre, extent, residue lists)
    std::array<StageRecord, kLoadStageCount> stages{};
    int64_t peakRssBytes = 0; ///< the process's peak over the whole load
    float rc = 0.0f;          ///< the cutoff the springs were built with, Å
    EnginePath path = EnginePath::Dense; ///< the path the load took (eigen data files: as stored)
    std::string pathReason;               ///< why, in a sentence for the user
    /// The sparse path was taken to pull first; the dense solution fits memory and may follow
    /// (a dense load of the same source, then ElasticNetworkModel::adoptSolution).
    bool denseLater = false;
    /// Seconds from the start of the read until responses can be given (the eigen data files
    /// left out: they are written before the last stage but are not needed for a pull).
    double timeToFirstPull = 0.0;
    /// The NMR structure was not calibrated (no force response).
    bool notCalibrated = false;
    /// Eigen data files: whether they were written, and the engine's message when not.
    bool eigenFilesWritten = false;
    std::string eigenFileError;
    /// The two nodes found at one position (CoincidentNodes), −1 otherwise.
    int32_t coincidentNodes[2] = {-1, -1};

    LoadResult();
    ~LoadResult();
    LoadResult(LoadResult&&) noexcept;
    LoadResult& operator=(LoadResult&&) noexcept;

    bool ok() const { return status == LoadStatus::Ok; }
    const StageRecord& record(LoadStage s) const { return stages[static_cast<std::size_t>(s)]; }
    std::vector<Atom*> takeAtoms() { return atoms.release(); }
};

/// Runs the load. Never throws (out of memory included); the status says how it ended.
LoadResult runLoadPipeline(const StructureSource& source, const LoadOptions& options);

} // namespace vornax
