// vornax-enm: the elastic network of a PDB structure without the window: its normal modes and
// calibration, or the displacement a force causes, as JSON.
#include "cli/CliSupport.h"
#include "cli/EigenFilesCli.h"
#include "cli/EnmRun.h"
#include "cli/MapsRun.h"
#include "cli/Replay.h"

#include "common/AtomicFile.h"
#include "common/Units.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <csignal>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace vornax;
using namespace vornax::cli;

namespace {

const char* const kFooter = R"(Output: one JSON object, written to OUT or to stdout (no --json, or --json -).
Engine diagnostics go to stderr: warnings only, every line with --verbose.

modes fields: pdb_code, nodes, springs (ordered pairs: each spring twice), rc (A),
  temperature (K), nmr, rigid_eigenvalues (the six dropped), eigenvalues (the
  3N-6 others, ascending, unit spring constant, 1/A^2), extra_zero_modes,
  sum_inverse_eigenvalues, sum_bfactors, kT, spring_constant K, mean_fluctuation R,
  mean_compliance c, mean_device_displacement D (1 N average device force),
  force_scaler S, calibrated, timings (seconds: read, network, hessian, eigen,
  calibration, y; y is the engine's own timing of the response matrix Y, which is
  built inside the calibration call, and calibration the rest of that call; budget the
  mode budget: memory and the 60 ms timing search), modes_kept (modes the budget keeps),
  stage_peak_rss_bytes (for each stage that ran: read, network, hessian, eigen,
  calibration, y, eigen_files with --out, budget; the largest resident memory of the
  process during that stage, its high-water mark being reset as the stage starts; where
  the system cannot reset it, the process's peak at the end of the stage),
  peak_rss_bytes (the process's peak over the whole run), path (dense or sparse) and
  path_reason, k (modes computed: 3N-6 dense, --lowest or a little more sparse, a group
  of equal eigenvalues being kept whole), sum_inverse_exact and sum_inverse_bound (the
  sparse path's estimate lies within +-bound of the exact sum), time_to_first_pull
  (seconds from the read until a force can be answered, eigen data files left out); on
  the sparse path also trace_samples, factor_nonzeros, factor_stored_entries and, in
  timings, sparse_hessian, ordering, factorisation, lanczos, trace, lanczos_passes and
  solves. With --out DIR the eigen data
  files <code>.hdv (record lines, Rc, S, inverse scaled eigenvalues, eigenvectors) and
  <code>.ppy (Y) are written into DIR, which must exist; a code that is not letters and
  digits only names them XXXX.
load fields: file, y_file, pdb_code, nodes, springs, rc (A, as stored), force_scaler S,
  calibrated (S > 0), modes_kept (the mode budget's totalMaxModes), non_rigid_modes (3N-6),
  load_result (-2 Y held, -3 modes only), modes_allowed_by_memory, memory_budget_doubles,
  y_matrix, timings (read, network, budget), peak_rss_bytes. Files that do not fit together
  (truncated, padded, another structure's, values that are not finite, or a .ppy whose Y
  does not match the lowest modes of the .hdv) are refused. Without a .ppy the engine asks
  whether to compute Y; the answer is Yes (Y is computed from the modes when every mode
  was kept and memory allows, otherwise the run is modes only) unless --without-y.
response FILE may be a .hdv (with --ppy FILE.ppy); the stored Rc is used, --rc ignored,
  and spring_constant is null (the files carry S, not K).
deform fields: nodes, forces (for each force in the order given: node, force in
  kcal/mol/A, device_force_newtons (the device force -f / (newtonToKcal * S) kept on the
  node), kept), with a single force also node, force, device_force_newtons and kept as
  before; modes, out, displacement, timings, peak_rss_bytes. The forces are kept one after
  the other, as pulls released in force-saving mode; a node named again replaces its
  earlier force. The PDB file holds REMARK lines for the kept forces with the mode
  selection each went through, the C-alpha records moved by the displacement, and END.
fluct fields: modes (selection, count, of: the modes held, lowest_modes_only: true on the
  sparse path, whose fluctuations come from its lowest modes only), sq_flucts (N numbers,
  A^2, unit spring constant: for node i the sum over the chosen non-rigid modes k of
  |v_k,i|^2 / lambda_k, zero modes left out; ProDy's calcSqFlucts), sq_flucts_calibrated
  (sq_flucts * kT / K, A^2, so that B_i = 8 pi^2 / 3 times it; null when not calibrated),
  kT, spring_constant, calibrated, b_factor_correlation (Pearson's r of sq_flucts and the
  B-factors; null without spread) and b_factor_correlation_by_chain.
prs fields: modes (the non-rigid modes used: every one), prs_matrix (N rows of N; left out
  with --csv), effectiveness and sensitivity (N each). With C the covariance, the sum over
  every non-rigid mode of v_k v_k^T / lambda_k, P_ij is the sum of the squares of the 3x3
  block C(i, j): the mean-square response of node j to a force of random direction on node
  i. prs_matrix is P_ij / P_ii (each row divided by its diagonal; 0 where that is 0);
  effectiveness_i is the mean of row i and sensitivity_j the mean of column j, the diagonal
  left out of both (ProDy's calcPerturbResponse). --csv OUT writes one line a node: node,
  chain, residue, effectiveness, sensitivity, then its row. The sparse path holds no
  covariance of every mode: prs refuses it, naming the memory that would take.
response fields: nodes, node, force (kcal/mol/A), modes, displacement (3N numbers in A,
  node-major x,y,z), y_diagonal (3N numbers, when Y is held), spring_constant,
  calibrated, timings, peak_rss_bytes.

Calibration: K comes from the B-factors. When they cannot calibrate K (all zero, for
  example) the engine uses K = 1 kcal/mol/A^2 and R = 1 A; "calibrated" is then false and
  responses are those of the unit spring constant. NMR structures are not calibrated:
  modes reports K, R, c, D and S as 0 with "calibrated": false (the sums are still
  given), and response refuses them.

Exit status: 0 done; 2 bad arguments, unreadable file, fewer than 3 network nodes, two
  network nodes at the same position (checked before any work that grows with N^2), a
  request that does not fit the structure, output that cannot be written, or memory that
  runs out; 1 the computation failed (an eigen solver that did not converge). Every output file is written whole to a temporary file
  beside it and replaces the old one only when complete (the .hdv and .ppy together); a
  failed run leaves them unchanged.)";

struct CommonArguments {
    std::string file;
    double rc = 11.0;
    std::string solver = "lapack";
    std::string json = "-";
    bool verbose = false;
    std::string assembly;
    std::string copies;
    std::string path = "auto";
    int lowest = 20;
};

void addCommonOptions(CLI::App* command, CommonArguments& args)
{
    command->add_option("FILE", args.file, "PDB or mmCIF (.cif, .cif.gz) structure file")
        ->required()
        ->check(CLI::ExistingFile);
    addAssemblyOptions(command, args.assembly, args.copies);
    command->add_option("--rc", args.rc, "Spring cutoff in A (nodes closer than this are joined)")->default_val(11.0);
    command
        ->add_option(
            "--solver", args.solver,
            "Eigen solver: lapack (LAPACK stages, sparse first block, blocked back-transformation), lapack-dc (dsyevd), "
            "lapack-mrrr (dsyevr) or reference")
        ->check(CLI::IsMember({"lapack", "lapack-dc", "lapack-mrrr", "reference"}))
        ->type_name("NAME")
        ->default_str("lapack");
    command
        ->add_option("--path", args.path,
                     "dense (every mode, Y, the mode budget), sparse (the lowest modes from a sparse factorisation) "
                     "or auto (dense where it fits the available memory)")
        ->check(CLI::IsMember({"auto", "dense", "sparse"}))
        ->type_name("NAME")
        ->default_str("auto");
    command->add_option("--lowest", args.lowest, "Sparse path: the non-rigid modes computed, lowest first")
        ->check(CLI::Range(1, 100000))
        ->default_val(20);
    command->add_option("--json", args.json, "Write the JSON here instead of stdout ('-' for stdout)")
        ->default_str("-");
    command->add_flag("-v,--verbose", args.verbose, "Every engine diagnostic line on stderr");
}

/// The forces of response (one) and deform (one or more): the k-th --node with the k-th --force.
struct ForceArguments {
    std::vector<std::string> nodes;
    std::vector<double> forces; ///< three per --force
    std::string modes = "all";
};

void addForceOptions(CLI::App* command, ForceArguments& args, bool several)
{
    // One value (three for --force) per occurrence, so that FILE after them stays FILE.
    auto* node = command->add_option("--node", args.nodes, several ? "Zero-based node a force acts on (repeatable)"
                                                                   : "Zero-based node the force acts on");
    node->required()->type_name("J")->expected(1)->allow_extra_args(false);
    auto* force = command->add_option("--force", args.forces,
                                      several ? "Force FX FY FZ in kcal/mol/A on the node of the same place (repeatable)"
                                              : "Force FX FY FZ in kcal/mol/A");
    force->required()->expected(3)->allow_extra_args(false);
    if (several) {
        node->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        force->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }
    command
        ->add_option("--modes", args.modes,
                     "all (through Y when held), first:N (the N lowest non-rigid modes), or\n"
                     "list:I,J,... (at most 20 zero-based non-rigid modes)")
        ->default_str("all");
}

RunOptions checkedRunOptions(const CommonArguments& args)
{
    // The network works in 32-bit floats, with Rc converted to model units where it meets positions.
    constexpr double kLargestRc =
        std::numeric_limits<float>::max() / (units::kModelUnitsPerAngstrom * units::kModelUnitsPerAngstrom);
    if (!(std::isfinite(args.rc) && args.rc > 0.0 && args.rc <= kLargestRc)) {
        std::ostringstream text;
        text << "--rc must be a positive number of A, got " << args.rc;
        throw CliFailure(kExitInput, text.str());
    }
    RunOptions options;
    options.file = args.file;
    options.rc = args.rc;
    options.assembly = checkedAssembly(args.assembly, args.copies, args.file);
    options.solver = args.solver == "reference" ? EigenSolver::Reference
        : args.solver == "lapack-dc"            ? EigenSolver::LapackDC
        : args.solver == "lapack-mrrr"          ? EigenSolver::LapackMRRR
                                                : EigenSolver::Lapack;
    options.path = args.path == "sparse" ? EnginePath::Sparse
        : args.path == "dense"           ? EnginePath::Dense
                                         : EnginePath::Auto;
    options.lowest = args.lowest;
    return options;
}

/// The JSON destination, opened before anything is computed: a --json that cannot be written
/// fails the run before any other output is touched, and the file is replaced only once the
/// report is complete.
class JsonOutput {
public:
    explicit JsonOutput(const std::string& destination) : m_destination(destination)
    {
        if (destination == "-") return;
        m_file = std::make_unique<AtomicFile>(destination);
        if (!m_file->ok()) throw CliFailure(kExitInput, "--json: " + m_file->error());
    }

    void write(const nlohmann::ordered_json& report)
    {
        // Text from input files (codes, paths) may hold bytes that are not UTF-8: replaced.
        const std::string text = report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + '\n';
        if (!m_file) {
            std::cout << text << std::flush;
            if (!std::cout) throw CliFailure(kExitInput, "cannot write the JSON to stdout");
            return;
        }
        m_file->stream() << text;
        if (!m_file->commit()) throw CliFailure(kExitInput, "--json: " + m_file->error());
    }

private:
    std::string m_destination;
    std::unique_ptr<AtomicFile> m_file;
};

/// --node as given: a whole number (no blanks, no exponent), in range of a node index.
int32_t nodeArgument(const std::string& text)
{
    const auto value = parseInteger(text);
    if (!value) {
        const bool digits = !text.empty() && text.find_first_not_of("+-0123456789") == std::string::npos
            && text.find_first_of("0123456789") != std::string::npos;
        throw CliFailure(kExitInput,
                         digits ? "--node " + text + " is out of range"
                                : "--node must be a whole number, got '" + text + "'");
    }
    if (*value < INT32_MIN || *value > INT32_MAX) throw CliFailure(kExitInput, "--node " + text + " is out of range");
    return static_cast<int32_t>(*value);
}

const char* const kSubcommands[] = {"modes", "response", "deform", "fluct", "prs", "load", "replay"};

/// A first argument that is neither an option nor a subcommand: named as such.
void checkSubcommandName(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-') return;
    const std::string name = argv[1];
    for (const char* known : kSubcommands)
        if (name == known) return;
    throw CliFailure(kExitInput,
                     "unknown subcommand '" + name
                         + "' (expected modes, response, deform, fluct, prs, load or replay; see --help)");
}

/// CLI11 gives a missing FILE the last --force value ("File does not exist: 7"): say what is
/// missing instead.
std::string parseErrorText(const CLI::ParseError& e, int argc, char** argv)
{
    const std::string what = e.what();
    const std::string marker = "File does not exist: ";
    const std::size_t at = what.find(marker);
    if (at == std::string::npos) return what;
    const std::string value = what.substr(at + marker.size());
    for (int i = 1; i + 3 < argc; ++i)
        if (std::string(argv[i]) == "--force" && value == argv[i + 3])
            return "FILE is required: the structure file is missing ('" + value + "' is the last --force value)";
    return what;
}

/// What the subcommands' options fill in.
struct Arguments {
    CommonArguments common; ///< modes, response and deform
    std::string eigenOut;   ///< modes --out
    ForceArguments forces;  ///< response and deform
    std::string ppy;        ///< response and deform
    bool withoutY = false;  ///< response and deform
    std::string deformOut;  ///< deform --out
    std::string fluctModes = "all"; ///< fluct --modes
    std::string prsCsv;             ///< prs --csv
    LoadArguments load;
    ReplayArguments replay;
};

/// The subcommands, to tell which one was given.
struct Commands {
    CLI::App* modes = nullptr;
    CLI::App* response = nullptr;
    CLI::App* deform = nullptr;
    CLI::App* fluct = nullptr;
    CLI::App* prs = nullptr;
    CLI::App* load = nullptr;
    CLI::App* replay = nullptr;
};

Commands addCommands(CLI::App& app, Arguments& args)
{
    Commands commands;
    commands.modes = app.add_subcommand("modes", "Normal modes and calibration of FILE");
    addCommonOptions(commands.modes, args.common);
    commands.modes
        ->add_option("--out", args.eigenOut, "Also write the eigen data files <code>.hdv and <code>.ppy into DIR")
        ->type_name("DIR");

    commands.response = app.add_subcommand("response",
                                           "Displacement of every node for a force on one node, through Y (all modes), "
                                           "the first N modes or listed modes");
    addCommonOptions(commands.response, args.common);
    addForceOptions(commands.response, args.forces, false);
    addEigenFileOptions(commands.response, args.ppy, args.withoutY);

    commands.deform =
        app.add_subcommand("deform",
                           "Keep forces on nodes, in order, as released pulls in force-saving mode do, and write "
                           "the deformed C-alpha structure with its force remarks to a PDB file");
    addCommonOptions(commands.deform, args.common);
    addForceOptions(commands.deform, args.forces, true);
    addEigenFileOptions(commands.deform, args.ppy, args.withoutY);
    commands.deform->add_option("--out", args.deformOut, "The PDB file to write")->required();

    commands.fluct = app.add_subcommand("fluct",
                                        "Square fluctuations of every node and their correlation with the "
                                        "B-factors");
    addCommonOptions(commands.fluct, args.common);
    commands.fluct
        ->add_option("--modes", args.fluctModes,
                     "all (every mode held), first:N (the N lowest non-rigid modes) or list:I,J,... (at most 20)")
        ->default_str("all");

    commands.prs = app.add_subcommand("prs",
                                      "Perturbation-response map of every node, with its effectiveness and "
                                      "sensitivity");
    addCommonOptions(commands.prs, args.common);
    commands.prs->add_option("--csv", args.prsCsv, "Write the maps to this CSV file instead of the JSON's matrix")
        ->type_name("OUT");

    commands.load = addLoadCommand(app, args.load);
    commands.replay = addReplayCommand(app, args.replay);
    return commands;
}

/// Reads the arguments. Nothing when the run goes on; otherwise its exit status: the help was
/// shown, or the arguments cannot be used (one line on stderr).
std::optional<int> parseArguments(CLI::App& app, int argc, char** argv)
{
    checkSubcommandName(argc, argv);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
        return reportFailure(kExitInput, parseErrorText(e, argc, argv));
    }
    return std::nullopt;
}

/// The run options of modes, response and deform, checked before anything is read.
RunOptions engineRunOptions(const Arguments& args)
{
    RunOptions options = checkedRunOptions(args.common);
    options.yFile = args.ppy;
    if (!args.ppy.empty() && !isMainEigenDataFile(options.file))
        throw CliFailure(kExitInput, "--ppy goes with a main eigen data file (.hdv) as FILE");
    if (args.withoutY && !isMainEigenDataFile(options.file))
        throw CliFailure(kExitInput, "--without-y goes with a main eigen data file (.hdv) as FILE");
    return options;
}

nlohmann::ordered_json modesRun(RunOptions options, const Arguments& args)
{
    if (isMainEigenDataFile(options.file))
        throw CliFailure(kExitInput,
                         "modes needs a PDB file; " + options.file.string() + " is a main eigen data file (see load)");
    options.eigenOut = args.eigenOut;
    SolvedNetwork solved(options);
    return modesReport(solved);
}

/// The forces of response and deform, the k-th --node with the k-th --force, as far as they can
/// be checked before the structure is read.
std::vector<ResponseRequest> forceRequests(const ForceArguments& args)
{
    if (args.forces.size() != 3 * args.nodes.size())
        throw CliFailure(kExitInput, "each --node needs its --force FX FY FZ");
    const ModeSelection selection = parseModeSelection(args.modes);
    std::vector<ResponseRequest> requests(args.nodes.size());
    for (std::size_t k = 0; k < requests.size(); ++k) {
        ResponseRequest& request = requests[k];
        request.node = nodeArgument(args.nodes[k]);
        for (std::size_t i = 0; i < 3; ++i) {
            if (!std::isfinite(args.forces[3 * k + i]))
                throw CliFailure(kExitInput, "--force components must be finite numbers");
            request.force[i] = args.forces[3 * k + i];
        }
        request.modes = selection;
    }
    return requests;
}

/// response: one force on one node; deform: one or more, each on its node.
nlohmann::ordered_json forceRun(const RunOptions& options, const Arguments& args, bool deform)
{
    const std::vector<ResponseRequest> requests = forceRequests(args.forces);
    SolvedNetwork solved(options, [&](const SolvedNetwork& s) {
        for (const ResponseRequest& request : requests) checkResponseRequest(s.network(), request);
    });
    return deform ? deformReport(solved, requests, args.deformOut) : responseReport(solved, requests[0]);
}

/// fluct and prs: a structure file solved here (eigen data files hold no eigenvalues).
SolvedNetwork& structureOnly(const RunOptions& options, std::unique_ptr<SolvedNetwork>& solved)
{
    if (isMainEigenDataFile(options.file))
        throw CliFailure(kExitInput,
                         "this needs the eigenvalues, which eigen data files do not hold: give the "
                         "structure file instead of "
                             + options.file.string());
    solved = std::make_unique<SolvedNetwork>(options);
    return *solved;
}

nlohmann::ordered_json fluctRun(const RunOptions& options, const Arguments& args)
{
    const ModeSelection selection = parseModeSelection(args.fluctModes);
    std::unique_ptr<SolvedNetwork> solved;
    return fluctReport(structureOnly(options, solved), selection);
}

nlohmann::ordered_json prsRun(const RunOptions& options, const Arguments& args)
{
    std::unique_ptr<SolvedNetwork> solved;
    return prsReport(structureOnly(options, solved), args.prsCsv);
}

/// modes, response, deform or load, the engine's console lines and questions kept away from
/// stdout and stdin.
int engineMain(const Commands& commands, const Arguments& args)
{
    EigenFilePrompts prompts;
    prompts.setHoldY(!(args.withoutY || args.load.withoutY));
    ScopedUserPrompts scopedPrompts(&prompts);
    DiagnosticsRouting diagnostics(args.common.verbose || args.load.verbose);
    if (commands.load->parsed()) {
        JsonOutput json(args.load.json);
        json.write(loadReport(args.load));
    } else {
        const RunOptions options = engineRunOptions(args);
        JsonOutput json(args.common.json);
        json.write(commands.modes->parsed()       ? modesRun(options, args)
                       : commands.fluct->parsed() ? fluctRun(options, args)
                       : commands.prs->parsed()   ? prsRun(options, args)
                                                  : forceRun(options, args, commands.deform->parsed()));
    }
    diagnostics.flushWarnings();
    return kExitOk;
}

int run(int argc, char** argv)
{
    CLI::App app{"Elastic network model of a PDB structure: normal modes, calibration from the\n"
                 "B-factors, and the displacement a force causes.",
                 kProgram};
    app.footer(kFooter);
    app.require_subcommand(1);
    app.fallthrough(false);
    Arguments args;
    const Commands commands = addCommands(app, args);
    if (const std::optional<int> status = parseArguments(app, argc, argv)) return *status;
    if (commands.replay->parsed()) return replayMain(args.replay);
    return engineMain(commands, args);
}

} // namespace

int main(int argc, char** argv)
{
    // A file-size limit makes a write fail (and the output is left as it was) instead of
    // killing the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    // Memory can run out anywhere, also while the arguments are read or the report is written.
    return exitStatusOf([&] { return run(argc, argv); });
}
