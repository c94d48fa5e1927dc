// The session reader: a file is refused with one line, or read whole; what is read fits the
// layout, holds only rotations and forces it could apply, and writes back to the same bytes.
#include "fuzz/FuzzSupport.h"
#include "molecule/SessionFile.h"

#include <cmath>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vornax;
    std::string error;
    const std::optional<SessionData> session = decodeSession(data, size, error);
    if (!session) {
        if (error.empty() || error.find('\n') != std::string::npos) __builtin_trap();
        return 0;
    }
    const std::size_t trailer =
        session->structure ? session::kTrailerBytes + session->structure->name.size() : 0;
    if (size != session::kHeaderBytes + session::kRecordBytes * session->forces.size() + trailer) __builtin_trap();
    for (float t : session->workspace.translation)
        if (!(std::fabs(t) <= session::kMaxTranslation)) __builtin_trap();
    for (const SessionForce& f : session->forces) {
        if (f.node < 0 || !std::isfinite(f.force.x) || f.modeState[0] < 0 || f.modeState[0] > 2) __builtin_trap();
        if (session->structure && f.node >= session->structure->nodes) __builtin_trap();
        std::set<int32_t> listed;
        for (int32_t j = 0; f.modeState[0] == 0 && j < f.modeState[1]; ++j)
            if (!listed.insert(f.modeState[static_cast<std::size_t>(2 + j)]).second) __builtin_trap();
    }
    const std::vector<unsigned char> again = encodeSession(*session);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();

    // Against a network of its own size: a refusal is one line as well.
    SessionTarget target;
    target.structure.nodes = session->structure ? session->structure->nodes : 1 << 20;
    target.keptModes = 20;
    target.kcalPerNewton = 3.8;
    target.deviceForce = 8.0;
    std::string warning;
    if (!sessionFitsNetwork(*session, target, error, warning) && (error.empty() || error.find('\n') != std::string::npos))
        __builtin_trap();
    return 0;
}
