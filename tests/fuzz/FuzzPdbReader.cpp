// The PDB reader on any bytes: it loads or refuses with a message, and a small network built
// from what it loads has finite node positions.
#include "enm/ElasticNetworkModel.h"
#include "fuzz/FuzzSupport.h"
#include "molecule/Atom.h"
#include "molecule/FileHandle.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    vornax::fuzz::quietOnce();
    static vornax::fuzz::ScratchFile file(".pdb");
    file.write(std::string_view(reinterpret_cast<const char*>(data), size));

    vornax::FileHandle reader;
    const bool ok = reader.openFile(file.path());
    std::vector<vornax::Atom*> atoms = reader.getAtomList();
    std::unique_ptr<vornax::ElasticNetworkModel> eln(reader.getElasticNetwork());
    if (!ok && reader.getLoadError().empty()) __builtin_trap();
    // Springs only for small networks: the pair search is quadratic by design.
    if (ok && eln && eln->getBackboneList().size() <= 64) {
        eln->setRc(11.0f);
        eln->setRenderingDataUp();
    }
    eln.reset();
    vornax::deleteAtoms(atoms);
    return 0;
}
