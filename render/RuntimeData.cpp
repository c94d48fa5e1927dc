#include "render/RuntimeData.h"

#include <cstdlib>
#include <system_error>

namespace vornax {

std::filesystem::path runtimeDataPath(const std::string& relative)
{
    if (const char* folder = std::getenv("VORNAX_DATA_DIR"); folder && *folder)
        return std::filesystem::path(folder) / relative;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return std::filesystem::path(relative);
    return exe.parent_path() / relative;
}

} // namespace vornax
