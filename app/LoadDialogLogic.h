// The decisions of the load dialogs, apart from their windows: what the load-choice buttons
// store, when the cutoff is accepted, what the set-up dialog says. The dialogs (and the
// scripted stand-in used by tests) only pass the user's input through these classes.
#pragma once

#include "common/Units.h"
#include "molecule/StructureFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vornax {

// ---- File dialogs -------------------------------------------------------------------------------

/// One open-file dialog as the load asks for it. `filter` is written as pairs of description
/// and patterns, all separated by '|' ("PDB files (*.pdb)|*.pdb"); `filterIndex` counts the
/// pairs from 1 and falls back to the first pair when there is no such pair.
struct FileRequest {
    std::string title;
    std::string filter;
    int32_t filterIndex = 1;
    std::string folder; ///< initial folder; empty: the folder the dialog used last
    bool multiple = false;
};

/// The chosen files, or nothing when the dialog was cancelled.
using FileChooser = std::function<std::optional<std::vector<std::string>>(const FileRequest&)>;

/// The (description, patterns) pairs of a '|'-separated filter; patterns separated by ';'.
/// A description without patterns is dropped.
std::vector<std::pair<std::string, std::vector<std::string>>> splitFileFilter(const std::string& filter);

// ---- Load choice --------------------------------------------------------------------------------

/// The values of `loadMode`.
namespace load {
constexpr int32_t NoChoice = 0; ///< the dialog was closed before any button was pressed
constexpr int32_t PdbFile = 1;
constexpr int32_t ElNemo = 2;
constexpr int32_t EigenFiles = 3;
constexpr int32_t Cancel = 4;
constexpr int32_t TextFile = 5;
} // namespace load

/// The load-choice dialog's state. It lives as long as its owner, so a dialog closed with its
/// close box keeps the previous choice.
class LoadChoice {
public:
    static constexpr const char* kTitle = "Normal Mode Analysis Options";
    static constexpr const char* kGroup = "Choose one of the following";
    static constexpr const char* kEigenFileFilter = "Vornax files(*.hdv;*.ppy)|*.hdv;*.ppy";
    static constexpr int32_t kEigenFileFilterIndex = 3;
    static constexpr const char* kTutorialFolder = "TutorialFiles";

    /// Button texts in button order, with the value each stores.
    static const std::vector<std::pair<int32_t, std::string>>& buttons();

    /// `chooseFiles` answers the file step of "Browse for eigenvalues and eigenvectors";
    /// `showTutorial` shows the tutorial pop-up before it while the tutorial runs.
    explicit LoadChoice(FileChooser chooseFiles, std::function<void()> showTutorial = {});

    /// A button: stores its value; for EigenFiles the files are asked for first (cancel
    /// stores Cancel). Values other than 1-5 are ignored.
    void press(int32_t value);
    /// The close box. The previous choice stays; a previous EigenFiles choice asks for its
    /// files again rather than reloading the old ones unasked.
    void close();

    int32_t getChoice() const { return choice; }
    /// The files chosen for EigenFiles (empty for the other choices).
    const std::vector<std::string>& getFileNames() const { return fileNames; }

    /// While the tutorial runs the eigen files are looked for in the tutorial folder beside the
    /// program, and the tutorial pop-up is shown first.
    void setTutorial(bool on) { tutorial = on; }
    bool isTutorial() const { return tutorial; }
    void setApplicationFolder(std::string folder) { applicationFolder = std::move(folder); }
    /// The folder the eigen files were last chosen in ("" before any).
    const std::string& getLastFolder() const { return lastFolder; }

private:
    void askForEigenFiles();

    FileChooser chooseFiles;
    std::function<void()> showTutorial;
    int32_t choice = load::NoChoice;
    std::vector<std::string> fileNames;
    bool tutorial = false;
    std::string applicationFolder;
    std::string lastFolder;
};

// ---- Biological assembly -----------------------------------------------------------------------

/// The question put when the chosen structure file describes biological assemblies: its own
/// content (the asymmetric unit) or one of them, each named with its copy count.
struct AssemblyQuestion {
    static constexpr const char* kTitle = "Biological Assembly";
    static constexpr const char* kAsymmetricUnit = "the asymmetric unit";

    std::string heading;
    std::vector<std::string> items;       ///< in the list's order, "the asymmetric unit" first
    std::vector<AssemblyRequest> answers; ///< what each item loads

    /// The question for `fileName`, or nothing when it need not be asked: no assemblies, or
    /// every one of them is the file's content as it is (one identity copy of every chain).
    static std::optional<AssemblyQuestion> about(const std::string& fileName, const std::vector<AssemblyInfo>& assemblies);
    /// "assembly 1 (trimeric): 3 copies".
    static std::string itemText(const AssemblyInfo& assembly);
};

