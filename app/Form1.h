// The program's main window: the 3-D view, the menus and pages of controls, a status line, a
// structure loaded in the background and the 10 ms control loop.
//
// The controls are built by buildFormControls and driven by FormLogic (the loop step, the
// read-outs, the mode selection and every control's handler); Form1 adds what needs the window
// itself: the GL surface, keys and mouse, the menus' dialogs, the load and the shutdown order.
// UserGuide adds the welcome panel (with the start-up preference), the tutorial pop-up, the help
// window and the about box, and connects the Help menu and F1 to them.
//
// "&Open" (and a file named on the command line, as a PDB load with the answers given by the
// options) asks the load's questions through LoadWorkflow, then runs runLoadPipeline on a
// worker thread while the view keeps drawing its idle scene; the status line names the stage.
// A computed load stops after the network is built for the set-up questions (asked on the
// window thread), then goes on. When the work ends (and the view's GL context exists) the
// window opens the haptic device when asked to, hands the molecule and the network to its
// workbench (which the view draws), reads ElNemo or text eigen data, sets up the mode controls,
// marks the network initialised and starts the simulation thread, all through the workbench.
#pragma once

#include "FormControls.h"
#include "LoadWorkflow.h"
#include "MouseStylus.h"
#include "SessionWorkflow.h"

#include "enm/Pipeline.h"

#include <QMainWindow>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QLabel;
class QTimer;

namespace vornax {

class AdvancedOptionsDialog;
class COpenGL;
class FormLogic;
class ColouringPage;
class MapLegend;
class PlotsWindow;
class NetworkFileHandle;
class QtPrompts;
class RecentFiles;
class SurfaceFormView;
class UserGuide;
class ViewSurface;
class Workbench;

struct WindowOptions {
    std::filesystem::path file; ///< the structure to load; empty loads nothing
    /// How `file` is loaded (load::PdbFile, ElNemo, EigenFiles or TextFile).
    int32_t loadChoice = load::PdbFile;
    float rc = 11.0f; ///< Å
    /// PdbFile: the biological assembly of `file` to load (and which of its copies), asked
    /// for no more; an empty request loads the file's own content.
    AssemblyRequest assembly;
    std::filesystem::path ppy;                  ///< EigenFiles: the response matrix file, if any
    std::vector<std::filesystem::path> modeFiles; ///< ElNemo: the mode files
    /// ElNemo: the text pasted into the eigenvalue dialog; nothing closes the dialog.
    std::optional<std::string> eigenvalueText;
    std::filesystem::path eigenFile; ///< TextFile: the text eigen data file
    /// Open the haptic device at the end of the load (the HDAPI layer's choice of device).
    bool openDevice = true;
    /// Use quad-buffer stereo where the driver offers it.
    bool allowStereo = true;
    /// The folder for the eigen data files of a structure loaded from `file`; empty writes none.
    std::filesystem::path saveDir;
    /// The load's questions (not owned); null uses the Qt dialogs. `file` is loaded through
    /// the same questions, answered from the options when this is null.
    LoadDialogs* dialogs = nullptr;
    /// The user's profile folder, which keeps the start-up preference (VornaxConfig/VConf);
    /// empty keeps none and shows no welcome panel.
    std::filesystem::path profileFolder;
    /// `file` is only the structure opened when none is named: it is not loaded while the
    /// welcome panel offers the tutorial or a file of the user's choice.
    bool fileIsDefault = false;
    /// A session (already read and checked) to resume on the eigen data files `file`.
    std::optional<SessionData> session;
    /// The session commands' file dialogs (not owned); null uses Qt's.
    SessionDialogs* sessionDialogs = nullptr;
    /// A computed load of this many nodes or more is pullable as soon as its lowest modes are
    /// ready; every mode follows in the background where memory allows (0: every mode first).
    int32_t pullFirstNodes = 1000;
    /// Tests: called on the background thread before it computes every mode.
    std::function<void()> everyModeStarts;
};

class Form1 final : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(WindowOptions options, QtPrompts* prompts = nullptr);
    ~Form1() override;

