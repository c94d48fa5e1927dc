// The stylus script parser: a script is refused with one line or read into steps that keep
// the documented limits.
#include "fuzz/FuzzSupport.h"
#include "haptics/StylusScript.h"

#include <cmath>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    vornax::fuzz::quietOnce();
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::string error;
    const auto steps = vornax::parseStylusScript(in, error);
    if (!steps) {
        if (error.empty() || error.find('\n') != std::string::npos) __builtin_trap();
        return 0;
    }
    int64_t total = 0;
    for (const vornax::StylusStep& s : *steps) {
        if (s.ticks <= 0) __builtin_trap();
        total += s.ticks;
        for (double p : s.position)
            if (!std::isfinite(p)) __builtin_trap();
    }
    if (total > vornax::kMaxScriptTicks) __builtin_trap();
    std::string nodeError;
    vornax::checkScriptNodes(*steps, 6, nodeError);
    return 0;
}
