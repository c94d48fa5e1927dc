// Time and peak memory of reading a biological assembly and building its network (nodes and
// springs), without the Hessian. Prints one JSON object.
//
//   assembly_load_probe FILE ASSEMBLY [--copies LIST] [--rc 11]
#include "common/Console.h"
#include "enm/Pipeline.h"

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    using namespace vornax;
    if (argc < 3) {
        std::cerr << "usage: assembly_load_probe FILE ASSEMBLY [--copies LIST] [--rc ANGSTROM]\n";
        return 2;
    }
    AssemblyRequest assembly;
    assembly.id = argv[2];
    LoadOptions options;
    options.lastStage = LoadStage::Network;
    options.measureStagePeaks = true;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        std::string error;
        if (flag == "--rc") options.rc = std::strtof(argv[i + 1], nullptr);
        else if (flag == "--copies") {
            auto ids = parseCopyList(argv[i + 1], error);
            if (!ids) {
                std::cerr << error << '\n';
                return 2;
            }
            assembly.copies = *ids;
        }
    }
    console::setSink([](int, const std::string&) {});
    LoadResult load = runLoadPipeline(StructureSource::pdbFile(argv[1], assembly), options);
    if (!load.ok()) {
        std::cerr << load.message << '\n';
        return 1;
    }
    const auto& read = load.record(LoadStage::Read);
    const auto& net = load.record(LoadStage::Network);
    std::cout << "{\"file\": \"" << argv[1] << "\", \"assembly\": \"" << assembly.id << "\", \"atoms\": "
              << load.atoms.list().size() << ", \"nodes\": " << load.network->getAmountOfAtoms()
              << ", \"springs\": " << load.network->getAmountOfSprings() << ", \"read_s\": " << read.seconds
              << ", \"network_s\": " << net.seconds << ", \"read_peak_mb\": " << read.stagePeakRssBytes / 1048576.0
              << ", \"network_peak_mb\": " << net.stagePeakRssBytes / 1048576.0
              << ", \"peak_rss_mb\": " << load.peakRssBytes / 1048576.0 << "}\n";
    return 0;
}
