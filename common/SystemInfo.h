// Facts about the running machine that the memory budget needs.
#pragma once

#include <cstdint>

namespace vornax {

/// Physical memory available to new allocations, in bytes (MemAvailable on Linux).
uint64_t availablePhysicalMemory();

} // namespace vornax
