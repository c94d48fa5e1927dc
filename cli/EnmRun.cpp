#include "cli/EnmRun.h"

#include "cli/EigenFilesCli.h"
#include "enm/sparse/SparseNetworkSolver.h"

#include "molecule/Atom.h"

#include "common/SystemInfo.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace vornax::cli {

namespace {

/// Average device force the force scaler S is computed for, in newtons.
constexpr float kAverageDeviceForce = 1.0f;

const char* outcomeName(CalibrationOutcome outcome)
{
    switch (outcome) {
    case CalibrationOutcome::Calibrated: return "calibrated";
    case CalibrationOutcome::NoBFactors: return "unit spring constant: B-factors unusable";
    case CalibrationOutcome::Nmr: return "not calibrated: NMR structure";
    }
    return "";
}

int exitStatusFor(LoadStatus status)
{
    // Memory that runs out is reported like a bad input (one line, status 2), wherever the
    // load noticed it: in the engine's own checks or as a failed allocation.
    switch (status) {
    case LoadStatus::NotConverged: return kExitComputation;
    default: return kExitInput;
    }
}

nlohmann::ordered_json timingsJson(const StageTimes& t)
{
    return {{"read", t.read},    {"network", t.network},         {"hessian", t.hessian},
            {"eigen", t.eigen},  {"calibration", t.calibration}, {"y", t.y},
            {"budget", t.budget}};
}

/// Peak resident memory per stage that ran, bytes.
nlohmann::ordered_json stagePeaksJson(const SolvedNetwork& solved)
{
    nlohmann::ordered_json peaks = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < kLoadStageCount; ++i) {
        const auto stage = static_cast<LoadStage>(i);
        const StageRecord& record = solved.load().record(stage);
        if (record.ran) peaks[stageName(stage)] = record.stagePeakRssBytes;
    }
    return peaks;
}

} // namespace

nlohmann::ordered_json structureJson(const SolvedNetwork& solved)
{
    const ElasticNetworkModel& eln = solved.network();
    return {{"file", solved.options().file.string()},
            {"pdb_code", eln.geometry().getPDBName()},
            {"nodes", eln.getAmountOfAtoms()},
            {"springs", eln.geometry().getAmountOfSprings()},
            {"rc", solved.options().rc},
            {"solver", solverName(solved.options().solver)},
            {"temperature", eln.geometry().getTemperature()},
            {"nmr", eln.geometry().isNMR()}};
}

const char* solverName(EigenSolver solver)
{
    switch (solver) {
    case EigenSolver::Lapack: return "lapack";
    case EigenSolver::LapackDC: return "lapack-dc";
    case EigenSolver::LapackMRRR: return "lapack-mrrr";
    case EigenSolver::Reference: return "reference";
    }
    return "";
}

long long processPeakBytes(const SolvedNetwork& solved)
{
    // The load resets the process's high-water mark per stage: its own record holds the peak.
    return std::max<long long>(solved.load().peakRssBytes, peakResidentBytes());
}

// ---- Solving ----------------------------------------------------------------------------------

