#include "CommandLine.h"

#include "common/InputFile.h"
#include "common/TextParse.h"
#include "haptics/StylusScript.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>

namespace vornax {

namespace {

const std::map<std::string, int32_t> kChoices = {
    {"pdb", load::PdbFile}, {"elnemo", load::ElNemo}, {"eigen", load::EigenFiles}, {"text", load::TextFile}};

/// Largest eigenvalue text read from --eigenvalues: a list of a few hundred values takes a few
/// kilobytes.
constexpr std::uintmax_t kMaxEigenvalueText = 1 << 20;

/// Why `name`, given for `option`, cannot be used as a file name: empty when it can. A name
/// that is not UTF-8 text (or holds control characters) would be shown and written under
/// another name than the one given.
std::string nameProblem(const std::string& option, const std::string& name)
{
    if (name.empty() || text::printable(name) == name) return {};
    return option + ": the name " + text::printable(name) + " is not plain UTF-8 text; rename the file";
}

/// Why the input file `name` of `option` cannot be read: empty when it is a regular file. A
/// FIFO or a device would hold the program, or never end.
std::string inputProblem(const std::string& option, const std::string& name)
{
    if (name.empty()) return {};
    std::string problem = regularFileProblem(name);
    return problem.empty() ? problem : option + ": " + problem;
}

/// Why an output file cannot be written to `name`: empty when its folder exists.
std::string outputProblem(const std::string& option, const std::string& name)
{
    if (name.empty()) return {};
    const std::filesystem::path folder = std::filesystem::path(name).parent_path();
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
        return option + ": the folder " + folder.string() + " does not exist";
    return {};
}

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    WindowOptions& w = line.window;
    AutomationOptions& s = line.steps;

    CLI::App app("Vornax: pull on a protein or nucleic acid and watch its elastic network deform.", "vornax");
    app.footer("Without FILE the tutorial structure TutorialFiles/1crn.pdb is opened, unless the welcome panel\n"
               "shows (it offers the tutorial or a file of your choice). The last five options run\n"
               "unattended once the load is done: tick \"Save Forces\", play a stylus script on the virtual\n"
               "device, take a screenshot, write the deformed C-alpha file, and quit (exit status 0 when all\n"
               "went well).");
    std::string assembly, copies;
    std::string file, choice, ppy, eigenvalues, eigenFile, saveDir, script, screenshot, saveAs, openSession,
        saveSession;
    std::vector<std::string> modes;
    float rc = w.rc;
    bool noDevice = false, virtualDevice = false, mono = false;
    app.add_option("FILE", file, "The structure: a PDB or mmCIF file, or the main eigen data file (.hdv) of a saved one")
        ->check(CLI::ExistingFile);
    app.add_option("--choice", choice,
                   "How FILE is loaded: pdb (modes computed), elnemo (modes from ElNemo mode files), eigen\n"
                   "(saved eigen data files), text (modes from a text eigen file); default pdb, or eigen for a .hdv")
        ->check(CLI::IsMember({"pdb", "elnemo", "eigen", "text"}))
        ->type_name("CHOICE");
    app.add_option("--rc", rc, "Spring cutoff in Å, at least 7 (default 11; eigen data files bring their own)")
        ->type_name("ANGSTROM");
    app.add_option("--assembly", assembly,
                   "pdb: load biological assembly ID of FILE (REMARK 350 BIOMOLECULE, _pdbx_struct_assembly.id)\n"
                   "instead of asking; without it a file that describes assemblies loads its own content")
        ->type_name("ID");
    app.add_option("--copies", copies, "With --assembly: keep only these operators of it (1,2,5-9)")
        ->type_name("LIST");
    app.add_option("--ppy", ppy, "With a .hdv FILE: its response matrix file")->check(CLI::ExistingFile);
    app.add_option("--modes", modes, "elnemo: the mode files, in order")->check(CLI::ExistingFile);
    app.add_option("--eigenvalues", eigenvalues,
                   "elnemo: a text file whose contents are pasted into the eigenvalue dialog")
        ->check(CLI::ExistingFile);
    app.add_option("--eigen-file", eigenFile, "text: the text eigen data file")->check(CLI::ExistingFile);
    app.add_option("--save-dir", saveDir, "pdb: the folder for the structure's eigen data files (default: none written)");
    auto* noDeviceFlag = app.add_flag("--no-device", noDevice, "Open no haptic device");
    app.add_flag("--virtual-device,--mouse-stylus", virtualDevice,
                 "The built-in virtual device, its stylus driven by the mouse")
        ->excludes(noDeviceFlag);
    app.add_flag("--mono", mono, "No quad-buffer stereo, even where the driver offers it");
    app.add_flag("--summary", line.summary, "Print what a load of FILE hands to the network, and stop");
    app.add_flag("--save-forces", s.saveForces, "Tick \"Save Forces\" once the load is done");
    app.add_option("--stylus-script", script, "Play this stylus script on the virtual device in real time")
        ->check(CLI::ExistingFile);
    app.add_option("--screenshot", screenshot, "Write the window as drawn to this PNG file at the end");
    app.add_option("--open-session", openSession,
                   "Resume this session file (.vsf) on its structure's eigen data files, given as FILE")
        ->check(CLI::ExistingFile);
    app.add_option("--save-session", saveSession, "Write the session to this file (.vsf) at the end, before --save-as");
    app.add_option("--save-as", saveAs, "Write the deformed C-alpha structure to this PDB file at the end");
    app.add_option("--pull-first", w.pullFirstNodes,
                   "pdb: from this many nodes on, pull once the lowest modes are ready while every mode is "
                   "computed in the background (default 1000; 0: every mode first)")
        ->check(CLI::Validator(
            [](const std::string& text) -> std::string {
                int32_t nodes = 0;
                if (!CLI::detail::lexical_cast(text, nodes) || nodes < 0)
                    return "wants a number of nodes, 0 or more, not " + text::printable(text.substr(0, 20));
                return {};
            },
            "NODES"))
        ->type_name("NODES");
    app.add_flag("--quit", s.quit, "Leave the program at the end");

