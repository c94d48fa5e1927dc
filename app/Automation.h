// The command line's unattended steps, run in the live window once its load has ended: tick
// "Save Forces", play a stylus script on the virtual device in real time, then take a
// screenshot of the window, write the deformed C-alpha file, say where both went, and quit.
//
//     AutomationOptions steps;
//     steps.stylusScript = "pull.stylus";
//     steps.screenshot = "shot.png";
//     steps.quit = true;
//     Automation automation(window, steps); // before the load ends
//     app.exec();                            // returns automation's exit code with --quit
#pragma once

#include "haptics/StylusScript.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vornax {

class Form1;
class QtPrompts;

struct AutomationOptions {
    std::filesystem::path stylusScript; ///< played on the virtual device; empty: none
    /// The script's steps when they were read already (the command line checks them before
    /// the window opens); empty: read from stylusScript.
    std::vector<StylusStep> scriptSteps;
    std::filesystem::path screenshot;   ///< the window as drawn, at the end; empty: none
    std::filesystem::path viewReport;   ///< the view's report (JSON), at the end; empty: none
    /// Plays this mode (1 = the lowest non-rigid one) held at its largest swing before the
    /// screenshot and the view report; 0: none.
    int animateMode = 0;
    /// A plot of the plots window (PlotsWindow::name) written to plotOut (.png, .svg or .csv) at
    /// the end; empty: none.
    /// The colour map shown from the load on (the index in kColourChoices), and the mode of
    /// ColourBy::ModeShape (1-based); 0: the plain drawing.
    int colourBy = 0;
    int colourByMode = 1;
    std::string plotName;
    std::filesystem::path plotOut;
    std::filesystem::path saveAs;       ///< the deformed C-alpha file, at the end; empty: none
    std::filesystem::path saveSession;  ///< the session file, at the end before saveAs; empty: none
    bool saveForces = false;            ///< tick "Save Forces" once the load is done
    bool quit = false;                  ///< leave the program at the end (exit status 0 when all went well)

    bool any() const { return unattended() || saveForces; }
    /// Nobody is expected at the window: every message goes to stderr and takes its default
    /// answer, and an error ends the run.
    bool unattended() const
    {
        return !stylusScript.empty() || !screenshot.empty() || !viewReport.empty() || !saveAs.empty()
            || !saveSession.empty() || animateMode > 0 || !plotOut.empty() || colourBy != 0 || quit;
    }
};

class Automation final : public QObject {
    Q_OBJECT
public:
    /// `prompts` (not owned, may be null) is the window's: in an unattended run its lines are
    /// not written twice, and an error it reported fails the run.
    Automation(Form1& window, AutomationOptions options, const QtPrompts* prompts = nullptr);

    /// 0 while all goes well; 1 when the load, a step or a reported error failed, 2 when the
    /// session was refused.
    int exitCode() const;
    bool finished() const { return m_finished; }

private:
    void loadEnded(bool ok, const QString& message);
    bool startScript();
    void playStep();
    void finish();
    /// Writes the window's picture to the screenshot file; false with `error` when it failed.
    bool writeScreenshot(std::string& error);
    /// Writes the view's report to the view-report file; false with `error` when it failed.
    bool writeViewReport(std::string& error);
    /// Writes `out` (nothing when empty) with `write`, which gives false and its error when it
    /// fails: the run then fails with "cannot write the WHAT OUT: error"; otherwise "WHAT: OUT" is
    /// printed. False when the run failed.
    bool writeOutput(const std::filesystem::path& out, const std::string& what,
                     const std::function<bool(std::string&)>& write);
    /// Starts --animate-mode held at its peak; false when the run failed.
    bool showAnimation();
    /// Ends the steps with `message` on stderr (left out when the prompts wrote `cause`
    /// already), and ends an unattended run.
    void fail(const std::string& message, int exitCode = 1, const std::string& cause = {});

    Form1& m_window;
    AutomationOptions m_options;
    const QtPrompts* m_prompts;
    QTimer m_player;
    std::vector<StylusStep> m_steps;
    std::size_t m_next = 0;
    std::uint64_t m_stepEnds = 0; ///< servo tick at which the current step is over
    int m_exitCode = 0;
    bool m_finished = false;
    bool m_animationShown = false;
};

} // namespace vornax
