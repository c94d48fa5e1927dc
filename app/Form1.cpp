#include "Form1.h"

#include "AdvancedOptionsDialog.h"
#include "ColouringPage.h"
#include "FormLogic.h"
#include "FormView.h"
#include "LoadDialogs.h"
#include "MapLegend.h"
#include "PlotsWindow.h"
#include "QtPrompts.h"
#include "RecentFiles.h"
#include "UserGuide.h"
#include "ViewSurface.h"
#include "WelcomePanel.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "common/UserPrompts.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/io/NetworkFileHandle.h"
#include "haptics/Haptics.h"
#include "haptics/Workbench.h"
#include "haptics/hdapi/hdapi.h"
#include "molecule/Atom.h"
#include "molecule/FileHandle.h"
#include "render/COpenGL.h"
#include "render/RuntimeData.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace vornax {

/// The worker's steps, for the window's timer to show; lets the load stop when the window closes.
class Form1::CancelProgress final : public Progress {
public:
    explicit CancelProgress(const std::atomic<bool>& cancel) : m_cancel(cancel) {}
    void setMaximum(int maximum) override
    {
        m_value.store(0);
        m_maximum.store(maximum);
    }
    void step(int steps) override { m_value.fetch_add(steps); }
    bool isCancelled() const override { return m_cancel.load(); }
    /// Per cent of the current stage's steps.
    int percent() const
    {
        const int maximum = m_maximum.load();
        return maximum > 0 ? std::clamp(static_cast<int>(100LL * m_value.load() / maximum), 0, 100) : 0;
    }

private:
    const std::atomic<bool>& m_cancel;
    std::atomic<int> m_maximum{0};
    std::atomic<int> m_value{0};
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

const QString kNoDeviceText = "No haptic device detected.\n\nTo pull atoms with the mouse, tick \"Mouse Stylus\" "
                              "(below the view, or in the File menu).";
const QString kMouseStylusText =
    "The mouse is the stylus. Press the left button on a node and drag to pull it; the wheel moves the tip in "
    "depth while you drag. Tick \"Save Forces\" to keep the forces you let go.\n\nUntick \"Mouse Stylus\" to use "
    "a haptic arm.";

} // namespace

