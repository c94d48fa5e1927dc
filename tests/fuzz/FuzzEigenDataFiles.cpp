// The eigen data files: a main file and, after a "\n--8<--\n" line, its response-matrix file.
// They load, or are refused with a message and nothing changed; what loads is finite.
#include "enm/ElasticNetworkModel.h"
#include "fuzz/FuzzSupport.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vornax;
    fuzz::quietOnce();
    static fuzz::ScratchFile hdv(".hdv"), ppy(".ppy");
    const auto [main, y] = fuzz::splitInput(data, size);
    hdv.write(main);
    std::vector<std::string> names{hdv.path().string()};
    if (!y.empty()) names.push_back(ppy.write(y).string());

    ElasticNetworkModel eln;
    MachineFacts facts;
    facts.availableMemory = [] { return uint64_t{1} << 30; };
    facts.trialMilliseconds = [](int32_t) { return 1.0; };
    eln.budget().setMachineFacts(facts);
    if (!eln.files().inputEigenDataFiles(names)) return 0;
    eln.setRenderingDataUp();
    eln.getMaxPossibleModes(nullptr);
    if (!eln.isSetup()) return 0;
    if (!std::isfinite(eln.getS())) __builtin_trap();
    for (double v : eln.modes().getInverseScaledEigenvalues())
        if (!std::isfinite(v)) __builtin_trap();
    // A response through every route stays finite.
    const auto dim = static_cast<std::size_t>(eln.get3N());
    if (dim == 0 || eln.getTotalMaxModes() <= 0) return 0;
    std::vector<double> out(dim);
    const double f[3] = {0.5, -0.25, 1.0};
    const int32_t listed[] = {0};
    for (int route : {2, 1, 0}) {
        eln.deformation().computeResponse(f, 0, route, route == 0 ? 1 : eln.getTotalMaxModes(), listed, out.data());
        for (double d : out)
            if (!std::isfinite(d)) __builtin_trap();
    }
    return 0;
}
