// The kept list of recent files: any bytes give at most eight distinct, non-empty names of
// bounded length, without NUL or line ends.
#include "RecentFiles.h"

#include <algorithm>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const std::vector<std::string> files = vornax::readRecentList(in);
    if (files.size() > vornax::RecentFiles::kMaximum) __builtin_trap();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& f = files[i];
        if (f.empty() || f.size() > vornax::kLongestName || f.find_first_of(std::string("\n\0", 2)) != std::string::npos)
            __builtin_trap();
        if (std::find(files.begin(), files.begin() + static_cast<std::ptrdiff_t>(i), f) != files.begin() + static_cast<std::ptrdiff_t>(i))
            __builtin_trap();
    }
    return 0;
}
