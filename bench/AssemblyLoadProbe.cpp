// Time and peak memory of reading a biological assembly and building its network (nodes and
// springs), without the Hessian. Prints one JSON object.
//
//   assembly_load_probe FILE ASSEMBLY [--copies LIST] [--rc 11]
#include "EnmBenchSupport.h"

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
    LoadOptions options;
    options.measureStagePeaks = true;
    AssemblyRequest assembly;
    std::optional<LoadResult> loaded =
        bench::loadAssemblyNetwork(argc, argv, options, [](const std::string&, const std::string&) {}, &assembly);
    if (!loaded) return 1;
    const LoadResult& load = *loaded;
    const auto& read = load.record(LoadStage::Read);
    const auto& net = load.record(LoadStage::Network);
    std::cout << "{\"file\": \"" << argv[1] << "\", \"assembly\": \"" << assembly.id << "\", \"atoms\": "
              << load.atoms.list().size() << ", \"nodes\": " << load.network->getAmountOfAtoms()
              << ", \"springs\": " << load.network->geometry().getAmountOfSprings() << ", \"read_s\": " << read.seconds
              << ", \"network_s\": " << net.seconds << ", \"read_peak_mb\": " << read.stagePeakRssBytes / 1048576.0
              << ", \"network_peak_mb\": " << net.stagePeakRssBytes / 1048576.0
              << ", \"peak_rss_mb\": " << load.peakRssBytes / 1048576.0 << "}\n";
    return 0;
}