// ---- Cutoff ----------------------------------------------------------------------------------

/// The cutoff dialog's state: created anew for every load.
class CutoffEntry {
public:
    static constexpr const char* kTitle = "Elastic Bond Cutoff";
    /// The label, "C" set as a subscript.
    static constexpr const char* kLabelHtml = "Specify cutoff distance for elastic bonds (R<sub>C</sub>) in Å";
    static constexpr const char* kHint = "Distance entered must be larger than 7Å";
    static constexpr const char* kButton = "Enter";
    static constexpr float kMinimum = units::kMinCutoffAngstrom;

    enum class Outcome {
        Accepted,   ///< 7 Å or more: the dialog closes
        TooSmall,   ///< a number below 7 Å: the hint turns red, the dialog stays
        NotANumber, ///< reported on the console; the previous value stays
    };

    /// "Enter" with `typed` in the text box.
    Outcome enter(const std::string& typed);
    /// The cutoff handed back when the dialog closes, by "Enter" or by its close box: the last
    /// accepted value, 0 when none was (the load then falls back to its default). A refused
    /// number is never handed back.
    float getValue() const { return accepted; }
    bool isAccepted() const { return accepted >= kMinimum; }
    bool isHintRed() const { return hintRed; }

private:
    float accepted = 0.0f;
    bool hintRed = false;
};

// ---- PDB code -------------------------------------------------------------------------------

/// What a one-line text dialog such as the PDB code dialog hands back for `typed`: the text
/// without surrounding white space; nothing (the dialog stays open) when that is empty and
/// `requireNonEmpty` is set.
std::optional<std::string> enteredText(const std::string& typed, bool requireNonEmpty);

// ---- Eigenvalue entry ------------------------------------------------------------------------

struct EigenvalueEntryText {
    static constexpr const char* kTitle = "Entering eigenvalues";
    static constexpr const char* kGroup = "Paste eigenvalues into text box";
    static constexpr const char* kScaledWarning = "Warning: All eigenvalues will be scaled based on the B-Factors";
    static constexpr const char* kElnemoWarning = "Warning: ELNemo does not provide all eigenvalues.";
    static constexpr const char* kMissingWarning = "Missing values will be set to 0";
    static constexpr const char* kButton = "Load in eigenvalues";
};

// ---- Set-up dialog ---------------------------------------------------------------------------

/// The device pictures of the set-up dialog.
enum class DevicePicture { None, Omni, Desktop, Premium };

/// What the set-up dialog `VornaxLoadBox` shows.
struct LoadBoxText {
    static constexpr const char* kTitle = "VornaxLoadBox";
    static constexpr const char* kGroup = "Vornax Elastic Network Startup Procedure";
    static constexpr const char* kInitialInstruction =
        "Setup the elastic network data using the button below to begin...";
    static constexpr const char* kInitialButton = "Setup Elastic Network";
    static constexpr const char* kDiagonaliseButton = "Start normal mode analysis...";
    static constexpr const char* kContinueButton = "Continue...";
    static constexpr int32_t kInstructionsWidth = 810;
    static constexpr int32_t kInstructionsHeight = 800;

    std::string instruction = kInitialInstruction;
    std::string secondInstruction;
    std::string button = kInitialButton;
    DevicePicture picture = DevicePicture::None;
    /// Size of the dialog and its group; 0 keeps the layout's own.
    int32_t width = 0;
    int32_t height = 0;

    /// The time estimate for a network of `amountOfCAlpha` nodes, timed against the C
    /// library's random-number generator on this machine. The text does not depend on
    /// `largeMolecule`.
    void setOkButtonToDiagNow(bool largeMolecule, int32_t amountOfCAlpha);
    /// As setOkButtonToDiagNow with a given calibration (see calibrateRandomIterations).
    void setTimeEstimate(int32_t amountOfCAlpha, int64_t iterations);
    /// The instructions for device model `device` (0 Omni, 1 Desktop, 2 Premium); any other
    /// code leaves everything as it is.
    void changeLabel(int32_t device);
};

/// How many calls of the C library's rand() take 1 ms here, plus 500: from 15000 calls up in
/// steps of 500 until one batch takes at least 1 ms.
int64_t calibrateRandomIterations();
/// Estimated seconds of the normal mode analysis: (3n)³ / (iterations × 1000), rounded to one
/// decimal.
double estimatedSeconds(int32_t amountOfCAlpha, int64_t iterations);
/// The set-up dialog's text for an estimate of `seconds`.
std::string timeEstimateText(double seconds);

} // namespace vornax