SolvedNetwork::SolvedNetwork(const RunOptions& options,
                             const std::function<void(const SolvedNetwork&)>& checkBeforeSolve)
    : m_options(options)
{
    m_fromEigenFiles = isMainEigenDataFile(options.file);
    StructureSource source;
    if (m_fromEigenFiles) {
        std::vector<std::string> names{options.file.string()};
        if (!options.yFile.empty()) {
            if (!isResponseMatrixFile(options.yFile))
                throw CliFailure(kExitInput, options.yFile.string() + " is not a response matrix file (.ppy)");
            names.push_back(options.yFile.string());
        }
        source = StructureSource::eigenDataFiles(std::move(names));
    } else {
        source = StructureSource::pdbFile(options.file, options.assembly);
        if (!options.eigenOut.empty()) checkEigenFolder(options.eigenOut);
    }

    LoadOptions load;
    load.rc = static_cast<float>(options.rc);
    load.solver = options.solver;
    load.averageDeviceForce = kAverageDeviceForce;
    load.eigenFileFolder = options.eigenOut;
    load.measureStagePeaks = true;
    load.path = options.path;
    load.lowestModes = options.lowest;
    // A request that cannot fit the structure fails before the expensive stages.
    std::optional<CliFailure> refused;
    if (checkBeforeSolve) {
        load.checkNetwork = [&](const ElasticNetworkModel& eln) {
            try {
                m_checking = &eln;
                checkBeforeSolve(*this);
                return true;
            } catch (const CliFailure& failure) {
                refused = failure;
                return false;
            }
        };
    }
    m_load = runLoadPipeline(source, load);
    m_checking = nullptr;
    if (refused) throw *refused;
    if (!m_load.ok()) throw CliFailure(exitStatusFor(m_load.status), m_load.message);
    if (!options.eigenOut.empty() && !m_load.eigenFilesWritten)
        throw CliFailure(kExitInput, !m_load.eigenFileError.empty() ? m_load.eigenFileError
                                         : m_load.notCalibrated
                                         ? "an NMR structure is not calibrated, so it has no eigen data files to write"
                                         : "the eigen data files were not written");

    if (m_fromEigenFiles) m_options.rc = m_load.rc; // Å, as stored
    auto seconds = [&](LoadStage s) { return m_load.record(s).seconds; };
    m_times = {seconds(LoadStage::Read),  seconds(LoadStage::Network),     seconds(LoadStage::Hessian),
               seconds(LoadStage::Eigen), seconds(LoadStage::Calibration), seconds(LoadStage::Y),
               seconds(LoadStage::Budget)};
    const ElasticNetworkModel& eln = *m_load.network;
    if (m_fromEigenFiles)
        m_outcome = eln.setupComplete() ? CalibrationOutcome::Calibrated : CalibrationOutcome::Nmr;
    else if (m_load.notCalibrated)
        m_outcome = CalibrationOutcome::Nmr;
    else
        m_outcome = eln.modes().getCalibration().calibrated ? CalibrationOutcome::Calibrated : CalibrationOutcome::NoBFactors;
}

// ---- Reports ----------------------------------------------------------------------------------

nlohmann::ordered_json modesReport(const SolvedNetwork& solved)
{
    const ElasticNetworkModel& eln = solved.network();
    const std::vector<double>& lambda = eln.modes().getEigenvalues(); // one-based, 3N + 1
    const auto threeN = static_cast<std::size_t>(eln.get3N());

    std::vector<double> rigid(lambda.begin() + 1, lambda.begin() + 7);
    std::vector<double> nonRigid(lambda.begin() + 7, lambda.begin() + static_cast<std::ptrdiff_t>(threeN) + 1);

    const Calibration& cal = eln.modes().getCalibration();
    double sumInverse = cal.sumInverse, sumB = cal.sumB;
    if (solved.calibration() == CalibrationOutcome::Nmr) {
        // The engine skips NMR structures before summing: the sums are still well defined.
        sumInverse = 0.0;
        for (double inv : eln.modes().getInverseEigenvalues()) sumInverse += inv;
        sumB = 0.0;
        for (int32_t i = 0; i < eln.getAmountOfAtoms(); ++i) sumB += eln.getAtom(i)->getMyBFactor();
    }

    nlohmann::ordered_json report = structureJson(solved);
    const LoadResult& load = solved.load();
    const bool sparse = eln.modes().isSparse();
    report["path"] = sparse ? "sparse" : "dense";
    report["path_reason"] = load.pathReason;
    if (sparse) nonRigid.resize(static_cast<std::size_t>(eln.modes().getSparseModeCount()));
    report["k"] = nonRigid.size();
    report["rigid_eigenvalues"] = rigid;
    report["eigenvalues"] = nonRigid;
    report["extra_zero_modes"] = eln.modes().getExtraZeroModes();
    report["sum_inverse_eigenvalues"] = sumInverse;
    report["sum_bfactors"] = sumB;
    report["kT"] = cal.kT;
    report["spring_constant"] = cal.K;
    report["mean_fluctuation"] = cal.R;
    report["mean_compliance"] = cal.c;
    report["mean_device_displacement"] = cal.D;
    report["force_scaler"] = cal.S;
    report["calibrated"] = cal.calibrated;
    report["calibration"] = outcomeName(solved.calibration());
    report["y_matrix"] = eln.modes().getYMatrix() != nullptr;
    report["modes_kept"] = eln.getTotalMaxModes();
    const TraceEstimate& trace = eln.modes().getSumInverseEstimate();
    report["sum_inverse_exact"] = !sparse || trace.exact;
    report["sum_inverse_bound"] = sparse ? trace.bound : 0.0;
    report["time_to_first_pull"] = load.timeToFirstPull;
    nlohmann::ordered_json timings = timingsJson(solved.times());
    if (const SparseNetworkSolver* solver = eln.modes().getSparseSolver()) {
        const SparseStageTimes& t = solver->times();
        timings["sparse_hessian"] = t.hessian;
        timings["ordering"] = t.ordering;
        timings["factorisation"] = t.factorisation;
        timings["lanczos"] = t.lanczos;
        timings["trace"] = t.trace;
        timings["lanczos_passes"] = t.lanczosPasses;
        timings["solves"] = t.solves;
        report["trace_samples"] = trace.samples;
        report["trace_bound_reached"] = trace.exact || trace.reachedTarget;
        report["factor_nonzeros"] = solver->factorNonZeros();
        report["factor_stored_entries"] = solver->factorStoredEntries();
    }
    report["timings"] = timings;
    report["stage_peak_rss_bytes"] = stagePeaksJson(solved);
    report["peak_rss_bytes"] = processPeakBytes(solved);
    return report;
}

