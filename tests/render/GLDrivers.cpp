#include "GLDrivers.h"

#include <dlfcn.h>

#include <fstream>
#include <set>
#include <string>

namespace vornax::gltest {

void keepGLDriversLoaded()
{
    std::ifstream maps("/proc/self/maps");
    std::set<std::string> libraries;
    for (std::string line; std::getline(maps, line);) {
        const auto slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        if (path.find("/dri/") != std::string::npos || path.find("libGLX_mesa") != std::string::npos
            || path.find("libgallium") != std::string::npos || path.find("libLLVM") != std::string::npos)
            libraries.insert(path);
    }
    for (const std::string& path : libraries) dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

} // namespace vornax::gltest

// What the driver, and the session-bus library a shown window connects through, keep for the
// process's life (read by LeakSanitizer in sanitized builds).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:swrast_dri.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:libgallium\n"
           "leak:libLLVM\n"
           "leak:libdbus-1.so\n";
}
