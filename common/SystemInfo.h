// Facts about the running machine and this process: memory free, memory used.
#pragma once

#include <cstdint>

namespace vornax {

/// Physical memory available to new allocations, in bytes (MemAvailable on Linux).
uint64_t availablePhysicalMemory();

/// The process's peak resident memory so far, bytes (getrusage ru_maxrss).
int64_t peakResidentBytes();
/// Resets the process's resident high-water mark to its present resident memory (Linux:
/// /proc/self/clear_refs). False when the system does not offer it. getrusage's peak is
/// reset with it.
bool resetPeakResident();

} // namespace vornax
