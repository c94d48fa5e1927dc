// Plain-text eigen files and ElNemo mode files, read into a small network. The first byte
// chooses the reader; the rest is the file.
#include "enm/ElasticNetworkModel.h"
#include "enm/io/NetworkFileHandle.h"
#include "enm/io/StandardFileLoader.h"
#include "fuzz/FuzzSupport.h"
#include "molecule/Atom.h"

#include <cmath>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vornax;
    fuzz::quietOnce();
    if (size < 1) return 0;
    static fuzz::ScratchFile structure(".pdb"), input(".txt");
    static const bool written = (structure.write(fuzz::kSmallStructure), true);
    (void)written;

    NetworkFileHandle reader;
    if (!reader.openFile(structure.path())) __builtin_trap();
    std::vector<Atom*> atoms = reader.getAtomList();
    std::unique_ptr<ElasticNetworkModel> eln(reader.getElasticNetwork());
    eln->setRc(11.0f);
    eln->setRenderingDataUp();
    MachineFacts facts;
    facts.availableMemory = [] { return uint64_t{1} << 30; };
    facts.trialMilliseconds = [](int32_t) { return 1.0; };
    eln->budget().setMachineFacts(facts);

    input.write(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    if (data[0] & 1) {
        eln->setupBlankArrays();
        if (eln->calculateEigenFromElnemo(input.path().string()))
            eln->textInput().finishElnemoImport(parseEigenvalueText("0 0 0 0 0 0 1.5 2.5 3 4"), 1.0f);
    } else if (eln->loadStandardEigenFile(input.path().string(), 1.0f, nullptr)) {
        if (!std::isfinite(eln->getS())) __builtin_trap();
        for (double v : eln->modes().getInverseScaledEigenvalues())
            if (!std::isfinite(v)) __builtin_trap();
    }
    if (eln->isSetup()) {
        // A pull moves the network by finite amounts.
        eln->getAtom(2)->simulateState(0);
        eln->applyNonScaleForce(Vector3d(1, 1, 1), 2);
        eln->simulate();
        for (double d : eln->deformation().getDisplacement())
            if (!std::isfinite(d)) __builtin_trap();
    }
    eln.reset();
    deleteAtoms(atoms);
    return 0;
}
