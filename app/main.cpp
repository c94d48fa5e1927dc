// Vornax ENM entry point. Until the main window exists, it reads a structure and prints
// what a load would hand to the elastic network.
#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/NetworkFileHandle.h"
#include "molecule/Atom.h"

#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>

using namespace vornax;

namespace {

int run(int argc, char** argv)
{
    std::filesystem::path path;
    if (argc > 1) {
        path = argv[1];
    } else {
        path = std::filesystem::path(argv[0]).parent_path() / "TutorialFiles" / "1crn.pdb";
    }

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
