// Vornax ENM entry point: the window with the 3-D view, loading the structure named on the
// command line (TutorialFiles/1crn.pdb beside the program when none is named, unless the welcome
// panel shows: it offers the tutorial or a file of the user's choice).
//
//     vornax [FILE.pdb | FILE.hdv] [options]   (vornax --help lists them; CommandLine.h)
//     vornax --summary [FILE.pdb]              what a load would hand to the network, as text
//
// The unattended steps run once the load is done (Automation): tick "Save Forces", play a
// stylus script on the virtual device in real time, take a screenshot of the window, write the
// deformed C-alpha file, and quit.
#include "Automation.h"
#include "CommandLine.h"
#include "Form1.h"
#include "QtPrompts.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/io/NetworkFileHandle.h"
#include "haptics/hdapi/hdapi.h"
#include "molecule/Atom.h"
#include "render/RuntimeData.h"

#include <QApplication>
#include <QDir>
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
    const bool ok = reader.openStructure(path);
    std::vector<Atom*> atoms = reader.getAtomList();
    std::unique_ptr<ElasticNetworkModel> network(reader.getElasticNetwork());
    if (!ok) {
        // A refusal, like the command line's own.
        std::cerr << "vornax: " << reader.getLoadError() << '\n';
        deleteAtoms(atoms);
        return 2;
    }

    int carbonAlpha = 0, phosphorus = 0, waters = 0;
    for (const auto& record : network->geometry().getBackboneList()) (record.isNucleic ? phosphorus : carbonAlpha)++;
    for (const Atom* a : atoms) waters += a->isWater() ? 1 : 0;
    int nonEmptyChains = 0;
    for (const auto& chain : network->geometry().getChainList()) nonEmptyChains += chain.empty() ? 0 : 1;

    std::ostringstream out;
    out << std::fixed << std::setprecision(1);
    out << "\nStructure " << network->geometry().getPDBName() << " (" << path.filename().string() << ")\n"
        << "  experiment:   " << (network->geometry().isNMR() ? "NMR" : "X-RAY DIFFRACTION") << '\n'
        << "  temperature:  " << network->geometry().getTemperature() << " K\n"
        << "  atoms:        " << atoms.size() << " (" << waters << " water)\n"
        << "  network nodes:" << ' ' << network->geometry().getBackboneList().size() << " (" << carbonAlpha << " C-alpha, "
        << phosphorus << " phosphorus)\n"
        << "  chains:       " << nonEmptyChains << " with nodes, " << network->geometry().getChainList().size() << " in all\n"
        << "  record lines: " << network->geometry().getTotalAmountOfAtoms() << '\n'
        << std::setprecision(4) << "  read in:      " << reader.getLoadSeconds() << " s\n";
    std::cout << out.str();
    deleteAtoms(atoms);
    return 0;
}

int run(int argc, char** argv)
{
    CommandLine line = parseCommandLine(argc, argv);
    if (line.exitStatus >= 0) {
        (line.exitStatus == 0 ? std::cout : std::cerr) << line.message << '\n';
        return line.exitStatus;
    }
    WindowOptions& options = line.window;
    const AutomationOptions& steps = line.steps;
    if (line.mouseStylus) hdapi::useVirtualDevice(true); // the mouse drives its stylus
    if (options.file.empty()) {
        options.file = runtimeDataPath("TutorialFiles/1crn.pdb");
        options.fileIsDefault = true;
    }
    // The welcome panel and its preference are for a person at the window, not unattended runs.
    if (!steps.any()) options.profileFolder = QDir::homePath().toStdString();
    if (line.summary) return printSummary(options.file);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QtPrompts prompts;
    prompts.setUnattended(steps.unattended());
    ScopedUserPrompts installed(&prompts);
    int status = 0;
    {
        Form1 window(options, &prompts);
        // Maximised where a window manager does it; without one (a bare X server) the window
        // keeps this size, most of the screen, rather than the controls' smallest.
        if (line.windowWidth > 0) {
            window.resize(line.windowWidth, line.windowHeight);
            window.show();
        } else {
            if (const QScreen* screen = QGuiApplication::primaryScreen())
                window.resize(screen->availableGeometry().size() * 0.9);
            window.showMaximized();
        }
        Automation automation(window, steps, &prompts);
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
