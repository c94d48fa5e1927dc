// The welcome panel ("Welcome to Vornax ENM"): floats over the middle of the main window at
// start-up when the start-up preference says so. Either of its buttons hides it, writes the
// preference ("0" when "Do not show this message at startup" is ticked, "1" otherwise) and
// then does its own work, which the owner connects to:
//
//     buildWelcomePanel(central, controls);               // with the other controls
//     WelcomePanel panel(controls, &config);
//     connect(&panel, &WelcomePanel::continueChosen, ...); // open a file
//     connect(&panel, &WelcomePanel::tutorialChosen, ...); // start the tutorial
#pragma once

#include "FormControls.h"

#include <QObject>

namespace vornax {

class StartupConfig;

/// The panel's controls, hidden, on `parent` (tutorialWindow, tutorialButton, continueButton,
/// doNotShowBox of `controls`).
void buildWelcomePanel(QWidget* parent, FormControls& controls);

class WelcomePanel final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Welcome to Vornax ENM";
    static constexpr const char* kTutorialButton = "View Tutorial (Recomended for first time users)";
    static constexpr const char* kContinueButton = "Continue to Open a File";
    static constexpr const char* kDoNotShow = "Do not show this message at startup";

    /// `config` (not owned) receives the preference when the panel is left; null keeps none.
    WelcomePanel(const FormControls& controls, StartupConfig* config, QObject* parent = nullptr);

    /// Visible and enabled, over the middle of the window.
    void show();
    bool isShown() const;

signals:
    void continueChosen();
    void tutorialChosen();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void leave();
    void centre();

    FormControls m_c;
    StartupConfig* m_config;
};

} // namespace vornax
