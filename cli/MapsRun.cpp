#include "cli/MapsRun.h"

#include "common/AtomicFile.h"
#include "enm/NetworkMaps.h"
#include "molecule/Atom.h"

#include <cmath>
#include <iomanip>
#include <map>
#include <sstream>

namespace vornax::cli {

namespace {

/// The modes of a structure solved here, or a failure that says why there are none.
ModeRows heldModes(const SolvedNetwork& solved)
{
    const ElasticNetworkModel& eln = solved.network();
    if (solved.fromEigenFiles())
        throw CliFailure(kExitInput,
                         "this needs the eigenvalues, which eigen data files do not hold: give the "
                         "structure file instead");
    ModeRows rows = modeRows(eln.modes(), eln.get3N());
    if (rows.count == 0) throw CliFailure(kExitComputation, "the structure's normal modes are not held");
    return rows;
}

std::vector<int32_t> chosenModes(const ModeRows& rows, const ModeSelection& selection)
{
    checkModeSelection(selection, rows.count);
    switch (selection.kind) {
    case ModeSelection::Kind::First: {
        std::vector<int32_t> first(static_cast<std::size_t>(selection.first));
        for (int32_t k = 0; k < selection.first; ++k) first[static_cast<std::size_t>(k)] = k;
        return first;
    }
    case ModeSelection::Kind::List: return selection.indices;
    case ModeSelection::Kind::All: break;
    }
    return allModes(rows);
}

/// A number, or null where it is not one (a correlation without spread).
nlohmann::ordered_json numberOrNull(double value)
{
    return std::isfinite(value) ? nlohmann::ordered_json(value) : nlohmann::ordered_json(nullptr);
}

} // namespace

nlohmann::ordered_json fluctReport(SolvedNetwork& solved, const ModeSelection& selection)
{
    const ElasticNetworkModel& eln = solved.network();
    const ModeRows rows = heldModes(solved);
    const std::vector<int32_t> modes = chosenModes(rows, selection);
    const std::vector<double> sq = squareFluctuations(rows, modes);

    const int32_t n = eln.getAmountOfAtoms();
    std::vector<double> bFactors(static_cast<std::size_t>(n));
    std::map<std::string, std::pair<std::vector<double>, std::vector<double>>> chains;
    for (int32_t i = 0; i < n; ++i) {
        const Atom* atom = eln.getAtom(i);
        bFactors[static_cast<std::size_t>(i)] = atom->getMyBFactor();
        auto& [flucts, bs] = chains[atom->getChainID()];
        flucts.push_back(sq[static_cast<std::size_t>(i)]);
        bs.push_back(atom->getMyBFactor());
    }

    nlohmann::ordered_json report = structureJson(solved);
    report["path"] = rows.sparse ? "sparse" : "dense";
    report["modes"] = {{"selection", toString(selection)},
                       {"count", modes.size()},
                       {"of", rows.count},
                       {"lowest_modes_only", rows.sparse}};
    report["sq_flucts"] = sq;
    const Calibration& cal = eln.modes().getCalibration();
    if (cal.K > 0.0 && solved.calibration() != CalibrationOutcome::Nmr) {
        std::vector<double> calibrated(sq.size());
        for (std::size_t i = 0; i < sq.size(); ++i) calibrated[i] = sq[i] * cal.kT / cal.K;
        report["sq_flucts_calibrated"] = calibrated;
    } else {
        report["sq_flucts_calibrated"] = nullptr;
    }
    report["kT"] = cal.kT;
    report["spring_constant"] = cal.K;
    report["calibrated"] = cal.calibrated;
    report["b_factor_correlation"] = numberOrNull(pearsonCorrelation(sq, bFactors));
    nlohmann::ordered_json byChain = nlohmann::ordered_json::object();
    for (const auto& [chain, series] : chains)
        byChain[chain] = numberOrNull(pearsonCorrelation(series.first, series.second));
    report["b_factor_correlation_by_chain"] = byChain;
    return report;
}

nlohmann::ordered_json prsReport(SolvedNetwork& solved, const std::filesystem::path& csv)
{
    const ElasticNetworkModel& eln = solved.network();
    const int32_t n = eln.getAmountOfAtoms();
    if (eln.modes().isSparse()) {
        std::ostringstream text;
        text << std::setprecision(3) << "the perturbation-response map of " << n
             << " nodes needs the covariance of every mode, " << static_cast<double>(covarianceBytes(n)) / 1e9
             << " GB, which the sparse path does not hold (it computes the lowest modes only)";
        throw CliFailure(kExitInput, text.str());
    }
    const ModeRows rows = heldModes(solved);
    const PerturbResponse prs = perturbResponse(covarianceMatrix(rows), n);

    nlohmann::ordered_json report = structureJson(solved);
    report["modes"] = rows.count;
    if (csv.empty()) {
        nlohmann::ordered_json matrix = nlohmann::ordered_json::array();
        for (int32_t i = 0; i < n; ++i) {
            const auto first = prs.matrix.begin() + static_cast<std::ptrdiff_t>(i) * n;
            matrix.push_back(std::vector<double>(first, first + n));
        }
        report["prs_matrix"] = matrix;
    } else {
        AtomicFile out(csv);
        if (!out.ok()) throw CliFailure(kExitInput, "--csv: " + out.error());
        std::ostream& s = out.stream();
        s << std::setprecision(17) << "node,chain,residue,effectiveness,sensitivity";
        for (int32_t j = 0; j < n; ++j) s << ",response_" << j;
        s << '\n';
        for (int32_t i = 0; i < n; ++i) {
            const Atom* atom = eln.getAtom(i);
            s << i << ',' << atom->getChainID() << ',' << atom->getResidue() << ','
              << prs.effectiveness[static_cast<std::size_t>(i)] << ',' << prs.sensitivity[static_cast<std::size_t>(i)];
            for (int32_t j = 0; j < n; ++j) s << ',' << prs.matrix[static_cast<std::size_t>(i) * n + j];
            s << '\n';
        }
        if (!out.commit()) throw CliFailure(kExitInput, "--csv: " + out.error());
        report["csv"] = csv.string();
    }
    report["effectiveness"] = prs.effectiveness;
    report["sensitivity"] = prs.sensitivity;
    return report;
}

} // namespace vornax::cli
