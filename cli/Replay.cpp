#include "cli/Replay.h"

#include "cli/EigenFilesCli.h"
#include "cli/EnmRun.h"

#include "common/AtomicFile.h"
#include "common/InputFile.h"
#include "haptics/StylusScript.h"
#include "haptics/VirtualDeviceSession.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"

#include <algorithm>
#include <charconv>
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
                        const std::filesystem::path& yFile, const AssemblyRequest& assembly)
    {
        RunOptions options;
        options.file = file;
        options.assembly = assembly;
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
    replay->add_option("FILE", args.file, "PDB or mmCIF structure file, or main eigen data file (.hdv)")
        ->required()
        ->check(CLI::ExistingFile);
    addEigenFileOptions(replay, args.ppy, args.withoutY);
    addAssemblyOptions(replay, args.assembly, args.copies);
    replay->add_option("--rc", args.rc, "Spring cutoff in A")->default_val(11.0);
    replay->add_flag("--save-forces", args.saveForces, "Force-saving mode: released forces are kept");
    replay->add_option("--force-factor", args.forceFactor, "User force multiplier (0 to 1000)")->default_val(1.0);
    replay->add_option("--script", args.script, "Stylus script (see docs/vornax-enm.md: replay)")
        ->required()
        ->check(CLI::ExistingFile);
    replay
        ->add_option("--every", args.every,
                     "Record every Nth servo tick in \"ticks\" (the first, then every N-th; 1 records all).\n"
                     "The JSON is written as the ticks run, so memory does not grow with the script")
        ->type_name("N")
        ->default_val(1);
    replay->add_option("--json", args.json, "Write the JSON here instead of stdout ('-' for stdout)")->default_str("-");
    replay->add_flag("-v,--verbose", args.verbose, "Every engine diagnostic line on stderr");
    return replay;
}

std::unique_ptr<ReplayNetwork> loadReplayNetwork(const std::filesystem::path& file, double rc, const NodeCheck& check,
                                                 const std::filesystem::path& yFile, const AssemblyRequest& assembly)
{
    // A PDB structure is solved and calibrated; a main eigen data file (with its .ppy when
    // given) goes through the mode budget instead.
    return std::make_unique<SolvedReplayNetwork>(file, rc, check, yFile, assembly);
}

