#include "cli/CliSupport.h"

#include "common/Console.h"
#include "common/TextParse.h"
#include "enm/Pipeline.h"

#include <algorithm>
#include <charconv>
#include <iostream>
#include <new>
#include <set>

namespace vornax::cli {

namespace {

ModeSelection::Kind kindOf(const std::string& text, std::string& rest)
{
    for (auto [prefix, kind] : {std::pair{std::string_view("first:"), ModeSelection::Kind::First},
                                std::pair{std::string_view("list:"), ModeSelection::Kind::List}}) {
        if (text.rfind(prefix, 0) == 0) {
            rest = text.substr(prefix.size());
            return kind;
        }
    }
    rest.clear();
    return ModeSelection::Kind::All;
}

[[noreturn]] void malformed(const std::string& text, const std::string& why)
{
    throw CliFailure(kExitInput, "--modes: '" + text + "' " + why + " (expected all, first:N or list:I,J,...)");
}

} // namespace

int reportFailure(int status, const std::string& message)
{
    std::cerr << kProgram << ": error: " << singleLine(message) << std::endl;
    return status;
}

int exitStatusOf(const std::function<int()>& command)
{
    try {
        return command();
    } catch (const CliFailure& e) {
        return reportFailure(e.status(), e.what());
    } catch (const std::bad_alloc&) {
        return reportFailure(kExitInput, "not enough memory for this run");
    } catch (const std::exception& e) {
        return reportFailure(kExitComputation, e.what());
    }
}

std::string singleLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    // Messages quote arguments and input lines: no raw control bytes or broken UTF-8 on stderr.
    return text::printable(text);
}

std::optional<int64_t> parseInteger(const std::string& text)
{
    int64_t value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') ++begin;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end) return std::nullopt;
    return value;
}

ModeSelection parseModeSelection(const std::string& text)
{
    ModeSelection selection;
    if (text == "all") return selection;

    std::string rest;
    selection.kind = kindOf(text, rest);
    if (selection.kind == ModeSelection::Kind::All) malformed(text, "is not a mode selection");

    if (selection.kind == ModeSelection::Kind::First) {
        const auto n = parseInteger(rest);
        const bool digits = !rest.empty() && rest.find_first_not_of("+0123456789") == std::string::npos;
        if (!n && digits) throw CliFailure(kExitInput, "--modes: " + text + " is out of range");
        if (!n) malformed(text, "does not give a whole number of modes");
        if (*n > INT32_MAX) throw CliFailure(kExitInput, "--modes: " + text + " is out of range");
        if (*n < 1) throw CliFailure(kExitInput, "--modes: " + text + " must use at least one mode");
        selection.first = static_cast<int32_t>(*n);
        return selection;
    }

    std::set<int64_t> seen;
    std::size_t pos = 0;
    while (true) {
        const std::size_t comma = rest.find(',', pos);
        const std::string item = rest.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        const auto k = parseInteger(item);
        if (!k) malformed(text, "has an entry that is not a whole number: '" + item + "'");
        if (*k < 0 || *k > INT32_MAX) throw CliFailure(kExitInput, "--modes: mode " + item + " is out of range");
        if (!seen.insert(*k).second) throw CliFailure(kExitInput, "--modes: mode " + item + " is listed twice");
        selection.indices.push_back(static_cast<int32_t>(*k));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    if (selection.indices.size() > ModeSelection::kMaxListed)
        throw CliFailure(kExitInput,
                         "--modes: at most " + std::to_string(ModeSelection::kMaxListed) + " modes can be listed, got "
                             + std::to_string(selection.indices.size()));
    return selection;
}

void checkModeSelection(const ModeSelection& selection, int32_t keptModes)
{
    const std::string range = "the structure has " + std::to_string(keptModes) + " non-rigid modes";
    switch (selection.kind) {
    case ModeSelection::Kind::All: return;
    case ModeSelection::Kind::First:
        if (selection.first > keptModes)
            throw CliFailure(kExitInput,
                             "--modes: first:" + std::to_string(selection.first) + " is out of range: " + range);
        return;
    case ModeSelection::Kind::List:
        for (int32_t k : selection.indices)
            if (k >= keptModes)
                throw CliFailure(kExitInput,
                                 "--modes: mode " + std::to_string(k) + " is out of range: " + range
                                     + " (zero-based, 0 to " + std::to_string(keptModes - 1) + ")");
        return;
    }
}

std::string toString(const ModeSelection& selection)
{
    switch (selection.kind) {
    case ModeSelection::Kind::All: return "all";
    case ModeSelection::Kind::First: return "first:" + std::to_string(selection.first);
    case ModeSelection::Kind::List: {
        std::string text = "list:";
        for (std::size_t i = 0; i < selection.indices.size(); ++i) {
            if (i) text += ',';
            text += std::to_string(selection.indices[i]);
        }
        return text;
    }
    }
    return {};
}

// ---- Diagnostics ------------------------------------------------------------------------------

DiagnosticsRouting::DiagnosticsRouting(bool verbose) : m_verbose(verbose)
{
    console::setSink([this](int attribute, const std::string& text) { receive(attribute, text); });
}

DiagnosticsRouting::~DiagnosticsRouting() { console::setSink({}); }

void DiagnosticsRouting::receive(int attribute, const std::string& text)
{
    if (m_verbose) {
        std::cerr << singleLine(text) << '\n';
    } else if (attribute == console::Warning) {
        std::string line = singleLine(text);
        if (std::find(m_warnings.begin(), m_warnings.end(), line) == m_warnings.end())
            m_warnings.push_back(std::move(line));
    }
}

void DiagnosticsRouting::flushWarnings()
{
    for (const std::string& line : m_warnings) std::cerr << kProgram << ": warning: " << line << '\n';
    m_warnings.clear();
    std::cerr.flush();
}

// ---- Prompts ----------------------------------------------------------------------------------

MessageAnswer UnattendedPrompts::messageBox(const std::string& /*caption*/, const std::string& text, MessageIcon icon,
                                            MessageButtons buttons)
{
    console::write(icon == MessageIcon::Warning || icon == MessageIcon::Error ? console::Warning : console::Information,
                   text);
    const bool yesNo = buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel;
    return yesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

std::optional<std::string> UnattendedPrompts::askText(const TextPrompt& prompt)
{
    console::write(console::Warning, prompt.heading);
    return std::nullopt;
}

AssemblyRequest checkedAssembly(const std::string& id, const std::string& copies, const std::string& file)
{
    AssemblyRequest request;
    if (id.empty() && copies.empty()) return request;
    if (id.empty()) throw CliFailure(kExitInput, "--copies goes with --assembly ID");
    if (isMainEigenDataFile(file))
        throw CliFailure(kExitInput, "--assembly goes with a structure file (PDB or mmCIF) as FILE");
    request.id = id;
    if (!copies.empty()) {
        std::string error;
        auto ids = parseCopyList(copies, error);
        if (!ids) throw CliFailure(kExitInput, "--copies: " + error);
        request.copies = std::move(*ids);
    }
    if (const std::string problem = assemblyRequestProblem(file, request); !problem.empty())
        throw CliFailure(kExitInput, problem);
    return request;
}

} // namespace vornax::cli
