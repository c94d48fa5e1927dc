#include "CommandLine.h"

#include "common/InputFile.h"
#include "common/TextParse.h"
#include "common/Units.h"
#include "haptics/StylusScript.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <optional>
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

/// The arguments as given, before they are checked and handed to the window.
struct Arguments {
    std::string file, choice, ppy, eigenvalues, eigenFile, saveDir, script, screenshot, saveAs, openSession,
        saveSession, assembly, copies, viewReport, windowSize;
    std::vector<std::string> modes;
    std::vector<std::string> plot; ///< NAME OUT
    std::string colourBy;
    float rc = 0.0f;
    bool noDevice = false, virtualDevice = false, mono = false;
};

/// The steps of a run once its load is done, read into `a`, and into `s` where no check is needed.
void addUnattendedOptions(CLI::App& app, Arguments& a, AutomationOptions& s)
{
    app.add_flag("--save-forces", s.saveForces, "Tick \"Save Forces\" once the load is done");
    app.add_option("--stylus-script", a.script, "Play this stylus script on the virtual device in real time")
        ->check(CLI::ExistingFile);
    app.add_option("--screenshot", a.screenshot, "Write the window as drawn to this PNG file at the end");
    app.add_option("--view-report", a.viewReport,
                   "Write what the view shows of the structure once loaded (viewport, the on-screen bounds of\n"
                   "the node spheres, the nodes outside the viewport) to this JSON file at the end");
    app.add_option("--save-session", a.saveSession,
                   "Write the session to this file (.vsf) at the end, before --save-as");
    app.add_option("--save-as", a.saveAs, "Write the deformed C-alpha structure to this PDB file at the end");
    app.add_option("--animate-mode", s.animateMode,
                   "Play this mode (1 is the lowest non-rigid one) held at its largest swing for the screenshot\n"
                   "and the view report")
        ->check(CLI::Range(1, 1000000))
        ->type_name("K");
    app.add_option("--colour-by", a.colourBy,
                   "Colour the nodes once loaded: displacement, fluctuation, selected-fluctuation, b-factor,\n"
                   "effectiveness, sensitivity or mode:K (the shape of mode K, 1 the lowest)")
        ->type_name("MAP");
    app.add_option("--plot", a.plot,
                   "Write a plot of the plots window at the end: NAME (bfactors, displacement, eigenvalues,\n"
                   "response) and OUT, whose ending (.png, .svg, .csv) gives the format")
        ->expected(2)
        ->type_name("NAME OUT");
    app.add_option("--window-size", a.windowSize,
                   "The window's size, WIDTHxHEIGHT in pixels (each 200 to 10000), "
                   "instead of maximised")
        ->type_name("WxH");
    app.add_flag("--quit", s.quit, "Leave the program at the end");
}

