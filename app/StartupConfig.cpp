#include "StartupConfig.h"

#include "common/AtomicFile.h"
#include "common/Console.h"
#include "common/UserPrompts.h"

#include <fstream>
#include <optional>
#include <system_error>

namespace vornax {

namespace {

/// The first line of `file`, its line end (LF or CRLF) taken off; nothing when it cannot be read.
std::optional<std::string> firstLine(const std::filesystem::path& file)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    // Only a short line can be "1": the rest of a long one is never read.
    std::string line;
    char c = 0;
    while (line.size() < 64 && in.get(c) && c != '\n') line += c;
    if (in.bad()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

} // namespace

StartupConfig::StartupConfig(std::filesystem::path profileFolder)
    : m_folder(std::move(profileFolder) / kFolderName), m_file(m_folder / kFileName)
{}

void StartupConfig::report(const std::string& what, const std::string& why)
{
    if (m_reported) return;
    m_reported = true;
    console::write(console::Warning, "The " + what + " creation process failed: " + why);
}

bool StartupConfig::makeFolder()
{
    std::error_code ec;
    if (std::filesystem::is_directory(m_folder, ec)) return true;
    // Only the folder of its own: a profile folder that is missing is not made up.
    std::filesystem::create_directory(m_folder, ec);
    if (!ec && std::filesystem::is_directory(m_folder, ec)) return true;
    report("directory", "cannot create " + m_folder.string() + ": " + (ec ? ec.message() : "not a folder"));
    return false;
}

bool StartupConfig::readAtStartup()
{
    std::error_code ec;
    if (std::filesystem::is_directory(m_folder, ec)) {
        console::line("That path exists already.");
    } else if (!makeFolder()) {
        // Nothing can be kept: the panel stays hidden and nothing more is said about it.
        return false;
    }
    console::line("Filename for saved config file: " + m_file.string());

    if (std::filesystem::exists(std::filesystem::symlink_status(m_file, ec))) {
        console::line("That file exists already.");
        console::line(m_file.string());
        const std::optional<std::string> line = firstLine(m_file);
        if (!line) {
            userPrompts().messageBox(kCannotOpenCaption, kCannotOpenText, MessageIcon::Warning, MessageButtons::Ok);
            return false;
        }
        return *line == "1";
    }
    console::line(m_file.string());
    return write(true);
}

bool StartupConfig::write(bool showAtStartup)
{
    if (!makeFolder()) return false;
    AtomicFile out(m_file);
    if (out.ok()) out.stream() << (showAtStartup ? "1" : "0") << '\n';
    if (out.ok() && out.commit()) return true;
    report("file", out.error());
    return false;
}

} // namespace vornax
