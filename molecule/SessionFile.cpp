#include "molecule/SessionFile.h"

#include "common/AtomicFile.h"
#include "common/InputFile.h"
#include "common/LittleEndian.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace vornax {

namespace {

/// Appends little-endian fields.
class Writer {
public:
    explicit Writer(std::vector<unsigned char>& bytes) : m_bytes(bytes) {}
    template <le::Field T>
    void put(T value)
    {
        unsigned char b[sizeof(T)];
        le::toBytes(value, b);
        m_bytes.insert(m_bytes.end(), b, b + sizeof(T));
    }
    template <le::Field T, std::size_t N>
    void put(const std::array<T, N>& values)
    {
        for (T v : values) put(v);
    }

private:
    std::vector<unsigned char>& m_bytes;
};

/// Takes little-endian fields from a buffer whose length was checked beforehand.
class Reader {
public:
    explicit Reader(const unsigned char* bytes) : m_at(bytes) {}
    template <le::Field T>
    T take()
    {
        const T v = le::fromBytes<T>(m_at);
        m_at += sizeof(T);
        return v;
    }
    template <le::Field T, std::size_t N>
    void take(std::array<T, N>& values)
    {
        for (T& v : values) v = take<T>();
    }

private:
    const unsigned char* m_at;
};

void putRecord(Writer& w, const SessionForce& f)
{
    w.put(f.node);
    w.put(f.force.x);
    w.put(f.force.y);
    w.put(f.force.z);
    w.put(f.magnitude);
    w.put(f.eqForce);
    w.put(f.modeState);
}

template <std::size_t N>
bool allFinite(const std::array<float, N>& values)
{
    for (float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

bool refuse(std::string& error, const std::string& why)
{
    error = why;
    return false;
}

/// The checks that need nothing but the file.
bool checkValues(const SessionData& d, std::string& error)
{
    if (d.saveForces != 0 && d.saveForces != 1)
        return refuse(error, "its save-forces option is " + std::to_string(d.saveForces) + ", not 0 or 1");
    if (d.sliderPosition < session::kSliderMin || d.sliderPosition > session::kSliderMax)
        return refuse(error,
                      "its force-scaling slider position " + std::to_string(d.sliderPosition) + " is outside 0 to 200");
    const SessionWorkspace& ws = d.workspace;
    if (!allFinite(ws.transform) || !allFinite(ws.lastRotation) || !allFinite(ws.thisRotation)
        || !allFinite(ws.translation))
        return refuse(error, "its workspace transform holds a number that is not finite");
    for (std::size_t i = 0; i < d.modeSwitches.size(); ++i)
        if (d.modeSwitches[i] != 0 && d.modeSwitches[i] != 1)
            return refuse(error,
                          "its switch of mode " + std::to_string(i + 1) + " is " + std::to_string(d.modeSwitches[i])
                              + ", not 0 or 1");
    std::set<int32_t> nodes;
    for (std::size_t k = 0; k < d.forces.size(); ++k) {
        const SessionForce& f = d.forces[k];
        const std::string which = "force record " + std::to_string(k + 1);
        if (f.node < 0) return refuse(error, which + " names node " + std::to_string(f.node));
        if (!nodes.insert(f.node).second)
            return refuse(error, which + " names node " + std::to_string(f.node) + " a second time");
        const bool finite = std::isfinite(f.force.x) && std::isfinite(f.force.y) && std::isfinite(f.force.z)
            && std::isfinite(f.magnitude) && std::isfinite(f.eqForce);
        if (!finite) return refuse(error, which + " holds a force that is not finite");
        if (f.force == Vector3d()) return refuse(error, which + " holds no force");
        const int32_t route = f.modeState[0], count = f.modeState[1];
        if (route < 0 || route > 2)
            return refuse(error, which + " has the mode state " + std::to_string(route) + ", not 0, 1 or 2");
        if (count < 0 || (route == 0 && count > 20))
            return refuse(error, which + " has a mode count of " + std::to_string(count));
        for (int32_t j = 0; route == 0 && j < count; ++j)
            if (f.modeState[static_cast<std::size_t>(2 + j)] < 0)
                return refuse(
                    error, which + " lists the mode " + std::to_string(f.modeState[static_cast<std::size_t>(2 + j)]));
    }
    return true;
}

} // namespace

std::vector<unsigned char> encodeSession(const SessionData& d)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(session::kHeaderBytes + session::kRecordBytes * d.forces.size());
    Writer w(bytes);
    w.put(d.version);
    w.put(d.saveForces);
    w.put(d.sliderPosition);
    w.put(d.workspace.transform);
    w.put(d.workspace.lastRotation);
    w.put(d.workspace.thisRotation);
    w.put(d.workspace.translation);
    w.put(d.modeSwitches);
    w.put(static_cast<int32_t>(d.forces.size()));
    for (const SessionForce& f : d.forces) putRecord(w, f);
    return bytes;
}

bool writeForceRecords(std::ostream& out, const std::vector<SessionForce>& forces)
{
    std::vector<unsigned char> bytes;
    Writer w(bytes);
    w.put(static_cast<int32_t>(forces.size()));
    for (const SessionForce& f : forces) putRecord(w, f);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::optional<SessionData> decodeSession(const unsigned char* bytes, std::size_t size, std::string& error)
{
    using namespace session;
    if (size < kHeaderBytes || (size - kHeaderBytes) % kRecordBytes != 0) {
        error = "its size of " + std::to_string(size) + " bytes is not that of a session file (244 + 112 per force)";
        return std::nullopt;
    }
    Reader r(bytes);
    SessionData d;
    d.version = r.take<int32_t>();
    if (d.version != kVersion) {
        error = "it is of version " + std::to_string(d.version) + ", not 1";
        return std::nullopt;
    }
    d.saveForces = r.take<int32_t>();
    d.sliderPosition = r.take<int32_t>();
    r.take(d.workspace.transform);
    r.take(d.workspace.lastRotation);
    r.take(d.workspace.thisRotation);
    r.take(d.workspace.translation);
    r.take(d.modeSwitches);
    const int32_t n = r.take<int32_t>();
    if (n < 0 || n > kMaxForces || static_cast<std::size_t>(n) != (size - kHeaderBytes) / kRecordBytes) {
        error = "it counts " + std::to_string(n) + " forces in room for "
            + std::to_string((size - kHeaderBytes) / kRecordBytes);
        return std::nullopt;
    }
    d.forces.resize(static_cast<std::size_t>(n));
    for (SessionForce& f : d.forces) {
        f.node = r.take<int32_t>();
        f.force.x = r.take<float>();
        f.force.y = r.take<float>();
        f.force.z = r.take<float>();
        f.magnitude = r.take<float>();
        f.eqForce = r.take<float>();
        r.take(f.modeState);
    }
    if (!checkValues(d, error)) return std::nullopt;
    return d;
}

bool writeSessionFile(const std::filesystem::path& path, const SessionData& data, std::string& error)
{
    const std::vector<unsigned char> bytes = encodeSession(data);
    AtomicFile file(path);
    if (!file.ok()) {
        error = file.error().empty() ? "The session file " + path.string() + " could not be created." : file.error();
        return false;
    }
    file.stream().write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file.commit()) {
        error = file.error().empty() ? "The session file " + path.string() + " could not be written." : file.error();
        return false;
    }
    return true;
}

std::optional<SessionData> readSessionFile(const std::filesystem::path& path, std::string& error)
{
    const std::string name = path.string();
    if (const std::string problem = regularFileProblem(path); !problem.empty()) {
        error = problem;
        return std::nullopt;
    }
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    const uintmax_t largest =
        session::kHeaderBytes + session::kRecordBytes * static_cast<uintmax_t>(session::kMaxForces);
    if (ec || size > largest) {
        error = ec ? "The session file " + name + " could not be read."
                   : "The file " + name + " is too large for a session file.";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))
        || in.peek() != std::char_traits<char>::eof()) {
        error = "The session file " + name + " could not be read whole.";
        return std::nullopt;
    }
    std::string why;
    std::optional<SessionData> data = decodeSession(bytes.data(), bytes.size(), why);
    if (!data) error = "The file " + name + " is not a session file that can be opened: " + why + ".";
    return data;
}