/// The options, read into `a`, and into `line` where no check is needed.
void addOptions(CLI::App& app, Arguments& a, CommandLine& line)
{
    WindowOptions& w = line.window;
    app.footer("Without FILE the tutorial structure TutorialFiles/1crn.pdb is opened, unless the welcome panel\n"
               "shows (it offers the tutorial or a file of your choice). The options from --save-forces on run\n"
               "unattended once the load is done: tick \"Save Forces\", colour the nodes, play a stylus script\n"
               "on the virtual device, hold a mode at its largest swing, write the view report, a plot, a\n"
               "screenshot, the session and the deformed C-alpha file, and quit (exit status 0 when all went\n"
               "well).");
    a.rc = w.rc;
    app.add_option("FILE", a.file,
                   "The structure: a PDB or mmCIF file, or the main eigen data file (.hdv) of a saved one")
        ->check(CLI::ExistingFile);
    app.add_option("--choice", a.choice,
                   "How FILE is loaded: pdb (modes computed), elnemo (modes from ElNemo mode files), eigen\n"
                   "(saved eigen data files), text (modes from a text eigen file); default pdb, or eigen for a .hdv")
        ->check(CLI::IsMember({"pdb", "elnemo", "eigen", "text"}))
        ->type_name("CHOICE");
    app.add_option("--rc", a.rc, "Spring cutoff in Å, at least 7 (default 11; eigen data files bring their own)")
        ->type_name("ANGSTROM");
    app.add_option("--assembly", a.assembly,
                   "pdb: load biological assembly ID of FILE (REMARK 350 BIOMOLECULE, _pdbx_struct_assembly.id)\n"
                   "instead of asking; without it a file that describes assemblies loads its own content")
        ->type_name("ID");
    app.add_option("--copies", a.copies, "With --assembly: keep only these operators of it (1,2,5-9)")
        ->type_name("LIST");
    app.add_option("--ppy", a.ppy, "With a .hdv FILE: its response matrix file")->check(CLI::ExistingFile);
    app.add_option("--modes", a.modes, "elnemo: the mode files, in order")->check(CLI::ExistingFile);
    app.add_option("--eigenvalues", a.eigenvalues,
                   "elnemo: a text file whose contents are pasted into the eigenvalue dialog")
        ->check(CLI::ExistingFile);
    app.add_option("--eigen-file", a.eigenFile, "text: the text eigen data file")->check(CLI::ExistingFile);
    app.add_option("--save-dir", a.saveDir,
                   "pdb: the folder for the structure's eigen data files (default: none written)");
    auto* noDeviceFlag = app.add_flag("--no-device", a.noDevice, "Open no haptic device");
    app.add_flag("--virtual-device,--mouse-stylus", a.virtualDevice,
                 "The built-in virtual device, its stylus driven by the mouse")
        ->excludes(noDeviceFlag);
    app.add_flag("--mono", a.mono, "No quad-buffer stereo, even where the driver offers it");
    app.add_flag("--summary", line.summary, "Print what a load of FILE hands to the network, and stop");
    app.add_option("--open-session", a.openSession,
                   "Resume this session file (.vsf) on its structure's eigen data files, given as FILE")
        ->check(CLI::ExistingFile);
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
    addUnattendedOptions(app, a, line.steps);
}

// Each step below checks some of the arguments and hands them to `line`; it returns why they
// cannot be used, or nothing. The steps run in order and the first refusal ends the reading.

/// The file names, first: every later message shows them.
std::string checkFileNames(const Arguments& a, CommandLine&)
{
    const std::vector<std::pair<std::string, std::string>> inputs = {{"FILE", a.file},
                                                                     {"--ppy", a.ppy},
                                                                     {"--eigenvalues", a.eigenvalues},
                                                                     {"--eigen-file", a.eigenFile},
                                                                     {"--stylus-script", a.script},
                                                                     {"--open-session", a.openSession}};
    std::vector<std::pair<std::string, std::string>> named = inputs;
    for (const std::string& m : a.modes) named.emplace_back("--modes", m);
    const std::vector<std::pair<std::string, std::string>> outputs = {{"--screenshot", a.screenshot},
                                                                      {"--save-session", a.saveSession},
                                                                      {"--save-as", a.saveAs},
                                                                      {"--view-report", a.viewReport}};
    named.insert(named.end(), outputs.begin(), outputs.end());
    named.emplace_back("--save-dir", a.saveDir);
    for (const auto& [option, name] : named)
        if (std::string problem = nameProblem(option, name); !problem.empty()) return problem;
    for (const auto& [option, name] : inputs)
        if (std::string problem = inputProblem(option, name); !problem.empty()) return problem;
    for (const std::string& m : a.modes)
        if (std::string problem = inputProblem("--modes", m); !problem.empty()) return problem;
    for (const auto& [option, name] : outputs)
        if (std::string problem = outputProblem(option, name); !problem.empty()) return problem;
    return {};
}

/// The device, the outputs and the stylus script, whose syntax is checked now (its nodes once
/// the network is known).
std::string takeDeviceAndSteps(const Arguments& a, CommandLine& line)
{
    WindowOptions& w = line.window;
    AutomationOptions& s = line.steps;
    w.openDevice = !a.noDevice;
    w.allowStereo = !a.mono;
    line.mouseStylus = a.virtualDevice;
    w.file = a.file;
    w.saveDir = a.saveDir;
    s.stylusScript = a.script;
    s.screenshot = a.screenshot;
    s.viewReport = a.viewReport;
    s.saveAs = a.saveAs;
    s.saveSession = a.saveSession;
    if (!a.script.empty() && !a.virtualDevice) return "--stylus-script plays on the virtual device: add --mouse-stylus";
    if (!a.script.empty()) {
        std::ifstream in(a.script);
        std::string error;
        std::optional<std::vector<StylusStep>> steps = parseStylusScript(in, error);
        if (!steps) return a.script + ": " + error;
        s.scriptSteps = std::move(*steps);
    }
    return {};
}

