#include "LoadDialogLogic.h"

#include "common/Console.h"
#include "common/TextParse.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace vornax {

// ---- File dialogs -------------------------------------------------------------------------------

std::vector<std::pair<std::string, std::vector<std::string>>> splitFileFilter(const std::string& filter)
{
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= filter.size()) {
        const std::size_t bar = filter.find('|', pos);
        parts.push_back(filter.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
        if (bar == std::string::npos) break;
        pos = bar + 1;
    }
    std::vector<std::pair<std::string, std::vector<std::string>>> pairs;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::vector<std::string> patterns;
        std::size_t p = 0;
        const std::string& list = parts[i + 1];
        while (p <= list.size()) {
            const std::size_t semi = list.find(';', p);
            const std::string pattern = text::trimmed(
                std::string_view(list).substr(p, semi == std::string::npos ? std::string::npos : semi - p));
            if (!pattern.empty()) patterns.push_back(pattern);
            if (semi == std::string::npos) break;
            p = semi + 1;
        }
        if (!patterns.empty()) pairs.emplace_back(parts[i], std::move(patterns));
    }
    return pairs;
}

// ---- Load choice --------------------------------------------------------------------------------

const std::vector<std::pair<int32_t, std::string>>& LoadChoice::buttons()
{
    static const std::vector<std::pair<int32_t, std::string>> list{
        {load::PdbFile, "Browse for PDB file"},
        {load::ElNemo, "Use resuts from ElNemo"},
        {load::EigenFiles, "Browse for eigenvalues and eigenvectors"},
        {load::Cancel, "Cancel"},
        {load::TextFile, "Use sorted eigenvectors and eigenvalues in a txt file"},
    };
    return list;
}

LoadChoice::LoadChoice(FileChooser chooseFilesIn, std::function<void()> showTutorialIn)
    : chooseFiles(std::move(chooseFilesIn)), showTutorial(std::move(showTutorialIn))
{}

void LoadChoice::press(int32_t value)
{
    if (value < load::PdbFile || value > load::TextFile) return;
    choice = value;
    fileNames.clear();
    if (value == load::EigenFiles) askForEigenFiles();
}

void LoadChoice::close()
{
    if (choice == load::EigenFiles) askForEigenFiles();
}

void LoadChoice::askForEigenFiles()
{
    fileNames.clear();
    FileRequest request;
    request.filter = kEigenFileFilter;
    request.filterIndex = kEigenFileFilterIndex;
    request.multiple = true;
    if (tutorial) {
        request.folder = (std::filesystem::path(applicationFolder) / kTutorialFolder).string();
        if (showTutorial) showTutorial();
    } else {
        console::line("restoring directory");
        request.folder = lastFolder;
    }
    std::optional<std::vector<std::string>> chosen;
    if (chooseFiles) chosen = chooseFiles(request);
    if (!chosen || chosen->empty()) {
        choice = load::Cancel;
        return;
    }
    fileNames = std::move(*chosen);
    lastFolder = std::filesystem::path(fileNames.front()).parent_path().string();
}

// ---- Cutoff ----------------------------------------------------------------------------------

CutoffEntry::Outcome CutoffEntry::enter(const std::string& typed)
{
    float value = 0.0f;
    const text::NumberError error = text::readNumber(typed, value);
    if (error != text::NumberError::None) {
        console::line(text::numberErrorMessage(error));
        return Outcome::NotANumber;
    }
    if (units::isCutoffLargeEnough(value)) {
        accepted = value;
        hintRed = false;
        return Outcome::Accepted;
    }
    hintRed = true;
    return Outcome::TooSmall;
}

// ---- PDB code -------------------------------------------------------------------------------

std::optional<std::string> enteredText(const std::string& typed, bool requireNonEmpty)
{
    std::string text = text::trimmed(typed);
    if (text.empty() && requireNonEmpty) return std::nullopt;
    return text;
}

// ---- Set-up dialog ---------------------------------------------------------------------------

int64_t calibrateRandomIterations()
{
    using Clock = std::chrono::steady_clock;
    int64_t iterations = 15000;
    volatile int sink = 0;
    for (;;) {
        const auto start = Clock::now();
        for (int64_t i = 0; i < iterations; ++i) sink = std::rand();
        const auto now = Clock::now();
        iterations += 500;
        if (std::chrono::duration<double>(now - start).count() >= 0.001) break;
    }
    (void)sink;
    return iterations;
}