Form1::Form1(WindowOptions options, QtPrompts* prompts)
    : m_options(std::move(options)), m_prompts(prompts), m_workbench(std::make_unique<Workbench>()),
      m_progress(std::make_unique<CancelProgress>(m_cancel))
{
    setWindowTitle("Vornax");
    m_surface = makeViewSurface(this, *m_workbench, m_options.allowStereo);
    m_controls = buildFormControls(*this, m_surface->widget());
    // The stylus tip follows the pointer with no button held: moves must reach the window from
    // the view through every widget between them.
    for (QWidget* w = m_surface->widget(); w; w = w == this ? nullptr : w->parentWidget()) w->setMouseTracking(true);
    m_legend = new MapLegend(m_workbench->colouring(), m_surface->widget());
    m_plots = new PlotsWindow(*m_workbench, this);
    m_formView = std::make_unique<SurfaceFormView>(m_surface);
    m_logic = new FormLogic(m_controls, *m_workbench, *m_formView, this);
    m_colouringPage = new ColouringPage(
        *m_controls.viewingTab, [this] { return m_workbench->network(); }, &m_workbench->colouring(), this);
    connectMenus();
    showMouseStylus(hdapi::virtualDeviceRequested());
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

    const std::string applicationFolder = QCoreApplication::applicationDirPath().toStdString();
    LoadDialogs* dialogs = m_options.dialogs;
    if (!dialogs) {
        // While the tutorial runs it shows how the eigen data files are chosen.
        m_ownDialogs = std::make_unique<QtLoadDialogs>(this, applicationFolder, [this] {
            if (m_guide) m_guide->eigenFilesAsked();
        });
        dialogs = m_ownDialogs.get();
    }
    m_workflow = std::make_unique<LoadWorkflow>(*dialogs);
    setUpSessions();
    m_recent = std::make_unique<RecentFiles>(m_options.profileFolder);
    refreshRecent();
    setAcceptDrops(true);

    // The start-up preference decides whether the welcome panel shows; a structure named on the
    // command line is what the user chose to open, so it is not offered then.
    m_guide = new UserGuide(*this, m_controls, *m_logic, m_options.profileFolder,
                            m_options.file.empty() || m_options.fileIsDefault,
                            QString::fromStdString(runtimeDataPath("Help").string()));
    connect(m_guide, &UserGuide::openRequested, this, &Form1::openFile);
    connect(m_guide, &UserGuide::tutorialRunning, this, [this](bool on) { m_workflow->dialogs().setTutorial(on); });
    connect(this, &Form1::loadEnded, m_guide, [this](bool ok) { m_guide->loadEnded(ok); });
    // A person at the window (a profile folder) opens a structure of their own: the example is
    // only loaded for unattended runs.
    const bool heldBack =
        m_options.fileIsDefault && (m_guide->welcome().isShown() || !m_options.profileFolder.empty());
    if (heldBack) setStatus("To start please open a PDB file using the file menu.");

    if (!m_options.file.empty() && !heldBack) {
        // A file named on the command line goes through the same questions, answered by the
        // options.
        m_givenDialogs = std::make_unique<ScriptedLoadDialogs>();
        ScriptedLoadDialogs& given = *m_givenDialogs;
        const int32_t choice = m_options.loadChoice;
        given.queueChoice(choice);
        if (choice == load::EigenFiles) {
            std::vector<std::string> files{m_options.file.string()};
            if (!m_options.ppy.empty()) files.push_back(m_options.ppy.string());
            given.queueFiles(files);
        } else {
            given.queueFiles(std::vector<std::string>{m_options.file.string()});
            given.queueCutoff({QString::number(static_cast<double>(m_options.rc), 'g', 9).toStdString()});
        }
        if (choice == load::PdbFile) given.queueFolder(m_options.saveDir.string()); // empty: no eigen data files
        if (choice == load::ElNemo) {
            std::vector<std::string> modes;
            for (const auto& f : m_options.modeFiles) modes.push_back(f.string());
            given.queueFiles(modes);
            given.queueEigenvalues(m_options.eigenvalueText);
        }
        if (choice == load::TextFile) given.queueFiles(std::vector<std::string>{m_options.eigenFile.string()});
        m_givenFlow = std::make_unique<LoadWorkflow>(given);
        // The command line names the assembly (or the file's own content): no question then.
        m_givenFlow->presetAssembly(m_options.assembly);
        m_flow = m_givenFlow.get();
        m_pendingSession = m_options.session;
        if (std::optional<LoadRequest> request = m_flow->begin()) startLoad(*request);
    }
}

