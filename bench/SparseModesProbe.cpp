// Stage times and peak memory of the sparse path on one structure: Hessian, ordering,
// factorisation, Lanczos for the lowest modes, Σinv (exact or estimated), calibration, and the
// response columns of one node, for CHOLMOD's factorisation and for Eigen's.
//
//   sparse_modes_probe FILE.pdb [--rc 11] [--modes 20] [--exact-limit 3N] [--samples 120]
//                      [--factorisation cholmod|eigen]
//
// Without --factorisation the program runs itself once per factorisation, so that each run's
// peak resident set size (getrusage ru_maxrss) is its own. --exact-limit is the largest 3N for
// which Σinv is computed exactly (default: always exactly); above it Hutch++ estimates it.

#include "EnmBenchSupport.h"
#include "common/SystemInfo.h"
#include "enm/SparseModes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::cerr << "usage: sparse_modes_probe FILE.pdb [--rc ANGSTROM] [--modes K] [--exact-limit 3N] [--samples M]\n"
                 "                          [--factorisation cholmod|eigen]\n";
    return 2;
}

std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string file, factorisation;
    float rc = vornax::bench::kCutoff;
    int modes = 20, samples = 120;
    long exactLimit = -1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool value = i + 1 < args.size();
        if (args[i] == "--rc" && value) {
            rc = std::strtof(args[++i].c_str(), nullptr);
        } else if (args[i] == "--modes" && value) {
            modes = std::atoi(args[++i].c_str());
        } else if (args[i] == "--exact-limit" && value) {
            exactLimit = std::atol(args[++i].c_str());
        } else if (args[i] == "--samples" && value) {
            samples = std::atoi(args[++i].c_str());
        } else if (args[i] == "--factorisation" && value) {
            factorisation = args[++i];
        } else if (file.empty() && args[i].rfind("--", 0) != 0) {
            file = args[i];
        } else {
            return usage();
        }
    }
    if (file.empty() || !(rc > 0.0f) || modes < 1) return usage();
    if (factorisation.empty()) {
        int status = 0;
        for (const char* kind : {"cholmod", "eigen"}) {
            std::string command = shellQuoted(argv[0]);
            for (const std::string& a : args) command += " " + shellQuoted(a);
            command += std::string(" --factorisation ") + kind;
            status |= std::system(command.c_str());
        }
        return status == 0 ? 0 : 1;
    }
    if (factorisation != "cholmod" && factorisation != "eigen") return usage();

    vornax::console::setSink([](int, const std::string&) {});
    vornax::ScriptedPrompts prompts;
    vornax::ScopedUserPrompts scopedPrompts(&prompts);
    const auto network = vornax::bench::loadNetwork(file, rc);
    if (!network) {
        std::cerr << "cannot load " << file << "\n";
        return 1;
    }
    const vornax::ElasticNetworkModel& eln = *network->eln;
    const long long before = vornax::peakResidentBytes();
    vornax::SparseNetworkSolver solver(eln.getNodeCoordinates().data(), eln.getAmountOfAtoms(), eln.getRcAngstrom(),
                                       factorisation == "cholmod" ? vornax::SparseFactorisation::Cholmod
                                                                  : vornax::SparseFactorisation::EigenLLT);
    vornax::EnmStatus status = solver.factorise();
    if (status == vornax::EnmStatus::Ok) status = solver.computeLowestModes(modes);
    if (status != vornax::EnmStatus::Ok) {
        std::cerr << "sparse solve failed: " << vornax::describe(status) << "\n";
        return 1;
    }
    const int dim = 3 * eln.getAmountOfAtoms();
    const vornax::TraceEstimate trace = solver.sumInverse(exactLimit < 0 ? dim : static_cast<int32_t>(exactLimit), samples);
    std::vector<double> bFactors;
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) bFactors.push_back(eln.getAtom(i)->getMyBFactor());
    const auto& cal = solver.calibrate(trace, bFactors, eln.getTemperature(), 1.0f, file);
    const auto start = std::chrono::steady_clock::now();
    solver.responseColumns(eln.getAmountOfAtoms() / 2);
    const double response = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const vornax::SparseStageTimes& t = solver.times();
    std::printf("%s  factorisation %s  nodes %d  springs %lld  factor non-zeros %lld\n", file.c_str(),
                factorisation.c_str(), eln.getAmountOfAtoms(), static_cast<long long>(solver.orderedSpringPairs() / 2),
                static_cast<long long>(solver.factorNonZeros()));
    std::printf("  hessian %.3f s  ordering %.3f s  factorisation %.3f s  lanczos %.3f s (%d passes, %lld products)\n",
                t.hessian, t.ordering, t.factorisation, t.lanczos, t.lanczosPasses,
                static_cast<long long>(t.operatorProducts));
    std::printf("  trace %.3f s (%s, %d right-hand sides): sum of inverse eigenvalues %.10g +- %.3g\n", t.trace,
                trace.exact ? "exact" : "Hutch++", trace.samples, trace.value, trace.bound);
    std::printf("  matrix factorised: %s\n", solver.shifted() ? "H + sigma I (floppy)" : "H with six coordinates pinned");
    std::printf("  K %.8g  S %.8g  one node's response columns %.4f s\n", cal.K, cal.S, response);
    std::printf("  lowest eigenvalues:");
    for (std::size_t j = 0; j < std::min<std::size_t>(5, solver.eigenvalues().size()); ++j)
        std::printf(" %.10g", solver.eigenvalues()[j]);
    std::printf("  (%zu modes, %d extra zero)\n", solver.eigenvalues().size(), solver.extraZeroModes());
    std::printf("  peak resident %.1f MB (%.1f MB before the sparse path)\n", vornax::peakResidentBytes() / 1048576.0,
                before / 1048576.0);
    return 0;
}
