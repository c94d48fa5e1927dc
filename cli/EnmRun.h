// One structure through the engine's load pipeline for vornax-enm, each stage timed and its
// peak memory taken, and the JSON reports built from the result.
#pragma once

#include "enm/ElasticNetworkModel.h"
#include "enm/Pipeline.h"
#include "cli/CliSupport.h"

#include <nlohmann/json.hpp>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace vornax::cli {

struct RunOptions {
    std::filesystem::path file;
    double rc = 11.0; ///< Å
    EigenSolver solver = EigenSolver::Lapack;
    std::filesystem::path yFile;    ///< with a main eigen data file as `file`: its .ppy, or empty
    std::filesystem::path eigenOut; ///< folder for the eigen data files of a computed run, or empty
    AssemblyRequest assembly;       ///< a biological assembly of the structure file, or none
    EnginePath path = EnginePath::Auto;
    int32_t lowest = 20; ///< modes of the sparse path
};

/// Seconds spent in each stage.
struct StageTimes {
    double read = 0, network = 0, hessian = 0, eigen = 0, calibration = 0, y = 0, budget = 0;
};

/// How the calibration ended.
enum class CalibrationOutcome {
    Calibrated, ///< K from the B-factors
    NoBFactors, ///< B-factors unusable: the engine's unit spring constant is used
    Nmr,        ///< NMR structure: the engine does not calibrate, no response possible
};

/// A structure loaded through the engine's load pipeline: solved and calibrated, or read from
/// its eigen data files when `file` is a main eigen data file (.hdv). Either way the mode
/// budget fixes the modes kept. Throws CliFailure from the constructor when the load fails,
/// with the pipeline's message. `checkBeforeSolve` runs once the network is built, before the
/// Hessian, so that a request that cannot fit the structure fails before the expensive stages.
class SolvedNetwork {
public:
    SolvedNetwork(const RunOptions& options, const std::function<void(const SolvedNetwork&)>& checkBeforeSolve = {});
    SolvedNetwork(const SolvedNetwork&) = delete;
    SolvedNetwork& operator=(const SolvedNetwork&) = delete;

    ElasticNetworkModel& network() { return *m_load.network; }
    const ElasticNetworkModel& network() const { return m_checking ? *m_checking : *m_load.network; }
    /// The load with its per-stage records.
    const LoadResult& load() const { return m_load; }
    const RunOptions& options() const { return m_options; }
    const StageTimes& times() const { return m_times; }
    CalibrationOutcome calibration() const { return m_outcome; }
    int32_t nodes() const { return network().getAmountOfAtoms(); }
    int32_t keptModes() const { return network().getTotalMaxModes(); }
    /// The eigen data came from files rather than from the solver.
    bool fromEigenFiles() const { return m_fromEigenFiles; }

private:
    RunOptions m_options;
    LoadResult m_load;
    const ElasticNetworkModel* m_checking = nullptr; ///< the network while checkBeforeSolve looks at it
    StageTimes m_times;
    CalibrationOutcome m_outcome = CalibrationOutcome::Calibrated;
    bool m_fromEigenFiles = false;
};

/// The fields every report of a structure starts with.
nlohmann::ordered_json structureJson(const SolvedNetwork& solved);

/// The `modes` report.
nlohmann::ordered_json modesReport(const SolvedNetwork& solved);

struct ResponseRequest {
    int32_t node = 0;
    std::array<double, 3> force{}; ///< kcal/mol/Å
    ModeSelection modes;
};

/// Checks that `request` fits the structure (node and modes in range, not NMR). Throws CliFailure.
void checkResponseRequest(const ElasticNetworkModel& eln, const ResponseRequest& request);
/// The `response` report. Throws CliFailure when the request does not fit the structure.
nlohmann::ordered_json responseReport(SolvedNetwork& solved, const ResponseRequest& request);

/// Applies the forces of `requests` as kept forces, one after the other, the way pulls with the
/// device that are released in force-saving mode keep them, and writes the deformed structure
/// to `out`. The report gives each force in kcal/mol/A and the device force in newtons it
/// stands for. Every request uses the mode selection of the first. Throws CliFailure when a
/// request does not fit the structure or `out` cannot be written.
nlohmann::ordered_json deformReport(SolvedNetwork& solved, const std::vector<ResponseRequest>& requests,
                                    const std::filesystem::path& out);

/// Peak resident set size of this process in bytes, over the load and since.
long long processPeakBytes(const SolvedNetwork& solved);

const char* solverName(EigenSolver solver);

} // namespace vornax::cli
