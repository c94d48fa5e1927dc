#include "RecentFiles.h"

#include "StartupConfig.h"

#include "common/AtomicFile.h"
#include "common/Console.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace vornax {

RecentFiles::RecentFiles(std::filesystem::path profileFolder)
{
    if (profileFolder.empty()) return;
    m_file = profileFolder / StartupConfig::kFolderName / kFileName;
    std::ifstream in(m_file, std::ios::binary);
    m_files = readRecentList(in);
}

std::vector<std::string> readRecentList(std::istream& in)
{
    std::vector<std::string> files;
    std::string line;
    bool tooLong = false;
    auto endLine = [&] {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool usable = !tooLong && !line.empty() && line.find('\0') == std::string::npos;
        if (usable && std::find(files.begin(), files.end(), line) == files.end()) files.push_back(line);
        line.clear();
        tooLong = false;
    };
    // One character at a time, and no more than a whole list of the longest names can take:
    // a file of one endless line costs neither memory nor time.
    std::size_t budget = RecentFiles::kMaximum * (kLongestName + 2);
    char c = 0;
    while (files.size() < RecentFiles::kMaximum && budget-- > 0 && in.get(c)) {
        if (c == '\n') endLine();
        else if (line.size() >= kLongestName) tooLong = true;
        else line.push_back(c);
    }
    if (files.size() < RecentFiles::kMaximum) endLine(); // a last line without its line end
    return files;
}

bool RecentFiles::add(const std::string& file)
{
    if (file.empty() || file.find('\n') != std::string::npos) return false;
    m_files.erase(std::remove(m_files.begin(), m_files.end(), file), m_files.end());
    m_files.insert(m_files.begin(), file);
    if (m_files.size() > kMaximum) m_files.resize(kMaximum);
    if (m_file.empty()) return true;
    std::error_code ec;
    std::filesystem::create_directories(m_file.parent_path(), ec);
    AtomicFile out(m_file);
    for (const std::string& f : m_files) out.stream() << f << '\n';
    if (out.commit()) return true;
    console::write(console::Warning, "the recent files could not be kept: " + out.error());
    return false;
}

OpenKind openKindOf(const std::filesystem::path& file)
{
    std::string name = file.filename().string();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    auto endsWith = [&](const std::string& end) {
        return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
    };
    if (endsWith(".vsf")) return OpenKind::Session;
    if (endsWith(".hdv")) return OpenKind::EigenData;
    for (const char* end : {".pdb", ".ent", ".cif", ".cif.gz", ".mmcif", ".pdb.gz"})
        if (endsWith(end)) return OpenKind::Structure;
    return OpenKind::None;
}

} // namespace vornax