    auto refuse = [&](const std::string& text) {
        line.exitStatus = 2;
        line.message = "vornax: " + text;
        return line;
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        line.exitStatus = 0;
        line.message = app.help();
        return line;
    } catch (const CLI::ParseError& e) {
        return refuse(std::string(e.what()) + " (vornax --help lists the options)");
    }

    // Names first: every later message shows them.
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"FILE", file},          {"--ppy", ppy},
        {"--eigenvalues", eigenvalues}, {"--eigen-file", eigenFile},
        {"--stylus-script", script},    {"--open-session", openSession}};
    std::vector<std::pair<std::string, std::string>> named = inputs;
    for (const std::string& m : modes) named.emplace_back("--modes", m);
    const std::vector<std::pair<std::string, std::string>> outputs = {
        {"--screenshot", screenshot}, {"--save-session", saveSession}, {"--save-as", saveAs}};
    named.insert(named.end(), outputs.begin(), outputs.end());
    named.emplace_back("--save-dir", saveDir);
    for (const auto& [option, name] : named)
        if (std::string problem = nameProblem(option, name); !problem.empty()) return refuse(problem);
    for (const auto& [option, name] : inputs)
        if (std::string problem = inputProblem(option, name); !problem.empty()) return refuse(problem);
    for (const std::string& m : modes)
        if (std::string problem = inputProblem("--modes", m); !problem.empty()) return refuse(problem);
    for (const auto& [option, name] : outputs)
        if (std::string problem = outputProblem(option, name); !problem.empty()) return refuse(problem);

    w.openDevice = !noDevice;
    w.allowStereo = !mono;
    line.mouseStylus = virtualDevice;
    w.file = file;
    w.saveDir = saveDir;
    s.stylusScript = script;
    s.screenshot = screenshot;
    s.saveAs = saveAs;
    s.saveSession = saveSession;
    if (!script.empty() && !virtualDevice)
        return refuse("--stylus-script plays on the virtual device: add --mouse-stylus");
    if (!script.empty()) {
        // Its syntax is checked now; its nodes once the network is known.
        std::ifstream in(script);
        std::string error;
        std::optional<std::vector<StylusStep>> steps = parseStylusScript(in, error);
        if (!steps) return refuse(script + ": " + error);
        s.scriptSteps = std::move(*steps);
    }

    // The same rule as the cutoff dialog: 7 Å or more.
    if (!(rc >= 7.0f) || !std::isfinite(rc) || rc > 1000.0f)
        return refuse("--rc wants a cutoff from 7 to 1000 Å, not " + text::shortNumber(rc));
    w.rc = rc;

    if (choice.empty()) choice = isMainEigenDataFile(file) ? "eigen" : "pdb";
    w.loadChoice = kChoices.at(choice);
    const bool eigen = w.loadChoice == load::EigenFiles;
    if (eigen && !isMainEigenDataFile(file)) return refuse("--choice eigen opens a main eigen data file (.hdv)");
    if (!eigen && isMainEigenDataFile(file))
        return refuse("a .hdv file is eigen data, not a structure: use --choice eigen");
    if (!ppy.empty() && !eigen) return refuse("--ppy goes with a .hdv file");
    if (!ppy.empty() && !isResponseMatrixFile(ppy)) return refuse("--ppy wants a .ppy file, not " + ppy);
    if (w.loadChoice == load::ElNemo && modes.empty()) return refuse("--choice elnemo needs its mode files (--modes)");
    if (w.loadChoice != load::ElNemo && (!modes.empty() || !eigenvalues.empty()))
        return refuse("--modes and --eigenvalues go with --choice elnemo");
    if (w.loadChoice == load::TextFile && eigenFile.empty())
        return refuse("--choice text needs its eigen data (--eigen-file)");
    if (w.loadChoice != load::TextFile && !eigenFile.empty()) return refuse("--eigen-file goes with --choice text");
    if (!saveDir.empty() && w.loadChoice != load::PdbFile)
        return refuse("--save-dir names where computed modes are saved: it goes with --choice pdb");
    if (file.empty() && w.loadChoice != load::PdbFile) return refuse("--choice " + choice + " needs a FILE");
    if (!saveDir.empty() && !std::filesystem::is_directory(saveDir))
        return refuse("--save-dir " + saveDir + " is not a folder");

    if (!assembly.empty() || !copies.empty()) {
        if (assembly.empty()) return refuse("--copies goes with --assembly ID");
        if (w.loadChoice != load::PdbFile || file.empty())
            return refuse("--assembly goes with a structure file (PDB or mmCIF) whose modes are computed");
        w.assembly.id = assembly;
        if (!copies.empty()) {
            std::string error;
            auto ids = parseCopyList(copies, error);
            if (!ids) return refuse("--copies: " + error);
            w.assembly.copies = std::move(*ids);
        }
        std::string error;
        const auto described = listAssemblies(file, error);
        if (!described) return refuse(error);
        const auto found = std::find_if(described->begin(), described->end(),
                                        [&](const AssemblyInfo& a) { return a.id == assembly; });
        if (found == described->end()) {
            std::string ids;
            for (const AssemblyInfo& a : *described) ids += (ids.empty() ? "" : ", ") + a.id;
            return refuse(file + " describes no assembly " + assembly
                          + (ids.empty() ? " (it describes none)" : " (it describes " + ids + ")"));
        }
        for (const std::string& id : w.assembly.copies)
            if (std::find(found->operators.begin(), found->operators.end(), id) == found->operators.end())
                return refuse("assembly " + assembly + " has no operator " + id + " (it has "
                              + std::to_string(found->copies()) + ")");
    }

    if (!openSession.empty()) {
        if (!eigen) return refuse("--open-session resumes a session on eigen data files: give the .hdv file as FILE");
        std::string error;
        std::optional<SessionData> session = readSessionFile(openSession, error);
        if (!session) return refuse(error);
        w.session = std::move(session);
    }
    w.ppy = ppy;
    w.eigenFile = eigenFile;
    for (const std::string& m : modes) w.modeFiles.emplace_back(m);
    if (!eigenvalues.empty()) {
        std::ifstream in(eigenvalues, std::ios::binary);
        if (!in) return refuse("--eigenvalues " + eigenvalues + " could not be read");
        std::string text(kMaxEigenvalueText + 1, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxEigenvalueText)
            return refuse("--eigenvalues " + eigenvalues + " is larger than 1 MiB: an eigenvalue list takes a few kilobytes");
        w.eigenvalueText = std::move(text);
    }
    return line;
}

} // namespace vornax