Form1::~Form1()
{
    qApp->removeEventFilter(this);
    m_timer->stop();
    joinWorker();
    joinEveryMode();
    console::line("attempting to close threads");
    m_workbench->stop();
    m_stylus.detach();
    m_formView->setSurface(nullptr);
    delete m_surface->widget();
    m_surface = nullptr;
    // The simulation thread and the device go before the atoms the device refers to.
    m_workbench->shutdown();
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
    // The menu entry and the check box are one switch: either runs it, as a click does.
    connect(c.mouseStylusItem, &QAction::toggled, this, &Form1::setMouseStylus);
    connect(c.mouseStylus, &QCheckBox::toggled, this, &Form1::setMouseStylus);
    connect(c.saveAs, &QAction::triggered, this, &Form1::saveAs);
    connect(c.openSession, &QAction::triggered, this, &Form1::openSession);
    connect(c.saveSession, &QAction::triggered, this, &Form1::saveSession);
    // Closing the window is the orderly way out: the device scheduler stops first.
    connect(c.exitItem, &QAction::triggered, this, &QWidget::close);
    connect(c.plots, &QAction::triggered, this, [this] {
        m_plots->refresh();
        m_plots->show();
        m_plots->raise();
    });
    // An open plots window follows the structure shown.
    connect(this, &Form1::loadEnded, this, [this](bool ok) {
        m_controls.plots->setEnabled(ok || m_workbench->loaded());
        if (ok && m_plots->isVisible()) m_plots->refresh();
    });
    // The Help menu is connected by the user guide.
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

bool Form1::canOpen() const { return !m_worker.joinable() && !m_result && !m_closing; }

bool Form1::offerToSaveSession()
{
    const ElasticNetworkModel* network = m_workbench->network();
    if (!m_loaded || !network || network->deformation().keptForces().empty()) return true;
    const std::string code = network->getPDB_Code();
    const MessageAnswer answer = userPrompts().messageBox(
        "Open", "The forces kept on " + (code.empty() ? std::string("the structure") : code)
                    + " go when another structure opens. Save its session first?",
        MessageIcon::Question, MessageButtons::YesNoCancel);
    if (answer == MessageAnswer::Cancel) return false;
    if (answer == MessageAnswer::No) return true;
    return m_sessions->save([&] { return collectSession(m_controls, *m_workbench); });
}

void Form1::openPath(const QString& file)
{
    if (!canOpen()) return;
    const std::string path = file.toStdString();
    const OpenKind kind = openKindOf(path);
    if (kind == OpenKind::None) {
        setStatus(QString("%1 is not a structure, eigen data or session file.").arg(file));
        return;
    }
    if (!offerToSaveSession()) return;
    if (kind == OpenKind::Session) {
        startSession(m_sessions->askOpen(path));
        return;
    }
    FormState& state = m_logic->state();
    state.Rc = LoadWorkflow::kDefaultRc;
    m_flow = m_workflow.get();
    std::optional<LoadRequest> request = m_flow->beginWithFile(path, kind == OpenKind::EigenData);
    state.loadMode = m_flow->loadMode();
    if (request) startLoad(*request);
}

void Form1::refreshRecent()
{
    QMenu* menu = m_controls.openRecent;
    menu->clear();
    for (const std::string& file : m_recent->files()) {
        const QString path = QString::fromStdString(file);
        QAction* item = menu->addAction(QFileInfo(path).fileName());
        item->setToolTip(path);
        item->setStatusTip(path);
        connect(item, &QAction::triggered, this, [this, path] { openPath(path); });
    }
    menu->setEnabled(!m_recent->files().empty() && canOpen());
}

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile() && openKindOf(url.toLocalFile().toStdString()) != OpenKind::None) {
            event->acceptProposedAction();
            return;
        }
}

void Form1::dropEvent(QDropEvent* event)
{
    for (const QUrl& url : event->mimeData()->urls()) {
        const QString file = url.toLocalFile();
        if (!url.isLocalFile() || openKindOf(file.toStdString()) == OpenKind::None) continue;
        event->acceptProposedAction();
        // After the drop has ended: opening asks its questions in dialogs of its own.
        QTimer::singleShot(0, this, [this, file] { openPath(file); });
        return;
    }
}

void Form1::closeStructure()
{
    m_stylus.detach();
    Workbench& bench = *m_workbench;
    bench.stopSimulation();
    bench.adoptDevice(nullptr); // its servo ticks, and any pull, end with it
    m_logic->structureClosed();
    m_loaded = false;
    m_running = false;
}

void Form1::openFile()
{
    if (!canOpen() || !offerToSaveSession()) return;
    FormState& state = m_logic->state();
    state.Rc = LoadWorkflow::kDefaultRc;
    m_flow = m_workflow.get();
    std::optional<LoadRequest> request = m_flow->begin();
    state.loadMode = m_flow->loadMode();
    // The read-outs go live with the modes (networkLoaded), not before.
    if (!request) return;
    startLoad(*request);
}

void Form1::saveAs()
{
    const ElasticNetworkModel* network = m_workbench->network();
    if (!view() || !m_workbench->loaded()) {
        QMessageBox::information(this, "Save As", "There is no structure to save yet.");
        return;
    }
    const QString file = QFileDialog::getSaveFileName(this, "Save &As", m_saveFolder, "C Alpha Atoms (*.pdb)");
    if (file.isEmpty()) return;
    m_saveFolder = QFileInfo(file).absolutePath();
    if (!network->write_C_alphaFile(file.toStdString()))
        QMessageBox::warning(this, "Save As", "The file " + file + " could not be written.");
}

