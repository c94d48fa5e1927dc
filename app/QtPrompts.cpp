#include "QtPrompts.h"

#include "PdbCodeDialog.h"

#include <QApplication>
#include <QColorDialog>
#include <QMessageBox>
#include <QThread>

#include <iostream>

namespace vornax {

namespace {

/// Runs `ask` on the window thread and returns its answer, or `fallback` when that is not
/// possible (no application, or asking has stopped).
template <typename T, typename F>
T onWindowThread(const std::atomic<bool>& stopped, T fallback, F ask)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return fallback;
    if (QThread::currentThread() == app->thread()) return ask();
    if (stopped.load()) return fallback;
    T answer = fallback;
    QMetaObject::invokeMethod(
        app, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
    return answer;
}

MessageAnswer fromButton(int button)
{
    switch (button) {
    case QMessageBox::Ok: return MessageAnswer::Ok;
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    default: return MessageAnswer::Cancel;
    }
}

} // namespace

MessageAnswer QtPrompts::writeLine(const std::string& caption, const std::string& text, MessageIcon icon,
                                   MessageButtons buttons)
{
    // One line: the box's line breaks become spaces.
    std::string flat;
    for (const char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            if (!flat.empty() && flat.back() != ' ') flat += ' ';
            continue;
        }
        flat += c;
    }
    while (!flat.empty() && flat.back() == ' ') flat.pop_back();
    const bool error = icon == MessageIcon::Error;
    {
        std::lock_guard<std::mutex> lock(m_linesMutex);
        std::cerr << "vornax: " << (error ? "error: " : icon == MessageIcon::Warning ? "warning: " : "") << caption
                  << ": " << flat << std::endl;
        m_lines.push_back(text);
    }
    if (error && !m_errorReported.exchange(true)) {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    }
    const bool yesNo = buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel;
    return yesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

bool QtPrompts::reported(const std::string& text) const
{
    std::lock_guard<std::mutex> lock(m_linesMutex);
    for (const std::string& line : m_lines)
        if (line == text) return true;
    return false;
}

MessageAnswer QtPrompts::messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                                    MessageButtons buttons)
{
    if (m_unattended.load()) return writeLine(caption, text, icon, buttons);
    const MessageAnswer fallback = buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    return onWindowThread(m_stopped, fallback, [&] {
        QMessageBox box;
        box.setWindowTitle(QString::fromStdString(caption));
        box.setText(QString::fromStdString(text));
        switch (icon) {
        case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
        case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
        case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
        case MessageIcon::None: break;
        }
        switch (buttons) {
        case MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
        case MessageButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
        case MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
        case MessageButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
        }
        return fromButton(box.exec());
    });
}

std::optional<std::string> QtPrompts::askText(const TextPrompt& prompt)
{
    if (m_unattended.load()) {
        writeLine(prompt.title, prompt.heading + " (no answer in an unattended run)", MessageIcon::Warning,
                  MessageButtons::Ok);
        return std::nullopt;
    }
    return onWindowThread(m_stopped, std::optional<std::string>{}, [&]() -> std::optional<std::string> {
        PdbCodeDialog dialog(prompt);
        return dialog.ask();
    });
}

std::optional<Rgb8> QtPrompts::askColour(const std::string& title)
{
    if (m_unattended.load()) return std::nullopt;
    return onWindowThread(m_stopped, std::optional<Rgb8>{}, [&]() -> std::optional<Rgb8> {
        const QColor c = QColorDialog::getColor(Qt::white, QApplication::activeWindow(), QString::fromStdString(title));
        if (!c.isValid()) return std::nullopt;
        return Rgb8{c.red(), c.green(), c.blue()};
    });
}

} // namespace vornax