/// The cutoff, the load choice and the files each choice takes.
std::string takeLoadChoice(const Arguments& a, CommandLine& line)
{
    WindowOptions& w = line.window;
    // The same rule as the cutoff dialog: 7 Å or more.
    if (!units::isCutoffLargeEnough(a.rc) || !std::isfinite(a.rc) || a.rc > 1000.0f)
        return "--rc wants a cutoff from 7 to 1000 Å, not " + text::shortNumber(a.rc);
    w.rc = a.rc;

    const std::string choice = !a.choice.empty() ? a.choice : isMainEigenDataFile(a.file) ? "eigen" : "pdb";
    w.loadChoice = kChoices.at(choice);
    const bool eigen = w.loadChoice == load::EigenFiles;
    if (eigen && !isMainEigenDataFile(a.file)) return "--choice eigen opens a main eigen data file (.hdv)";
    if (!eigen && isMainEigenDataFile(a.file)) return "a .hdv file is eigen data, not a structure: use --choice eigen";
    if (!a.ppy.empty() && !eigen) return "--ppy goes with a .hdv file";
    if (!a.ppy.empty() && !isResponseMatrixFile(a.ppy)) return "--ppy wants a .ppy file, not " + a.ppy;
    if (w.loadChoice == load::ElNemo && a.modes.empty()) return "--choice elnemo needs its mode files (--modes)";
    if (w.loadChoice != load::ElNemo && (!a.modes.empty() || !a.eigenvalues.empty()))
        return "--modes and --eigenvalues go with --choice elnemo";
    if (w.loadChoice == load::TextFile && a.eigenFile.empty())
        return "--choice text needs its eigen data (--eigen-file)";
    if (w.loadChoice != load::TextFile && !a.eigenFile.empty()) return "--eigen-file goes with --choice text";
    if (!a.saveDir.empty() && w.loadChoice != load::PdbFile)
        return "--save-dir names where computed modes are saved: it goes with --choice pdb";
    if (a.file.empty() && w.loadChoice != load::PdbFile) return "--choice " + choice + " needs a FILE";
    if (!a.saveDir.empty() && !std::filesystem::is_directory(a.saveDir))
        return "--save-dir " + a.saveDir + " is not a folder";
    return {};
}

/// The biological assembly asked for, which FILE must describe.
std::string takeAssembly(const Arguments& a, CommandLine& line)
{
    WindowOptions& w = line.window;
    if (a.assembly.empty() && a.copies.empty()) return {};
    if (a.assembly.empty()) return "--copies goes with --assembly ID";
    if (w.loadChoice != load::PdbFile || a.file.empty())
        return "--assembly goes with a structure file (PDB or mmCIF) whose modes are computed";
    w.assembly.id = a.assembly;
    if (!a.copies.empty()) {
        std::string error;
        auto ids = parseCopyList(a.copies, error);
        if (!ids) return "--copies: " + error;
        w.assembly.copies = std::move(*ids);
    }
    return assemblyRequestProblem(a.file, w.assembly);
}

/// The session to resume and the files of the eigen data choices; the eigenvalue text is read
/// now.
std::string takeEigenInputs(const Arguments& a, CommandLine& line)
{
    WindowOptions& w = line.window;
    if (!a.openSession.empty()) {
        if (w.loadChoice != load::EigenFiles)
            return "--open-session resumes a session on eigen data files: give the .hdv file as FILE";
        std::string error;
        std::optional<SessionData> session = readSessionFile(a.openSession, error);
        if (!session) return error;
        w.session = std::move(session);
    }
    w.ppy = a.ppy;
    w.eigenFile = a.eigenFile;
    for (const std::string& m : a.modes) w.modeFiles.emplace_back(m);
    if (!a.eigenvalues.empty()) {
        std::ifstream in(a.eigenvalues, std::ios::binary);
        if (!in) return "--eigenvalues " + a.eigenvalues + " could not be read";
        std::string text(kMaxEigenvalueText + 1, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxEigenvalueText)
            return "--eigenvalues " + a.eigenvalues + " is larger than 1 MiB: an eigenvalue list takes a few kilobytes";
        w.eigenvalueText = std::move(text);
    }
    return {};
}

} // namespace

