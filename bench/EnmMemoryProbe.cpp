// Peak memory of a whole network set-up: the load pipeline's read → nodes and springs →
// Hessian → eigen solution → calibration → Y → mode budget, then one response step, in one
// process, with the peak resident set size (getrusage ru_maxrss) after each phase. Prints one
// JSON object.
//
//   enm_memory_probe FILE.pdb [--solver lapack|lapack-dc|reference] [--rc 11]
//   enm_memory_probe --write-cut SOURCE.pdb OUT.pdb NODES
//
// The second form writes the header and the ATOM lines of SOURCE up to its NODES-th C-alpha
// (used by bench/enm-vs-prody.sh to make the 5000-node cut of 1aon, the same cut the engine
// benchmark makes for itself).
//
// The reference size is one 3N × 3N matrix of doubles, 72·N² bytes; the engine holds two
// (Hessian and eigenvectors, or eigenvectors and Y) at its peaks, plus dsyevd's workspace.

#include "EnmBenchSupport.h"
#include "common/SystemInfo.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>


namespace {

namespace fs = std::filesystem;
using vornax::EigenSolver;

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out + "\"";
}

struct Phase {
    std::string name;
    double seconds;
    long long peakRss;
    std::string status;
};

int usage()
{
    std::cerr << "usage: enm_memory_probe FILE.pdb [--solver lapack|lapack-dc|reference] [--rc ANGSTROM]\n"
                 "       enm_memory_probe --write-cut SOURCE.pdb OUT.pdb NODES\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--write-cut") {
        if (args.size() != 4) return usage();
        const int nodes = std::atoi(args[3].c_str());
        const int written = vornax::bench::writeCalphaCut(args[1], args[2], nodes);
        if (written < 0) {
            std::cerr << "cannot read " << args[1] << " or write " << args[2] << "\n";
            return 1;
        }
        std::cout << written << "\n";
        return 0;
    }

    std::string file, solverName = "lapack";
    float rc = vornax::bench::kCutoff;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--solver" && i + 1 < args.size()) {
            solverName = args[++i];
        } else if (args[i] == "--rc" && i + 1 < args.size()) {
            rc = std::strtof(args[++i].c_str(), nullptr);
        } else if (file.empty() && args[i].rfind("--", 0) != 0) {
            file = args[i];
        } else {
            return usage();
        }
    }
    EigenSolver solver;
    if (solverName == "lapack") {
        solver = EigenSolver::Lapack;
    } else if (solverName == "lapack-dc") {
        solver = EigenSolver::LapackDC;
    } else if (solverName == "reference") {
        solver = EigenSolver::Reference;
    } else {
        return usage();
    }
    if (file.empty() || !(rc > 0.0f)) return usage();

    vornax::console::setSink([](int, const std::string&) {});
    vornax::ScriptedPrompts prompts;
    vornax::ScopedUserPrompts scopedPrompts(&prompts);

    const long long startRss = vornax::peakResidentBytes();
    std::vector<Phase> phases;
    // The load's own stages, each with the process's peak at its end, then one response step.
    vornax::LoadOptions options;
    options.rc = rc;
    options.solver = solver;
    options.lastStage = vornax::LoadStage::Budget;
    std::string why;
    std::unique_ptr<vornax::bench::LoadedNetwork> network = vornax::bench::loadThroughPipeline(file, options, &why);
    bool ok = network != nullptr;
    const int nodes = network ? network->nodes() : 0;
    if (network) {
        for (std::size_t i = 0; i < vornax::kLoadStageCount; ++i) {
            const vornax::StageRecord& r = network->stages[i];
            if (r.ran)
                phases.push_back(
                    {vornax::stageName(static_cast<vornax::LoadStage>(i)), r.seconds, r.processPeakRssBytes, "ok"});
        }
        vornax::ElasticNetworkModel& eln = *network->eln;
        const auto start = std::chrono::steady_clock::now();
        const int32_t node = nodes / 2;
        eln.modes().setUpAllModes(eln.geometry(), eln.deformation());
        eln.applyForce(vornax::Vector3d(0.0f, 0.0f, 1e-9f), node);
        eln.getAtom(node)->simulateState(0);
        eln.simulate();
        eln.simulate();
        ok = eln.getAtom(node)->getPressed() == 1;
        phases.push_back({"response", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                          vornax::peakResidentBytes(), ok ? "ok" : "node not pulled"});
    } else {
        phases.push_back({"load", 0.0, vornax::peakResidentBytes(), why});
    }
    const long long peak = vornax::peakResidentBytes();
    network.reset();
    vornax::console::setSink({});

    const double matrixBytes = 72.0 * static_cast<double>(nodes) * static_cast<double>(nodes);
    std::cout << "{\"file\": " << jsonString(file) << ", \"nodes\": " << nodes
              << ", \"solver\": " << jsonString(solverName) << ", \"ok\": " << (ok ? "true" : "false")
              << ", \"start_rss_bytes\": " << startRss << ", \"peak_rss_bytes\": " << peak
              << ", \"matrix_bytes\": " << static_cast<long long>(matrixBytes)
              << ", \"peak_over_matrix\": " << (matrixBytes > 0 ? static_cast<double>(peak) / matrixBytes : 0.0)
              << ", \"phases\": [";
    for (std::size_t i = 0; i < phases.size(); ++i) {
        const Phase& p = phases[i];
        std::cout << (i ? ", " : "") << "{\"name\": " << jsonString(p.name) << ", \"seconds\": " << p.seconds
                  << ", \"peak_rss_bytes\": " << p.peakRss << ", \"status\": " << jsonString(p.status) << "}";
    }
    std::cout << "]}\n";
    return ok ? 0 : 1;
}
