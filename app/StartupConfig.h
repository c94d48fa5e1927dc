// The one preference kept between runs: whether the welcome panel shows at start-up. It is a
// one-line file, VornaxConfig/VConf in the user's profile folder ($HOME), holding "1" (show the
// panel) or "0" (do not); any first line other than exactly "1" hides the panel.
//
//     StartupConfig config(home);
//     bool show = config.readAtStartup();   // creates the folder, and the file with "1", when missing
//     ... leaving the panel:  config.write(!doNotShowTicked);
//
// Plain code: the warning box goes through userPrompts(), the rest to the console. A profile
// folder that cannot be written is reported once; the program goes on without the file.
#pragma once

#include <filesystem>
#include <string>

namespace vornax {

class StartupConfig {
public:
    static constexpr const char* kFolderName = "VornaxConfig";
    static constexpr const char* kFileName = "VConf";
    static constexpr const char* kCannotOpenText = "Cannot find configuration file!";
    static constexpr const char* kCannotOpenCaption = "Vornax initilization error";

    explicit StartupConfig(std::filesystem::path profileFolder);

    /// The start-up read: true when the welcome panel is to be shown. A missing folder is
    /// created; a missing file is created holding "1" (the panel shows). A file that exists but
    /// cannot be read gives the warning box and hides the panel.
    bool readAtStartup();
    /// On leaving the welcome panel: the file rewritten with "1" (`showAtStartup`) or "0". False
    /// when it could not be written.
    bool write(bool showAtStartup);

    const std::filesystem::path& folder() const { return m_folder; }
    const std::filesystem::path& file() const { return m_file; }
    /// A failure to create or write the folder or the file has been reported.
    bool failureReported() const { return m_reported; }

private:
    bool makeFolder();
    /// Console line for the first failure only: later ones have the same cause.
    void report(const std::string& what, const std::string& why);

    std::filesystem::path m_folder;
    std::filesystem::path m_file;
    bool m_reported = false;
};

} // namespace vornax