COpenGL* Form1::view() const { return m_surface ? m_surface->view() : nullptr; }

QString Form1::statusText() const { return m_status->text(); }

void Form1::setStatus(const QString& text) { m_status->setText(text); }

void Form1::startLoad(const LoadRequest& request)
{
    m_request = request;
    m_controls.openSession->setEnabled(false);
    m_controls.openToolStripMenuItem->setEnabled(false);
    m_controls.openRecent->setEnabled(false);
    m_logic->state().Rc = request.rc;
    m_logic->state().introState = true;
    m_controls.ELNcalcProgBar->setVisible(request.loadMode == load::PdbFile);
    m_loadDone.store(false);
    m_stage.store(0);
    m_shownStage = 0;
    setStatus(QString("Loading %1: %2").arg(fileName(), stageText(LoadStage::Read)));
    // The worker only writes atomics (and the result, before m_loadDone); the window's timer
    // picks them up, so nothing is posted across threads.
    joinEveryMode();
    const bool pullFirst = m_controls.pullFirstItem->isChecked();
    m_worker = std::thread([this, request, pullFirst] {
        LoadOptions options;
        options.rc = request.rc;
        options.progress = m_progress.get();
        options.stageStarted = [this](LoadStage stage) { m_stage.store(static_cast<int>(stage)); };
        if (request.loadMode == load::ElNemo || request.loadMode == load::TextFile)
            options.lastStage = LoadStage::Network; // the modes come from the user's files
        if (request.loadMode == load::PdbFile && pullFirst) options.pullFirstNodes = m_options.pullFirstNodes;
        if (request.loadMode == load::PdbFile) {
            // The set-up questions need the node count: the worker waits for the window's answer.
            options.checkNetwork = [this, &options](const ElasticNetworkModel& eln) {
                std::unique_lock<std::mutex> lock(m_setupMutex);
                m_setupFolder.reset();
                m_setupNodes.store(std::max<int32_t>(1, eln.getAmountOfAtoms()));
                while (!m_setupFolder && !m_cancel.load())
                    m_setupAnswered.wait_for(lock, std::chrono::milliseconds(20));
                m_setupNodes.store(0);
                if (!m_setupFolder) return false;
                options.eigenFileFolder = *m_setupFolder;
                m_eigenFolder = *m_setupFolder;
                return true;
            };
        }
        LoadResult result = runLoadPipeline(request.source, options);
        m_result.emplace(std::move(result));
        m_loadDone.store(true);
    });
}

void Form1::answerSetupQuestions()
{
    const int32_t nodes = m_setupNodes.load();
    if (nodes <= 0 || m_answering || m_closing) return;
    m_answering = true;
    std::string folder = m_flow->askResultFolder(nodes, QCoreApplication::applicationDirPath().toStdString());
    {
        std::lock_guard<std::mutex> lock(m_setupMutex);
        m_setupFolder = folder;
    }
    m_setupAnswered.notify_all();
    m_answering = false;
}

QString Form1::fileName() const
{
    return QString::fromStdString(std::filesystem::path(m_request.source.name()).filename().string());
}

