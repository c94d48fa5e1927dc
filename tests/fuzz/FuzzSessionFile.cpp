// The session reader: a file is refused with one line, or read whole; what is read fits the
// layout and writes back to the same bytes.
#include "fuzz/FuzzSupport.h"
#include "molecule/SessionFile.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    std::string error;
    const std::optional<vornax::SessionData> session = vornax::decodeSession(data, size, error);
    if (!session) {
        if (error.empty() || error.find('\n') != std::string::npos) __builtin_trap();
        return 0;
    }
    if (size != vornax::session::kHeaderBytes + vornax::session::kRecordBytes * session->forces.size())
        __builtin_trap();
    for (const vornax::SessionForce& f : session->forces)
        if (f.node < 0 || !std::isfinite(f.force.x) || f.modeState[0] < 0 || f.modeState[0] > 2) __builtin_trap();
    const std::vector<unsigned char> again = vornax::encodeSession(*session);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
    return 0;
}
