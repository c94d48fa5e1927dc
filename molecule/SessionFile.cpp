#include "molecule/SessionFile.h"

#include "common/AtomicFile.h"
#include "common/InputFile.h"
#include "common/LittleEndian.h"
#include "common/TextParse.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
    void putBytes(const void* data, std::size_t n)
    {
        const auto* b = static_cast<const unsigned char*>(data);
        m_bytes.insert(m_bytes.end(), b, b + n);
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
    std::string takeText(std::size_t n)
    {
        std::string text(reinterpret_cast<const char*>(m_at), n);
        m_at += n;
        return text;
    }
    const unsigned char* at() const { return m_at; }

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

void putTrailer(Writer& w, const SessionStructure& s)
{
    const std::string name = s.name.substr(0, session::kMaxNameBytes);
    w.putBytes(session::kTrailerMagic, sizeof session::kTrailerMagic);
    w.put(s.fingerprint);
    w.put(s.nodes);
    w.put(s.rc);
    w.put(static_cast<int32_t>(name.size()));
    w.putBytes(name.data(), name.size());
}

/// FNV-1a, 64 bits.
class Fingerprint {
public:
    void add(const void* data, std::size_t n)
    {
        const auto* b = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < n; ++i) m_hash = (m_hash ^ b[i]) * 0x100000001b3ULL;
    }
    template <le::Field T>
    void add(T value)
    {
        unsigned char b[sizeof(T)];
        le::toBytes(value, b);
        add(b, sizeof b);
    }
    uint64_t value() const { return m_hash; }

private:
    uint64_t m_hash = 0xcbf29ce484222325ULL;
};

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

/// A rotation within the tolerance: its three columns (`stride` apart in `m`, column-major)
/// of unit length, at right angles, and right-handed.
bool isRotation(const float* m, std::size_t stride)
{
    double c[3][3];
    for (std::size_t j = 0; j < 3; ++j)
        for (std::size_t r = 0; r < 3; ++r) c[j][r] = m[j * stride + r];
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            const double dot = c[i][0] * c[j][0] + c[i][1] * c[j][1] + c[i][2] * c[j][2];
            if (!(std::fabs(dot - (i == j ? 1.0 : 0.0)) <= session::kRotationTolerance)) return false;
        }
    const double det = c[0][0] * (c[1][1] * c[2][2] - c[1][2] * c[2][1])
        - c[1][0] * (c[0][1] * c[2][2] - c[0][2] * c[2][1]) + c[2][0] * (c[0][1] * c[1][2] - c[0][2] * c[1][1]);
    return det > 0.0;
}

bool withinReach(float x, float y, float z)
{
    return std::fabs(x) <= session::kMaxTranslation && std::fabs(y) <= session::kMaxTranslation
        && std::fabs(z) <= session::kMaxTranslation;
}

std::string triple(float x, float y, float z)
{
    std::ostringstream text;
    text << '(' << x << ", " << y << ", " << z << ')';
    return text.str();
}

/// The workspace as navigation leaves it: a rotation (the 4×4 also a rigid motion: no
/// projection, a translation within reach), two 3×3 rotations, and a translation within reach.
bool checkWorkspace(const SessionWorkspace& ws, std::string& error)
{
    const auto& t = ws.transform;
    const double tol = session::kRotationTolerance;
    const bool rigid = isRotation(t.data(), 4) && std::fabs(t[3]) <= tol && std::fabs(t[7]) <= tol
        && std::fabs(t[11]) <= tol && std::fabs(t[15] - 1.0f) <= tol;
    if (!rigid) return refuse(error, "its workspace transform is not a rotation");
    if (!withinReach(t[12], t[13], t[14]))
        return refuse(error, "its workspace transform moves by " + triple(t[12], t[13], t[14])
                          + " mm, beyond any navigation");
    if (!isRotation(ws.lastRotation.data(), 3)) return refuse(error, "its last workspace rotation is not a rotation");
    if (!isRotation(ws.thisRotation.data(), 3))
        return refuse(error, "its current workspace rotation is not a rotation");
    const auto& v = ws.translation;
    if (!withinReach(v[0], v[1], v[2]))
        return refuse(error, "its workspace translation " + triple(v[0], v[1], v[2]) + " mm is beyond any navigation");
    return true;
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
    if (!checkWorkspace(ws, error)) return false;
    for (std::size_t i = 0; i < d.modeSwitches.size(); ++i)
        if (d.modeSwitches[i] != 0 && d.modeSwitches[i] != 1)
            return refuse(error,
                          "its switch of mode " + std::to_string(i + 1) + " is " + std::to_string(d.modeSwitches[i])
                              + ", not 0 or 1");
    std::set<int32_t> nodes;
    for (std::size_t k = 0; k < d.forces.size(); ++k) {
        const SessionForce& f = d.forces[k];
        const std::string which = "force record " + std::to_string(k + 1);
        if (f.node < 0 || (d.structure && f.node >= d.structure->nodes))
            return refuse(error, which + " names node " + std::to_string(f.node));
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
        // A mode listed twice would add its response twice: refused, as on the command line.
        std::set<int32_t> listed;
        for (int32_t j = 0; route == 0 && j < count; ++j) {
            const int32_t mode = f.modeState[static_cast<std::size_t>(2 + j)];
            if (mode < 0) return refuse(error, which + " lists the mode " + std::to_string(mode));
            if (!listed.insert(mode).second)
                return refuse(error, which + " lists mode " + std::to_string(int64_t{mode} + 1) + " twice");
        }
    }
    return true;
}