void Form1::joinWorker()
{
    if (!m_worker.joinable()) return;
    m_cancel.store(true);
    m_setupAnswered.notify_all();
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
    m_controls.ELNcalcProgBar->setRange(0, 100);
    if (m_worker.joinable()) m_worker.join();
    if (!m_result->ok()) {
        const QString message = QString::fromStdString(m_result->message);
        setStatus(QString("The structure could not be loaded: %1").arg(message));
        console::write(console::Warning, "load failed: " + m_result->message);
        m_result.reset();
        // Nothing of the load is left: the menu is as it was before it.
        m_controls.openToolStripMenuItem->setEnabled(true);
        m_controls.openSession->setEnabled(true);
        m_sessionFile.clear();
        refreshRecent();
        m_controls.ELNcalcProgBar->setVisible(false);
        emit loadEnded(false, message);
        return;
    }
    if (!acceptPendingSession()) return;
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
    // Taken first: the dialogs below run event loops, and the timer must not hand it over twice.
    LoadResult load = std::move(*m_result);
    m_result.reset();
    // The user is told when only the lowest modes were computed, and why.
    m_pathNote.clear();
    if (load.path == EnginePath::Sparse) m_pathNote = QString(" (sparse path: the lowest modes)");
    m_status->setToolTip(QString::fromStdString(load.pathReason));
    if (load.denseLater) {
        std::lock_guard<std::mutex> lock(m_setupMutex);
        startEveryMode(m_eigenFolder);
    }
    const int32_t mode = m_request.loadMode;
    FormControls& c = m_controls;
    FormState& state = m_logic->state();
    state.loadMode = mode;

    // The structure on the window goes (its atoms once the device that refers to them has gone),
    // then the device, then the new structure on the workbench.
    Workbench& bench = *m_workbench;
    if (m_loaded) closeStructure();
    std::vector<Atom*> oldAtoms = std::exchange(m_atoms, {});
    if (mode != load::EigenFiles) m_atoms = load.takeAtoms();
    int32_t model = 0;
    const bool device = openFirstDevice(model);
    if (mode == load::EigenFiles) {
        const Placement placement = Placement::ofNodes(*load.network);
        bench.handOver(std::move(load.network), deviceAtoms(), placement);
    } else {
        NetworkFileHandle& reader = *load.reader;
        const Vector3d maxPos = reader.findMaxCoord();
        bench.handOver(std::move(load.network), deviceAtoms(), Placement::around(maxPos, reader.getMidPoint()));
    }
    deleteAtoms(oldAtoms);
    state.isOmni = device ? model : 0;

    c.infoText->setText("Waiting for initial processing stage...");
    c.tabControl1->setEnabled(true);
    showDeviceState(device);

    // The modes.
    bool running = true;
    ElasticNetworkModel& network = *bench.network();
    const int total = network.geometry().get3NMinus6();
    if (mode == load::PdbFile || mode == load::EigenFiles) {
        if (!load.eigenFilesWritten && !load.eigenFileError.empty())
            console::write(console::Warning, "the eigen data files were not written: " + load.eigenFileError);
        console::Line() << "max modes detected: " << network.getTotalMaxModes();
        m_logic->networkLoaded(network.getTotalMaxModes(), total, network.getS(), cutoff());
        if (mode == load::EigenFiles) {
            console::Line() << "gotS " << network.getS();
            console::line("showing");
        }
        m_flow->showDeviceInstructions(state.isOmni);
    } else if (mode == load::ElNemo) {
        finishElNemo();
        running = network.isSetup();
    } else {
        finishTextFile();
        running = network.isSetup();
    }
    m_running = running;
    if (running && !m_closing) {
        bench.start();
        gl->resetALL();
        bench.startSimulation();
        console::line("COMPLETE SETUP");
    }
    m_stylus.attach(*gl);

    // The end of every set-up, with modes or without.
    c.viewTutorial->setEnabled(false);
    const std::string code = network.getPDB_Code();
    setWindowTitle("Vornax - PDB code: " + QString::fromStdString(code));
    state.introState = false;
    m_loaded = true;
    if (running) restorePendingSession();
    // Another structure may be opened from now on; this one is remembered.
    c.openToolStripMenuItem->setEnabled(true);
    c.openSession->setEnabled(true);
    m_recent->add(m_sessionFile.empty() ? m_request.source.name() : m_sessionFile);
    m_sessionFile.clear();
    refreshRecent();
    showLoadedStatus();
    emit loadEnded(true, QString());
}

namespace {
/// Lowers the calling thread's scheduling priority: work in the background gives way to the
/// drawing and the simulation while the structure is pulled, and takes the cores they leave.
void yieldToTheWindow()
{
#ifdef __linux__
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
}
} // namespace

