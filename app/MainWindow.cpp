#include "MainWindow.h"

#include "AdvancedOptionsDialog.h"
#include "QtPrompts.h"
#include "ViewSurface.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "enm/NetworkFileHandle.h"
#include "molecule/Atom.h"
#include "molecule/FileHandle.h"
#include "render/COpenGL.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTimer>
#include <QWheelEvent>

#include <chrono>

namespace vornax {

/// Lets the load stop when the window closes.
class MainWindow::CancelProgress final : public Progress {
public:
    explicit CancelProgress(const std::atomic<bool>& cancel) : m_cancel(cancel) {}
    void setMaximum(int) override {}
    void step(int) override {}
    bool isCancelled() const override { return m_cancel.load(); }

private:
    const std::atomic<bool>& m_cancel;
};

namespace {

QString stageText(LoadStage stage)
{
    switch (stage) {
    case LoadStage::Read: return "reading the structure";
    case LoadStage::Network: return "building the network";
    case LoadStage::Hessian: return "building the Hessian";
    case LoadStage::Eigen: return "computing the normal modes";
    case LoadStage::Calibration: return "calibrating the forces";
    case LoadStage::Y: return "computing the response matrix";
    case LoadStage::EigenFiles: return "writing the eigen data files";
    case LoadStage::Budget: return "choosing the modes";
    }
    return "loading";
}

} // namespace

MainWindow::MainWindow(WindowOptions options, QtPrompts* prompts)
    : m_options(std::move(options)), m_prompts(prompts), m_progress(std::make_unique<CancelProgress>(m_cancel))
{
    setWindowTitle("Vornax");
    m_surface = makeViewSurface(this, m_options.allowStereo);
    setCentralWidget(m_surface->widget());
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction("Advanced Options", this, [this] {
        // One dialog for the window's life, so that it keeps its settings between showings.
        if (!m_advanced) {
            COpenGL* gl = view();
            if (!gl) return;
            m_advanced = new AdvancedOptionsDialog(*gl, this);
        }
        m_advanced->exec();
    });
    file->addSeparator();
    file->addAction("E&xit", this, &QWidget::close);

    m_status = new QLabel(this);
    statusBar()->addWidget(m_status, 1);
    setStatus(m_options.file.empty() ? "To start please open a PDB file using the file menu." : "");

    // The view exists once the surface is first shown; a load that ended before then is handed
    // over right after (outside the surface's own GL set-up).
    m_surface->onReady = [this] {
        m_viewReady = true;
        QMetaObject::invokeMethod(
            this, [this] { loadFinished(); }, Qt::QueuedConnection);
    };

    // The control loop: one frame every 10 ms.
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &MainWindow::tick);
    m_timer->start(10);

    if (!m_options.file.empty()) startLoad();
}

MainWindow::~MainWindow()
{
    m_timer->stop();
    joinWorker();
    // The view (its simulation thread and device) goes before the atoms the device refers to.
    delete m_surface->widget();
    m_surface = nullptr;
    m_result.reset();
    deleteAtoms(m_atoms);
    console::line("finished deleting Form1");
}

COpenGL* MainWindow::view() const { return m_surface ? m_surface->view() : nullptr; }

QString MainWindow::statusText() const { return m_status->text(); }

void MainWindow::setStatus(const QString& text) { m_status->setText(text); }

void MainWindow::startLoad()
{
    setStatus(QString("Loading %1: %2").arg(fileName(), stageText(LoadStage::Read)));
    const std::filesystem::path file = m_options.file;
    // The worker only writes atomics (and the result, before m_loadDone); the window's timer
    // picks them up, so nothing is posted across threads.
    m_worker = std::thread([this, file] {
        LoadOptions options;
        options.rc = m_options.rc;
        options.progress = m_progress.get();
        options.stageStarted = [this](LoadStage stage) { m_stage.store(static_cast<int>(stage)); };
        LoadResult result = runLoadPipeline(StructureSource::pdbFile(file), options);
        m_result.emplace(std::move(result));
        m_loadDone.store(true);
    });
}

QString MainWindow::fileName() const { return QString::fromStdString(m_options.file.filename().string()); }