/// The structure trailer after the records: exactly one, or refused.
bool takeTrailer(const unsigned char* at, std::size_t rest, int32_t n, std::optional<SessionStructure>& out,
                 std::string& error)
{
    using namespace session;
    if (rest < kTrailerBytes || std::memcmp(at, kTrailerMagic, sizeof kTrailerMagic) != 0)
        return refuse(error, "it counts " + std::to_string(n) + " forces, and the " + std::to_string(rest)
                          + " bytes after them are not a structure trailer");
    Reader r(at + sizeof kTrailerMagic);
    SessionStructure s;
    s.fingerprint = r.take<uint64_t>();
    s.nodes = r.take<int32_t>();
    s.rc = r.take<float>();
    const int32_t length = r.take<int32_t>();
    if (length < 0 || static_cast<std::size_t>(length) > kMaxNameBytes
        || rest != kTrailerBytes + static_cast<std::size_t>(length))
        return refuse(error, "its structure trailer is " + std::to_string(rest) + " bytes long with a name of "
                          + std::to_string(length) + " bytes");
    if (s.nodes < 1 || !(std::isfinite(s.rc) && s.rc > 0.0f))
        return refuse(error, "its structure trailer describes " + std::to_string(s.nodes) + " nodes at a cutoff of "
                          + text::shortNumber(s.rc) + " Å");
    s.name = r.takeText(static_cast<std::size_t>(length));
    for (const char c : s.name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return refuse(error, "its structure trailer's name holds a control character");
    out = std::move(s);
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
    if (d.structure) putTrailer(w, *d.structure);
    return bytes;
}

SessionStructure describeStructure(const std::vector<std::string>& lines, std::size_t count, float rc, int32_t nodes,
                                   std::string name)
{
    Fingerprint hash;
    count = std::min(count, lines.size());
    for (std::size_t i = 0; i < count; ++i) {
        hash.add(static_cast<int32_t>(lines[i].size()));
        hash.add(lines[i].data(), lines[i].size());
    }
    hash.add(rc);
    hash.add(nodes);
    SessionStructure s;
    s.fingerprint = hash.value();
    s.nodes = nodes;
    s.rc = rc;
    // The name is only for messages: one line of at most 64 bytes.
    name.resize(std::min(name.size(), session::kMaxNameBytes));
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    s.name = std::move(name);
    return s;
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
    if (size < kHeaderBytes) {
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
    const std::size_t room = (size - kHeaderBytes) / kRecordBytes;
    if (n < 0 || n > kMaxForces || static_cast<std::size_t>(n) > room) {
        error = "it counts " + std::to_string(n) + " forces in room for " + std::to_string(room);
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
    const std::size_t rest = size - kHeaderBytes - kRecordBytes * static_cast<std::size_t>(n);
    if (rest > 0 && !takeTrailer(r.at(), rest, n, d.structure, error)) return std::nullopt;
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
    const uintmax_t largest = session::kHeaderBytes
        + session::kRecordBytes * static_cast<uintmax_t>(session::kMaxForces) + session::kTrailerBytes
        + session::kMaxNameBytes;
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

namespace {

std::string describe(const SessionStructure& s)
{
    std::ostringstream text;
    text << (s.name.empty() ? std::string("a structure") : s.name) << " (" << s.nodes << " nodes, Rc " << s.rc
         << " Å)";
    return text.str();
}

/// The most force, in N, a device could have put into `f` (`newtons` at the device): the
/// largest device at the file's scaling (its slider), or at the scaling of the pull itself
/// where the slider was moved after it. The node's eqForce is the pull's share of its device's
/// maximum, so newtons / eqForce is that maximum times the pull's scaling, which no device
/// exceeds at the slider's top; a share that does not fit shows no such pull.
double largestDeviceForce(const SessionForce& f, double newtons, int32_t sliderPosition, double deviceForce)
{
    constexpr double rounding = 1e-4; // of the float force, its conversion and eqForce
    const double atSlider = deviceForce * sliderPosition / 10.0;
    const double highest = deviceForce * session::kSliderMax / 10.0;
    const double atPull = newtons / f.eqForce;
    const bool pulled = f.eqForce > 0.0f && f.eqForce <= 1.0 + rounding && atPull <= highest * (1.0 + rounding);
    return std::max(atSlider, pulled ? atPull : 0.0) * (1.0 + rounding);
}

} // namespace

bool sessionFitsNetwork(const SessionData& d, const SessionTarget& target, std::string& error, std::string& warning)
{
    warning.clear();
    const SessionStructure& loaded = target.structure;
    if (!d.structure) {
        warning = "The session file holds no record of the structure it was saved on (an older file): that it "
                  "belongs to "
            + describe(loaded) + " cannot be checked.";
    } else if (d.structure->fingerprint != loaded.fingerprint) {
        const bool alike = describe(*d.structure) == describe(loaded);
        return refuse(error, "The session was saved on " + describe(*d.structure)
                          + ", not on the chosen eigen data files' " + describe(loaded)
                          + (alike ? " (their record lines differ)" : "")
                          + ": a session opens only on the structure it was saved on.");
    }
    const int32_t nodes = loaded.nodes, keptModes = target.keptModes;
    const std::string tail = " (the chosen eigen data files have " + std::to_string(nodes) + " nodes and "
        + std::to_string(keptModes) + " modes in use): it belongs to another structure or set of modes.";
    for (std::size_t i = 0; i < d.modeSwitches.size(); ++i)
        if (d.modeSwitches[i] == 1 && static_cast<int32_t>(i) >= keptModes)
            return refuse(error, "The session switches on mode " + std::to_string(i + 1) + tail);
    for (std::size_t k = 0; k < d.forces.size(); ++k) {
        const SessionForce& f = d.forces[k];
        if (f.node >= nodes) return refuse(error, "The session keeps a force on node " + std::to_string(f.node) + tail);
        const int32_t route = f.modeState[0], count = f.modeState[1];
        // All modes go through Y only when Y was held: without it the force would lose its response.
        if (route == 2 && !target.allModesHeld)
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
                                  + std::to_string(int64_t{f.modeState[static_cast<std::size_t>(2 + j)]} + 1) + tail);
        if (!(target.kcalPerNewton > 0.0))
            return refuse(error, "The chosen eigen data files hold no force scaling: the session's force on node "
                              + std::to_string(f.node) + " cannot have come from a device.");
        // In double: a float force near its largest value still has a length.
        const double kcal = std::sqrt(static_cast<double>(f.force.x) * f.force.x
                                      + static_cast<double>(f.force.y) * f.force.y
                                      + static_cast<double>(f.force.z) * f.force.z);
        const double newtons = kcal / target.kcalPerNewton;
        const double most = largestDeviceForce(f, newtons, d.sliderPosition, target.deviceForce);
        if (!(newtons <= most)) {
            std::ostringstream text;
            text << "The session's force record " << k + 1 << " (node " << f.node << ") holds " << kcal
                 << " kcal/mol/Å, a device force of " << newtons << " N: at its force scaling of "
                 << d.sliderPosition / 10.0 << " a device pulls with at most "
                 << target.deviceForce * d.sliderPosition / 10.0 << " N.";
            return refuse(error, text.str());
        }
    }
    return true;
}

} // namespace vornax