void Form1::startEveryMode(const std::string& folder)
{
    m_pathNote = QString(" (the lowest modes; every mode is being computed)");
    m_everyModeCancel.store(false);
    m_everyModeDone.store(false);
    m_everyModeProgress = std::make_unique<CancelProgress>(m_everyModeCancel);
    const StructureSource source = m_request.source;
    const float rc = m_request.rc;
    m_everyModeWorker = std::thread([this, source, rc, folder] {
        yieldToTheWindow();
        if (m_options.everyModeStarts) m_options.everyModeStarts();
        LoadOptions options;
        options.rc = rc;
        options.path = EnginePath::Dense;
        options.progress = m_everyModeProgress.get();
        options.eigenFileFolder = folder;
        // The dense load writes the eigen data files as a load of every mode does, over the
        // sparse ones, and its own questions are not put again.
        LoadResult result = runLoadPipeline(source, options);
        m_everyModeResult.emplace(std::move(result));
        m_everyModeDone.store(true);
    });
}

void Form1::joinEveryMode()
{
    if (!m_everyModeWorker.joinable()) return;
    m_everyModeCancel.store(true);
    m_everyModeWorker.join();
    m_everyModeDone.store(false);
    m_everyModeResult.reset();
}

void Form1::everyModeFinished()
{
    m_everyModeDone.store(false);
    if (m_everyModeWorker.joinable()) m_everyModeWorker.join();
    std::optional<LoadResult> done = std::move(m_everyModeResult);
    m_everyModeResult.reset();
    ElasticNetworkModel* network = m_workbench->network();
    if (!done || !network || !view()) return;
    if (done->ok() && done->network && network->adoptSolution(*done->network)) {
        m_pathNote.clear();
        m_status->setToolTip("Every mode is computed.");
        m_logic->networkLoaded(network->getTotalMaxModes(), network->geometry().get3NMinus6(), network->getS(), cutoff());
    } else {
        const std::string why = done->ok() ? "the response matrix Y does not fit in memory" : done->message;
        m_pathNote = QString(" (the lowest modes: every mode could not be computed)");
        m_status->setToolTip(QString::fromStdString("Every mode could not be computed: " + why
                                                    + ". The lowest modes stay in use."));
        console::Line(console::Warning) << "every mode could not be computed: " << why;
    }
    showLoadedStatus();
}

void Form1::showLoadedStatus()
{
    const ElasticNetworkModel* network = m_workbench->network();
    if (!view() || !network) return;
    const std::string code = network->getPDB_Code();
    setStatus(QString("%1: %2 nodes, %3 modes%4%5")
                  .arg(code.empty() ? fileName() : QString::fromStdString(code))
                  .arg(network->getAmountOfAtoms())
                  .arg(network->getTotalMaxModes())
                  .arg(m_pathNote, deviceNote()));
}

const std::vector<Atom*>& Form1::deviceAtoms() const
{
    return m_request.loadMode == load::EigenFiles ? m_noAtoms : m_atoms;
}

bool Form1::usingMouseStylus() const
{
    return view() && m_workbench->device() && hdapi::activeBackend() == hdapi::Backend::Virtual;
}

QString Form1::deviceNote() const
{
    if (!view() || !m_workbench->device()) return " (no haptic device)";
    return usingMouseStylus() ? " (mouse stylus)" : "";
}

bool Form1::openFirstDevice(int32_t& model)
{
    if (!m_options.openDevice) return false;
    // Without an arm's library the mouse is the stylus, unless the user said otherwise.
    if (!hdapi::virtualDeviceRequested() && !m_stylusChosen && !hdapi::vendorLibraryAvailable()) {
        console::line("no haptic device library: the mouse drives the virtual device");
        hdapi::useVirtualDevice(true);
    }
    bool device = m_workbench->openDevice(deviceAtoms(), &model);
    if (!device && !hdapi::virtualDeviceRequested() && !m_stylusChosen) {
        // The arm's library opened no device (the user has been told): the mouse takes over.
        hdapi::useVirtualDevice(true);
        device = m_workbench->openDevice(deviceAtoms(), &model);
    }
    showMouseStylus(device && hdapi::virtualDeviceRequested());
    return device;
}

void Form1::showMouseStylus(bool on)
{
    const QSignalBlocker menu(m_controls.mouseStylusItem);
    const QSignalBlocker box(m_controls.mouseStylus);
    m_controls.mouseStylusItem->setChecked(on);
    m_controls.mouseStylus->setChecked(on);
}

