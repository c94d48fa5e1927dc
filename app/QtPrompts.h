// Message boxes and text prompts of the logic, shown as Qt dialogs. Callable from any thread:
// a question from a worker thread is put to the window thread and the worker waits for the
// answer, unless the window is going away (then the default answer comes at once).
#pragma once

#include "common/UserPrompts.h"

#include <atomic>

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

private:
    std::atomic<bool> m_stopped{false};
};

} // namespace vornax
