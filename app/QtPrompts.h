// Message boxes and text prompts of the logic, shown as Qt dialogs. Callable from any thread:
// a question from a worker thread is put to the window thread and the worker waits for the
// answer, unless the window is going away (then the default answer comes at once).
//
// In an unattended run nobody is at the window: every message becomes one line on stderr and
// takes its default answer (OK, Yes, no text, no colour); an error also ends the run with exit
// status 1.
#pragma once

#include "common/UserPrompts.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace vornax {

class QtPrompts final : public UserPrompts {
public:
    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                             MessageButtons buttons) override;
    std::optional<std::string> askText(const TextPrompt& prompt) override;
    /// Qt's colour dialog.
    std::optional<Rgb8> askColour(const std::string& title) override;

    /// From now on questions from other threads get the default answer without a dialog.
    void stopAsking() { m_stopped.store(true); }

    /// Messages go to stderr instead of dialogs (see above).
    void setUnattended(bool on) { m_unattended.store(on); }
    /// An error message was written in an unattended run.
    bool errorReported() const { return m_errorReported.load(); }
    /// `text` was written as one of the unattended run's lines.
    bool reported(const std::string& text) const;

private:
    /// The unattended form of a message: its line on stderr, and its default answer.
    MessageAnswer writeLine(const std::string& caption, const std::string& text, MessageIcon icon,
                            MessageButtons buttons);

    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_unattended{false};
    std::atomic<bool> m_errorReported{false};
    mutable std::mutex m_linesMutex;
    std::vector<std::string> m_lines; ///< the texts written, in order
};

} // namespace vornax