void Form1::showDeviceState(bool device)
{
    FormControls& c = m_controls;
    if (device) {
        c.tabControl1->setCurrentWidget(c.elasticNetworkTab);
        if (c.hapticsOnOff->isChecked()) {
            // Already ticked: the new device is told as a tick would tell it.
            if (Haptics* d = m_workbench->device()) {
                d->setReconfiguringMolecule(1);
                d->setHatpicState(true);
            }
        } else {
            c.hapticsOnOff->setChecked(true);
        }
        c.infoText->setText(usingMouseStylus() ? kMouseStylusText : "Please pick up the haptic pointer and move into the cube...");
        c.saveSession->setEnabled(true);
    } else {
        c.hapticsOnOff->setChecked(false);
        c.infoText->setText(kNoDeviceText);
        c.tabControl1->setTabEnabled(c.tabControl1->indexOf(c.viewingTab), true);
    }
}

void Form1::setMouseStylus(bool on)
{
    showMouseStylus(on);
    m_stylusChosen = true;
    hdapi::useVirtualDevice(on);
    if (on) m_options.openDevice = true; // a device is wanted after all
    COpenGL* gl = view();
    // Before the structure is on the view the choice is used when the device is opened.
    if (!m_loaded || !gl || m_closing || on == usingMouseStylus()) return;

    m_stylus.detach();
    Workbench& bench = *m_workbench;
    int32_t model = 0;
    bool device = false;
    if (on || hdapi::vendorLibraryAvailable()) {
        device = bench.replaceDevice(deviceAtoms(), gl->getCurrentCamZ(), &model);
    } else {
        bench.adoptDevice(nullptr); // no arm to go back to
    }
    if (device && m_running) bench.start();
    m_logic->state().isOmni = device ? model : 0;
    showMouseStylus(device && on);
    showDeviceState(device);
    m_stylus.attach(*gl);
    console::Line() << (device ? (on ? "mouse stylus on" : "haptic device opened") : "no haptic device");
    showLoadedStatus();
}

float Form1::cutoff() const
{
    // Eigen data files bring their own cutoff; the others use the one given for the load.
    if (m_request.loadMode != load::EigenFiles) return m_request.rc;
    const ElasticNetworkModel* network = m_workbench->network();
    if (!network) return m_request.rc;
    return network->getRc(); // Å, as stored
}

void Form1::finishElNemo()
{
    FormControls& c = m_controls;
    ElasticNetworkModel* network = m_workbench->network();
    const std::optional<std::vector<std::string>> files = m_flow->askModeFiles();
    if (!files || !network) return;
    network->setupBlankArrays();
    for (const std::string& file : *files) network->calculateEigenFromElnemo(file);
    const std::vector<int32_t> modes = network->getElNemoModes();
    const std::vector<double> values = m_flow->askEigenvalues();
    if (modes.empty()) {
        userPrompts().messageBox(LoadWorkflow::kSetupErrorCaption, "None of the chosen mode files could be read.",
                                 MessageIcon::Warning, MessageButtons::Ok);
        return;
    }
    // The rigid-body values come first; the network skips them.
    network->textInput().finishElnemoImport(values, m_workbench->averageForce());
    const int total = network->geometry().get3NMinus6();
    m_logic->networkLoaded(network->getTotalMaxModes(), total, network->getS(), cutoff());
    c.uncheckAllModes->setText("Select " + QString::number(network->getTotalMaxModes()) + " out of " + QString::number(total)
                               + " total modes");
    c.undoSelection->setEnabled(true);
    c.resetSimulation->setEnabled(true);
    // Only the boxes of the modes read.
    for (QCheckBox* box : c.modeArray) box->setEnabled(false);
    for (std::size_t i = 0; i < modes.size() && i < c.modeArray.size(); ++i)
        if (modes[i] >= 1 && modes[i] <= static_cast<int32_t>(c.modeArray.size()))
            c.modeArray[static_cast<std::size_t>(modes[i] - 1)]->setEnabled(true);
    m_flow->showDeviceInstructions(m_logic->state().isOmni);
    m_logic->state().loadedELNEMO = true;
}

