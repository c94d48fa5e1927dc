// The program's window: the 3-D view, a status line, a structure loaded in the background and
// the 10 ms timer that draws the frames.
//
// The load runs runLoadPipeline on a worker thread while the view keeps drawing its idle
// scene; the status line names the stage. When the load ends (and the view's GL context
// exists) the window hands the atoms and the network to the view, opens the haptic device when
// asked to, marks the network initialised and starts the simulation thread.
#pragma once

#include "enm/Pipeline.h"

#include <QMainWindow>
#include <QString>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

class QLabel;
class QTimer;

namespace vornax {

class AdvancedOptionsDialog;
class COpenGL;
class NetworkFileHandle;
class QtPrompts;
class ViewSurface;

struct WindowOptions {
    std::filesystem::path file; ///< the structure to load; empty loads nothing
    float rc = 11.0f;           ///< Å
    /// Open the haptic device at the end of the load (the HDAPI layer's choice of device).
    bool openDevice = true;
    /// Use quad-buffer stereo where the driver offers it.
    bool allowStereo = true;
};

class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(WindowOptions options, QtPrompts* prompts = nullptr);
    ~MainWindow() override;

    /// The view, once its GL context exists.
    COpenGL* view() const;
    ViewSurface* surface() const { return m_surface; }
    /// The text of the status line.
    QString statusText() const;
    bool loading() const { return m_worker.joinable() && !m_loadDone.load(); }
    /// The network is on the view and initialised.
    bool loaded() const { return m_loaded; }

signals:
    /// The load ended: `ok` with the network on the view, otherwise with `message` shown.
    void loadEnded(bool ok, const QString& message);

protected:
    void closeEvent(QCloseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    class CancelProgress;

    void startLoad();
    void tick();
    void setStatus(const QString& text);
    void loadFinished();
    void handOver();
    void joinWorker();
    QString fileName() const;

    WindowOptions m_options;
    QtPrompts* m_prompts;
    ViewSurface* m_surface = nullptr;
    QLabel* m_status = nullptr;
    QTimer* m_timer = nullptr;
    AdvancedOptionsDialog* m_advanced = nullptr;

    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_loadDone{false};
    std::atomic<int> m_stage{0}; ///< the stage the load is in (LoadStage)
    int m_shownStage = 0;
    std::unique_ptr<CancelProgress> m_progress;
    std::optional<LoadResult> m_result; ///< written by the worker, read after m_loadDone
    bool m_viewReady = false;
    bool m_loaded = false;
    bool m_closing = false;
    bool m_glProblemShown = false;
    bool m_leftMouse = false;
    bool m_rightMouse = false;
    /// The reader's atoms: they outlive the view's device, which refers to them.
    std::vector<Atom*> m_atoms;
};

} // namespace vornax
