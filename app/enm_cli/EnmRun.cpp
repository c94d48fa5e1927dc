#include "enm_cli/EnmRun.h"

#include "enm_cli/EigenFilesCli.h"

#include "molecule/Atom.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace vornax::cli {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Average device force the force scaler S is computed for, in newtons.
constexpr float kAverageDeviceForce = 1.0f;

std::string describe(EnmStatus status)
{
    switch (status) {
    case EnmStatus::Ok: return "ok";
    case EnmStatus::TooFewNodes: return "too few nodes";
    case EnmStatus::OutOfMemory: return "not enough memory";
    case EnmStatus::NotReady: return "the previous stage did not finish";
    case EnmStatus::NotCalibrated: return "not calibrated";
    }
    return "unknown status";
}

const char* outcomeName(CalibrationOutcome outcome)
{
    switch (outcome) {
    case CalibrationOutcome::Calibrated: return "calibrated";
    case CalibrationOutcome::NoBFactors: return "unit spring constant: B-factors unusable";
    case CalibrationOutcome::Nmr: return "not calibrated: NMR structure";
    }
    return "";
}

int statusFor(EnmStatus status) { return status == EnmStatus::TooFewNodes ? kExitInput : kExitComputation; }

nlohmann::ordered_json timingsJson(const StageTimes& t)
{
    return {{"read", t.read},       {"network", t.network},         {"hessian", t.hessian},
            {"eigen", t.eigen},     {"calibration", t.calibration}, {"y", t.y}, {"budget", t.budget}};
}

/// Fields both reports start with.
nlohmann::ordered_json structureJson(const SolvedNetwork& solved)
{
    const ElasticNetworkModel& eln = solved.network();
    return {{"file", solved.options().file.string()},
            {"pdb_code", eln.getPDBName()},
            {"nodes", eln.getAmountOfAtoms()},
            {"springs", eln.getAmountOfSprings()},
            {"rc", solved.options().rc},
            {"solver", solverName(solved.options().solver)},
            {"temperature", eln.getTemperature()},
            {"nmr", eln.isNMR()}};
}

} // namespace

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

long long peakResidentBytes()
{
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return static_cast<long long>(usage.ru_maxrss) * 1024; // ru_maxrss is in KiB on Linux
}

// ---- Solving ----------------------------------------------------------------------------------

