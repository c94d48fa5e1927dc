#include "haptics/StylusScript.h"

#include "common/InputFile.h"

#include <charconv>
#include <cmath>
#include <sstream>

namespace vornax {

namespace {

bool readInteger(const std::string& token, int64_t& out)
{
    const char* end = token.data() + token.size();
    const auto [ptr, ec] = std::from_chars(token.data(), end, out);
    return ec == std::errc() && ptr == end;
}

bool readNumber(const std::string& token, double& out)
{
    const char* end = token.data() + token.size();
    const auto [ptr, ec] = std::from_chars(token.data(), end, out);
    return ec == std::errc() && ptr == end && std::isfinite(out);
}

} // namespace

std::optional<std::vector<StylusStep>> parseStylusScript(std::istream& in, std::string& error)
{
    std::vector<StylusStep> steps;
    std::string text;
    int32_t lineNumber = 0;
    int64_t totalTicks = 0;
    auto fail = [&](const std::string& why) {
        error = "script line " + std::to_string(lineNumber) + ": " + why;
        return std::nullopt;
    };
    constexpr std::size_t kMaxLine = 1024; // far more than any step needs
    while (true) {
        const LineRead read = readBoundedLine(in, text, kMaxLine);
        if (read == LineRead::End) break;
        ++lineNumber;
        if (read == LineRead::TooLong) return fail("longer than " + std::to_string(kMaxLine) + " characters");
        std::istringstream fields(text);
        std::vector<std::string> tokens;
        for (std::string token; fields >> token;) tokens.push_back(token);
        if (tokens.empty() || tokens[0][0] == '#') continue;

        StylusStep step;
        step.line = lineNumber;
        if (!readInteger(tokens[0], step.ticks) || step.ticks <= 0)
            return fail("TICKS must be a positive whole number, got \"" + tokens[0] + "\"");
        std::size_t next = 1;
        if (tokens.size() > 1 && tokens[1] == "node") {
            if (tokens.size() != 7) return fail("expected TICKS node J DX DY DZ BUTTONS");
            int64_t node = 0;
            if (!readInteger(tokens[2], node) || node < 0 || node > INT32_MAX)
                return fail("node index must be a whole number from 0, got \"" + tokens[2] + "\"");
            step.atNode = true;
            step.node = static_cast<int32_t>(node);
            next = 3;
        } else if (tokens.size() != 5) {
            return fail("expected TICKS X Y Z BUTTONS or TICKS node J DX DY DZ BUTTONS");
        }
        for (int i = 0; i < 3; ++i)
            if (!readNumber(tokens[next + static_cast<std::size_t>(i)], step.position[i])
                || std::fabs(step.position[i]) > 1e6)
                return fail("coordinates must be finite numbers of mm, got \""
                            + tokens[next + static_cast<std::size_t>(i)] + "\"");
        int64_t buttons = 0;
        if (!readInteger(tokens[next + 3], buttons) || buttons < 0 || buttons > 3)
            return fail("BUTTONS must be 0, 1, 2 or 3, got \"" + tokens[next + 3] + "\"");
        step.buttons = static_cast<int32_t>(buttons);
        totalTicks += step.ticks;
        if (step.ticks > kMaxScriptTicks || totalTicks > kMaxScriptTicks)
            return fail("the script asks for more than " + std::to_string(kMaxScriptTicks) + " ticks");
        steps.push_back(step);
    }
    if (in.bad()) {
        error = "the script could not be read";
        return std::nullopt;
    }
    return steps;
}

bool checkScriptNodes(const std::vector<StylusStep>& steps, int32_t nodes, std::string& error)
{
    for (const StylusStep& step : steps) {
        if (step.atNode && step.node >= nodes) {
            error = "script line " + std::to_string(step.line) + ": node " + std::to_string(step.node)
                + " does not exist (the network has " + std::to_string(nodes) + " nodes)";
            return false;
        }
    }
    return true;
}

} // namespace vornax