void checkResponseRequest(const ElasticNetworkModel& eln, const ResponseRequest& request)
{
    if (eln.geometry().isNMR())
        throw CliFailure(kExitInput, "NMR structure: the network is not calibrated, so it has no force response");
    const int32_t n = eln.getAmountOfAtoms();
    if (request.node < 0 || request.node >= n)
        throw CliFailure(kExitInput,
                         "--node " + std::to_string(request.node) + " is out of range: the structure has "
                             + std::to_string(n) + " nodes (0 to " + std::to_string(n - 1) + ")");
    checkModeSelection(request.modes, eln.geometry().get3NMinus6());
}

nlohmann::ordered_json responseReport(SolvedNetwork& solved, const ResponseRequest& request)
{
    ElasticNetworkModel& eln = solved.network();
    checkResponseRequest(eln, request);
    if (request.modes.kind != ModeSelection::Kind::All) checkModeSelection(request.modes, eln.getTotalMaxModes());
    if (solved.calibration() == CalibrationOutcome::Nmr)
        throw CliFailure(kExitInput, "the network is not calibrated, so it has no force response");

    const auto threeN = static_cast<std::size_t>(eln.get3N());
    std::vector<double> displacement(threeN, 0.0);
    const ModeSelection& sel = request.modes;
    nlohmann::ordered_json modes = {{"selection", toString(sel)}};
    switch (sel.kind) {
    case ModeSelection::Kind::All:
        // Through Y when it is held, through every kept mode otherwise.
        eln.deformation().computeResponse(request.force.data(), request.node, 2, eln.getTotalMaxModes(), nullptr,
                            displacement.data());
        modes["count"] = eln.getTotalMaxModes();
        modes["through_y"] = eln.modes().getYMatrix() != nullptr;
        break;
    case ModeSelection::Kind::First:
        eln.deformation().computeResponse(request.force.data(), request.node, 1, sel.first, nullptr, displacement.data());
        modes["count"] = sel.first;
        modes["through_y"] = false;
        break;
    case ModeSelection::Kind::List:
        eln.deformation().computeResponse(request.force.data(), request.node, 0, static_cast<int32_t>(sel.indices.size()),
                            sel.indices.data(), displacement.data());
        modes["count"] = sel.indices.size();
        modes["indices"] = sel.indices;
        modes["through_y"] = false;
        break;
    }

    nlohmann::ordered_json report = structureJson(solved);
    report["node"] = request.node;
    report["force"] = request.force;
    report["modes"] = modes;
    if (solved.fromEigenFiles()) {
        // The eigen data files carry S, not K.
        report["spring_constant"] = nullptr;
        report["calibrated"] = eln.setupComplete();
        report["force_scaler"] = eln.getS();
    } else {
        report["spring_constant"] = eln.modes().getCalibration().K;
        report["calibrated"] = eln.modes().getCalibration().calibrated;
    }
    report["displacement"] = displacement;
    if (const double* y = eln.modes().getYMatrix()) {
        std::vector<double> diagonal(threeN);
        for (std::size_t i = 0; i < threeN; ++i) diagonal[i] = y[i * threeN + i];
        report["y_diagonal"] = diagonal;
    }
    report["timings"] = timingsJson(solved.times());
    report["peak_rss_bytes"] = processPeakBytes(solved);
    return report;
}

