#include "common/SystemInfo.h"

#include <sys/resource.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace vornax {

uint64_t availablePhysicalMemory()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    uint64_t value = 0;
    std::string unit;
    while (meminfo >> key >> value) {
        std::getline(meminfo, unit);
        if (key == "MemAvailable:") return value * 1024;
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
}

int64_t peakResidentBytes()
{
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return static_cast<int64_t>(usage.ru_maxrss) * 1024; // KiB on Linux
}

bool resetPeakResident()
{
    std::ofstream clear("/proc/self/clear_refs");
    if (!clear) return false;
    clear << "5";
    clear.close();
    return !clear.fail();
}

} // namespace vornax
