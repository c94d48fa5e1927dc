// What the first touch of a large matrix costs: the matrix allocator's mapping (transparent
// huge pages advised) written once, page by page, as a solve's first pass writes it. Prints
// the seconds, the process's minor faults and system time (getrusage) and the kernel's
// counters for huge-page faults and compaction (/proc/vmstat) before and after.
//
//   first_touch_probe MEGABYTES [REPEAT] [PAUSE_SECONDS]
//
// REPEAT runs one after another in the process, PAUSE_SECONDS apart: memory freed a moment
// ago is cheap to take again; on a virtual machine whose free memory is handed back to the
// host after a short while, a pause makes the next touch pay the host's faults as well.

#include "common/Buffer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include <sys/resource.h>

namespace {

std::map<std::string, long long> vmstat()
{
    std::map<std::string, long long> counters;
    std::ifstream in("/proc/vmstat");
    std::string key;
    long long value = 0;
    while (in >> key >> value)
        if (key.rfind("thp_fault", 0) == 0 || key.rfind("compact_", 0) == 0) counters[key] = value;
    return counters;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); }

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: first_touch_probe MEGABYTES [REPEAT] [PAUSE_SECONDS]\n");
        return 2;
    }
    const std::size_t bytes = static_cast<std::size_t>(std::atof(argv[1]) * 1e6);
    const int repeat = argc > 2 ? std::atoi(argv[2]) : 1;
    const double pause = argc > 3 ? std::atof(argv[3]) : 0.0;
    for (int r = 0; r < repeat; ++r) {
        if (r > 0 && pause > 0) std::this_thread::sleep_for(std::chrono::duration<double>(pause));
        const auto before = vmstat();
        rusage u0{}, u1{};
        getrusage(RUSAGE_SELF, &u0);
        const auto start = std::chrono::steady_clock::now();
        vornax::DoubleBuffer m = vornax::allocateMatrixDoubles(bytes / sizeof(double));
        if (!m) {
            std::fprintf(stderr, "cannot allocate %zu bytes\n", bytes);
            return 1;
        }
        volatile double* p = m.get();
        for (std::size_t i = 0; i < bytes / sizeof(double); i += 512) p[i] = 1.0;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        getrusage(RUSAGE_SELF, &u1);
        m.reset();
        const auto after = vmstat();
        std::printf("%zu MB: %.3f s, system %.3f s, minor faults %ld", bytes >> 20, wall,
                    seconds(u1.ru_stime) - seconds(u0.ru_stime), u1.ru_minflt - u0.ru_minflt);
        for (const auto& [key, value] : after)
            if (value != before.at(key)) std::printf(", %s %lld", key.c_str(), value - before.at(key));
        std::printf("\n");
    }
    return 0;
}
