#include "Form1.h"

#include "AdvancedOptionsDialog.h"
#include "FormLogic.h"
#include "FormView.h"
#include "QtPrompts.h"
#include "ViewSurface.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/NetworkFileHandle.h"
#include "molecule/Atom.h"
#include "molecule/FileHandle.h"
#include "render/COpenGL.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QWheelEvent>

#include <chrono>

namespace vornax {

/// Lets the load stop when the window closes.
class Form1::CancelProgress final : public Progress {
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

Form1::Form1(WindowOptions options, QtPrompts* prompts)
    : m_options(std::move(options)), m_prompts(prompts), m_progress(std::make_unique<CancelProgress>(m_cancel))
{
    setWindowTitle("Vornax");
    m_surface = makeViewSurface(this, m_options.allowStereo);
    m_controls = buildFormControls(*this, m_surface->widget());
    // The stylus tip follows the pointer with no button held: moves must reach the window from
    // the view through every widget between them.
    for (QWidget* w = m_surface->widget(); w; w = w == this ? nullptr : w->parentWidget()) w->setMouseTracking(true);
    m_formView = std::make_unique<SurfaceFormView>(m_surface);
    m_logic = new FormLogic(m_controls, *m_formView, this);
    connectMenus();
    m_controls.infoText->setText("To start please open a PDB file using the file menu.\n\n\n\n"
                                 "For more information please check the help pages.");

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

    // Keys reach the window before the focused control.
    qApp->installEventFilter(this);

    // The control loop: one step every 10 ms.
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Form1::tick);
    m_timer->start(10);

    if (!m_options.file.empty()) startLoad();
}

Form1::~Form1()
{
    qApp->removeEventFilter(this);
    m_timer->stop();
    joinWorker();
    console::line("attempting to close threads");
    if (COpenGL* gl = view()) gl->stopSchedular();
    // The view (its simulation thread and device) goes before the atoms the device refers to.
    m_stylus.detach();
    m_formView->setSurface(nullptr);
    delete m_surface->widget();
    m_surface = nullptr;
    console::line("attempting to delete components");
    delete m_logic;
    m_logic = nullptr;
    m_result.reset();
    deleteAtoms(m_atoms);
    console::line("finished deleting Form1");
}

void Form1::connectMenus()
{
    const FormControls& c = m_controls;
    connect(c.openToolStripMenuItem, &QAction::triggered, this, &Form1::openFile);
    connect(c.advancedOptions, &QAction::triggered, this, &Form1::showAdvancedOptions);
    connect(c.saveAs, &QAction::triggered, this, &Form1::saveAs);
    // Closing the window is the orderly way out: the device scheduler stops first.
    connect(c.exitItem, &QAction::triggered, this, &QWidget::close);
    connect(c.about, &QAction::triggered, this, [this] {
        QMessageBox::about(this, "About Vornax",
                           "Vornax: elastic network models of proteins and nucleic acids, explored with a "
                           "force-feedback arm.");
    });
    connect(c.viewTutorial, &QAction::triggered, this, [this] {
        m_controls.tutorialWindow->setEnabled(true);
        m_controls.tutorialWindow->setVisible(true);
        m_controls.tutorialWindow->raise();
    });
}

void Form1::showAdvancedOptions()
{
    // One dialog for the window's life, so that it keeps its settings between showings.
    if (!m_advanced) {
        COpenGL* gl = view();
        if (!gl) return;
        m_advanced = new AdvancedOptionsDialog(*gl, this);
    }
    m_advanced->exec();
}

void Form1::openFile()
{
    // The load workflow (load choice, cutoff, device, set-up) starts here.
}

void Form1::saveAs()
{
    COpenGL* gl = view();
    if (!gl || !gl->getELN_loaded()) {
        QMessageBox::information(this, "Save As", "There is no structure to save yet.");
        return;
    }
    const QString file = QFileDialog::getSaveFileName(this, "Save &As", m_saveFolder, "C Alpha Atoms (*.pdb)");
    if (file.isEmpty()) return;
    m_saveFolder = QFileInfo(file).absolutePath();
    if (!gl->writeCAlphaFile(file.toStdString()))
        QMessageBox::warning(this, "Save As", "The file " + file + " could not be written.");
}

COpenGL* Form1::view() const { return m_surface ? m_surface->view() : nullptr; }

QString Form1::statusText() const { return m_status->text(); }

void Form1::setStatus(const QString& text) { m_status->setText(text); }

void Form1::startLoad()
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

QString Form1::fileName() const { return QString::fromStdString(m_options.file.filename().string()); }

void Form1::joinWorker()
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

void Form1::loadFinished()
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

void Form1::handOver()
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
    m_stylus.attach(*gl);

