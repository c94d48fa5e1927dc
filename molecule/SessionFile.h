// Session files (.vsf): the state of a pulling session, so that it can be resumed on the same
// structure's eigen data files. Little-endian, no padding, 244 + 112·n bytes:
//
//   int32 version (1), int32 save-forces option, int32 force-scaling slider position,
//   float32[16] workspace transform, float32[9] last rotation, float32[9] current rotation,
//   float32[3] workspace translation, int32[20] mode switches, int32 n, then n force records:
//   int32 node index, float32[3] kept force (kcal/mol/Å), float32 M, float32 eqForce,
//   int32[22] the node's mode state.
//
// After the records our files carry a structure trailer, which readers of the layout above never
// reach (they stop after the n records): char[8] "VXSTRUCT", uint64 fingerprint of the
// structure the session was saved on (its stored record lines, cutoff and node count), int32
// node count, float32 cutoff (Å), int32 name length L (at most 64), L bytes of its name. A file
// without it (an older one) still opens; its structure cannot be checked.
//
//     SessionData data = ...;                       // from the window and the network
//     std::string error;
//     if (!writeSessionFile(path, data, error)) tell(error);   // the file is whole or untouched
//     std::optional<SessionData> read = readSessionFile(path, error);   // checked whole
//     if (read && sessionFitsNetwork(*read, target, error, warning)) apply(*read);
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

/// The structure a session belongs to: the record lines, cutoff and node count it was built
/// from, reduced to a fingerprint, and a name to call it by.
struct SessionStructure {
    uint64_t fingerprint = 0;
    int32_t nodes = 0;
    float rc = 0.0f;  ///< the cutoff, Å
    std::string name; ///< the PDB code or file name, at most 64 bytes
    bool operator==(const SessionStructure&) const = default;
};

struct SessionData {
    int32_t version = 1;
    int32_t saveForces = 0;      ///< 1: "Save Forces" ticked
    int32_t sliderPosition = 10; ///< the force-scaling slider; the factor is this / 10
    SessionWorkspace workspace;
    std::array<int32_t, 20> modeSwitches{}; ///< 1: mode box i + 1 ticked
    std::vector<SessionForce> forces;       ///< ascending node order
    std::optional<SessionStructure> structure; ///< nothing: an older file without the trailer
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
/// The structure trailer: its magic word, its size before the name, the longest name.
constexpr char kTrailerMagic[8] = {'V', 'X', 'S', 'T', 'R', 'U', 'C', 'T'};
constexpr std::size_t kTrailerBytes = 28;
constexpr std::size_t kMaxNameBytes = 64;
/// How far a stored rotation may be from one (its columns' lengths and angles): navigation
/// builds rotations by products of float matrices, whose rounding drifts far less than this.
constexpr double kRotationTolerance = 1e-2;
/// The farthest a stored workspace may be translated, in device millimetres: a kilometre,
/// thousands of times the reach of any device's workspace (some 400 mm). Navigation moves the
/// workspace at most about 0.2 m/s (the cube) or 20 mm per wheel step, so no session gets
/// there but by steady navigation one way for over an hour; within it floats still resolve
/// a tenth of a millimetre and the transforms' products stay finite.
constexpr double kMaxTranslation = 1e6;
constexpr const char* kFilter = "Vornax Session File (*.vsf)|*.vsf";
constexpr const char* kErrorCaption = "Session File Error";
} // namespace session

/// The fingerprint of a structure: the first `count` of its record lines (as the main eigen
/// data file stores them), its cutoff in Å and its node count. `name` is cut to 64 bytes.
SessionStructure describeStructure(const std::vector<std::string>& lines, std::size_t count, float rc, int32_t nodes,
                                   std::string name);

/// What a session is checked against once its eigen data files are loaded.
struct SessionTarget {
    SessionStructure structure; ///< of the loaded network
    int32_t keptModes = 0;
    /// Responses through every mode can be given, or no file could give more than the target
    /// has (the sparse path writes no response matrix file).
    bool allModesHeld = false;
    double kcalPerNewton = 0.0;  ///< a device force of 1 N is this kept force, kcal/mol/Å
    double deviceForce = 0.0;    ///< the most any device pulls with, N
};

/// The file's bytes, with the structure trailer when `data.structure` is set.
std::vector<unsigned char> encodeSession(const SessionData& data);
/// The count and the force records alone, as the network writes them after the header.
bool writeForceRecords(std::ostream& out, const std::vector<SessionForce>& forces);
/// Reads and checks a whole file's bytes. Nothing (with `error` saying why) for a size that is
/// not 244 + 112·n (then a structure trailer or nothing), another version, a count that is
/// negative or absurd, a value out of range (switches, slider, node indices, mode states, a
/// node given twice, a mode listed twice), a workspace that is not a rotation or is translated
/// beyond kMaxTranslation, or a number that is not finite.
std::optional<SessionData> decodeSession(const unsigned char* bytes, std::size_t size, std::string& error);
/// writeSessionFile's target is replaced only once every byte is on disk; false with `error`.
bool writeSessionFile(const std::filesystem::path& path, const SessionData& data, std::string& error);
/// The file read and checked whole (decodeSession); its size is checked before it is read.
std::optional<SessionData> readSessionFile(const std::filesystem::path& path, std::string& error);
/// The session was saved on the target's structure (a file without the trailer passes with
/// `warning` saying that it could not be checked), names only its nodes and modes below
/// `keptModes` (mode switches, mode counts and listed modes), keeps a force that went through
/// every mode only where the target gives such responses, and keeps no force larger than a
/// device could have applied at the session's scaling; false with `error` otherwise.
bool sessionFitsNetwork(const SessionData& data, const SessionTarget& target, std::string& error,
                        std::string& warning);

} // namespace vornax
