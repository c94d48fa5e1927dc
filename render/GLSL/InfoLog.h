// Compiler and linker logs on the console, as whole lines.
#pragma once

#include "common/Console.h"

#include <sstream>
#include <string>

namespace vornax::GLSL {

/// Writes a multi-line log as whole console lines, the first one after `heading`.
inline void writeLog(const std::string& heading, const std::string& log)
{
    std::istringstream in(log);
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!first && line.empty()) continue;
        console::line(first ? heading + line : line);
        first = false;
    }
    if (first) console::line(heading);
}

} // namespace vornax::GLSL
