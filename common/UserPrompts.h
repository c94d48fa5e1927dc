// Questions and messages that the logic puts to the user, without depending on a toolkit.
//
// The core calls userPrompts(); the window program installs a Qt implementation, headless
// programs the console one, and tests a ScriptedPrompts with canned answers.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vornax {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

/// A modal dialog with one text box.
struct TextPrompt {
    std::string title;           ///< window title, e.g. "File Data Warning"
    std::string heading;         ///< bold line above the prompt
    std::string prompt;          ///< label of the text box
    std::string buttonText;      ///< text of the accepting button, e.g. "Enter"
    bool requireNonEmpty = true; ///< the button closes the dialog only when the box is not empty
};

/// A colour as the colour dialog gives it: 8-bit red, green and blue.
struct Rgb8 {
    int red = 0;
    int green = 0;
    int blue = 0;
};

class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    /// Shows a modal message box and returns the button pressed.
    virtual MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                                     MessageButtons buttons) = 0;

    /// Shows a text-entry dialog; returns the entered text, or nothing when the user gave none
    /// (dialog cancelled, no input available).
    virtual std::optional<std::string> askText(const TextPrompt& prompt) = 0;

    /// Shows the colour dialog titled `title`; the chosen colour, or nothing when it was
    /// cancelled. Without a dialog to show (the default) nothing is chosen.
    virtual std::optional<Rgb8> askColour(const std::string& title);
};

/// The prompt implementation in use. Defaults to the console implementation.
UserPrompts& userPrompts();
/// Installs `prompts` (not owned); nullptr restores the console implementation.
void setUserPrompts(UserPrompts* prompts);

/// Headless implementation: messages go to the console as warning lines. On an interactive
/// terminal questions are asked on standard input; otherwise OK/Yes is answered and no
/// text is entered.
class ConsolePrompts : public UserPrompts {
public:
    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                             MessageButtons buttons) override;
    std::optional<std::string> askText(const TextPrompt& prompt) override;
};

/// Test double: records every call and answers from queues (OK/Yes and "no text" when empty).
class ScriptedPrompts : public UserPrompts {
public:
    struct Message {
        std::string caption;
        std::string text;
        MessageIcon icon;
        MessageButtons buttons;
    };

    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                             MessageButtons buttons) override;
    std::optional<std::string> askText(const TextPrompt& prompt) override;
    /// The next queued colour; nothing (a cancelled dialog) when the queue is empty.
    std::optional<Rgb8> askColour(const std::string& title) override;

    void queueAnswer(MessageAnswer answer);
    void queueText(std::optional<std::string> text);
    void queueColour(std::optional<Rgb8> colour);

    std::vector<Message> messages() const;
    std::vector<TextPrompt> textPrompts() const;
    /// The titles of the colour dialogs asked for, in order.
    std::vector<std::string> colourPrompts() const;
    /// Number of message boxes whose text contains `fragment`.
    int countMessages(const std::string& fragment) const;

private:
    mutable std::mutex m_mutex;
    std::deque<MessageAnswer> m_answers;
    std::deque<std::optional<std::string>> m_texts;
    std::deque<std::optional<Rgb8>> m_colours;
    std::vector<std::string> m_colourPrompts;
    std::vector<Message> m_messages;
    std::vector<TextPrompt> m_textPrompts;
};

/// Installs a prompt implementation for the lifetime of the object.
class ScopedUserPrompts {
public:
    explicit ScopedUserPrompts(UserPrompts* prompts) { setUserPrompts(prompts); }
    ~ScopedUserPrompts() { setUserPrompts(nullptr); }
    ScopedUserPrompts(const ScopedUserPrompts&) = delete;
    ScopedUserPrompts& operator=(const ScopedUserPrompts&) = delete;
};

} // namespace vornax
