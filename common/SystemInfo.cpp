#include "common/SystemInfo.h"

#include <sys/resource.h>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace vornax {

std::string memorySize(uint64_t bytes)
{
    char buffer[32];
    const double b = static_cast<double>(bytes);
    if (b >= 1e9) std::snprintf(buffer, sizeof buffer, "%.2f GB", b / 1e9);
    else if (b >= 1e6) std::snprintf(buffer, sizeof buffer, "%.0f MB", b / 1e6);
    else std::snprintf(buffer, sizeof buffer, "%.0f kB", std::ceil(b / 1e3));
    return buffer;
}

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

int64_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long size = 0;
    long long resident = 0;
    if (!(statm >> size >> resident)) return 0;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pageSize > 0 ? static_cast<int64_t>(resident) * pageSize : 0;
}

ResidentSampler::ResidentSampler(std::chrono::microseconds interval)
    : m_available(residentBytes() > 0), m_interval(interval)
{
    if (!m_available) return;
    m_peak = residentBytes();
    m_thread = std::thread([this] {
        while (!m_stop.load(std::memory_order_relaxed)) {
            std::this_thread::sleep_for(m_interval);
            sample();
        }
    });
}

ResidentSampler::~ResidentSampler()
{
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void ResidentSampler::sample()
{
    const int64_t now = residentBytes();
    int64_t seen = m_peak.load(std::memory_order_relaxed);
    while (now > seen && !m_peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {}
}

void ResidentSampler::startPeriod()
{
    if (m_available) m_peak.store(residentBytes(), std::memory_order_relaxed);
}

int64_t ResidentSampler::periodPeak()
{
    if (!m_available) return 0;
    sample();
    return m_peak.load(std::memory_order_relaxed);
}

} // namespace vornax
