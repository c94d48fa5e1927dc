#include "SessionWorkflow.h"

#include "FormControls.h"
#include "FormLogic.h"
#include "LoadDialogs.h"
#include "LoadWorkflow.h"

#include "common/Console.h"
#include "common/UserPrompts.h"
#include "enm/io/EigenFileNames.h"
#include "enm/ElasticNetworkModel.h"
#include "haptics/Workbench.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QSlider>

#include <filesystem>

namespace vornax {

// ---- Dialogs ----------------------------------------------------------------------------------

std::optional<std::string> ScriptedSessionDialogs::chooseSaveFile(const FileRequest& request)
{
    requests.push_back(request);
    return takeScripted(saveFiles);
}

std::optional<std::vector<std::string>> ScriptedSessionDialogs::chooseFiles(const FileRequest& request)
{
    requests.push_back(request);
    return takeScripted(openFiles);
}

std::optional<std::string> QtSessionDialogs::chooseSaveFile(const FileRequest& request)
{
    QFileDialog dialog(m_parent, QString::fromStdString(request.title), QString::fromStdString(request.folder));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter("Vornax Session File (*.vsf)");
    dialog.setDefaultSuffix("vsf");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::vector<std::string>> QtSessionDialogs::chooseFiles(const FileRequest& request)
{
    return showFileDialog(m_parent, request, m_lastFolder);
}

// ---- The two commands -------------------------------------------------------------------------

SessionWorkflow::SessionWorkflow(SessionDialogs& dialogs, std::string homeFolder)
    : m_dialogs(dialogs), m_folder(std::move(homeFolder))
{}

bool SessionWorkflow::save(const std::function<SessionData()>& collect)
{
    FileRequest request;
    request.title = kSaveTitle;
    request.filter = session::kFilter;
    request.folder = m_folder;
    const std::optional<std::string> file = m_dialogs.chooseSaveFile(request);
    if (!file || file->empty()) return false;
    const std::filesystem::path path(*file);
    if (path.has_parent_path()) m_folder = path.parent_path().string();
    std::string error;
    if (!writeSessionFile(path, collect(), error)) {
        console::write(console::Warning, error);
        userPrompts().messageBox(session::kErrorCaption, error, MessageIcon::Warning, MessageButtons::Ok);
        return false;
    }
    console::line("session written: " + path.string());
    return true;
}

std::optional<SessionOpening> SessionWorkflow::askOpen()
{
    FileRequest request;
    request.title = kOpenTitle;
    request.filter = session::kFilter;
    request.filterIndex = 2;
    const auto chosen = m_dialogs.chooseFiles(request);
    if (!chosen || chosen->empty() || chosen->front().empty()) return std::nullopt;
    return askOpen(chosen->front());
}

std::optional<SessionOpening> SessionWorkflow::askOpen(const std::string& file)
{
    SessionOpening opening;
    opening.file = file;
    std::string error;
    std::optional<SessionData> data = readSessionFile(opening.file, error);
    if (!data) {
        console::write(console::Warning, error);
        userPrompts().messageBox(session::kErrorCaption, error, MessageIcon::Warning, MessageButtons::Ok);
        return std::nullopt;
    }
    opening.data = std::move(*data);

    FileRequest eigen;
    eigen.title = kEigenTitle;
    eigen.filter = LoadChoice::kEigenFileFilter;
    eigen.filterIndex = LoadChoice::kEigenFileFilterIndex;
    eigen.folder = std::filesystem::path(opening.file).parent_path().string();
    eigen.multiple = true;
    const auto files = m_dialogs.chooseFiles(eigen);
    if (!files) return std::nullopt; // cancelled: nothing is loaded
    if (!hasMainEigenDataFile(*files)) {
        userPrompts().messageBox(LoadWorkflow::kSetupErrorCaption, LoadWorkflow::kMissingHdv, MessageIcon::None,
                                 MessageButtons::Ok);
        return std::nullopt;
    }
    opening.eigenFiles = *files;
    return opening;
}

// ---- The window's state -----------------------------------------------------------------------

SessionData collectSession(const FormControls& c, const Workbench& bench)
{
    SessionData d;
    d.version = session::kVersion;
    d.saveForces = c.saveForces->isChecked() ? 1 : 0;
    d.sliderPosition = c.forceMagSlider->value();
    bench.writeWorkspace(d.workspace);
    for (std::size_t i = 0; i < d.modeSwitches.size(); ++i) d.modeSwitches[i] = c.modeArray[i]->isChecked() ? 1 : 0;
    if (const ElasticNetworkModel* eln = bench.network()) {
        d.forces = eln->deformation().keptForces();
        d.structure = eln->sessionStructure();
    }
    return d;
}

void applySession(const SessionData& d, const FormControls& c, FormLogic& logic, Workbench& bench)
{
    // The modes first: "Save Forces" locks the mode boxes, and the kept forces carry their own
    // routes whatever the selection.
    bool anyMode = false;
    for (int32_t on : d.modeSwitches) anyMode = anyMode || on == 1;
    if (anyMode) {
        FormState& state = logic.state();
        state.selectingALL = true;
        for (std::size_t i = 0; i < d.modeSwitches.size(); ++i) c.modeArray[i]->setChecked(d.modeSwitches[i] == 1);
        state.selectingALL = false;
        logic.generatePossibleModalList();
    } else if (!d.forces.empty()) {
        // No box ticked: the modes were all allowed ones, or the mode slider's first n. The
        // file keeps the slider's n only in the forces' routes: the same n on every force
        // brings the slider back.
        const int32_t n = d.forces.front().modeState[1];
        bool slider = true;
        for (const SessionForce& f : d.forces) slider = slider && f.modeState[0] == 1 && f.modeState[1] == n;
        if (slider && n < c.modeSlider->maximum()) { // all of them: "Select Maximum Modes"
            c.modeSlider->setSliderPosition(n);
            logic.sliderMouseDown();
        }
    }
    if (c.forceMagSlider->value() == d.sliderPosition)
        logic.forceSliderChanged(d.sliderPosition);
    else
        c.forceMagSlider->setValue(d.sliderPosition);
    // A 0 leaves a ticked box as it is.
    if (d.saveForces == 1) c.saveForces->setChecked(true);

    for (const SessionForce& f : d.forces) bench.restoreKeptForce(f);
    logic.rebuildAppliedForces();
    // After the view's reset, which puts the workspace back to its start. A session saved
    // without a device carries the untouched default (no translation at all), which no device
    // workspace is: the view's own start stays then.
    if (!(d.workspace == SessionWorkspace())) bench.restoreWorkspace(d.workspace);
    console::line("finished reading session file");
}

} // namespace vornax
