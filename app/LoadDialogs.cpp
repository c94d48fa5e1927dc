#include "LoadDialogs.h"

#include "CutoffDialog.h"
#include "EigenvalueDialog.h"
#include "LoadChoiceDialog.h"
#include "VornaxLoadBox.h"

#include "enm/io/StandardFileLoader.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QStringList>

#include <filesystem>

namespace vornax {

// ---- Scripted --------------------------------------------------------------------------------

ScriptedLoadDialogs::ScriptedLoadDialogs()
    : choice([this](const FileRequest& request) { return chooseFiles(request); }, [this] { ++tutorialsShown; })
{}

void ScriptedLoadDialogs::queueChoice(int32_t button) { choices.push_back(button); }
void ScriptedLoadDialogs::queueCutoff(std::vector<std::string> typed) { cutoffs.push_back(std::move(typed)); }
void ScriptedLoadDialogs::queueEigenvalues(std::optional<std::string> pasted)
{
    eigenvalues.push_back(std::move(pasted));
}
void ScriptedLoadDialogs::queueFiles(std::optional<std::vector<std::string>> chosen)
{
    files.push_back(std::move(chosen));
}
void ScriptedLoadDialogs::queueFolder(std::optional<std::string> folder) { folders.push_back(std::move(folder)); }
void ScriptedLoadDialogs::queueAssembly(std::optional<std::size_t> item) { assemblies.push_back(item); }

std::optional<std::size_t> ScriptedLoadDialogs::chooseAssembly(const AssemblyQuestion& question)
{
    assemblyQuestions.push_back(question);
    if (assemblies.empty()) return std::size_t{0};
    return takeScripted(assemblies);
}

int32_t ScriptedLoadDialogs::chooseLoad()
{
    const int32_t button = choices.empty() ? load::NoChoice : choices.front();
    if (!choices.empty()) choices.pop_front();
    if (button == load::NoChoice)
        choice.close();
    else
        choice.press(button);
    return choice.getChoice();
}

float ScriptedLoadDialogs::askCutoff()
{
    CutoffEntry entry;
    if (!cutoffs.empty()) {
        for (const std::string& typed : cutoffs.front())
            if (entry.enter(typed) == CutoffEntry::Outcome::Accepted) break;
        cutoffs.pop_front();
    }
    cutoffDialogs.push_back(entry);
    return entry.getValue();
}

std::vector<double> ScriptedLoadDialogs::askEigenvalues()
{
    std::optional<std::string> pasted;
    if (!eigenvalues.empty()) {
        pasted = std::move(eigenvalues.front());
        eigenvalues.pop_front();
    }
    return pasted ? parseEigenvalueText(*pasted) : std::vector<double>{};
}

void ScriptedLoadDialogs::setOkButtonToDiagNow(bool largeMolecule, int32_t amountOfCAlpha)
{
    if (randomIterations)
        loadBox.setTimeEstimate(amountOfCAlpha, *randomIterations);
    else
        loadBox.setOkButtonToDiagNow(largeMolecule, amountOfCAlpha);
}

std::optional<std::vector<std::string>> ScriptedLoadDialogs::chooseFiles(const FileRequest& request)
{
    fileRequests.push_back(request);
    return takeScripted(files);
}

std::optional<std::string> ScriptedLoadDialogs::chooseFolder(const std::string& description)
{
    folderDescriptions.push_back(description);
    return takeScripted(folders);
}

// ---- Qt --------------------------------------------------------------------------------------

std::optional<std::vector<std::string>> showFileDialog(QWidget* parent, const FileRequest& request,
                                                       std::string& lastFolder)
{
    QStringList filters;
    for (const auto& [description, patterns] : splitFileFilter(request.filter)) {
        QStringList list;
        for (const std::string& p : patterns) list << QString::fromStdString(p);
        QString name = QString::fromStdString(description);
        // Qt reads the patterns from the parentheses of the name: give it the real list.
        if (const auto open = name.indexOf('('); open >= 0) name.truncate(open);
        filters << QStringLiteral("%1 (%2)").arg(name.trimmed(), list.join(' '));
    }
    const int index = request.filterIndex >= 1 && request.filterIndex <= filters.size() ? request.filterIndex - 1 : 0;
    QString selected = filters.isEmpty() ? QString() : filters[index];
    const QString folder = QString::fromStdString(request.folder.empty() ? lastFolder : request.folder);
    const QString caption = QString::fromStdString(request.title);
    QStringList chosen;
    if (request.multiple) {
        chosen = QFileDialog::getOpenFileNames(parent, caption, folder, filters.join(QStringLiteral(";;")), &selected);
    } else {
        const QString one =
            QFileDialog::getOpenFileName(parent, caption, folder, filters.join(QStringLiteral(";;")), &selected);
        if (!one.isEmpty()) chosen << one;
    }
    if (chosen.isEmpty()) return std::nullopt;
    std::vector<std::string> names;
    for (const QString& name : chosen) names.push_back(name.toStdString());
    lastFolder = std::filesystem::path(names.front()).parent_path().string();
    return names;
}

QtLoadDialogs::QtLoadDialogs(QWidget* parentIn, std::string applicationFolder, std::function<void()> showTutorial)
    : parent(parentIn)
{
    // The load choice remembers its own folder for the eigen files.
    auto chooser = [this](const FileRequest& request) {
        std::string folder = request.folder;
        return showFileDialog(choiceDialog.get(), request, folder);
    };
    choiceDialog = std::make_unique<LoadChoiceDialog>(chooser, std::move(showTutorial), parent);
    choiceDialog->logic().setApplicationFolder(std::move(applicationFolder));
    box = std::make_unique<VornaxLoadBox>(parent);
}

QtLoadDialogs::~QtLoadDialogs() = default;

int32_t QtLoadDialogs::chooseLoad() { return choiceDialog->choose(); }

std::vector<std::string> QtLoadDialogs::getEigenFileNames() const { return choiceDialog->logic().getFileNames(); }

void QtLoadDialogs::setTutorial(bool on) { choiceDialog->logic().setTutorial(on); }

std::optional<std::size_t> QtLoadDialogs::chooseAssembly(const AssemblyQuestion& question)
{
    QStringList items;
    for (const std::string& item : question.items) items << QString::fromStdString(item);
    bool ok = false;
    const QString chosen = QInputDialog::getItem(parent, AssemblyQuestion::kTitle,
                                                 QString::fromStdString(question.heading), items, 0, false, &ok);
    const auto index = items.indexOf(chosen);
    if (!ok || index < 0) return std::nullopt;
    return static_cast<std::size_t>(index);
}

float QtLoadDialogs::askCutoff()
{
    CutoffDialog dialog(parent);
    return dialog.ask();
}

std::vector<double> QtLoadDialogs::askEigenvalues()
{
    EigenvalueDialog dialog(parent);
    return dialog.ask();
}

void QtLoadDialogs::setOkButtonToDiagNow(bool largeMolecule, int32_t amountOfCAlpha)
{
    box->setOkButtonToDiagNow(largeMolecule, amountOfCAlpha);
}

void QtLoadDialogs::changeLabel(int32_t device) { box->changeLabel(device); }

void QtLoadDialogs::showLoadBox() { box->exec(); }

std::optional<std::vector<std::string>> QtLoadDialogs::chooseFiles(const FileRequest& request)
{
    return showFileDialog(parent, request, lastFolder);
}

std::optional<std::string> QtLoadDialogs::chooseFolder(const std::string& description)
{
    const QString folder = QFileDialog::getExistingDirectory(parent, QString::fromStdString(description),
                                                             QString::fromStdString(lastFolder));
    if (folder.isEmpty()) return std::nullopt;
    return folder.toStdString();
}

} // namespace vornax