bool sessionFitsNetwork(const SessionData& d, int32_t nodes, int32_t keptModes, bool holdsY, std::string& error)
{
    const std::string tail = " (the chosen eigen data files have " + std::to_string(nodes) + " nodes and "
        + std::to_string(keptModes) + " modes in use): it belongs to another structure or set of modes.";
    for (std::size_t i = 0; i < d.modeSwitches.size(); ++i)
        if (d.modeSwitches[i] == 1 && static_cast<int32_t>(i) >= keptModes)
            return refuse(error, "The session switches on mode " + std::to_string(i + 1) + tail);
    for (const SessionForce& f : d.forces) {
        if (f.node >= nodes) return refuse(error, "The session keeps a force on node " + std::to_string(f.node) + tail);
        const int32_t route = f.modeState[0], count = f.modeState[1];
        // All modes go through Y only when Y was held: without it the force would lose its response.
        if (route == 2 && !holdsY)
            return refuse(error,
                          "The session's force on node " + std::to_string(f.node)
                              + " went through the response matrix, which the chosen files do not hold"
                                " (choose the .ppy file with the .hdv file).");
        if (route != 0 && count > keptModes)
            return refuse(error,
                          "The session's force on node " + std::to_string(f.node) + " went through "
                              + std::to_string(count) + " modes" + tail);
        for (int32_t j = 0; route == 0 && j < count; ++j)
            if (f.modeState[static_cast<std::size_t>(2 + j)] >= keptModes)
                return refuse(error,
                              "The session's force on node " + std::to_string(f.node) + " went through mode "
                                  + std::to_string(f.modeState[static_cast<std::size_t>(2 + j)] + 1) + tail);
    }
    return true;
}

} // namespace vornax