namespace {

/// Shortest text that reads back as the same double; null for a value that is not finite.
void writeNumber(std::ostream& out, double value)
{
    if (!std::isfinite(value)) {
        out << "null";
        return;
    }
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.write(buffer, ec == std::errc() ? end - buffer : 0);
}

void writeTick(std::ostream& out, const TickRecord& r, bool first)
{
    out << (first ? "\n    {\"force\": " : ",\n    {\"force\": ");
    if (r.forceSent) {
        out << '[';
        for (int i = 0; i < 3; ++i) {
            if (i) out << ", ";
            writeNumber(out, r.force[static_cast<std::size_t>(i)]);
        }
        out << ']';
    } else {
        out << "null";
    }
    out << ", \"atom\": " << r.atom << ", \"pressed_state\": ";
    if (r.atom >= 0)
        out << r.pressedState;
    else
        out << "null";
    out << '}';
}

std::string jsonText(const nlohmann::ordered_json& value)
{
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace

void runReplay(const ReplayArguments& args, std::ostream& out)
{
    constexpr double kLargestRc = 1e30;
    if (!(std::isfinite(args.rc) && args.rc > 0.0 && args.rc <= kLargestRc))
        throw CliFailure(kExitInput, "--rc must be a positive number of A");
    if (!(std::isfinite(args.forceFactor) && args.forceFactor >= 0.0 && args.forceFactor <= 1000.0))
        throw CliFailure(kExitInput, "--force-factor must be a number from 0 to 1000");
    if (args.every < 1) throw CliFailure(kExitInput, "--every must be a whole number from 1");

    for (const std::string& file : {args.file, args.script})
        if (const std::string problem = regularFileProblem(file); !problem.empty())
            throw CliFailure(kExitInput, problem);
    std::ifstream in(args.script, std::ios::binary);
    if (!in) throw CliFailure(kExitInput, "cannot read the script " + args.script);
    std::string error;
    const auto steps = parseStylusScript(in, error);
    if (!steps) throw CliFailure(kExitInput, args.script + ": " + error);

    if (!args.ppy.empty() && !isMainEigenDataFile(args.file))
        throw CliFailure(kExitInput, "--ppy goes with a main eigen data file (.hdv) as FILE");
    if (args.withoutY && !isMainEigenDataFile(args.file))
        throw CliFailure(kExitInput, "--without-y goes with a main eigen data file (.hdv) as FILE");
    const AssemblyRequest assembly = checkedAssembly(args.assembly, args.copies, args.file);
    auto source = loadReplayNetwork(
        args.file, args.rc,
        [&](const ElasticNetworkModel& eln) {
            std::string why;
            if (!checkScriptNodes(*steps, eln.getAmountOfAtoms(), why))
                throw CliFailure(kExitInput, args.script + ": " + why);
        },
        args.ppy, assembly);
    ElasticNetworkModel& eln = source->network();

    VirtualSessionOptions options;
    options.manual = true;
    options.saveForces = args.saveForces;
    options.forceFactor = static_cast<float>(args.forceFactor);
    VirtualDeviceSession session(eln, source->atoms(), options);
    if (!session.ok()) throw CliFailure(kExitComputation, "the virtual haptic device could not be opened");

    // The report is written as the ticks run: its size on disk grows with the script, the
    // memory it takes does not.
    out << "{\n  \"file\": " << jsonText(args.file) << ",\n  \"nodes\": " << eln.getAmountOfAtoms()
        << ",\n  \"device_model\": " << jsonText(hdapi::VirtualDevice::DefaultModelName) << ",\n  \"max_force\": ";
    writeNumber(out, session.device().getDeviceParams().maxForce);
    out << ",\n  \"haptic_scale\": ";
    writeNumber(out, session.device().getHapticScale());
    out << ",\n  \"save_forces\": " << (args.saveForces ? "true" : "false") << ",\n  \"force_factor\": ";
    writeNumber(out, args.forceFactor);
    out << ",\n  \"tick_every\": " << args.every << ",\n  \"ticks\": [";
    int64_t tick = 0;
    bool first = true;
    for (const StylusStep& step : *steps)
        session.run(step, [&](const TickRecord& record) {
            if (tick++ % args.every != 0) return;
            writeTick(out, record, first);
            first = false;
        });
    out << (first ? "]" : "\n  ]");
    out << ",\n  \"displacement\": " << jsonText(eln.deformation().getDisplacement());
    nlohmann::ordered_json kept = nlohmann::ordered_json::array();
    for (int32_t i = 0; i < eln.getAmountOfAtoms(); ++i) {
        const Vector3d f = eln.getAtom(i)->getOLDKcalForce();
        if (f != Vector3d()) kept.push_back({{"node", i}, {"force", vectorJson(f)}});
    }
    out << ",\n  \"kept_forces\": " << jsonText(kept) << "\n}\n";
}

int replayMain(const ReplayArguments& args)
{
    EigenFilePrompts prompts;
    prompts.setHoldY(!args.withoutY);
    ScopedUserPrompts scopedPrompts(&prompts);
    DiagnosticsRouting diagnostics(args.verbose);
    if (args.json == "-") {
        runReplay(args, std::cout);
        std::cout.flush();
        if (!std::cout) throw CliFailure(kExitInput, "cannot write the JSON to stdout");
    } else {
        // Opened first: a destination that cannot be written fails before the run.
        AtomicFile out(args.json);
        if (!out.ok()) throw CliFailure(kExitInput, "--json: " + out.error());
        runReplay(args, out.stream());
        if (!out.commit()) throw CliFailure(kExitInput, "--json: " + out.error());
    }
    diagnostics.flushWarnings();
    return kExitOk;
}

} // namespace vornax::cli
