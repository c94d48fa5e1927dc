// Stage times and peak memory of the sparse path on one structure, from the file to the first
// possible pull: read and network, Hessian, ordering, factorisation, Lanczos for the lowest
// modes, Σinv (exact or estimated), calibration, and the response columns of one node.
//
//   sparse_modes_probe FILE [--rc 11] [--modes 20] [--assembly ID [--copies LIST]]
//                      [--exact-limit 3N] [--bound 0.004] [--sketch S] [--max-samples M]
//                      [--seed S] [--both] [--json OUT] [--factorisation cholmod|eigen]
//                      [--lanczos-block B] [--lanczos-blocks M]
//
// Without --factorisation the program runs itself once per factorisation, so that each run's
// peak resident set size (getrusage ru_maxrss) is its own. Σinv is computed as the load does
// (TracePlan: exact while 3N is at most --exact-limit, else Hutch++ until its bound is at most
// --bound of the value). --both computes it exactly and by the estimate, and prints each one's
// time and the estimate's error against the exact value (the figures behind the default
// exact limit). --json writes the figures bench/prody-side-by-side.sh reads. --lanczos-block and
// --lanczos-blocks set the block Lanczos's vectors per step and the blocks its basis holds.

#include "EnmBenchSupport.h"
#include "common/SystemInfo.h"
#include "enm/sparse/SparseNetworkSolver.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int usage()
{
    std::cerr << "usage: sparse_modes_probe FILE [--rc ANGSTROM] [--modes K] [--assembly ID [--copies LIST]]\n"
                 "                          [--exact-limit 3N] [--bound FRACTION] [--sketch S] [--max-samples M]\n"
                 "                          [--seed S] [--both] [--json OUT] [--factorisation cholmod|eigen]\n";
    return 2;
}

