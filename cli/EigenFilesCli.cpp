#include "cli/EigenFilesCli.h"

#include "cli/EnmRun.h"

#include <system_error>

namespace vornax::cli {

namespace {

} // namespace

void checkEigenFolder(const std::filesystem::path& dir)
{
    // The folder must exist: a mistyped path is reported, not created.
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        throw CliFailure(kExitInput, "--out " + dir.string() + " is not an existing folder");
}

MessageAnswer EigenFilePrompts::messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                                           MessageButtons buttons)
{
    if (caption == "Data Required" && buttons == MessageButtons::YesNo) {
        UnattendedPrompts::messageBox(caption, text, MessageIcon::Information, MessageButtons::Ok);
        return m_holdY ? MessageAnswer::Yes : MessageAnswer::No;
    }
    return UnattendedPrompts::messageBox(caption, text, icon, buttons);
}

// ---- The load subcommand ----------------------------------------------------------------------

CLI::App* addLoadCommand(CLI::App& app, LoadArguments& args)
{
    CLI::App* load =
        app.add_subcommand("load",
                           "Read a main eigen data file (.hdv) and optionally its response matrix (.ppy) back\n"
                           "through the mode budget");
    load->add_option("FILES", args.files, "FILE.hdv [FILE.ppy]")->required()->expected(1, 2)->check(CLI::ExistingFile);
    load->add_option("--json", args.json, "Write the JSON here instead of stdout ('-' for stdout)")->default_str("-");
    load->add_flag("--without-y", args.withoutY,
                   "Without a .ppy, do not compute the response matrix Y from the modes (the\n"
                   "engine's \"Data Required\" question is answered No; by default Yes, and Y is\n"
                   "then computed only when memory allows it and every mode was kept)");
    load->add_flag("-v,--verbose", args.verbose, "Every engine diagnostic line on stderr");
    return load;
}

void addAssemblyOptions(CLI::App* command, std::string& assembly, std::string& copies)
{
    command->add_option("--assembly", assembly,
                        "Build biological assembly ID of FILE (REMARK 350 BIOMOLECULE, _pdbx_struct_assembly.id)")
        ->type_name("ID");
    command->add_option("--copies", copies, "With --assembly: keep only these operators of it (1,2,5-9)")
        ->type_name("LIST");
}

void addEigenFileOptions(CLI::App* command, std::string& ppy, bool& withoutY)
{
    command->add_option("--ppy", ppy, "With a .hdv FILE: its response matrix file (.ppy)")->check(CLI::ExistingFile);
    command->add_flag("--without-y", withoutY,
                      "With a .hdv FILE and no --ppy: do not compute Y from the modes (see load)");
}

nlohmann::ordered_json loadReport(const LoadArguments& args)
{
    std::string hdv, ppy;
    for (const std::string& f : args.files) {
        if (isMainEigenDataFile(f))
            hdv = f;
        else if (isResponseMatrixFile(f))
            ppy = f;
        else
            throw CliFailure(kExitInput,
                             f + " is neither a main eigen data file (.hdv) nor a response matrix file (.ppy)");
    }
    if (hdv.empty()) throw CliFailure(kExitInput, "File Input Error, the HDV file is missing.");
    RunOptions options;
    options.file = hdv;
    options.yFile = ppy;
    SolvedNetwork solved(options);
    const ElasticNetworkModel& eln = solved.network();
    nlohmann::ordered_json report;
    report["file"] = hdv;
    report["y_file"] = ppy.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(ppy);
    report["pdb_code"] = eln.getPDB_Code();
    report["nodes"] = eln.getAmountOfAtoms();
    report["springs"] = eln.geometry().getAmountOfSprings();
    report["rc"] = solved.options().rc;
    report["force_scaler"] = eln.getS();
    report["calibrated"] = eln.setupComplete();
    report["modes_kept"] = eln.getTotalMaxModes();
    report["non_rigid_modes"] = eln.geometry().get3NMinus6();
    report["load_result"] = eln.getLoadResult();
    report["modes_allowed_by_memory"] = eln.budget().getModesAllowedByMemory();
    report["memory_budget_doubles"] = eln.budget().getMemoryBudget();
    report["y_matrix"] = eln.modes().getYMatrix() != nullptr;
    report["timings"] = {
        {"read", solved.times().read}, {"network", solved.times().network}, {"budget", solved.times().budget}};
    report["peak_rss_bytes"] = processPeakBytes(solved);
    return report;
}

} // namespace vornax::cli
