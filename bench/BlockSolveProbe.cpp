// Seconds per right-hand side of the sparse factorisation's solves, one at a time and in
// blocks, on an assembly's network (the figure behind the block Lanczos of the sparse path).
//
//   block_solve_probe FILE ASSEMBLY [--copies LIST] [--rc 11] [--widths 1,8,24,32]
#include "EnmBenchSupport.h"
#include "common/Console.h"
#include "common/SystemInfo.h"
#include "enm/Pipeline.h"
#include "enm/sparse/SparseNetworkSolver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace vornax;
    if (argc < 3) {
        std::cerr << "usage: block_solve_probe FILE ASSEMBLY [--copies LIST] [--rc ANGSTROM] [--widths 1,8,24]\n";
        return 2;
    }
    std::vector<int> widths = {1, 8, 24, 32};
    std::optional<LoadResult> load = bench::loadAssemblyNetwork(argc, argv, LoadOptions{}, [&](const std::string& flag, const std::string& value) {
        if (flag != "--widths") return;
        widths.clear();
        std::stringstream list(value);
        for (std::string w; std::getline(list, w, ',');) widths.push_back(std::atoi(w.c_str()));
    });
    if (!load) return 1;
    const ElasticNetworkModel& eln = *load->network;
    SparseNetworkSolver solver(eln.geometry().getNodeCoordinates().data(), eln.getAmountOfAtoms(), eln.geometry().getRcAngstrom());
    if (solver.factorise() != EnmStatus::Ok) {
        std::cerr << "factorisation failed\n";
        return 1;
    }
    const auto& t = solver.times();
    std::printf("nodes %d  factor non-zeros %lld  ordering %.2f s  factorisation %.2f s  %s  peak %.2f GB\n",
                eln.getAmountOfAtoms(), static_cast<long long>(solver.factorNonZeros()), t.ordering, t.factorisation,
                solver.shifted() ? "shifted" : "pinned", static_cast<double>(peakResidentBytes()) / 1e9);
    for (int w : widths) {
        Eigen::MatrixXd x = Eigen::MatrixXd::Random(3 * eln.getAmountOfAtoms(), w);
        const int64_t before = t.solves;
        const auto start = std::chrono::steady_clock::now();
        solver.applyPseudoInverse(x);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const auto solves = t.solves - before;
        std::printf("width %3d: %lld solves in %.3f s, %.4f s per right-hand side\n", w, static_cast<long long>(solves), s,
                    s / static_cast<double>(solves));
    }
    return 0;
}