/// --plot NAME OUT: a plot the window draws, to a file whose folder exists, in a format by its ending.
std::string takePlot(const Arguments& a, CommandLine& line)
{
    if (a.plot.empty()) return {};
    const std::string& name = a.plot[0];
    const std::string& out = a.plot[1];
    if (name != "bfactors" && name != "displacement" && name != "eigenvalues" && name != "response")
        return "--plot: no plot \"" + text::printable(name.substr(0, 40))
            + "\" (the plots are bfactors, displacement, eigenvalues and response)";
    std::string ending = std::filesystem::path(out).extension().string();
    std::transform(ending.begin(), ending.end(), ending.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ending != ".png" && ending != ".svg" && ending != ".csv")
        return "--plot: " + text::printable(out) + " is not a .png, .svg or .csv file";
    if (std::string problem = nameProblem("--plot", out); !problem.empty()) return problem;
    if (std::string problem = outputProblem("--plot", out); !problem.empty()) return problem;
    line.steps.plotName = name;
    line.steps.plotOut = out;
    return {};
}

/// --colour-by MAP: the index of the map in kColourChoices.
std::string takeColourBy(const Arguments& a, CommandLine& line)
{
    if (a.colourBy.empty()) return {};
    static const char* const names[] = {"",         "displacement",  "fluctuation", "selected-fluctuation",
                                        "b-factor", "effectiveness", "sensitivity"};
    for (std::size_t i = 1; i < std::size(names); ++i)
        if (a.colourBy == names[i]) {
            line.steps.colourBy = static_cast<int>(i);
            return {};
        }
    if (a.colourBy.rfind("mode:", 0) == 0) {
        const std::string k = a.colourBy.substr(5);
        if (!k.empty() && k.size() <= 6 && k.find_first_not_of("0123456789") == std::string::npos
            && std::stoi(k) >= 1) {
            line.steps.colourBy = static_cast<int>(std::size(names));
            line.steps.colourByMode = std::stoi(k);
            return {};
        }
    }
    return "--colour-by: no map \"" + text::printable(a.colourBy.substr(0, 40))
        + "\" (displacement, fluctuation, selected-fluctuation, b-factor, effectiveness, sensitivity, mode:K)";
}

/// --window-size WIDTHxHEIGHT.
std::string takeWindowSize(const Arguments& a, CommandLine& line)
{
    if (a.windowSize.empty()) return {};
    // A size: one to five digits, nothing else.
    auto pixels = [](const std::string& t) -> std::optional<int> {
        if (t.empty() || t.size() > 5 || t.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
        return std::stoi(t);
    };
    const std::size_t x = a.windowSize.find('x');
    const std::optional<int> width = x == std::string::npos ? std::nullopt : pixels(a.windowSize.substr(0, x));
    const std::optional<int> height = x == std::string::npos ? std::nullopt : pixels(a.windowSize.substr(x + 1));
    if (!width || !height || *width < 200 || *width > 10000 || *height < 200 || *height > 10000)
        return "--window-size wants WIDTHxHEIGHT in pixels, each 200 to 10000, not "
            + text::printable(a.windowSize.substr(0, 40));
    line.windowWidth = *width;
    line.windowHeight = *height;
    return {};
}

CommandLine parseCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    auto refuse = [&](const std::string& text) {
        line.exitStatus = 2;
        line.message = "vornax: " + text;
        return line;
    };
    CLI::App app("Vornax: pull on a protein or nucleic acid and watch its elastic network deform.", "vornax");
    Arguments arguments;
    addOptions(app, arguments, line);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        line.exitStatus = 0;
        line.message = app.help();
        return line;
    } catch (const CLI::ParseError& e) {
        return refuse(std::string(e.what()) + " (vornax --help lists the options)");
    }
    for (auto step : {checkFileNames, takeDeviceAndSteps, takeLoadChoice, takeAssembly, takeEigenInputs, takeWindowSize,
                      takePlot, takeColourBy})
        if (const std::string problem = step(arguments, line); !problem.empty()) return refuse(problem);
    return line;
}

} // namespace vornax