    // The controls of a loaded network: the device's switches, the pages, the modes.
    FormControls& c = m_controls;
    FormState& state = m_logic->state();
    state.loadMode = 1;
    c.infoText->setText("Waiting for initial processing stage...");
    if (device) {
        c.tabControl1->setCurrentWidget(c.elasticNetworkTab);
        c.hapticsOnOff->setChecked(true);
        c.infoText->setText("Please pick up the haptic pointer and move into the cube...");
        c.saveSession->setEnabled(true);
    } else {
        c.infoText->setText("No haptic device detected.");
        c.tabControl1->setTabEnabled(c.tabControl1->indexOf(c.viewingTab), true);
    }
    const ElasticNetworkModel* network = gl->getNetwork();
    m_logic->networkLoaded(gl->getMaxModes(), network ? network->get3NMinus6() : 0, gl->getS(), gl->getRc());

    const std::string code = gl->getPDB_Code();
    if (!code.empty()) setWindowTitle("Vornax - PDB code: " + QString::fromStdString(code));
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

void Form1::tick()
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
    m_logic->tick();
    m_stylus.update();
}

QPoint Form1::onView(const QPointF& p) const
{
    const QWidget* widget = m_surface ? m_surface->widget() : nullptr;
    return widget ? widget->mapFrom(this, p.toPoint()) : p.toPoint();
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return QMainWindow::eventFilter(watched, event);
    // Each key once, at the control that has the focus (or the window itself), before that
    // control sees it; a held key's repeats change nothing.
    auto* widget = qobject_cast<QWidget*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    const QWidget* focus = QApplication::focusWidget();
    const bool mine = widget && widget->window() == this && (widget == focus || (!focus && widget == this));
    if (mine && !key->isAutoRepeat()) {
        if (type == QEvent::KeyPress)
            m_logic->keyDown(key->key());
        else
            m_logic->keyUp(key->key());
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event)
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
    event->accept();
}

QPointF Form1::onSurface(const QPointF& p) const
{
    const QWidget* widget = m_surface ? m_surface->widget() : nullptr;
    if (!widget) return p;
    return QPointF(widget->mapFrom(this, p)) * widget->devicePixelRatioF();
}

void Form1::wheelEvent(QWheelEvent* event)
{
    COpenGL* gl = view();
    if (!gl) return;
    event->accept();
    const int delta = event->angleDelta().y();
    if (m_stylus.wheel(delta / 120.0)) return; // the tip's depth while a node is dragged
    if (delta > 0)
        gl->scrollUpView();
    else if (delta < 0)
        gl->scrollDownView();
}

void Form1::mousePressEvent(QMouseEvent* event)
{
    COpenGL* gl = view();
    if (!gl) return;
    const bool left = event->button() == Qt::LeftButton;
    if ((left || event->button() == Qt::RightButton)) {
        const QPointF s = onSurface(event->position());
        if (m_stylus.press(s.x(), s.y(), left ? MouseStylus::Button::Left : MouseStylus::Button::Right)) return;
    }
    const QPoint p = onView(event->position());
    if (left) {
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

void Form1::mouseMoveEvent(QMouseEvent* event)
{
    COpenGL* gl = view();
    if (!gl) return;
    const QPointF s = onSurface(event->position());
    m_stylus.move(s.x(), s.y());
    const QPoint p = onView(event->position());
    if (m_leftMouse) gl->shiftCam(p.x(), p.y());
    if (m_rightMouse) gl->updateMoleculePosition(p.x(), p.y());
}

void Form1::mouseReleaseEvent(QMouseEvent* event)
{
    COpenGL* gl = view();
    if (!gl) return;
    const bool left = event->button() == Qt::LeftButton;
    if (left || event->button() == Qt::RightButton) {
        const QPointF s = onSurface(event->position());
        m_stylus.release(s.x(), s.y(), left ? MouseStylus::Button::Left : MouseStylus::Button::Right);
    }
    const bool panning = (left && m_leftMouse) || (event->button() == Qt::RightButton && m_rightMouse);
    if (left) m_leftMouse = false;
    if (event->button() == Qt::RightButton) m_rightMouse = false;
    if (panning) {
        gl->setReconfigureMolecule(1);
        unsetCursor();
    }
}

} // namespace vornax