SolvedNetwork::SolvedNetwork(const RunOptions& options,
                             const std::function<void(const SolvedNetwork&)>& checkBeforeSolve)
    : m_options(options)
{
    if (isMainEigenDataFile(options.file)) {
        loadFromEigenFiles(checkBeforeSolve);
        return;
    }
    auto start = Clock::now();
    const bool loaded = m_reader.openFile(options.file);
    m_atoms.list = m_reader.getAtomList();
    m_network.reset(m_reader.getElasticNetwork());
    m_times.read = secondsSince(start);
    if (!loaded) throw CliFailure(kExitInput, m_reader.getLoadError());

    ElasticNetworkModel& eln = *m_network;
    start = Clock::now();
    eln.setRc(static_cast<float>(options.rc));
    eln.setRenderingDataUp();
    m_times.network = secondsSince(start);
    if (eln.getAmountOfAtoms() < 3)
        throw CliFailure(kExitInput, options.file.string() + " has " + std::to_string(eln.getAmountOfAtoms())
                                         + " network nodes (C-alpha or phosphorus atoms);"
                                           " normal modes need at least 3");
    if (checkBeforeSolve) checkBeforeSolve(*this);

    start = Clock::now();
    EnmStatus status = eln.constructHessianMatrix(nullptr);
    m_times.hessian = secondsSince(start);
    if (status != EnmStatus::Ok)
        throw CliFailure(statusFor(status), "building the Hessian failed: " + describe(status));
    // Two nodes at one position have no spring direction: the Hessian would hold NaN.
    if (!eln.isHessianFinite())
        throw CliFailure(kExitInput, "two network nodes of " + options.file.string()
                                         + " are at the same position; the network has no normal modes");

    eln.setEigenSolver(options.solver);
    start = Clock::now();
    status = eln.calculateEigen(nullptr);
    m_times.eigen = secondsSince(start);
    if (status != EnmStatus::Ok)
        throw CliFailure(statusFor(status), std::string("the eigen solution (") + solverName(options.solver)
                                                + ") failed: " + describe(status));

    // Y is built inside the calibration call; the engine times it, and the rest of the call
    // counts as calibration. One call leaves the network exactly as the program's own load
    // does (Y held and announced).
    start = Clock::now();
    status = eln.calculateForceScaler(kAverageDeviceForce, false);
    const double calibrationAndY = secondsSince(start);
    m_times.y = std::min(calibrationAndY, eln.getYSeconds());
    m_times.calibration = calibrationAndY - m_times.y;
    if (status == EnmStatus::NotCalibrated) {
        m_outcome = CalibrationOutcome::Nmr;
    } else if (status != EnmStatus::Ok) {
        throw CliFailure(statusFor(status), "the calibration failed: " + describe(status));
    } else {
        m_outcome = eln.getCalibration().calibrated ? CalibrationOutcome::Calibrated : CalibrationOutcome::NoBFactors;
    }
    if (!options.eigenOut.empty()) writeEigenFiles(eln, options.eigenOut);
    // The modes kept are those that fit memory and a 60 ms response on this machine.
    start = Clock::now();
    eln.getMaxPossibleModes(nullptr);
    m_times.budget = secondsSince(start);
}

// ---- Reports ----------------------------------------------------------------------------------

nlohmann::ordered_json modesReport(const SolvedNetwork& solved)
{
    const ElasticNetworkModel& eln = solved.network();
    const std::vector<double>& lambda = eln.getEigenvalues(); // one-based, 3N + 1
    const auto threeN = static_cast<std::size_t>(eln.get3N());

    std::vector<double> rigid(lambda.begin() + 1, lambda.begin() + 7);
    std::vector<double> nonRigid(lambda.begin() + 7, lambda.begin() + static_cast<std::ptrdiff_t>(threeN) + 1);

    const ElasticNetworkModel::Calibration& cal = eln.getCalibration();
    double sumInverse = cal.sumInverse, sumB = cal.sumB;
    if (solved.calibration() == CalibrationOutcome::Nmr) {
        // The engine skips NMR structures before summing: the sums are still well defined.
        sumInverse = 0.0;
        for (double inv : eln.getInverseEigenvalues()) sumInverse += inv;
        sumB = 0.0;
        for (int32_t i = 0; i < eln.getAmountOfAtoms(); ++i) sumB += eln.getAtom(i)->getMyBFactor();
    }

    nlohmann::ordered_json report = structureJson(solved);
    report["rigid_eigenvalues"] = rigid;
    report["eigenvalues"] = nonRigid;
    report["extra_zero_modes"] = eln.getExtraZeroModes();
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
    report["y_matrix"] = eln.getYMatrix() != nullptr;
    report["modes_kept"] = eln.getTotalMaxModes();
    report["timings"] = timingsJson(solved.times());
    report["peak_rss_bytes"] = peakResidentBytes();
    return report;
}