void MainWindow::joinWorker()
{
    if (!m_worker.joinable()) return;
    m_cancel.store(true);
    if (m_prompts) m_prompts->stopAsking();
    // A question the worker put to this thread before the cancel must still be answered.
    while (!m_loadDone.load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m_worker.join();
}

void MainWindow::loadFinished()
{
    if (m_closing || !m_loadDone.load() || !m_result) return;
    if (m_worker.joinable()) m_worker.join();
    if (!m_result->ok()) {
        const QString message = QString::fromStdString(m_result->message);
        setStatus(QString("The structure could not be loaded: %1").arg(message));
        console::write(console::Warning, "load failed: " + m_result->message);
        m_result.reset();
        emit loadEnded(false, message);
        return;
    }
    if (!m_viewReady) {
        setStatus("Loaded; waiting for the view");
        return; // handed over once the view exists
    }
    handOver();
}

void MainWindow::handOver()
{
    COpenGL* gl = view();
    if (!gl || !m_result) return;
    LoadResult& load = *m_result;
    m_atoms = load.takeAtoms();
    NetworkFileHandle& reader = *load.reader;
    const Vector3d maxPos = reader.findMaxCoord();
    const Vector3d minPos = reader.findMinCoord();
    const Vector3d mid = reader.getMidPoint();

    m_surface->makeCurrent();
    bool device = false;
    if (m_options.openDevice) device = gl->initiliseHaptics(m_atoms);
    gl->initilizeData(maxPos, minPos, mid, m_atoms, nullptr, load.network.release());
    gl->resetHapticWS();
    gl->stopSchedular();
    if (device) {
        gl->setReconfigureMolecule(1);
        gl->switchElasticMode(true);
    }
    gl->startSchedular();
    gl->resetALL();
    gl->fireSimulationThread();
    m_surface->doneCurrent();

    const std::string code = gl->getPDB_Code();
    m_result.reset();
    m_loaded = true;
    const QString name = QString::fromStdString(m_options.file.filename().string());
    setStatus(QString("%1: %2 nodes, %3 modes%4")
                  .arg(code.empty() ? name : QString::fromStdString(code))
                  .arg(gl->getAmountOfAtoms())
                  .arg(gl->getMaxModes())
                  .arg(device ? "" : " (no haptic device)"));
    console::line("COMPLETE SETUP");
    emit loadEnded(true, QString());
}

void MainWindow::tick()
{
    if (!m_viewReady && !m_glProblemShown && m_surface && !m_surface->problem().empty()) {
        m_glProblemShown = true;
        setStatus(QString("OpenGL is not available: %1").arg(QString::fromStdString(m_surface->problem())));
    }
    if (m_worker.joinable()) {
        const int stage = m_stage.load();
        if (stage != m_shownStage && !m_loadDone.load()) {
            m_shownStage = stage;
            setStatus(QString("Loading %1: %2").arg(fileName(), stageText(static_cast<LoadStage>(stage))));
        }
        if (m_loadDone.load()) loadFinished();
    }
    if (m_surface) m_surface->requestFrame();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (loading()) {
        // The load stops at its next check; the window closes when it has.
        m_cancel.store(true);
        if (m_prompts) m_prompts->stopAsking();
        m_closing = true;
        setStatus("Stopping the load...");
        event->ignore();
        QTimer::singleShot(20, this, [this] { close(); });
        return;
    }
    console::line("attempting to close threads");
    if (COpenGL* gl = view()) gl->stopSchedular();
    event->accept();
}

void MainWindow::wheelEvent(QWheelEvent* event)
{
    COpenGL* gl = view();
    if (!gl) return;
    const int delta = event->angleDelta().y();
    if (delta > 0)
        gl->scrollUpView();
    else if (delta < 0)
        gl->scrollDownView();
    event->accept();
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    COpenGL* gl = view();
    if (!gl) return;
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        gl->mouseDownTranslate(p.x(), p.y());
        setCursor(Qt::SizeAllCursor);
        m_leftMouse = true;
        gl->setReconfigureMolecule(0);
    } else if (event->button() == Qt::RightButton) {
        gl->mouseDownRotate(p.x(), p.y());
        setCursor(Qt::PointingHandCursor);
        m_rightMouse = true;
        gl->setReconfigureMolecule(0);
    }
}

void MainWindow::mouseMoveEvent(QMouseEvent* event)
{
    COpenGL* gl = view();
    if (!gl) return;
    const QPoint p = event->position().toPoint();
    if (m_leftMouse) gl->shiftCam(p.x(), p.y());
    if (m_rightMouse) gl->updateMoleculePosition(p.x(), p.y());
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event)
{
    COpenGL* gl = view();
    if (!gl) return;
    gl->setReconfigureMolecule(1);
    if (event->button() == Qt::LeftButton) m_leftMouse = false;
    if (event->button() == Qt::RightButton) m_rightMouse = false;
    unsetCursor();
}

} // namespace vornax
