// Pieces of vornax-enm that do not compute anything: failures with their exit status, the
// --modes grammar, and where the engine's console lines and questions go in a headless run.
#pragma once

#include "common/UserPrompts.h"
#include "molecule/StructureFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vornax::cli {

/// The program's name, as its help, errors and warnings give it.
constexpr const char* kProgram = "vornax-enm";

/// Exit statuses of the program.
enum ExitStatus : int {
    kExitOk = 0,
    kExitComputation = 1, ///< the computation itself failed (memory, solver)
    kExitInput = 2,       ///< bad arguments, unreadable or unusable input, unwritable output
};

/// A failure reported as one line on stderr, ending the program with `status`.
class CliFailure : public std::runtime_error {
public:
    CliFailure(int status, const std::string& message) : std::runtime_error(message), m_status(status) {}
    int status() const { return m_status; }

private:
    int m_status;
};

/// Writes the program's one line on stderr for a failure ("vornax-enm: error: ..."); returns
/// `status`.
int reportFailure(int status, const std::string& message);

/// Runs `command` and returns its exit status. Whatever it throws ends the run with one line
/// on stderr: a CliFailure with its own status, memory that runs out as a bad input (2), any
/// other exception as a failed computation (1).
int exitStatusOf(const std::function<int()>& command);

/// Which modes a response goes through (--modes).
struct ModeSelection {
    enum class Kind { All, First, List };
    Kind kind = Kind::All;
    int32_t first = 0;            ///< Kind::First: how many of the lowest kept modes
    std::vector<int32_t> indices; ///< Kind::List: zero-based non-rigid mode indices

    /// Most modes a list may name (the engine's selection holds this many).
    static constexpr std::size_t kMaxListed = 20;
};

/// Reads `all`, `first:N` or `list:I,J,…` (decimal integers, no blanks). Ranges are checked
/// later by checkModeSelection, once the number of modes is known. Throws CliFailure.
ModeSelection parseModeSelection(const std::string& text);
/// Checks `selection` against `keptModes` (3N − 6). Throws CliFailure.
void checkModeSelection(const ModeSelection& selection, int32_t keptModes);
/// Canonical text of a selection (`all`, `first:12`, `list:0,3,5`).
std::string toString(const ModeSelection& selection);

/// `text` with line breaks turned into blanks, trailing blanks removed, and control bytes and
/// invalid UTF-8 shown as \xNN.
std::string singleLine(std::string text);

/// The assembly of --assembly ID and --copies LIST for the structure `file`. --copies needs
/// --assembly, neither goes with a main eigen data file, and the file must describe the
/// assembly and copies asked for (assemblyRequestProblem). Throws CliFailure.
AssemblyRequest checkedAssembly(const std::string& id, const std::string& copies, const std::string& file);

/// Strict decimal number reading for option values that arrive as text.
std::optional<int64_t> parseInteger(const std::string& text);

/// Routes the engine's console lines for the lifetime of the object: with `verbose` every line
/// goes to stderr as it comes; otherwise warnings are kept (duplicates once) for
/// flushWarnings and the rest is dropped. Also picks up the engine's own timing of Y.
class DiagnosticsRouting {
public:
    explicit DiagnosticsRouting(bool verbose);
    ~DiagnosticsRouting();
    DiagnosticsRouting(const DiagnosticsRouting&) = delete;
    DiagnosticsRouting& operator=(const DiagnosticsRouting&) = delete;

    /// Writes the kept warnings to stderr, one line each, prefixed with the program name.
    void flushWarnings();

private:
    void receive(int attribute, const std::string& text);

    bool m_verbose;
    std::vector<std::string> m_warnings;
};

/// Questions from the reader and the engine in a run nobody watches: never reads stdin,
/// answers OK/Yes and enters no text; messages become console warning lines.
class UnattendedPrompts : public UserPrompts {
public:
    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                             MessageButtons buttons) override;
    std::optional<std::string> askText(const TextPrompt& prompt) override;
};

} // namespace vornax::cli
