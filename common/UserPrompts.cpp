#include "common/UserPrompts.h"

#include "common/Console.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace vornax {

namespace {

std::atomic<UserPrompts*> g_prompts{nullptr};

bool stdinIsTerminal() { return ::isatty(::fileno(stdin)) == 1; }

MessageAnswer defaultAnswer(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok:
    case MessageButtons::OkCancel: return MessageAnswer::Ok;
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel: return MessageAnswer::Yes;
    }
    return MessageAnswer::Ok;
}

} // namespace

UserPrompts& userPrompts()
{
    static ConsolePrompts consolePrompts;
    UserPrompts* p = g_prompts.load(std::memory_order_acquire);
    return p ? *p : consolePrompts;
}

void setUserPrompts(UserPrompts* prompts) { g_prompts.store(prompts, std::memory_order_release); }

MessageAnswer ConsolePrompts::messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                                         MessageButtons buttons)
{
    const int attribute =
        (icon == MessageIcon::Warning || icon == MessageIcon::Error) ? console::Warning : console::Information;
    console::write(attribute, "[" + caption + "] " + text);
    if (buttons == MessageButtons::Ok || !stdinIsTerminal()) return defaultAnswer(buttons);

    const bool yesNo = buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel;
    const bool cancel = buttons != MessageButtons::YesNo;
    for (;;) {
        std::cout << (yesNo ? (cancel ? "[y]es / [n]o / [c]ancel? " : "[y]es / [n]o? ") : "[o]k / [c]ancel? ")
                  << std::flush;
        std::string reply;
        if (!std::getline(std::cin, reply)) return cancel ? MessageAnswer::Cancel : MessageAnswer::No;
        const char c = reply.empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>(reply[0])));
        if (yesNo && c == 'y') return MessageAnswer::Yes;
        if (yesNo && c == 'n') return MessageAnswer::No;
        if (!yesNo && c == 'o') return MessageAnswer::Ok;
        if (cancel && c == 'c') return MessageAnswer::Cancel;
    }
}

std::optional<std::string> ConsolePrompts::askText(const TextPrompt& prompt)
{
    console::write(console::Warning, "[" + prompt.title + "] " + prompt.heading);
    if (!stdinIsTerminal()) return std::nullopt;
    for (;;) {
        std::cout << prompt.prompt << ": " << std::flush;
        std::string reply;
        if (!std::getline(std::cin, reply)) return std::nullopt;
        if (!reply.empty() || !prompt.requireNonEmpty) return reply;
    }
}

std::optional<Rgb8> UserPrompts::askColour(const std::string& title)
{
    console::write(console::Warning, "[" + title + "] no colour dialog to show: no colour chosen");
    return std::nullopt;
}

MessageAnswer ScriptedPrompts::messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                                          MessageButtons buttons)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back({caption, text, icon, buttons});
    if (m_answers.empty()) return defaultAnswer(buttons);
    const MessageAnswer a = m_answers.front();
    m_answers.pop_front();
    return a;
}

std::optional<std::string> ScriptedPrompts::askText(const TextPrompt& prompt)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_textPrompts.push_back(prompt);
    if (m_texts.empty()) return std::nullopt;
    auto t = m_texts.front();
    m_texts.pop_front();
    return t;
}

std::optional<Rgb8> ScriptedPrompts::askColour(const std::string& title)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_colourPrompts.push_back(title);
    if (m_colours.empty()) return std::nullopt;
    const std::optional<Rgb8> c = m_colours.front();
    m_colours.pop_front();
    return c;
}

void ScriptedPrompts::queueAnswer(MessageAnswer answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(answer);
}

void ScriptedPrompts::queueText(std::optional<std::string> text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts.push_back(std::move(text));
}

void ScriptedPrompts::queueColour(std::optional<Rgb8> colour)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_colours.push_back(colour);
}

std::vector<std::string> ScriptedPrompts::colourPrompts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_colourPrompts;
}

std::vector<ScriptedPrompts::Message> ScriptedPrompts::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<TextPrompt> ScriptedPrompts::textPrompts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_textPrompts;
}

int ScriptedPrompts::countMessages(const std::string& fragment) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& m : m_messages)
        if (m.text.find(fragment) != std::string::npos) ++n;
    return n;
}

} // namespace vornax