    /// The view, once its GL context exists.
    COpenGL* view() const;
    /// The loaded structure: network, device and simulation thread.
    Workbench& workbench() const { return *m_workbench; }
    ViewSurface* surface() const { return m_surface; }
    const FormControls& controls() const { return m_controls; }
    FormLogic& logic() const { return *m_logic; }
    /// The colour map's legend over the view.
    const MapLegend& mapLegend() const { return *m_legend; }
    /// The plots window (View > Plots).
    PlotsWindow& plots() const { return *m_plots; }
    /// The "Colouring" page's residue highlights and colour maps.
    ColouringPage& colouringPage() const { return *m_colouringPage; }
    /// The text of the status line.
    QString statusText() const;
    /// The mouse's stylus (active while the view's device is the virtual one).
    const MouseStylus& mouseStylus() const { return m_stylus; }
    bool loading() const { return m_worker.joinable() && !m_loadDone.load(); }
    /// The load's questions.
    LoadWorkflow& workflow() { return *m_workflow; }
    /// The network is on the view and initialised.
    bool loaded() const { return m_loaded; }
    /// The device in use is the virtual one, driven by the mouse.
    bool usingMouseStylus() const;
    /// The welcome panel, tutorial, help window and about box.
    UserGuide& guide() const { return *m_guide; }

public slots:
    /// "&Open": the load workflow's entry. Whenever no load is running: a new structure replaces
    /// the one on the window once it is loaded (its forces kept, the user is first asked whether
    /// to save its session).
    void openFile();
    /// A structure, main eigen data file or session named (dropped on the window, or recent),
    /// opened as "&Open" or "Open &Session" would open it.
    void openPath(const QString& file);
    /// "Save &As": the deformed C-alpha atoms to a PDB file.
    void saveAs();
    /// "Mouse Stylus" (menu entry and check box): the mouse drives the virtual device's stylus,
    /// or (off) the arm is used where one is installed. Takes effect at once on a loaded
    /// structure, otherwise when the load opens the device.
    void setMouseStylus(bool on);
    /// "Open &Session": the session file and its eigen data files, loaded, then the session.
    void openSession();
    /// "Save &Session".
    void saveSession();

public:
    /// The session of the loaded structure written to `file` (whole, or not at all).
    bool saveSessionTo(const std::filesystem::path& file, std::string& error);
    /// The last load ended because its session did not fit the eigen data files.
    bool sessionRefused() const { return m_sessionRefused; }
    /// The structures and sessions opened last, newest first.
    const RecentFiles& recentFiles() const { return *m_recent; }

signals:
    /// The load ended: `ok` with the network on the view, otherwise with `message` shown.
    void loadEnded(bool ok, const QString& message);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class CancelProgress;

    void connectMenus();
    /// No load is running (nor waiting to be handed over) and the window stays open.
    bool canOpen() const;
    /// Before another structure replaces one with kept forces: whether to save its session
    /// first. False when the user cancels (nothing is opened then).
    bool offerToSaveSession();
    /// The structure on the window stops (simulation, device) and its controls start again.
    void closeStructure();
    void startSession(std::optional<SessionOpening> opening);
    void refreshRecent();
    void showAdvancedOptions();
    void startLoad(const LoadRequest& request);
    /// The set-up questions of a computed load, put by the worker once the network is built.
    void answerSetupQuestions();
    void finishElNemo();
    void finishTextFile();
    /// The load's cutoff in Å.
    float cutoff() const;
    void tick();
    /// The load's progress bar for the stage under way.
    void showProgress(int stage);
    void setStatus(const QString& text);
    void loadFinished();
    void handOver();
    /// The device at the end of a load: the HDAPI layer's choice; the mouse stylus when no arm
    /// opens. Context current.
    bool openFirstDevice(int32_t& model);
    /// The controls and the information text for a device in use, or none.
    void showDeviceState(bool device);
    /// Both mouse stylus controls ticked or not, without running the switch.
    void showMouseStylus(bool on);
    /// The atoms the device touches (none for eigen data files).
    const std::vector<Atom*>& deviceAtoms() const;
    /// The status line's note on the device.
    QString deviceNote() const;
    /// The status line of a loaded structure: its code, nodes, modes and device.
    void showLoadedStatus();
    void joinWorker();
    void setUpSessions();
    /// A session waiting for the load: false (the load dropped, the user told) when it does
    /// not fit the loaded network.
    bool acceptPendingSession();
    void restorePendingSession();
    QString fileName() const;
    /// `p` (window coordinates) on the view.
    QPoint onView(const QPointF& p) const;
    /// A window position in the view's drawing surface: device pixels from its top-left corner.
    QPointF onSurface(const QPointF& p) const;

