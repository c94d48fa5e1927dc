// The mmCIF reader on any bytes, through the load up to the built network, as the file itself
// and as its first assembly: it loads, or it is refused with a message and keeps nothing.
#include "enm/Pipeline.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vornax;
    fuzz::quietOnce();
    static fuzz::ScratchFile file(".cif");
    file.write(std::string_view(reinterpret_cast<const char*>(data), size));

    LoadOptions options;
    options.lastStage = LoadStage::Network;
    for (const AssemblyRequest& assembly : {AssemblyRequest{}, AssemblyRequest{"1", {}}}) {
        LoadResult load = runLoadPipeline(StructureSource::pdbFile(file.path(), assembly), options);
        if (load.ok() != (load.network != nullptr)) __builtin_trap();
        if (!load.ok() && load.message.empty()) __builtin_trap();
    }
    return 0;
}
