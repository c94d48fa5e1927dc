// Session files (.vsf): the state of a pulling session, so that it can be resumed on the same
// structure's eigen data files. Little-endian, no padding, 244 + 112·n bytes:
//
//   int32 version (1), int32 save-forces option, int32 force-scaling slider position,
//   float32[16] workspace transform, float32[9] last rotation, float32[9] current rotation,
//   float32[3] workspace translation, int32[20] mode switches, int32 n, then n force records:
//   int32 node index, float32[3] kept force (kcal/mol/Å), float32 M, float32 eqForce,
//   int32[22] the node's mode state.
//
//     SessionData data = ...;                       // from the window and the network
//     std::string error;
//     if (!writeSessionFile(path, data, error)) tell(error);   // the file is whole or untouched
//     std::optional<SessionData> read = readSessionFile(path, error);   // checked whole
//     if (read && sessionFitsNetwork(*read, nodes, keptModes, error)) apply(*read);
#pragma once

#include "common/Vector3d.h"
#include "molecule/SuperAtom.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vornax {

/// The haptic workspace as the device holds it.
struct SessionWorkspace {
    std::array<float, 16> transform{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::array<float, 9> lastRotation{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<float, 9> thisRotation{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<float, 3> translation{};
    bool operator==(const SessionWorkspace&) const = default;
};

/// One kept force.
struct SessionForce {
    int32_t node = 0; ///< index in the network's node list
    Vector3d force;   ///< the kept force, kcal/mol/Å
    float magnitude = 0.0f;
    float eqForce = 0.0f;
    ModeStateArray modeState{}; ///< the route the force went in through
    bool operator==(const SessionForce& o) const
    {
        return node == o.node && force == o.force && magnitude == o.magnitude && eqForce == o.eqForce
            && modeState == o.modeState;
    }
};

struct SessionData {
    int32_t version = 1;
    int32_t saveForces = 0;      ///< 1: "Save Forces" ticked
    int32_t sliderPosition = 10; ///< the force-scaling slider; the factor is this / 10
    SessionWorkspace workspace;
    std::array<int32_t, 20> modeSwitches{}; ///< 1: mode box i + 1 ticked
    std::vector<SessionForce> forces;       ///< ascending node order
    bool operator==(const SessionData&) const = default;
};

namespace session {
constexpr std::size_t kHeaderBytes = 244;
constexpr std::size_t kRecordBytes = 112;
constexpr int32_t kVersion = 1;
/// The most force records a session may hold (one per node; no structure comes near it).
constexpr int32_t kMaxForces = 1 << 22;
/// The force-scaling slider's range.
constexpr int32_t kSliderMin = 0, kSliderMax = 200;
constexpr const char* kFilter = "Vornax Session File (*.vsf)|*.vsf";
constexpr const char* kErrorCaption = "Session File Error";
} // namespace session

/// The file's bytes.
std::vector<unsigned char> encodeSession(const SessionData& data);
/// The count and the force records alone, as the network writes them after the header.
bool writeForceRecords(std::ostream& out, const std::vector<SessionForce>& forces);
/// Reads and checks a whole file's bytes. Nothing (with `error` saying why) for a size that is
/// not 244 + 112·n, another version, a count that is negative or absurd, a value out of range
/// (switches, slider, node indices, mode states, a node given twice) or a number that is not
/// finite.
std::optional<SessionData> decodeSession(const unsigned char* bytes, std::size_t size, std::string& error);
/// writeSessionFile's target is replaced only once every byte is on disk; false with `error`.
bool writeSessionFile(const std::filesystem::path& path, const SessionData& data, std::string& error);
/// The file read and checked whole (decodeSession); its size is checked before it is read.
std::optional<SessionData> readSessionFile(const std::filesystem::path& path, std::string& error);
/// The session names only nodes below `nodes` and modes below `keptModes` (mode switches,
/// mode counts and listed modes), and a force that went through the response matrix Y only
/// when the network `holdsY`; false with `error` otherwise.
bool sessionFitsNetwork(const SessionData& data, int32_t nodes, int32_t keptModes, bool holdsY, std::string& error);

} // namespace vornax