void checkResponseRequest(const ElasticNetworkModel& eln, const ResponseRequest& request)
{
    if (eln.isNMR())
        throw CliFailure(kExitInput, "NMR structure: the network is not calibrated, so it has no force response");
    const int32_t n = eln.getAmountOfAtoms();
    if (request.node < 0 || request.node >= n)
        throw CliFailure(kExitInput, "--node " + std::to_string(request.node) + " is out of range: the structure has "
                                         + std::to_string(n) + " nodes (0 to " + std::to_string(n - 1) + ")");
    checkModeSelection(request.modes, eln.get3NMinus6());
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
        eln.computeResponse(request.force.data(), request.node, 2, eln.getTotalMaxModes(), nullptr,
                            displacement.data());
        modes["count"] = eln.getTotalMaxModes();
        modes["through_y"] = eln.getYMatrix() != nullptr;
        break;
    case ModeSelection::Kind::First:
        eln.computeResponse(request.force.data(), request.node, 1, sel.first, nullptr, displacement.data());
        modes["count"] = sel.first;
        modes["through_y"] = false;
        break;
    case ModeSelection::Kind::List:
        eln.computeResponse(request.force.data(), request.node, 0, static_cast<int32_t>(sel.indices.size()),
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
        report["spring_constant"] = eln.getCalibration().K;
        report["calibrated"] = eln.getCalibration().calibrated;
    }
    report["displacement"] = displacement;
    if (const double* y = eln.getYMatrix()) {
        std::vector<double> diagonal(threeN);
        for (std::size_t i = 0; i < threeN; ++i) diagonal[i] = y[i * threeN + i];
        report["y_diagonal"] = diagonal;
    }
    report["timings"] = timingsJson(solved.times());
    report["peak_rss_bytes"] = peakResidentBytes();
    return report;
}

nlohmann::ordered_json deformReport(SolvedNetwork& solved, const ResponseRequest& request,
                                    const std::filesystem::path& out)
{
    ElasticNetworkModel& eln = solved.network();
    checkResponseRequest(eln, request);
    const double S = eln.getS();
    if (solved.calibration() == CalibrationOutcome::Nmr || !(S > 0.0))
        throw CliFailure(kExitInput, "the network is not calibrated, so it has no force response");

    // The selection as the main window sets it for the slider, the mode boxes or "all".
    const ModeSelection& sel = request.modes;
    switch (sel.kind) {
    case ModeSelection::Kind::All:
        eln.receiveNewModes(nullptr, 0);
        eln.selectModeState(2);
        eln.useAllModes(true);
        break;
    case ModeSelection::Kind::First:
        eln.useAllModes(false);
        eln.selectAmountOfModes(sel.first);
        eln.selectModeState(1);
        break;
    case ModeSelection::Kind::List:
        eln.receiveNewModes(sel.indices.data(), static_cast<int32_t>(sel.indices.size()));
        eln.useAllModes(false);
        eln.selectModeState(0);
        break;
    }

    // The device force that the network turns into `request.force`: f = -F * newtonToKcal * S.
    const double toKcal = eln.getNewtonToKcal() * S;
    const Vector3d newtons(static_cast<float>(-request.force[0] / toKcal), static_cast<float>(-request.force[1] / toKcal),
                           static_cast<float>(-request.force[2] / toKcal));
    Atom* atom = eln.getAtom(request.node);
    atom->simulateState(0);
    atom->addAForce(newtons, newtons.size());
    atom->saveForce();
    eln.applyNonScaleForce(Vector3d(static_cast<float>(request.force[0]), static_cast<float>(request.force[1]),
                                    static_cast<float>(request.force[2])),
                           request.node);
    eln.simulate();          // grab: records the route of the selection
    atom->simulateState(2);  // released in force-saving mode: the force is kept
    eln.simulate();
    eln.zeroF();
    eln.updateDeformables();

    if (!eln.write_C_alphaFile(out.string())) throw CliFailure(kExitInput, "cannot write " + out.string());

    nlohmann::ordered_json report = structureJson(solved);
    report["node"] = request.node;
    report["force"] = request.force;
    report["device_force_newtons"] = {newtons.x, newtons.y, newtons.z};
    report["modes"] = toString(sel);
    report["kept"] = atom->getPressed() == 3;
    report["out"] = out.string();
    report["displacement"] = eln.getDisplacement();
    report["timings"] = timingsJson(solved.times());
    report["peak_rss_bytes"] = peakResidentBytes();
    return report;
}

} // namespace vornax::cli