void Form1::finishTextFile()
{
    ElasticNetworkModel* network = m_workbench->network();
    const std::optional<std::string> file = m_flow->askTextFile();
    if (!file || !network) return;
    if (!network->loadStandardEigenFile(*file, m_workbench->averageForce(), nullptr)) {
        userPrompts().messageBox(LoadWorkflow::kSetupErrorCaption, "The eigen data in " + *file + " could not be used.",
                                 MessageIcon::Warning, MessageButtons::Ok);
        return;
    }
    console::Line() << "max modes detected: " << network->getTotalMaxModes();
    m_logic->networkLoaded(network->getTotalMaxModes(), network->geometry().get3NMinus6(), network->getS(), cutoff());
    m_flow->showDeviceInstructions(m_logic->state().isOmni);
}

void Form1::tick()
{
    if (!m_viewReady && !m_glProblemShown && m_surface && !m_surface->problem().empty()) {
        m_glProblemShown = true;
        setStatus(QString("OpenGL is not available: %1").arg(QString::fromStdString(m_surface->problem())));
    }
    // While a load works, a third of the frames: drawn in software they would take a good
    // part of the cores the load works on.
    m_logic->setFramePeriod(m_worker.joinable() && !m_loadDone.load() ? 3 : 1);
    if (m_worker.joinable()) {
        answerSetupQuestions();
        const int stage = m_stage.load();
        if (!m_loadDone.load()) showProgress(stage);
        if (stage != m_shownStage && !m_loadDone.load()) {
            m_shownStage = stage;
            setStatus(QString("Loading %1: %2").arg(fileName(), stageText(static_cast<LoadStage>(stage))));
        }
        if (m_loadDone.load()) loadFinished();
    }
    if (m_everyModeDone.load()) everyModeFinished();
    const bool entered = m_logic->state().firstEntry;
    m_logic->tick();
    // The first entry's text speaks of the arm; with the mouse the way to pull follows it.
    if (!entered && m_logic->state().firstEntry && usingMouseStylus())
        m_controls.infoText->setText(m_controls.infoText->text() + "\n\n" + kMouseStylusText);
    m_stylus.update();
}

void Form1::showProgress(int stage)
{
    // A stage whose steps stop moving (the eigen solution and Y are long single library calls)
    // shows a busy bar until they move again, so that the bar never stands still while the
    // work goes on. Where the driver draws on the CPU, each step of the style's busy animation
    // recomposes the whole window through GL, which took half the cores a capsid's load works
    // on: there the bar's text moves instead, twice a second.
    QProgressBar* bar = m_controls.ELNcalcProgBar;
    const int percent = m_progress->percent();
    const auto now = std::chrono::steady_clock::now();
    if (percent != m_progressShown || stage != m_shownStage) {
        m_progressShown = percent;
        m_progressMoved = now;
    }
    const auto still = now - m_progressMoved;
    if (still > std::chrono::milliseconds(500)) {
        if (m_surface->view() && m_surface->view()->drawsInSoftware()) {
            const auto beats = static_cast<int>(still / std::chrono::milliseconds(500));
            bar->setFormat(QString("%p% working") + QString(beats % 4, QChar('.')));
        } else if (bar->maximum() != 0) {
            bar->setRange(0, 0);
        }
    } else {
        if (bar->maximum() == 0) bar->setRange(0, 100);
        bar->setFormat("%p%");
        bar->setValue(percent);
    }
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
    // Every mode in the background stops at its next check (the tridiagonal reduction checks
    // between blocks of columns); the window goes at once.
    m_everyModeCancel.store(true);
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
        if (Haptics* d = m_workbench->device()) d->setReconfiguringMolecule(0);
    } else if (event->button() == Qt::RightButton) {
        Haptics* d = m_workbench->device();
        if (d) d->mouseDownRotate(p.x(), p.y());
        setCursor(Qt::PointingHandCursor);
        m_rightMouse = true;
        if (d) d->setReconfiguringMolecule(0);
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
    if (m_rightMouse)
        if (Haptics* d = m_workbench->device()) d->updateMoleculePosition(p.x(), p.y());
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
        if (Haptics* d = m_workbench->device()) d->setReconfiguringMolecule(1);
        unsetCursor();
    }
}

} // namespace vornax
