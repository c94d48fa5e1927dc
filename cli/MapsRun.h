// The per-node answers of vornax-enm: square fluctuations with their fit to the B-factors
// (fluct), and the perturbation-response maps (prs).
#pragma once

#include "cli/EnmRun.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace vornax::cli {

/// The `fluct` report over the modes of `selection` (the lowest modes computed on the sparse
/// path). Throws CliFailure when the modes are not held or the selection does not fit.
nlohmann::ordered_json fluctReport(SolvedNetwork& solved, const ModeSelection& selection);

/// The `prs` report. With `csv`, the maps go there (one line a node: node, chain, residue,
/// effectiveness, sensitivity, then its row of the matrix) and the report leaves the matrix
/// out. Throws CliFailure on the sparse path (no covariance of every mode is held), when the
/// modes are not held, or when `csv` cannot be written.
nlohmann::ordered_json prsReport(SolvedNetwork& solved, const std::filesystem::path& csv);

} // namespace vornax::cli
