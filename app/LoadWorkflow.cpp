#include "LoadWorkflow.h"

#include "common/Console.h"
#include "common/UserPrompts.h"
#include "enm/io/EigenFileNames.h"

#include <cmath>
#include <filesystem>

namespace vornax {

namespace {

FileRequest pdbRequest(const std::string& title, bool multiple, const char* filter = LoadWorkflow::kPdbFilter)
{
    FileRequest request;
    request.title = title;
    request.filter = filter;
    request.filterIndex = 2;
    request.multiple = multiple;
    return request;
}

} // namespace

float LoadWorkflow::checkedCutoff(float rc)
{
    if (rc > 0.0f && std::isfinite(rc)) return rc;
    userPrompts().messageBox("Rc Entry Error", "Invalid or empty input for Rc, defaulting Rc to 11.0 \u00c5.",
                             MessageIcon::Warning, MessageButtons::Ok);
    return kDefaultRc;
}

std::optional<LoadRequest> LoadWorkflow::begin()
{
    m_loadMode = m_dialogs->chooseLoad();
    LoadRequest request;
    request.loadMode = m_loadMode;
    request.rc = kDefaultRc;
    switch (m_loadMode) {
    case load::PdbFile:
    case load::ElNemo:
    case load::TextFile: {
        if (m_loadMode == load::PdbFile) console::line("internal eigen calculation");
        if (m_loadMode == load::ElNemo) console::line("LOADING EL NEMO");
        const auto files = m_dialogs->chooseFiles(pdbRequest("Open", false, kStructureFilter));
        if (!files || files->empty() || files->front().empty()) return std::nullopt;
        request.source = StructureSource::pdbFile(files->front());
        // Computed modes can be those of an assembly; mode files of the other choices are the
        // file's own content.
        if (m_loadMode == load::PdbFile) {
            const std::optional<AssemblyRequest> assembly = askAssembly(files->front());
            if (!assembly) return std::nullopt;
            request.source.assembly = *assembly;
        }
        request.rc = checkedCutoff(m_dialogs->askCutoff());
        return request;
    }
    case load::EigenFiles: {
        console::line("loading internal files...");
        const std::vector<std::string> names = m_dialogs->getEigenFileNames();
        if (!hasMainEigenDataFile(names)) {
            // Nothing could be built without the main file: the load stops here, with nothing changed.
            userPrompts().messageBox(kSetupErrorCaption, kMissingHdv, MessageIcon::None, MessageButtons::Ok);
            m_loadMode = load::Cancel;
            return std::nullopt;
        }
        request.source = StructureSource::eigenDataFiles(names);
        return request;
    }
    default: return std::nullopt; // "Cancel", or closed before any choice
    }
}

std::optional<LoadRequest> LoadWorkflow::beginWithFile(const std::string& file, bool eigenData)
{
    LoadRequest request;
    const std::filesystem::path path(file);
    if (eigenData) {
        m_loadMode = request.loadMode = load::EigenFiles;
        std::vector<std::string> names{file};
        std::filesystem::path ppy = path;
        ppy.replace_extension(".ppy");
        std::error_code ec;
        if (std::filesystem::is_regular_file(ppy, ec)) names.push_back(ppy.string());
        request.source = StructureSource::eigenDataFiles(names);
        return request;
    }
    m_loadMode = request.loadMode = load::PdbFile;
    console::line("internal eigen calculation");
    request.source = StructureSource::pdbFile(file);
    const std::optional<AssemblyRequest> assembly = askAssembly(file);
    if (!assembly) return std::nullopt;
    request.source.assembly = *assembly;
    request.rc = checkedCutoff(m_dialogs->askCutoff());
    return request;
}

std::optional<AssemblyRequest> LoadWorkflow::askAssembly(const std::string& file)
{
    if (m_presetAssembly) return m_presetAssembly;
    std::string error;
    const std::optional<std::vector<AssemblyInfo>> assemblies = listAssemblies(file, error);
    // A file that cannot be read is refused by the load itself, with its message.
    if (!assemblies) return AssemblyRequest{};
    const std::optional<AssemblyQuestion> question =
        AssemblyQuestion::about(std::filesystem::path(file).filename().string(), *assemblies);
    if (!question) return AssemblyRequest{};
    const std::optional<std::size_t> item = m_dialogs->chooseAssembly(*question);
    if (!item || *item >= question->answers.size()) {
        console::line("No structure chosen: nothing is loaded.");
        return std::nullopt;
    }
    const AssemblyRequest& chosen = question->answers[*item];
    if (chosen.wanted()) console::Line() << "Loading assembly " << chosen.id << " of " << file;
    return chosen;
}

std::string LoadWorkflow::askResultFolder(int32_t nodes, const std::string& defaultFolder)
{
    console::Line() << "amount of c alpha: " << nodes;
    m_dialogs->setOkButtonToDiagNow(nodes > 1000, nodes);
    const std::optional<std::string> chosen =
        m_dialogs->chooseFolder("Select folder to save normal mode analysis results\n"
                                "Failure to select will default to the application installation directory.");
    const std::string folder = chosen ? *chosen : defaultFolder;
    console::Line() << "PATH: " << folder;
    m_dialogs->showLoadBox();
    return folder;
}

void LoadWorkflow::showDeviceInstructions(int32_t deviceModel)
{
    m_dialogs->changeLabel(deviceModel);
    m_dialogs->showLoadBox();
}

std::optional<std::vector<std::string>> LoadWorkflow::askModeFiles()
{
    auto files = m_dialogs->chooseFiles(pdbRequest("Select the PDB files for the desired modes", true));
    if (!files || files->empty()) return std::nullopt;
    return files;
}

std::optional<std::string> LoadWorkflow::askTextFile()
{
    FileRequest request;
    request.title = "Open";
    request.filter = kTextFilter;
    request.filterIndex = 2;
    const auto files = m_dialogs->chooseFiles(request);
    if (!files || files->empty() || files->front().empty()) return std::nullopt;
    return files->front();
}

} // namespace vornax
