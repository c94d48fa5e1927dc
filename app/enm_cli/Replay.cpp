#include "enm_cli/Replay.h"

#include "enm_cli/EigenFilesCli.h"
#include "enm_cli/EnmRun.h"
#include "haptics/StylusScript.h"
#include "haptics/VirtualDeviceSession.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>

namespace vornax::cli {

namespace {

/// A structure through the same stages as `modes` and `response`.
class SolvedReplayNetwork : public ReplayNetwork {
public:
    SolvedReplayNetwork(const std::filesystem::path& file, double rc, const NodeCheck& check,
                        const std::filesystem::path& yFile)
    {
        RunOptions options;
        options.file = file;
        options.rc = rc;
        options.yFile = yFile;
        m_solved = std::make_unique<SolvedNetwork>(options, [&](const SolvedNetwork& s) {
            if (check) check(s.network());
        });
    }
    ElasticNetworkModel& network() override { return m_solved->network(); }
    std::vector<Atom*> atoms() override { return {}; }

private:
    std::unique_ptr<SolvedNetwork> m_solved;
};

nlohmann::ordered_json vectorJson(const Vector3d& v) { return {v.x, v.y, v.z}; }

} // namespace

CLI::App* addReplayCommand(CLI::App& app, ReplayArguments& args)
{
    CLI::App* replay = app.add_subcommand(
        "replay", "Run a stylus script on the virtual device against the network of FILE, as right after a load");
    replay->add_option("FILE", args.file, "PDB structure file, or main eigen data file (.hdv)")
        ->required()
        ->check(CLI::ExistingFile);
    addEigenFileOptions(replay, args.ppy, args.withoutY);
    replay->add_option("--rc", args.rc, "Spring cutoff in A")->default_val(11.0);
    replay->add_flag("--save-forces", args.saveForces, "Force-saving mode: released forces are kept");
    replay->add_option("--force-factor", args.forceFactor, "User force multiplier (0 to 1000)")->default_val(1.0);
    replay->add_option("--script", args.script, "Stylus script (see README: vornax-enm replay)")
        ->required()
        ->check(CLI::ExistingFile);
    replay->add_option("--json", args.json, "Write the JSON here instead of stdout ('-' for stdout)")
        ->default_str("-");
    replay->add_flag("-v,--verbose", args.verbose, "Every engine diagnostic line on stderr");
    return replay;
}

std::unique_ptr<ReplayNetwork> loadReplayNetwork(const std::filesystem::path& file, double rc, const NodeCheck& check,
                                                 const std::filesystem::path& yFile)
{
    // A PDB structure is solved and calibrated; a main eigen data file (with its .ppy when
    // given) goes through the mode budget instead.
    return std::make_unique<SolvedReplayNetwork>(file, rc, check, yFile);
}

nlohmann::ordered_json runReplay(const ReplayArguments& args)
{
    constexpr double kLargestRc = 1e30;
    if (!(std::isfinite(args.rc) && args.rc > 0.0 && args.rc <= kLargestRc))
        throw CliFailure(kExitInput, "--rc must be a positive number of A");
    if (!(std::isfinite(args.forceFactor) && args.forceFactor >= 0.0 && args.forceFactor <= 1000.0))
        throw CliFailure(kExitInput, "--force-factor must be a number from 0 to 1000");

    std::ifstream in(args.script, std::ios::binary);
    if (!in) throw CliFailure(kExitInput, "cannot read the script " + args.script);
    std::string error;
    const auto steps = parseStylusScript(in, error);
    if (!steps) throw CliFailure(kExitInput, args.script + ": " + error);

    if (!args.ppy.empty() && !isMainEigenDataFile(args.file))
        throw CliFailure(kExitInput, "--ppy goes with a main eigen data file (.hdv) as FILE");
    auto source = loadReplayNetwork(
        args.file, args.rc,
        [&](const ElasticNetworkModel& eln) {
            std::string why;
            if (!checkScriptNodes(*steps, eln.getAmountOfAtoms(), why))
                throw CliFailure(kExitInput, args.script + ": " + why);
        },
        args.ppy);
    ElasticNetworkModel& eln = source->network();

    VirtualSessionOptions options;
    options.manual = true;
    options.saveForces = args.saveForces;
    options.forceFactor = static_cast<float>(args.forceFactor);
    VirtualDeviceSession session(eln, source->atoms(), options);
    if (!session.ok()) throw CliFailure(kExitComputation, "the virtual haptic device could not be opened");

    std::vector<TickRecord> records;
    for (const StylusStep& step : *steps) session.run(step, &records);

    nlohmann::ordered_json report;
    report["file"] = args.file;
    report["nodes"] = eln.getAmountOfAtoms();
    report["device_model"] = hdapi::VirtualDevice::DefaultModelName;
    report["max_force"] = session.device().getDeviceParams().maxForce;
    report["haptic_scale"] = session.device().getHapticScale();
    report["save_forces"] = args.saveForces;
    report["force_factor"] = args.forceFactor;
    nlohmann::ordered_json ticks = nlohmann::ordered_json::array();
    for (const TickRecord& r : records) {
        nlohmann::ordered_json t;
        if (r.forceSent)
            t["force"] = {r.force[0], r.force[1], r.force[2]};
        else
            t["force"] = nullptr;
        t["atom"] = r.atom;
        if (r.atom >= 0)
            t["pressed_state"] = r.pressedState;
        else
            t["pressed_state"] = nullptr;
        ticks.push_back(std::move(t));
    }
    report["ticks"] = std::move(ticks);
    report["displacement"] = eln.getDisplacement();
    nlohmann::ordered_json kept = nlohmann::ordered_json::array();
    for (int32_t i = 0; i < eln.getAmountOfAtoms(); ++i) {
        const Vector3d f = eln.getAtom(i)->getOLDKcalForce();
        if (f != Vector3d()) kept.push_back({{"node", i}, {"force", vectorJson(f)}});
    }
    report["kept_forces"] = std::move(kept);
    return report;
}

int replayMain(const ReplayArguments& args)
{
    EigenFilePrompts prompts;
    prompts.setHoldY(!args.withoutY);
    ScopedUserPrompts scopedPrompts(&prompts);
    DiagnosticsRouting diagnostics(args.verbose);
    try {
        const std::string text = runReplay(args).dump(2) + '\n';
        if (args.json == "-") {
            std::cout << text << std::flush;
            if (!std::cout) throw CliFailure(kExitInput, "cannot write the JSON to stdout");
        } else {
            std::ofstream out(args.json, std::ios::binary | std::ios::trunc);
            out << text;
            out.close();
            if (!out) throw CliFailure(kExitInput, "cannot write " + args.json);
        }
        diagnostics.flushWarnings();
        return kExitOk;
    } catch (const CliFailure& e) {
        std::cerr << "vornax-enm: error: " << singleLine(e.what()) << std::endl;
        return e.status();
    } catch (const std::bad_alloc&) {
        std::cerr << "vornax-enm: error: not enough memory" << std::endl;
        return kExitComputation;
    } catch (const std::exception& e) {
        std::cerr << "vornax-enm: error: " << singleLine(e.what()) << std::endl;
        return kExitComputation;
    }
}

} // namespace vornax::cli
