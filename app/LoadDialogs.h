// Every question the load puts to the user, behind one interface: the window uses the Qt
// dialogs, tests and scripted runs a ScriptedLoadDialogs with canned answers. Both pass the
// answers through the same decisions (LoadDialogLogic.h).
//
// The PDB code question is asked by the PDB reader through userPrompts() (QtPrompts shows it
// as a PdbCodeDialog; ScriptedPrompts answers it in tests).
#pragma once

#include "LoadDialogLogic.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace vornax {

class LoadChoiceDialog;
class VornaxLoadBox;

class LoadDialogs {
public:
    virtual ~LoadDialogs() = default;

    /// The load-choice dialog: shows it and returns `loadMode` (load::…). The dialog keeps
    /// its choice between loads.
    virtual int32_t chooseLoad() = 0;
    /// The files chosen with load::EigenFiles.
    virtual std::vector<std::string> getEigenFileNames() const = 0;
    /// The tutorial is running (the eigen files are then offered from the tutorial folder).
    virtual void setTutorial(bool on) = 0;

    /// The biological assembly question: the item chosen (0 "the asymmetric unit"), nothing
    /// when it was cancelled.
    virtual std::optional<std::size_t> chooseAssembly(const AssemblyQuestion& question) = 0;
    /// A new cutoff dialog: the accepted cutoff in Å, 0 when it was closed without one.
    virtual float askCutoff() = 0;
    /// The eigenvalue entry dialog: the values read from the pasted text (none when closed).
    virtual std::vector<double> askEigenvalues() = 0;

    /// The set-up dialog `VornaxLoadBox`: set its texts, then show it.
    virtual void setOkButtonToDiagNow(bool largeMolecule, int32_t amountOfCAlpha) = 0;
    virtual void changeLabel(int32_t device) = 0;
    virtual void showLoadBox() = 0;

    /// The other file dialogs of a load (PDB file, ElNemo mode files, text eigen file).
    virtual std::optional<std::vector<std::string>> chooseFiles(const FileRequest& request) = 0;
    /// The folder dialog for the results; nothing when cancelled.
    virtual std::optional<std::string> chooseFolder(const std::string& description) = 0;
};

/// Answers from queues, in order; records what was shown. With an empty queue a dialog is
/// closed with its close box, and a file or folder dialog is cancelled; the assembly question
/// alone is answered with "the asymmetric unit", the load as it is without the question.
class ScriptedLoadDialogs final : public LoadDialogs {
public:
    ScriptedLoadDialogs();

    /// The next load choice: the button with value `button`, or 0 for the close box. The file
    /// step of load::EigenFiles takes its answer from the file queue.
    void queueChoice(int32_t button);
    /// The next cutoff dialog: each text is typed and "Enter" pressed, until one is accepted;
    /// if none is, the close box follows.
    void queueCutoff(std::vector<std::string> typed);
    /// The next eigenvalue dialog: the pasted text, or nothing for the close box.
    void queueEigenvalues(std::optional<std::string> pasted);
    /// The next file dialog (any of them): the chosen files, or nothing for cancel.
    void queueFiles(std::optional<std::vector<std::string>> files);
    void queueFolder(std::optional<std::string> folder);
    /// The next assembly question: the item chosen, or nothing for cancel.
    void queueAssembly(std::optional<std::size_t> item);

    int32_t chooseLoad() override;
    std::vector<std::string> getEigenFileNames() const override { return choice.getFileNames(); }
    void setTutorial(bool on) override { choice.setTutorial(on); }
    std::optional<std::size_t> chooseAssembly(const AssemblyQuestion& question) override;
    float askCutoff() override;
    std::vector<double> askEigenvalues() override;
    void setOkButtonToDiagNow(bool largeMolecule, int32_t amountOfCAlpha) override;
    void changeLabel(int32_t device) override { loadBox.changeLabel(device); }
    void showLoadBox() override { shownLoadBoxes.push_back(loadBox); }
    std::optional<std::vector<std::string>> chooseFiles(const FileRequest& request) override;
    std::optional<std::string> chooseFolder(const std::string& description) override;

    /// The calibration the time estimate uses (measured on this machine when not set).
    void setRandomIterations(int64_t iterations) { randomIterations = iterations; }
    LoadChoice& loadChoice() { return choice; }

    /// What was shown, in order.
    std::vector<LoadBoxText> shownLoadBoxes;
    std::vector<FileRequest> fileRequests;
    std::vector<std::string> folderDescriptions;
    std::vector<AssemblyQuestion> assemblyQuestions;
    /// The state of every cutoff dialog when it closed.
    std::vector<CutoffEntry> cutoffDialogs;
    int32_t tutorialsShown = 0;

private:
    LoadChoice choice;
    LoadBoxText loadBox;
    std::optional<int64_t> randomIterations;
    std::deque<int32_t> choices;
    std::deque<std::vector<std::string>> cutoffs;
    std::deque<std::optional<std::string>> eigenvalues;
    std::deque<std::optional<std::vector<std::string>>> files;
    std::deque<std::optional<std::string>> folders;
    std::deque<std::optional<std::size_t>> assemblies;
};

/// The next scripted answer of a dialog: nothing (cancel) when none is queued.
template <class T>
std::optional<T> takeScripted(std::deque<std::optional<T>>& queue)
{
    if (queue.empty()) return std::nullopt;
    std::optional<T> answer = std::move(queue.front());
    queue.pop_front();
    return answer;
}

/// The Qt dialogs, modal on `parent`. The load-choice dialog and the set-up dialog live as long
/// as this object; the cutoff and eigenvalue dialogs are made anew each time.
class QtLoadDialogs final : public LoadDialogs {
public:
    /// `applicationFolder` holds the tutorial files; `showTutorial` shows the tutorial pop-up.
    QtLoadDialogs(QWidget* parent, std::string applicationFolder, std::function<void()> showTutorial = {});
    ~QtLoadDialogs() override;

    int32_t chooseLoad() override;
    std::vector<std::string> getEigenFileNames() const override;
    void setTutorial(bool on) override;
    std::optional<std::size_t> chooseAssembly(const AssemblyQuestion& question) override;
    float askCutoff() override;
    std::vector<double> askEigenvalues() override;
    void setOkButtonToDiagNow(bool largeMolecule, int32_t amountOfCAlpha) override;
    void changeLabel(int32_t device) override;
    void showLoadBox() override;
    std::optional<std::vector<std::string>> chooseFiles(const FileRequest& request) override;
    std::optional<std::string> chooseFolder(const std::string& description) override;

    LoadChoiceDialog& loadChoiceDialog() { return *choiceDialog; }
    VornaxLoadBox& loadBox() { return *box; }

private:
    QWidget* parent;
    std::string lastFolder;
    std::unique_ptr<LoadChoiceDialog> choiceDialog;
    std::unique_ptr<VornaxLoadBox> box;
};

/// An open-file dialog for `request` on `parent`: the Qt form of the request's filter, the pair
/// `filterIndex` selected. `lastFolder` is used when the request names no folder and set to
/// the folder of the files chosen.
std::optional<std::vector<std::string>> showFileDialog(QWidget* parent, const FileRequest& request,
                                                       std::string& lastFolder);

} // namespace vornax
