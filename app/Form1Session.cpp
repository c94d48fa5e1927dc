// The main window's session commands: "Open &Session" loads the session's eigen data files as
// "&Open" would, checks the session against the loaded network before the hand-over, and puts
// the session back once the simulation runs; "Save &Session" writes the running one.
#include "Form1.h"
#include "FormLogic.h"
#include "QtPrompts.h"

#include "common/Console.h"
#include "common/UserPrompts.h"
#include "enm/ElasticNetworkModel.h"
#include "haptics/Haptics.h"
#include "haptics/Workbench.h"

#include <QAction>
#include <QDir>
#include <QMessageBox>
#include <QProgressBar>

namespace vornax {

void Form1::setUpSessions()
{
    SessionDialogs* dialogs = m_options.sessionDialogs;
    if (!dialogs) {
        m_ownSessionDialogs = std::make_unique<QtSessionDialogs>(this);
        dialogs = m_ownSessionDialogs.get();
    }
    m_sessions = std::make_unique<SessionWorkflow>(*dialogs, QDir::homePath().toStdString());
}

void Form1::openSession()
{
    // A session brings its own structure, which replaces the one on the window.
    if (!canOpen() || !offerToSaveSession()) return;
    startSession(m_sessions->askOpen());
}

void Form1::startSession(std::optional<SessionOpening> opening)
{
    if (!opening) return;
    m_sessionFile = opening->file;
    m_pendingSession = std::move(opening->data);
    m_sessionFromMenu = true;
    m_sessionRefused = false;
    m_flow = m_workflow.get();
    m_logic->state().loadMode = load::EigenFiles;
    LoadRequest request;
    request.loadMode = load::EigenFiles;
    request.source = StructureSource::eigenDataFiles(opening->eigenFiles);
    request.rc = LoadWorkflow::kDefaultRc;
    console::line("loading session file: " + opening->file);
    startLoad(request);
}

void Form1::saveSession()
{
    if (!view() || !m_workbench->loaded()) {
        userPrompts().messageBox(session::kErrorCaption, "There is no session to save yet.", MessageIcon::Information,
                                 MessageButtons::Ok);
        return;
    }
    m_sessions->save([&] { return collectSession(m_controls, *m_workbench); });
}

bool Form1::saveSessionTo(const std::filesystem::path& file, std::string& error)
{
    if (!view() || !m_workbench->loaded()) {
        error = "there is no session to save";
        return false;
    }
    return writeSessionFile(file, collectSession(m_controls, *m_workbench), error);
}

bool Form1::acceptPendingSession()
{
    if (!m_pendingSession || !m_result || !m_result->network) return true;
    const ElasticNetworkModel& eln = *m_result->network;
    SessionTarget target;
    target.structure = eln.sessionStructure();
    target.keptModes = eln.getTotalMaxModes();
    // The sparse path writes no response matrix: what its files give is all there is.
    target.allModesHeld = eln.modes().allModesRouteHeld() || eln.modes().isSparse();
    target.kcalPerNewton = eln.modes().getNewtonToKcal() * eln.getS();
    target.deviceForce = largestDeviceForce();
    std::string error, warning;
    if (sessionFitsNetwork(*m_pendingSession, target, error, warning)) {
        if (!warning.empty()) {
            console::write(console::Warning, warning);
            if (m_sessionFromMenu)
                userPrompts().messageBox(session::kErrorCaption, warning, MessageIcon::Warning, MessageButtons::Ok);
        }
        return true;
    }
    // Nothing of the load is kept: the window is as it was before the command.
    m_pendingSession.reset();
    m_result.reset();
    m_sessionRefused = true;
    console::write(console::Warning, "session refused: " + error);
    setStatus(QString("The session could not be opened: %1").arg(QString::fromStdString(error)));
    m_controls.openToolStripMenuItem->setEnabled(true);
    m_controls.openSession->setEnabled(true);
    m_sessionFile.clear();
    refreshRecent();
    m_controls.ELNcalcProgBar->setVisible(false);
    if (m_sessionFromMenu)
        userPrompts().messageBox(session::kErrorCaption, error, MessageIcon::Warning, MessageButtons::Ok);
    m_sessionFromMenu = false;
    emit loadEnded(false, QString::fromStdString(error));
    return false;
}

void Form1::restorePendingSession()
{
    if (!m_pendingSession) return;
    const SessionData data = std::move(*m_pendingSession);
    m_pendingSession.reset();
    m_sessionFromMenu = false;
    applySession(data, m_controls, *m_logic, *m_workbench);
}

} // namespace vornax
