// What the main window offers a user who needs guidance: the welcome panel at start-up (with the
// start-up preference behind it), the tutorial pop-up, the help window and the about box, and
// the Help menu and F1 that open them.
//
//     UserGuide guide(window, controls, logic, home, true, helpFolder);  // reads the preference
//     connect(&guide, &UserGuide::openRequested, ...);     // "Continue to Open a File", tutorial
//     connect(&guide, &UserGuide::tutorialRunning, ...);   // the load dialogs follow the tutorial
#pragma once

#include "FormControls.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>

class QWidget;

namespace vornax {

class FormLogic;
class HelpWindow;
class StartupConfig;
class TutorialWindow;
class WelcomePanel;

class UserGuide final : public QObject {
    Q_OBJECT
public:
    /// Connects the Help menu of `controls` and F1 of `logic`. With a `profileFolder` the start-up
    /// preference is read (and created when missing) and the welcome panel shown when it says so
    /// and `welcomeAllowed`; without one no preference is kept and the panel stays hidden.
    UserGuide(QWidget& window, const FormControls& controls, FormLogic& logic,
              const std::filesystem::path& profileFolder, bool welcomeAllowed, const QString& helpFolder);
    ~UserGuide() override;

    WelcomePanel& welcome() const { return *m_welcome; }
    HelpWindow& help() const { return *m_help; }
    TutorialWindow& tutorial() const { return *m_tutorial; }
    /// The start-up preference, or null when none is kept.
    StartupConfig* config() const { return m_config.get(); }

    /// The tutorial from its first step.
    void startTutorial();
    /// The load asks for the eigen data files: the tutorial shows how, when it runs.
    void eigenFilesAsked();
    /// A load ended: the tutorial, when it runs, goes on to pulling.
    void loadEnded(bool ok);
    /// The about box, modal.
    void showAbout();

signals:
    /// "Continue to Open a File", or the tutorial's "Open a File Now".
    void openRequested();
    /// The tutorial started (true) or was closed (false).
    void tutorialRunning(bool running);

private:
    QWidget& m_window;
    std::unique_ptr<StartupConfig> m_config;
    WelcomePanel* m_welcome = nullptr;
    HelpWindow* m_help = nullptr;
    TutorialWindow* m_tutorial = nullptr;
    bool m_tutorialRunning = false;
};

} // namespace vornax