double estimatedSeconds(int32_t amountOfCAlpha, int64_t iterations)
{
    if (amountOfCAlpha <= 0 || iterations <= 0) return 0.0;
    const double size = 3.0 * amountOfCAlpha;
    const double seconds = size * size * size / (static_cast<double>(iterations) * 1000.0);
    return std::round(seconds * 10.0) / 10.0;
}

std::string timeEstimateText(double seconds)
{
    // NaN reads as no time at all; beyond what a 64-bit count of hours holds the estimate
    // means nothing anyway.
    constexpr double kLongest = 3600.0 * 1e18;
    seconds = seconds > 0.0 ? std::min(seconds, kLongest) : 0.0;
    const double hoursReal = std::floor(seconds / 3600.0);
    const auto hours = static_cast<int64_t>(hoursReal);
    const auto minutes = static_cast<int64_t>(std::clamp(std::floor((seconds - hoursReal * 3600.0) / 60.0), 0.0, 59.0));
    std::ostringstream text;
    if (hours > 0)
        text << "Large molecule detected, normal mode analysis expected to take approximately: " << hours
             << " hours and " << minutes << " mins";
    else if (minutes > 0)
        text << "Medium size molecule detected, normal mode analysis expected to take approximately: " << minutes
             << " mins";
    else
        text << "Small molecule detected, normal mode analysis expected to take less than a minute";
    return text.str();
}

void LoadBoxText::setOkButtonToDiagNow(bool /*largeMolecule*/, int32_t amountOfCAlpha)
{
    setTimeEstimate(amountOfCAlpha, calibrateRandomIterations());
}

void LoadBoxText::setTimeEstimate(int32_t amountOfCAlpha, int64_t iterations)
{
    instruction = timeEstimateText(estimatedSeconds(amountOfCAlpha, iterations));
    button = kDiagonaliseButton;
}

void LoadBoxText::changeLabel(int32_t device)
{
    static const std::string kMove = "Move the haptic pointer into the cube to navigate around the molecule.";
    static const std::string kHold = "When in contact with a atom press and hold the front button on the device";
    static const std::string kRest =
        "Options including saving the force applied to each seperate atom can be found on the Elastic Network "
        "Options tab.\n"
        "Further information on force application and saved forces can be found on the Elastic Network "
        "Information tab\n\n\n"
        "Please press the button to continue...";
    switch (device) {
    case 0:
        instruction = kMove + "\nThe back button on the haptic stylus will rotate the molecule.\n\n";
        secondInstruction = kHold
            + "\nto begin applying force. When the button is released and pressed again the molecule "
              "will return to its initial state.\n\n"
            + kRest;
        picture = DevicePicture::Omni;
        break;
    case 1:
    case 2:
        instruction = kMove + "\n\n";
        secondInstruction = kHold
            + "\nto begin applying force. When the button is released the molecule will return to its initial "
              "state.\n\n"
            + kRest;
        picture = device == 1 ? DevicePicture::Desktop : DevicePicture::Premium;
        break;
    default: return;
    }
    button = kContinueButton;
    width = kInstructionsWidth;
    height = kInstructionsHeight;
}

} // namespace vornax

namespace vornax {

std::string AssemblyQuestion::itemText(const AssemblyInfo& assembly)
{
    std::string details;
    for (char c : assembly.details) details += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t n = assembly.copies();
    return "assembly " + assembly.id + (details.empty() ? "" : " (" + details + ")") + ": " + std::to_string(n)
        + (n == 1 ? " copy" : " copies");
}

std::optional<AssemblyQuestion> AssemblyQuestion::about(const std::string& fileName,
                                                        const std::vector<AssemblyInfo>& assemblies)
{
    if (std::all_of(assemblies.begin(), assemblies.end(), [](const AssemblyInfo& a) { return a.sameAsFile; }))
        return std::nullopt;
    AssemblyQuestion question;
    question.heading = fileName + " describes biological assemblies. Which structure should be loaded?";
    question.items.push_back(kAsymmetricUnit);
    question.answers.emplace_back();
    for (const AssemblyInfo& a : assemblies) {
        question.items.push_back(itemText(a));
        question.answers.push_back(AssemblyRequest{a.id, {}});
    }
    return question;
}

} // namespace vornax
