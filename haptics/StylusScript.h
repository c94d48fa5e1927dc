// Scripted stylus motion for replaying a session on the virtual device.
//
// One step per line; blank lines and lines whose first non-blank character is '#' are ignored:
//   TICKS X Y Z BUTTONS              hold the stylus at (X, Y, Z) mm, device frame
//   TICKS node J DX DY DZ BUTTONS    hold it at node J's undeformed position in device
//                                    coordinates plus (DX, DY, DZ) mm
// TICKS is a positive whole number of servo ticks, BUTTONS the button bits (1 front, 2 back).
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace vornax {

struct StylusStep {
    int64_t ticks = 0;
    bool atNode = false;                  ///< position relative to a node's undeformed position
    int32_t node = -1;                    ///< when atNode
    double position[3] = {0.0, 0.0, 0.0}; ///< mm: absolute, or the offset from the node
    int32_t buttons = 0;
    int32_t line = 0; ///< line number in the script, from 1
};

/// Most servo ticks a script may ask for in all (about three hours at 1 kHz).
inline constexpr int64_t kMaxScriptTicks = 10'000'000;

/// Reads a script. On the first bad line returns nothing and sets `error` to one line naming it.
std::optional<std::vector<StylusStep>> parseStylusScript(std::istream& in, std::string& error);

/// Checks the node references of `steps` against a network of `nodes` nodes; false with
/// `error` set when one is out of range.
bool checkScriptNodes(const std::vector<StylusStep>& steps, int32_t nodes, std::string& error);

} // namespace vornax
