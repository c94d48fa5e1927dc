// The Hessian and eigen stages of a load, with the dense matrix written in the Hessian stage
// (all of it, as the solve once received it) or written by the solve itself (each row from the
// diagonal on, the way a load runs now), alternately in one process so that both meet the same
// machine. Prints one JSON line per run: wall seconds of each stage and the process's CPU
// seconds (user + system) over both.
//
//   hessian_eigen_probe FILE.pdb [REPEATS]

#include "enm/Pipeline.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
    return s(u.ru_utime) + s(u.ru_stime);
}

double since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: hessian_eigen_probe FILE.pdb [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    vornax::LoadOptions options;
    options.lastStage = vornax::LoadStage::Network;
    vornax::LoadResult load = vornax::runLoadPipeline(vornax::StructureSource::pdbFile(argv[1]), options);
    if (!load.ok()) {
        std::fprintf(stderr, "%s\n", load.message.c_str());
        return 1;
    }
    vornax::ElasticNetworkModel& eln = *load.network;
    for (int r = 0; r < repeats; ++r) {
        for (const bool denseFirst : {true, false}) {
            const double cpu0 = cpuSeconds();
            auto start = std::chrono::steady_clock::now();
            if (eln.constructHessianMatrix(nullptr) != vornax::EnmStatus::Ok) return 1;
            if (denseFirst) eln.modes().getHessian(); // writes the whole dense matrix now
            const double hessian = since(start);
            start = std::chrono::steady_clock::now();
            if (eln.calculateEigen(nullptr) != vornax::EnmStatus::Ok) return 1;
            const double eigen = since(start);
            std::printf(
                "{\"file\": \"%s\", \"nodes\": %d, \"rep\": %d, \"hessian_written\": \"%s\", \"hessian_s\": %.4f, "
                "\"eigen_s\": %.3f, \"sum_s\": %.3f, \"cpu_s\": %.3f}\n",
                argv[1], eln.getAmountOfAtoms(), r, denseFirst ? "whole, in the Hessian stage" : "by the solve",
                hessian, eigen, hessian + eigen, cpuSeconds() - cpu0);
            std::fflush(stdout);
        }
    }
    return 0;
}
