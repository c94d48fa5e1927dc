// The structures and sessions opened last, newest first, for "Open Recent". Kept beside the
// start-up preference, in VornaxConfig/Recent of the user's profile folder, one path a line,
// written whole or not at all. Without a profile folder (unattended runs) the list lives only
// as long as the window.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <string>
#include <vector>

namespace vornax {

class RecentFiles {
public:
    static constexpr std::size_t kMaximum = 8;
    static constexpr const char* kFileName = "Recent";

    /// Reads the list kept in `profileFolder` (none when it is empty or the file is missing).
    explicit RecentFiles(std::filesystem::path profileFolder);

    /// `file` becomes the newest entry (once), the oldest beyond kMaximum going; the list is
    /// written back. False when it could not be written (the list in memory is kept).
    bool add(const std::string& file);
    const std::vector<std::string>& files() const { return m_files; }

private:
    std::filesystem::path m_file; ///< empty: nothing is kept
    std::vector<std::string> m_files;
};

/// Whether a file is opened as a session (.vsf), eigen data (.hdv) or a structure (.pdb,
/// .cif, .cif.gz, .mmcif, .ent), by its name; nothing for any other.
enum class OpenKind { None, Structure, EigenData, Session };

/// The kept list as `in` holds it: at most RecentFiles::kMaximum distinct names, one a line.
/// A line longer than kLongestName, or holding a NUL, is passed over; nothing past the list's
/// end (or past what eight of the longest names take) is read.
std::vector<std::string> readRecentList(std::istream& in);
inline constexpr std::size_t kLongestName = 4096;
OpenKind openKindOf(const std::filesystem::path& file);

} // namespace vornax
