// The mmCIF reader on any bytes as a gzipped file (.cif.gz), through the load up to the built
// network, as the file itself and as its first assembly: the bytes are inflated (any number
// of members, up to the text cap) or refused with a message, and nothing is kept.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vornax;
    fuzz::quietOnce();
    static fuzz::ScratchFile file(".cif.gz");
    file.write(std::string_view(reinterpret_cast<const char*>(data), size));
    fuzz::loadToNetwork(file.path());
    fuzz::loadToNetwork(file.path(), AssemblyRequest{"1", {}});
    return 0;
}
