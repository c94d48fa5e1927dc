// The eigenvalue dialog's text: any bytes give a list of numbers, never a crash.
#include "enm/io/StandardFileLoader.h"
#include "fuzz/FuzzSupport.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    vornax::fuzz::quietOnce();
    int32_t skipped = 0;
    const std::vector<double> values =
        vornax::parseEigenvalueText(std::string(reinterpret_cast<const char*>(data), size), &skipped);
    if (skipped < 0 || values.size() > size) __builtin_trap();
    return 0;
}