std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void printTrace(const char* label, const vornax::TraceEstimate& t, double seconds)
{
    std::printf("  %s %.3f s (%s, %d right-hand sides): sum of inverse eigenvalues %.10g +- %.3g (%.3f %%)%s\n", label,
                seconds, t.exact ? "exact" : "Hutch++", t.samples, t.value, t.bound, 100.0 * t.bound / t.value,
                t.exact || t.reachedTarget ? "" : "  [sample cap reached]");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string file, factorisation, json, copies;
    vornax::AssemblyRequest assembly;
    float rc = vornax::bench::kCutoff;
    int modes = 20;
    bool both = false;
    vornax::TracePlan plan;
    vornax::LanczosShape shape;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool value = i + 1 < args.size();
        const std::string& a = args[i];
        if (a == "--rc" && value) rc = std::strtof(args[++i].c_str(), nullptr);
        else if (a == "--modes" && value) modes = std::atoi(args[++i].c_str());
        else if (a == "--exact-limit" && value) plan.largestExact = static_cast<int32_t>(std::atol(args[++i].c_str()));
        else if (a == "--bound" && value) plan.relativeBound = std::strtod(args[++i].c_str(), nullptr);
        else if (a == "--sketch" && value) plan.sketch = std::atoi(args[++i].c_str());
        else if (a == "--max-samples" && value) plan.maxSamples = std::atoi(args[++i].c_str());
        else if (a == "--seed" && value) plan.seed = std::strtoull(args[++i].c_str(), nullptr, 10);
        else if (a == "--assembly" && value) assembly.id = args[++i];
        else if (a == "--copies" && value) copies = args[++i];
        else if (a == "--json" && value) json = args[++i];
        else if (a == "--lanczos-block" && value) shape.block = std::atoi(args[++i].c_str());
        else if (a == "--lanczos-blocks" && value) shape.blocks = std::atoi(args[++i].c_str());
        else if (a == "--both") both = true;
        else if (a == "--factorisation" && value) factorisation = args[++i];
        else if (file.empty() && a.rfind("--", 0) != 0) file = a;
        else return usage();
    }
    if (file.empty() || !(rc > 0.0f) || modes < 1) return usage();
    if (!copies.empty()) {
        std::string error;
        const auto ids = vornax::parseCopyList(copies, error);
        if (!ids) {
            std::cerr << error << "\n";
            return 2;
        }
        assembly.copies = *ids;
    }
    if (factorisation.empty()) {
        if (!json.empty()) factorisation = "cholmod"; // one run, one set of figures
        else {
            int status = 0;
            for (const char* kind : {"cholmod", "eigen"}) {
                std::string command = shellQuoted(argv[0]);
                for (const std::string& a : args) command += " " + shellQuoted(a);
                command += std::string(" --factorisation ") + kind;
                status |= std::system(command.c_str());
            }
            return status == 0 ? 0 : 1;
        }
    }
    if (factorisation != "cholmod" && factorisation != "eigen") return usage();

    vornax::console::setSink([](int, const std::string&) {});
    vornax::ScriptedPrompts prompts;
    vornax::ScopedUserPrompts scopedPrompts(&prompts);
    const auto opened = Clock::now();
    vornax::LoadOptions options;
    options.rc = rc;
    options.lastStage = vornax::LoadStage::Network;
    vornax::LoadResult load = vornax::runLoadPipeline(vornax::StructureSource::pdbFile(file, assembly), options);
    if (!load.ok()) {
        std::cerr << "cannot load " << file << ": " << load.message << "\n";
        return 1;
    }
    const double readSeconds = load.record(vornax::LoadStage::Read).seconds;
    const double networkSeconds = load.record(vornax::LoadStage::Network).seconds;
    const vornax::ElasticNetworkModel& eln = *load.network;
    const long long before = vornax::peakResidentBytes();
    vornax::SparseNetworkSolver solver(eln.geometry().getNodeCoordinates().data(), eln.getAmountOfAtoms(), eln.geometry().getRcAngstrom(),
                                       factorisation == "cholmod" ? vornax::SparseFactorisation::Cholmod
                                                                  : vornax::SparseFactorisation::EigenLLT);
    solver.setLanczosShape(shape);
    vornax::EnmStatus status = solver.factorise();
    const long long afterFactor = vornax::peakResidentBytes();
    if (status == vornax::EnmStatus::Ok) status = solver.computeLowestModes(modes);
    const long long afterLanczos = vornax::peakResidentBytes();
    if (status != vornax::EnmStatus::Ok) {
        std::cerr << "sparse solve failed: " << vornax::describe(status) << "\n";
        return 1;
    }
    auto start = Clock::now();
    const vornax::TraceEstimate trace = solver.sumInverse(plan);
    const double traceSeconds = since(start);
    std::vector<double> bFactors;
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) bFactors.push_back(eln.getAtom(i)->getMyBFactor());
    start = Clock::now();
    const auto& cal = solver.calibrate(trace, bFactors, eln.geometry().getTemperature(), 1.0f, file);
    solver.responseColumns(eln.getAmountOfAtoms() / 2);
    const double response = since(start);
    const double firstPull = since(opened);
    const vornax::SparseStageTimes t = solver.times();

    std::printf("%s  factorisation %s  nodes %d  springs %lld  factor non-zeros %lld\n", file.c_str(),
                factorisation.c_str(), eln.getAmountOfAtoms(), static_cast<long long>(solver.orderedSpringPairs() / 2),
                static_cast<long long>(solver.factorNonZeros()));
    std::printf("  read %.3f s  network %.3f s  hessian %.3f s  ordering %.3f s  factorisation %.3f s\n", readSeconds,
                networkSeconds, t.hessian, t.ordering, t.factorisation);
    std::printf("  lanczos %.3f s (%d passes, %lld products)\n", t.lanczos, t.lanczosPasses,
                static_cast<long long>(t.operatorProducts));
    printTrace("trace", trace, traceSeconds);
    std::printf("  matrix factorised: %s\n", solver.shifted() ? "H + sigma I (floppy)" : "H with six coordinates pinned");
    std::printf("  K %.8g  S %.8g  calibration and one node's response columns %.4f s\n", cal.K, cal.S, response);
    std::printf("  lowest eigenvalues:");
    for (std::size_t j = 0; j < std::min<std::size_t>(5, solver.eigenvalues().size()); ++j)
        std::printf(" %.10g", solver.eigenvalues()[j]);
    std::printf("  (%zu modes, %d extra zero)\n", solver.eigenvalues().size(), solver.extraZeroModes());
    std::printf("  time to first pull %.3f s\n", firstPull);
    const long long peak = vornax::peakResidentBytes();
    std::printf("  peak resident %.1f MB (%.1f MB before the sparse path; %.1f MB to the factor, %.1f MB to the modes)\n",
                peak / 1048576.0, before / 1048576.0, afterFactor / 1048576.0, afterLanczos / 1048576.0);

    if (both) {
        // The other way of the two, for the exact/estimate cutoff.
        start = Clock::now();
        const vornax::TraceEstimate other = trace.exact ? solver.sumInverseEstimate(plan) : solver.sumInverseExact();
        printTrace(other.exact ? "exact" : "estimate", other, since(start));
        const vornax::TraceEstimate& exact = trace.exact ? trace : other;
        const vornax::TraceEstimate& estimate = trace.exact ? other : trace;
        const double error = std::fabs(estimate.value - exact.value);
        std::printf("  estimate - exact: %.3g (%.4f %%), %s its bound\n", estimate.value - exact.value,
                    100.0 * error / exact.value, error <= estimate.bound ? "within" : "OUTSIDE");
    }
    if (!json.empty()) {
        nlohmann::json out;
        out["file"] = file;
        out["path"] = "sparse";
        out["source"] = "sparse_modes_probe";
        out["nodes"] = eln.getAmountOfAtoms();
        out["k"] = solver.eigenvalues().size();
        out["sum_inverse"] = trace.value;
        out["sum_inverse_exact"] = trace.exact;
        out["sum_inverse_bound"] = trace.bound;
        out["sum_inverse_samples"] = trace.samples;
        out["time_to_first_pull"] = firstPull;
        out["timings"] = {{"read", readSeconds},       {"network", networkSeconds},   {"hessian", t.hessian},
                          {"ordering", t.ordering},    {"factorisation", t.factorisation}, {"lanczos", t.lanczos},
                          {"trace", t.trace},          {"calibration_and_response", response}};
        out["peak_rss_bytes"] = peak;
        std::ofstream(json) << out.dump(1) << "\n";
    }
    return 0;
}