    WindowOptions m_options;
    QtPrompts* m_prompts;
    /// Outlives the surface, whose view draws it.
    std::unique_ptr<Workbench> m_workbench;
    ViewSurface* m_surface = nullptr;
    FormControls m_controls;
    std::unique_ptr<SurfaceFormView> m_formView;
    MapLegend* m_legend = nullptr;  ///< over the view, owned by it
    PlotsWindow* m_plots = nullptr; ///< a window of its own, owned by this one
    ColouringPage* m_colouringPage = nullptr;
    FormLogic* m_logic = nullptr;
    UserGuide* m_guide = nullptr;
    QLabel* m_status = nullptr;
    QTimer* m_timer = nullptr;
    AdvancedOptionsDialog* m_advanced = nullptr;
    QString m_saveFolder;
    std::unique_ptr<LoadDialogs> m_ownDialogs;
    std::unique_ptr<LoadWorkflow> m_workflow;
    /// The answers of the options for a file named on the command line.
    std::unique_ptr<ScriptedLoadDialogs> m_givenDialogs;
    std::unique_ptr<LoadWorkflow> m_givenFlow;
    LoadWorkflow* m_flow = nullptr; ///< the questions of the load under way
    LoadRequest m_request;

    std::thread m_worker;
    // Every mode, computed in the background after a load that took the lowest modes first.
    void startEveryMode(const std::string& folder);
    void everyModeFinished();
    void joinEveryMode();
    std::thread m_everyModeWorker;
    std::atomic<bool> m_everyModeDone{false};
    std::atomic<bool> m_everyModeCancel{false};
    std::optional<LoadResult> m_everyModeResult; ///< written by the worker before m_everyModeDone
    std::unique_ptr<CancelProgress> m_everyModeProgress;
    std::string m_eigenFolder; ///< the folder the load wrote its eigen data files to
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_loadDone{false};
    std::atomic<int> m_stage{0}; ///< the stage the load is in (LoadStage)
    int m_shownStage = 0;
    int m_progressShown = -1;
    std::chrono::steady_clock::time_point m_progressMoved{};
    std::unique_ptr<CancelProgress> m_progress;
    std::optional<LoadResult> m_result; ///< written by the worker, read after m_loadDone
    // The worker's set-up questions: it waits while m_setupNodes > 0 until answered or cancelled.
    std::mutex m_setupMutex;
    std::condition_variable m_setupAnswered;
    std::atomic<int32_t> m_setupNodes{0};
    std::optional<std::string> m_setupFolder; ///< the answer (guarded by m_setupMutex)
    bool m_answering = false;
    bool m_viewReady = false;
    bool m_loaded = false;
    QString m_pathNote; ///< the status line's word on a sparse load (the lowest modes only)
    bool m_running = false;      ///< the network runs (the simulation thread was started)
    bool m_stylusChosen = false; ///< the user set the mouse stylus (no default applies then)
    bool m_closing = false;
    bool m_glProblemShown = false;
    bool m_leftMouse = false;
    bool m_rightMouse = false;
    /// The mouse as the virtual device's stylus (when that is the device in use).
    MouseStylus m_stylus;
    /// The reader's atoms: they outlive the view's device, which refers to them.
    std::vector<Atom*> m_atoms;
    std::vector<Atom*> m_noAtoms; ///< the device's atoms for eigen data files
    std::unique_ptr<RecentFiles> m_recent;
    std::string m_sessionFile; ///< the session being opened, for the recent files
    std::unique_ptr<SessionDialogs> m_ownSessionDialogs;
    std::unique_ptr<SessionWorkflow> m_sessions;
    std::optional<SessionData> m_pendingSession; ///< resumed once its load is handed over
    bool m_sessionFromMenu = false;
    bool m_sessionRefused = false;
};

} // namespace vornax
