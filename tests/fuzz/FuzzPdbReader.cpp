// The PDB reader on any bytes, through the load up to the built network: it loads, or it is
// refused with a message and keeps nothing.
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vornax;
    fuzz::quietOnce();
    static fuzz::ScratchFile file(".pdb");
    file.write(std::string_view(reinterpret_cast<const char*>(data), size));
    fuzz::loadToNetwork(file.path());
    return 0;
}
