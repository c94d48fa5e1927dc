// vornax-enm replay: a stylus script run on the virtual device in manual mode against the real
// network and simulation, as right after a load. Each servo tick is followed by one simulation
// step, so the output is deterministic.
#pragma once

#include "molecule/StructureFile.h"

#include "enm/ElasticNetworkModel.h"
#include "cli/CliSupport.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vornax::cli {

struct ReplayArguments {
    std::string file;
    double rc = 11.0;
    bool saveForces = false;
    double forceFactor = 1.0;
    std::string ppy;       ///< with a .hdv FILE: its response matrix file
    std::string assembly;  ///< --assembly ID
    std::string copies;    ///< --copies LIST
    bool withoutY = false; ///< with a .hdv FILE and no .ppy: do not compute Y from the modes
    std::string script;
    std::string json = "-";
    int64_t every = 1; ///< record every N-th tick
    bool verbose = false;
};

/// Adds the `replay` subcommand to `app`, filling `args`.
CLI::App* addReplayCommand(CLI::App& app, ReplayArguments& args);

/// A network ready for the device: read, built, solved and calibrated, modes set up.
class ReplayNetwork {
public:
    virtual ~ReplayNetwork() = default;
    virtual ElasticNetworkModel& network() = 0;
    /// The molecule's atoms (the device object keeps a copy of the list).
    virtual std::vector<Atom*> atoms() = 0;
};

/// Runs `check` once the network's nodes exist, before the expensive stages.
using NodeCheck = std::function<void(const ElasticNetworkModel&)>;

/// Loads `file` by its kind: a PDB structure (any name but *.hdv), or an eigen data file.
/// Throws CliFailure.
std::unique_ptr<ReplayNetwork> loadReplayNetwork(const std::filesystem::path& file, double rc, const NodeCheck& check,
                                                 const std::filesystem::path& yFile = {},
                                                 const AssemblyRequest& assembly = {});

/// Runs the replay, writing its report to `out` tick by tick. Throws CliFailure.
void runReplay(const ReplayArguments& args, std::ostream& out);

/// The whole command: diagnostics routing, the run, the JSON written. Throws CliFailure (see
/// exitStatusOf).
int replayMain(const ReplayArguments& args);

} // namespace vornax::cli
