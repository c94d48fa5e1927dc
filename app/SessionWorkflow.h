// "Save &Session" and "Open &Session": the questions, the checks, and the state of the window
// that goes into a session file and comes back out of it.
//
//     SessionWorkflow sessions(dialogs, homeFolder);
//     sessions.save([&] { return collectSession(controls, bench); });  // asks, then writes whole
//     std::optional<SessionOpening> opening = sessions.askOpen();       // the file, checked, and
//                                                                      // the eigen data files
//     ... the eigen data files loaded; sessionFitsNetwork(...) checked before the hand-over ...
//     applySession(opening->data, controls, logic, bench);             // on the loaded window
//
// A session comes back as it was saved: the mode switches first (with "Save Forces" ticked the
// mode boxes are locked), the force-scaling slider, "Save Forces", then every kept force into
// the deformation by the route it was recorded with, and the workspace after the view's reset.
#pragma once

#include "LoadDialogLogic.h"

#include "molecule/SessionFile.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace vornax {

class FormLogic;
class Workbench;
struct FormControls;

/// The file dialogs of the two commands.
class SessionDialogs {
public:
    virtual ~SessionDialogs() = default;
    /// A save dialog: the chosen file, nothing when cancelled.
    virtual std::optional<std::string> chooseSaveFile(const FileRequest& request) = 0;
    /// An open dialog: the chosen files, nothing when cancelled.
    virtual std::optional<std::vector<std::string>> chooseFiles(const FileRequest& request) = 0;
};

/// Answers from queues (a dialog with an empty queue is cancelled); records every request.
class ScriptedSessionDialogs final : public SessionDialogs {
public:
    void queueSaveFile(std::optional<std::string> file) { saveFiles.push_back(std::move(file)); }
    void queueFiles(std::optional<std::vector<std::string>> files) { openFiles.push_back(std::move(files)); }
    std::optional<std::string> chooseSaveFile(const FileRequest& request) override;
    std::optional<std::vector<std::string>> chooseFiles(const FileRequest& request) override;

    std::vector<FileRequest> requests;

private:
    std::deque<std::optional<std::string>> saveFiles;
    std::deque<std::optional<std::vector<std::string>>> openFiles;
};

/// Qt's file dialogs, modal on `parent`.
class QtSessionDialogs final : public SessionDialogs {
public:
    explicit QtSessionDialogs(QWidget* parent) : m_parent(parent) {}
    std::optional<std::string> chooseSaveFile(const FileRequest& request) override;
    std::optional<std::vector<std::string>> chooseFiles(const FileRequest& request) override;

private:
    QWidget* m_parent;
    std::string m_lastFolder;
};

/// What "Open &Session" settled before anything is loaded.
struct SessionOpening {
    std::string file;
    SessionData data;
    std::vector<std::string> eigenFiles; ///< a .hdv, and a .ppy when chosen
};

class SessionWorkflow {
public:
    static constexpr const char* kSaveTitle = "Save Session";
    static constexpr const char* kOpenTitle = "Open Session";
    static constexpr const char* kEigenTitle = "Select the eigen data files of the session's structure";

    /// `homeFolder`: where the save dialog starts until a folder has been used.
    SessionWorkflow(SessionDialogs& dialogs, std::string homeFolder);

    /// "Save &Session": the save dialog, then `collect`'s session written whole (a file that
    /// cannot be written is reported and leaves no half-written file). False when cancelled
    /// or not written.
    bool save(const std::function<SessionData()>& collect);
    /// "Open &Session": the session file, read and checked whole (a file that is refused is
    /// reported), then the eigen data files. Nothing when a dialog is cancelled, the file is
    /// refused or no ".hdv" file is among those chosen.
    std::optional<SessionOpening> askOpen();
    /// The same for a session file already chosen (dropped on the window, or a recent one).
    std::optional<SessionOpening> askOpen(const std::string& file);

    /// The folder the save dialog starts in.
    const std::string& saveFolder() const { return m_folder; }

private:
    SessionDialogs& m_dialogs;
    std::string m_folder;
};

/// The window's session: the switches and sliders of `c`, the device's workspace and the
/// network's kept forces.
SessionData collectSession(const FormControls& c, const Workbench& bench);
/// Puts `data` back on a loaded window whose network it fits (sessionFitsNetwork).
void applySession(const SessionData& data, const FormControls& c, FormLogic& logic, Workbench& bench);

} // namespace vornax
