// Vornax ENM entry point: the window with the 3-D view, loading the structure named on the
// command line (TutorialFiles/1crn.pdb beside the program when none is named).
//
//     vornax [FILE.pdb] [--no-device | --virtual-device | --mouse-stylus] [--mono] [--rc Å] [--save-dir DIR]
//            [--save-forces] [--stylus-script FILE] [--screenshot OUT.png] [--save-as OUT.pdb] [--quit]
//     vornax --summary [FILE.pdb]      what a load would hand to the network, as text
//
// The last five run unattended once the load is done (Automation): tick "Save Forces", play a
// stylus script on the virtual device in real time, take a screenshot of the window, write the
// deformed C-alpha file, and quit.
#include "Form1.h"
#include "Automation.h"
#include "QtPrompts.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/NetworkFileHandle.h"
#include "haptics/hdapi/hdapi.h"
#include "molecule/Atom.h"
#include "render/RuntimeData.h"

#include <QApplication>
#include <QScreen>

#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <string>

using namespace vornax;

namespace {

int printSummary(const std::filesystem::path& path)
{
    NetworkFileHandle reader;
    const bool ok = reader.openFile(path);
    std::vector<Atom*> atoms = reader.getAtomList();
    std::unique_ptr<ElasticNetworkModel> network(reader.getElasticNetwork());
    if (!ok) {
        std::cerr << "vornax: " << reader.getLoadError() << '\n';
        deleteAtoms(atoms);
        return 1;
    }

    int carbonAlpha = 0, phosphorus = 0, waters = 0;
    for (const auto& record : network->getBackboneList()) (record.isNucleic ? phosphorus : carbonAlpha)++;
    for (const Atom* a : atoms) waters += a->isWater() ? 1 : 0;
    int nonEmptyChains = 0;
    for (const auto& chain : network->getChainList()) nonEmptyChains += chain.empty() ? 0 : 1;

    std::ostringstream out;
    out << std::fixed << std::setprecision(1);
    out << "\nStructure " << network->getPDBName() << " (" << path.filename().string() << ")\n"
        << "  experiment:   " << (network->isNMR() ? "NMR" : "X-RAY DIFFRACTION") << '\n'
        << "  temperature:  " << network->getTemperature() << " K\n"
        << "  atoms:        " << atoms.size() << " (" << waters << " water)\n"
        << "  network nodes:" << ' ' << network->getBackboneList().size() << " (" << carbonAlpha << " C-alpha, "
        << phosphorus << " phosphorus)\n"
        << "  chains:       " << nonEmptyChains << " with nodes, " << network->getChainList().size() << " in all\n"
        << "  record lines: " << network->getTotalAmountOfAtoms() << '\n'
        << std::setprecision(4) << "  read in:      " << reader.getLoadSeconds() << " s\n";
    std::cout << out.str();
    deleteAtoms(atoms);
    return 0;
}

void usage()
{
    std::cerr << "usage: vornax [FILE.pdb] [--no-device | --virtual-device | --mouse-stylus] [--mono] [--rc ANGSTROM]\n"
                 "              [--save-dir DIR] [--save-forces] [--stylus-script FILE] [--screenshot OUT.png]\n"
                 "              [--save-as OUT.pdb] [--quit]\n"
                 "       vornax --summary [FILE.pdb]\n";
}

int run(int argc, char** argv)
{
    WindowOptions options;
    AutomationOptions steps;
    bool summary = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--summary")
            summary = true;
        else if (arg == "--no-device")
            options.openDevice = false;
        else if (arg == "--virtual-device" || arg == "--mouse-stylus")
            hdapi::useVirtualDevice(true); // the mouse drives its stylus
        else if (arg == "--save-forces")
            steps.saveForces = true;
        else if (arg == "--quit")
            steps.quit = true;
        else if ((arg == "--stylus-script" || arg == "--screenshot" || arg == "--save-as") && i + 1 < argc) {
            const std::filesystem::path value = argv[++i];
            (arg == "--stylus-script" ? steps.stylusScript : arg == "--screenshot" ? steps.screenshot : steps.saveAs) = value;
        }
        else if (arg == "--mono")
            options.allowStereo = false;
        else if (arg == "--rc" && i + 1 < argc) {
            const std::string value = argv[++i];
            char* end = nullptr;
            const float rc = std::strtof(value.c_str(), &end);
            // The same rule as the cutoff dialog: 7 Å or more.
            if (end == value.c_str() || *end != '\0' || !(rc >= 7.0f) || rc > 1000.0f) {
                std::cerr << "vornax: --rc wants a cutoff of at least 7 Å, not \"" << value << "\"\n";
                return 2;
            }
            options.rc = rc;
        } else if (arg == "--save-dir" && i + 1 < argc) {
            options.saveDir = argv[++i]; // the eigen data files of the structure go here
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            std::cerr << "vornax: unknown option " << arg << '\n';
            usage();
            return 2;
        } else if (options.file.empty()) {
            options.file = arg;
        } else {
            std::cerr << "vornax: one structure at a time\n";
            return 2;
        }
    }
    if (options.file.empty()) options.file = runtimeDataPath("TutorialFiles/1crn.pdb");
    if (summary) return printSummary(options.file);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QtPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    int status = 0;
    {
        Form1 window(options, &prompts);
        // Maximised where a window manager does it; without one (a bare X server) the window
        // keeps this size, most of the screen, rather than the controls' smallest.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            window.resize(screen->availableGeometry().size() * 0.9);
        window.showMaximized();
        Automation automation(window, steps);
        status = app.exec();
        if (steps.quit && status == 0) status = automation.exitCode();
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "vornax: not enough memory\n";
        return 2;
    }
}
