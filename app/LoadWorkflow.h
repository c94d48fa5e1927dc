// The questions of a load, in the order the main window asks them, apart from the window and
// the view: which source, which file, which cutoff, where the results go, the set-up dialog's
// two showings and the inputs of ElNemo and text eigen data. The window runs the long work
// (Hessian, modes, Y, mode budget) between them on a worker thread.
//
//     LoadWorkflow flow(dialogs);
//     std::optional<LoadRequest> request = flow.begin();    // nothing: the load ends here
//     ... network built:   folder = flow.askResultFolder(nodes, defaultFolder);
//     ... modes ready:     flow.showDeviceInstructions(deviceModel);
#pragma once

#include "LoadDialogs.h"

#include "enm/Pipeline.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornax {

/// What the first questions of a load decided.
struct LoadRequest {
    int32_t loadMode = load::Cancel;
    /// The PDB file (choices 1, 2, 5) or the eigen data files (choice 3).
    StructureSource source;
    float rc = 11.0f; ///< Å (choice 3 takes the files' own)
};

class LoadWorkflow {
public:
    static constexpr float kDefaultRc = 11.0f;
    static constexpr const char* kPdbFilter = "PDB files (*.pdb)|*.pdb";
    /// The structure's own file: PDB, or every structure file read (PDB and mmCIF), the second
    /// pair shown first.
    static constexpr const char* kStructureFilter =
        "PDB files (*.pdb)|*.pdb|Structure files (*.pdb;*.cif;*.cif.gz;*.mmcif)|*.pdb;*.cif;*.cif.gz;*.mmcif";
    static constexpr const char* kTextFilter = "txt files (*.txt)|*.txt|All files (*.*)|*.*";
    static constexpr const char* kSetupErrorCaption = "Elastic Network Setup Error";
    static constexpr const char* kMissingHdv = "File Input Error, the HDV file is missing.";

    explicit LoadWorkflow(LoadDialogs& dialogs) : m_dialogs(&dialogs) {}

    /// The dialogs used from now on (not owned).
    void setDialogs(LoadDialogs& dialogs) { m_dialogs = &dialogs; }
    LoadDialogs& dialogs() const { return *m_dialogs; }

    /// The load choice, then the structure's file, for computed modes which of its biological
    /// assemblies when it describes any, and the cutoff (eigen data files: the check for a
    /// main file). Nothing when the load ends before any work: "Cancel", the close box with no
    /// earlier choice, a cancelled file dialog or assembly question, or no ".hdv" file among
    /// those chosen.
    std::optional<LoadRequest> begin();
    /// The same for a file already chosen (dropped on the window, or a recent one): a main eigen
    /// data file (`eigenData`, with the .ppy beside it when there is one) loads its modes; any
    /// other file is a structure whose modes are computed, after its assembly and cutoff questions.
    std::optional<LoadRequest> beginWithFile(const std::string& file, bool eigenData);
    /// Computed modes load `assembly` of the file (an empty request: its own content) without
    /// the assembly question, as a command line asks.
    void presetAssembly(AssemblyRequest assembly) { m_presetAssembly = std::move(assembly); }
    /// The last load choice (load::…).
    int32_t loadMode() const { return m_loadMode; }

    /// A cutoff of 0 or below (or not a number) becomes 11 Å, with the user told.
    static float checkedCutoff(float rc);

    /// Computed modes, once the network of `nodes` nodes is built: the time estimate on the
    /// set-up dialog, the folder for the results (`defaultFolder` when none is chosen) and the
    /// set-up dialog. Returns the folder.
    std::string askResultFolder(int32_t nodes, const std::string& defaultFolder);
    /// The device instructions for `deviceModel`, and the set-up dialog shown again.
    void showDeviceInstructions(int32_t deviceModel);

    /// ElNemo: the mode files, in the order chosen (nothing when cancelled).
    std::optional<std::vector<std::string>> askModeFiles();
    /// ElNemo: the pasted eigenvalues.
    std::vector<double> askEigenvalues() { return m_dialogs->askEigenvalues(); }
    /// Text eigen data: the file (nothing when cancelled).
    std::optional<std::string> askTextFile();

private:
    /// The asymmetric unit (an empty request) when `file` describes no assembly other than its
    /// own content; otherwise the user's choice, nothing when cancelled.
    std::optional<AssemblyRequest> askAssembly(const std::string& file);

    LoadDialogs* m_dialogs;
    int32_t m_loadMode = load::NoChoice;
    std::optional<AssemblyRequest> m_presetAssembly;
};

} // namespace vornax