nlohmann::ordered_json deformReport(SolvedNetwork& solved, const std::vector<ResponseRequest>& requests,
                                    const std::filesystem::path& out)
{
    ElasticNetworkModel& eln = solved.network();
    if (requests.empty()) throw CliFailure(kExitInput, "no force to keep");
    for (const ResponseRequest& request : requests) checkResponseRequest(eln, request);
    const double S = eln.getS();
    if (solved.calibration() == CalibrationOutcome::Nmr || !(S > 0.0))
        throw CliFailure(kExitInput, "the network is not calibrated, so it has no force response");

    // The selection as the main window sets it for the slider, the mode boxes or "all".
    const ModeSelection& sel = requests.front().modes;
    {
        const ModeChangeToken token = eln.beginModeChange();
        switch (sel.kind) {
        case ModeSelection::Kind::All:
            eln.receiveNewModes(token, nullptr, 0);
            eln.selectModeState(token, 2);
            eln.useAllModes(token, true);
            break;
        case ModeSelection::Kind::First:
            eln.useAllModes(token, false);
            eln.selectAmountOfModes(token, sel.first);
            eln.selectModeState(token, 1);
            break;
        case ModeSelection::Kind::List:
            eln.receiveNewModes(token, sel.indices.data(), static_cast<int32_t>(sel.indices.size()));
            eln.useAllModes(token, false);
            eln.selectModeState(token, 0);
            break;
        }
    }

    // Each force as a pull released in force-saving mode: grabbed, pulled, let go and kept.
    // The device force that the network turns into `request.force`: f = -F * newtonToKcal * S.
    const double toKcal = eln.modes().getNewtonToKcal() * S;
    nlohmann::ordered_json forces = nlohmann::ordered_json::array();
    for (const ResponseRequest& request : requests) {
        const Vector3d newtons(static_cast<float>(-request.force[0] / toKcal),
                               static_cast<float>(-request.force[1] / toKcal),
                               static_cast<float>(-request.force[2] / toKcal));
        Atom* atom = eln.getAtom(request.node);
        atom->simulateState(0);
        atom->addAForce(newtons, newtons.size());
        atom->saveForce();
        eln.applyNonScaleForce(Vector3d(static_cast<float>(request.force[0]), static_cast<float>(request.force[1]),
                                        static_cast<float>(request.force[2])),
                               request.node);
        eln.simulate();         // grab: records the route of the selection
        atom->simulateState(2); // released in force-saving mode: the force is kept
        eln.simulate();
        eln.zeroF();
        // A force whose response would carry a node beyond any physical reach is let go by the
        // step (with a warning), not kept: nothing of it may reach the structure written.
        const Vector3d asked(static_cast<float>(request.force[0]), static_cast<float>(request.force[1]),
                             static_cast<float>(request.force[2]));
        if (!(asked == Vector3d()) && atom->getOLDKcalForce() == Vector3d())
            throw CliFailure(kExitInput,
                             "the force on node " + std::to_string(request.node)
                                 + " was let go, not kept: no structure is written");
        nlohmann::ordered_json entry;
        entry["node"] = request.node;
        entry["force"] = request.force;
        entry["device_force_newtons"] = {newtons.x, newtons.y, newtons.z};
        entry["kept"] = atom->getPressed() == 3;
        forces.push_back(std::move(entry));
    }
    eln.updateDeformables();

    if (!eln.write_C_alphaFile(out.string())) throw CliFailure(kExitInput, eln.getCAlphaFileError());

    nlohmann::ordered_json report = structureJson(solved);
    if (forces.size() == 1)
        for (const char* key : {"node", "force", "device_force_newtons", "kept"}) report[key] = forces[0][key];
    report["forces"] = forces;
    report["modes"] = toString(sel);
    report["out"] = out.string();
    report["displacement"] = eln.deformation().getDisplacement();
    report["timings"] = timingsJson(solved.times());
    report["peak_rss_bytes"] = processPeakBytes(solved);
    return report;
}

} // namespace vornax::cli
