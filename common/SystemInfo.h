// Facts about the running machine and this process: memory free, memory used.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace vornax {

/// A memory size as messages give it: "2.35 GB", "310 MB", "31 kB" (decimal units).
std::string memorySize(uint64_t bytes);

/// Physical memory available to new allocations, in bytes (MemAvailable on Linux).
uint64_t availablePhysicalMemory();

/// The process's peak resident memory so far, bytes (getrusage ru_maxrss).
int64_t peakResidentBytes();
/// The process's resident memory now, bytes (/proc/self/statm); 0 when unknown.
int64_t residentBytes();

/// Watches the process's resident memory from a thread of its own and keeps the highest value
/// seen since the last call of startPeriod(). The process's own high-water mark is left alone
/// (resetting it would also reset what getrusage, and so `time`, report for the whole run).
/// Samples are `interval` apart: a peak shorter than that can be missed, so a period's peak
/// is a lower bound, within what the process can touch in one interval.
class ResidentSampler {
public:
    explicit ResidentSampler(std::chrono::microseconds interval = std::chrono::microseconds(10000));
    ~ResidentSampler();
    ResidentSampler(const ResidentSampler&) = delete;
    ResidentSampler& operator=(const ResidentSampler&) = delete;

    /// False when the system does not tell the resident size; every peak is then 0.
    bool available() const { return m_available; }
    /// Begins a new period at the present resident size.
    void startPeriod();
    /// The highest resident size seen since startPeriod(), the present one included.
    int64_t periodPeak();

private:
    void sample();

    std::atomic<int64_t> m_peak{0};
    std::atomic<bool> m_stop{false};
    bool m_available = false;
    std::chrono::microseconds m_interval;
    std::thread m_thread;
};

} // namespace vornax
