// End-to-end tests of vornax-enm: the built program is run on real structures and its JSON is
// compared with the peer (ProDy) results beside the checkout, with itself through other
// routes and solvers, and with the exit status and message its bad inputs must give.
#include "enm/Calibration.h"
#include "molecule/StructureFile.h"
#include "support/TestData.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using vornax::testing::atomLine;
using vornax::testing::findPdb;
using vornax::testing::readWholeFile;
using vornax::testing::sharedReferenceDir;
using vornax::testing::shellQuoted;
using vornax::testing::TempFile;
namespace fs = std::filesystem;

// ---- Running the program ----------------------------------------------------------------------

struct CliRun {
    int status = -1; ///< exit status, −1 when the program did not exit normally (a crash)
    std::string out, err;
    json report; ///< the JSON written with --json, when the run succeeded

    std::vector<std::string> errLines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

/// Runs vornax-enm with `args`; with `jsonToFile` the report goes to a temporary --json file.
CliRun runCli(const std::vector<std::string>& args, bool jsonToFile = true)
{
    TempFile jsonFile("", ".json"), outFile("", ".out"), errFile("", ".err");
    std::string command = shellQuoted(VORNAX_ENM_BINARY);
    for (const std::string& a : args) command += ' ' + shellQuoted(a);
    if (jsonToFile) command += " --json " + shellQuoted(jsonFile.path().string());
    command += " </dev/null >" + shellQuoted(outFile.path().string()) + " 2>" + shellQuoted(errFile.path().string());

    CliRun run;
    const int raw = std::system(command.c_str());
    run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readWholeFile(outFile.path());
    run.err = readWholeFile(errFile.path());
    if (run.status == 0 && jsonToFile) run.report = json::parse(readWholeFile(jsonFile.path()), nullptr, false);
    return run;
}

std::string describe(const CliRun& run) { return "exit " + std::to_string(run.status) + ", stderr: " + run.err; }

// ---- Comparisons ------------------------------------------------------------------------------

double relativeDifference(double got, double expected)
{
    const double scale = std::max(std::fabs(expected), 1e-300);
    return std::fabs(got - expected) / scale;
}

/// max |got − expected| / max |expected| over all coordinates.
double maxNormDifference(const std::vector<double>& got, const std::vector<double>& expected)
{
    if (got.size() != expected.size()) return INFINITY;
    double diff = 0.0, scale = 0.0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        diff = std::max(diff, std::fabs(got[i] - expected[i]));
        scale = std::max(scale, std::fabs(expected[i]));
    }
    return scale > 0.0 ? diff / scale : diff;
}

#define EXPECT_RELATIVE(got, expected, tolerance)                 \
    EXPECT_LE(relativeDifference((got), (expected)), (tolerance)) \
        << #got << " = " << (got) << ", expected " << (expected)

std::string pathOf(const std::string& name)
{
    const fs::path p = findPdb(name);
    return p.empty() ? std::string() : p.string();
}

std::vector<double> numbers(const json& value) { return value.get<std::vector<double>>(); }

/// A response through `modes` of force `f` on `node` of `pdb`.
CliRun respond(const std::string& pdb, int node, const std::vector<double>& f, const std::string& modes,
               const std::vector<std::string>& extra = {})
{
    std::vector<std::string> args = {"response", pdb, "--node", std::to_string(node), "--force"};
    for (double c : f) args.push_back(json(c).dump());
    args.push_back("--modes");
    args.push_back(modes);
    args.insert(args.end(), extra.begin(), extra.end());
    return runCli(args);
}

// ---- The peer results -------------------------------------------------------------------------

/// Nodes of the largest network compared here (three full runs each); the engine's own peer
/// test covers the larger ones.
int largestNetworkCompared() { return 600; }
constexpr const char* kNoReferences = "shared_reference_absent";

std::vector<std::string> referenceNames()
{
    std::vector<std::string> names;
    if (const fs::path dir = sharedReferenceDir(); !dir.empty()) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() == ".json" && name.find("_rc") != std::string::npos)
                names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) names.push_back(kNoReferences); // reported as skipped below
    return names;
}

class CliAgainstReference : public ::testing::TestWithParam<std::string> {};

TEST_P(CliAgainstReference, ModesCalibrationAndResponses)
{
    const fs::path dir = sharedReferenceDir();
    if (dir.empty() || GetParam() == kNoReferences) GTEST_SKIP() << "no peer results beside the checkout";
    const json ref = json::parse(readWholeFile(dir / (GetParam() + ".json")));
    if (ref.contains("error")) GTEST_SKIP() << "the reference holds no values: " << ref["error"];
    const int nodes = ref["n_nodes"];
    if (nodes > largestNetworkCompared()) GTEST_SKIP() << nodes << " nodes: too large for this test";
    const std::string pdb = pathOf(ref["pdb_file"]);
    if (pdb.empty()) GTEST_SKIP() << ref["pdb_file"] << " is not available";
    const std::string rc = ref["cutoff_A"].dump();

    const CliRun run = runCli({"modes", pdb, "--rc", rc});
    ASSERT_EQ(run.status, 0) << describe(run);
    const json& got = run.report;
    EXPECT_EQ(got["nodes"], nodes);
    EXPECT_EQ(got["springs"], ref["n_springs_ordered_pairs"]);
    ASSERT_EQ(got["eigenvalues"].size(), static_cast<std::size_t>(3 * nodes - 6));

    // Floppy or disconnected networks: beyond the springs only the zero-mode count is robust.
    const int zeroModes = ref["n_eigenvalues_below_1e-6"];
    EXPECT_EQ(got["extra_zero_modes"], zeroModes - 6);
    if (zeroModes != 6) return;

    const double tolerance = 1e-6;
    const std::vector<double> lambda = numbers(got["eigenvalues"]);
    const std::vector<double> first20 = numbers(ref["first20_eigenvalues"]);
    for (std::size_t k = 0; k < first20.size(); ++k)
        EXPECT_RELATIVE(lambda[k], first20[k], tolerance) << " (mode " << k << ")";
    EXPECT_RELATIVE(lambda.back(), ref["largest_eigenvalue"].get<double>(), tolerance);
    double trace = 0.0;
    for (double v : numbers(got["rigid_eigenvalues"])) trace += v;
    for (double v : lambda) trace += v;
    EXPECT_RELATIVE(trace, ref["n_springs_ordered_pairs"].get<double>(), tolerance);
    for (double v : numbers(got["rigid_eigenvalues"])) EXPECT_LE(std::fabs(v), 1e-9 * lambda.back());

    if (ref["K"].is_null()) {
        EXPECT_FALSE(got["calibrated"].get<bool>());
    } else {
        EXPECT_TRUE(got["calibrated"].get<bool>());
        EXPECT_RELATIVE(got["sum_inverse_eigenvalues"].get<double>(), ref["Sinv"].get<double>(), tolerance);
        EXPECT_RELATIVE(got["sum_bfactors"].get<double>(), ref["SB"].get<double>(), tolerance);
        EXPECT_RELATIVE(got["spring_constant"].get<double>(), ref["K"].get<double>(), tolerance);
        EXPECT_RELATIVE(got["mean_fluctuation"].get<double>(), ref["R"].get<double>(), tolerance);
        EXPECT_RELATIVE(got["mean_compliance"].get<double>(), ref["c"].get<double>(), tolerance);
        EXPECT_RELATIVE(got["force_scaler"].get<double>(), ref["S"].get<double>(), tolerance);
    }

    // Responses through Y (the reference uses K = 1 where the calibration is undefined, as we do).
    if (ref["diag_Y"].is_null()) return;
    for (const json& expected : ref["responses"]) {
        const CliRun response =
            respond(pdb, expected["node"], numbers(expected["force_kcal_mol_A"]), "all", {"--rc", rc});
        ASSERT_EQ(response.status, 0) << describe(response);
        EXPECT_TRUE(response.report["modes"]["through_y"].get<bool>());
        EXPECT_LE(maxNormDifference(numbers(response.report["displacement"]), numbers(expected["displacement_A"])),
                  1e-5)
            << "response to force on node " << expected["node"];
        EXPECT_LE(maxNormDifference(numbers(response.report["y_diagonal"]), numbers(ref["diag_Y"])), 1e-5);
    }
}

INSTANTIATE_TEST_SUITE_P(PeerResults, CliAgainstReference, ::testing::ValuesIn(referenceNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// ---- Self-consistency -------------------------------------------------------------------------

class CliOn1crn : public ::testing::Test {
protected:
    void SetUp() override
    {
        pdb = pathOf("1crn.pdb");
        if (pdb.empty()) GTEST_SKIP() << "1crn.pdb is not available";
    }
    std::string pdb;
};

TEST_F(CliOn1crn, OtherSolversAgreeWithLapack)
{
    const CliRun lapack = runCli({"modes", pdb});
    ASSERT_EQ(lapack.status, 0) << describe(lapack);
    const std::vector<double> expected = numbers(lapack.report["eigenvalues"]);
    const double largest = expected.back();
    const std::vector<double> expectedResponse = numbers(respond(pdb, 5, {0.3, -1, 2}, "all").report["displacement"]);

    for (const std::string solver : {"reference", "lapack-dc"}) {
        SCOPED_TRACE(solver);
        const CliRun run = runCli({"modes", pdb, "--solver", solver});
        ASSERT_EQ(run.status, 0) << describe(run);
        EXPECT_EQ(run.report["solver"], solver);
        const std::vector<double> got = numbers(run.report["eigenvalues"]);
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], expected[k], 1e-11 * largest) << "mode " << k;
        EXPECT_RELATIVE(run.report["spring_constant"].get<double>(), lapack.report["spring_constant"].get<double>(),
                        1e-10);
        EXPECT_RELATIVE(run.report["force_scaler"].get<double>(), lapack.report["force_scaler"].get<double>(), 1e-10);

        const CliRun response = respond(pdb, 5, {0.3, -1, 2}, "all", {"--solver", solver});
        ASSERT_EQ(response.status, 0) << describe(response);
        EXPECT_LE(maxNormDifference(numbers(response.report["displacement"]), expectedResponse), 1e-9);
    }
}

TEST_F(CliOn1crn, ModeRoutesAgree)
{
    const std::vector<double> f = {0.4, -0.7, 1.1};
    const int node = 17;
    const CliRun all = respond(pdb, node, f, "all");
    ASSERT_EQ(all.status, 0) << describe(all);
    const int kept = 3 * all.report["nodes"].get<int>() - 6;
    ASSERT_TRUE(all.report["modes"]["through_y"].get<bool>());
    EXPECT_EQ(all.report["displacement"].size(), static_cast<std::size_t>(3 * all.report["nodes"].get<int>()));

    // Every kept mode summed one by one is Y.
    const CliRun everyMode = respond(pdb, node, f, "first:" + std::to_string(kept));
    ASSERT_EQ(everyMode.status, 0) << describe(everyMode);
    EXPECT_LE(maxNormDifference(numbers(everyMode.report["displacement"]), numbers(all.report["displacement"])), 1e-8);

    // A listed set is the sum of its modes taken alone; the lowest ones listed are first:N.
    const std::vector<int> listed = {0, 3, 7, kept - 1};
    std::vector<double> sum(numbers(all.report["displacement"]).size(), 0.0);
    for (int k : listed) {
        const CliRun single = respond(pdb, node, f, "list:" + std::to_string(k));
        ASSERT_EQ(single.status, 0) << describe(single);
        const std::vector<double> d = numbers(single.report["displacement"]);
        for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += d[i];
    }
    const CliRun together = respond(pdb, node, f, "list:0,3,7," + std::to_string(kept - 1));
    ASSERT_EQ(together.status, 0) << describe(together);
    EXPECT_EQ(together.report["modes"]["indices"], json(listed));
    EXPECT_LE(maxNormDifference(numbers(together.report["displacement"]), sum), 1e-12);

    const CliRun lowest = respond(pdb, node, f, "list:2,0,1");
    const CliRun firstThree = respond(pdb, node, f, "first:3");
    ASSERT_EQ(lowest.status, 0) << describe(lowest);
    ASSERT_EQ(firstThree.status, 0) << describe(firstThree);
    EXPECT_LE(maxNormDifference(numbers(lowest.report["displacement"]), numbers(firstThree.report["displacement"])),
              1e-12);
    // The displacement is linear in the force.
    const CliRun doubled = respond(pdb, node, {2 * f[0], 2 * f[1], 2 * f[2]}, "first:3");
    std::vector<double> twice = numbers(firstThree.report["displacement"]);
    for (double& v : twice) v *= 2;
    EXPECT_LE(maxNormDifference(numbers(doubled.report["displacement"]), twice), 1e-12);
}

// deform keeps the force on the node and writes the moved C-alpha records: the same
// displacement as response, with the device force the remark reports.
TEST_F(CliOn1crn, DeformWritesTheKeptForceAndTheMovedRecords)
{
    const std::vector<double> f = {0.5, -1.0, 1.5};
    const TempFile out("", ".pdb");
    const CliRun run = runCli({"deform", pdb, "--node", "9", "--force", "0.5", "-1", "1.5", "--modes", "first:20",
                               "--out", out.path().string()});
    ASSERT_EQ(run.status, 0) << describe(run);
    const CliRun response = respond(pdb, 9, f, "first:20");
    ASSERT_EQ(response.status, 0) << describe(response);
    EXPECT_LE(maxNormDifference(numbers(run.report["displacement"]), numbers(response.report["displacement"])), 1e-6);
    EXPECT_TRUE(run.report["kept"].get<bool>());

    // The device force in newtons, turned back by the network, is the force asked for.
    const std::vector<double> newtons = numbers(run.report["device_force_newtons"]);
    const CliRun modes = runCli({"modes", pdb});
    ASSERT_EQ(modes.status, 0) << describe(modes);
    const double toKcal = -1.4396e10 * modes.report["force_scaler"].get<double>();
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(newtons[static_cast<std::size_t>(c)] * toKcal, f[static_cast<std::size_t>(c)], 1e-5);

    std::istringstream text(readWholeFile(out.path()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u + 46u + 1u);
    EXPECT_EQ(lines[0].rfind("REMARK   1 Force Applied to ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "REMARK  MODE SLIDER ACTIVE FOR FORCE 20");
    EXPECT_EQ(lines[2].substr(0, 30), "ATOM      2  CA  THR A   1    ");
    EXPECT_EQ(lines.back().substr(0, 3), "END");

    // Several forces are kept together: their displacements add up, and a node named again
    // gives up its earlier force.
    const TempFile both("", ".pdb");
    const CliRun two = runCli({"deform", pdb, "--node", "9", "--force", "0.5", "-1", "1.5", "--node", "30", "--force",
                               "-2", "0", "1", "--node", "9", "--force", "0.5", "-1", "1.5", "--modes", "first:20",
                               "--out", both.path().string()});
    ASSERT_EQ(two.status, 0) << describe(two);
    const CliRun second = respond(pdb, 30, {-2, 0, 1}, "first:20");
    ASSERT_EQ(second.status, 0) << describe(second);
    std::vector<double> sum = numbers(response.report["displacement"]);
    const std::vector<double> other = numbers(second.report["displacement"]);
    for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += other[i];
    EXPECT_LE(maxNormDifference(numbers(two.report["displacement"]), sum), 1e-6);
    ASSERT_EQ(two.report["forces"].size(), 3u);
    EXPECT_FALSE(two.report.contains("node"));
    const std::string written = readWholeFile(both.path());
    EXPECT_NE(written.find("Force Applied to GLY 31 A"), std::string::npos) << written.substr(0, 400);
    std::size_t remarks = 0;
    for (std::size_t at = written.find("Force Applied to "); at != std::string::npos;
         at = written.find("Force Applied to ", at + 1))
        ++remarks;
    EXPECT_EQ(remarks, 2u) << "one remark per node with a kept force";
    // A zero component reads "0", as the window writes it, not "-0".
    EXPECT_EQ(written.find(" -0 "), std::string::npos) << written.substr(0, 400);
}

// The sparse path gives the dense path's deformed file, by every mode route, and says how it
// got there.
TEST_F(CliOn1crn, SparsePathDeformsAsTheDensePath)
{
    const CliRun modes = runCli({"modes", pdb, "--path", "sparse", "--lowest", "20"});
    ASSERT_EQ(modes.status, 0) << describe(modes);
    EXPECT_EQ(modes.report["path"], "sparse");
    EXPECT_EQ(modes.report["k"].get<int>(), 20);
    EXPECT_TRUE(modes.report["sum_inverse_exact"].get<bool>());
    EXPECT_GT(modes.report["time_to_first_pull"].get<double>(), 0.0);
    for (const char* stage : {"ordering", "factorisation", "lanczos", "trace"})
        EXPECT_TRUE(modes.report["timings"].contains(stage)) << stage;
    EXPECT_EQ(runCli({"modes", pdb, "--path", "dense"}).report["path"], "dense");

    for (const char* route : {"all", "first:20", "list:1,3,6"}) {
        SCOPED_TRACE(route);
        std::string files[2];
        int i = 0;
        for (const char* path : {"dense", "sparse"}) {
            const TempFile out("", ".pdb");
            const CliRun run = runCli({"deform", pdb, "--node", "9", "--force", "0.5", "-1", "1.5", "--node", "30",
                                       "--force", "-2", "0", "1", "--modes", route, "--path", path, "--out",
                                       out.path().string()});
            ASSERT_EQ(run.status, 0) << describe(run);
            // All modes are 3N - 6 on one path and the 20 computed on the other: the remark
            // says so, and the coordinates are the same.
            std::string text = readWholeFile(out.path());
            for (std::size_t at; (at = text.find("REMARK  MAXIMUM MODES")) != std::string::npos;)
                text.erase(at, text.find('\n', at) - at + 1);
            files[i++] = text;
        }
        EXPECT_EQ(files[0], files[1]);
    }
}

// mmCIF as FILE gives the PDB file's modes; --assembly builds every copy, --copies some.
TEST_F(CliOn1crn, MmcifFilesAndAssemblies)
{
    const CliRun fromPdb = runCli({"modes", pdb});
    const CliRun fromCif = runCli({"modes", (findPdb("1crn.pdb").parent_path().parent_path() / "cif" / "1crn.cif").string()});
    ASSERT_EQ(fromCif.status, 0) << describe(fromCif);
    EXPECT_EQ(fromCif.report["eigenvalues"], fromPdb.report["eigenvalues"]);
    EXPECT_EQ(fromCif.report["springs"], fromPdb.report["springs"]);

    const std::string por = pathOf("2por.pdb");
    const CliRun two = runCli({"modes", por, "--assembly", "1", "--copies", "1,3", "--rc", "8"});
    ASSERT_EQ(two.status, 0) << describe(two);
    EXPECT_EQ(two.report["nodes"].get<int>(), 2 * runCli({"modes", por, "--rc", "8"}).report["nodes"].get<int>());
    for (const std::vector<std::string>& refused : std::vector<std::vector<std::string>>{
             {"modes", por, "--assembly", "2"}, {"modes", por, "--copies", "1"},
             {"modes", por, "--assembly", "1", "--copies", "1,1"}}) {
        const CliRun run = runCli(refused);
        EXPECT_EQ(run.status, 2) << describe(run);
        EXPECT_FALSE(run.err.empty());
    }
    // An assembly or copy the file does not describe: refused before the load, in the window's words.
    const struct {
        vornax::AssemblyRequest request;
        const char* copies;
        const char* words;
    } unknown[] = {{{"7", {}}, nullptr, "2por.pdb describes no assembly 7 (it describes 1)"},
                   {{"1", {"2", "4"}}, "2,4", "assembly 1 has no operator 4 (it has 3)"}};
    for (const auto& c : unknown) {
        std::vector<std::string> args{"modes", por, "--assembly", c.request.id};
        if (c.copies) args.insert(args.end(), {"--copies", c.copies});
        const CliRun run = runCli(args);
        const std::string problem = vornax::assemblyRequestProblem(por, c.request);
        EXPECT_NE(problem.find(c.words), std::string::npos) << problem;
        EXPECT_EQ(run.status, 2) << describe(run);
        EXPECT_EQ(run.err, "vornax-enm: error: " + problem + "\n");
    }
}

TEST_F(CliOn1crn, StdoutHoldsOnlyTheJson)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"modes", pdb}, std::vector<std::string>{"modes", pdb, "--verbose", "--json", "-"}}) {
        const CliRun run = runCli(args, false);
        ASSERT_EQ(run.status, 0) << describe(run);
        const json report = json::parse(run.out, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << "stdout is not one JSON document:\n" << run.out.substr(0, 400);
        EXPECT_EQ(report["pdb_code"], "1CRN");
        EXPECT_EQ(report["nodes"], 46);
        EXPECT_EQ(report["rc"], 11.0);
        EXPECT_EQ(report["rigid_eigenvalues"].size(), 6u);
        EXPECT_GT(report["peak_rss_bytes"].get<double>(), 0.0);
        for (const char* stage : {"read", "network", "hessian", "eigen", "calibration", "y"})
            EXPECT_GE(report["timings"][stage].get<double>(), 0.0) << stage;
        EXPECT_GT(report["timings"]["y"].get<double>(), 0.0) << "the time of Y was not picked up";
        for (const char* stage : {"read", "network", "hessian", "eigen", "calibration", "y", "budget"})
            EXPECT_GT(report["stage_peak_rss_bytes"][stage].get<double>(), 0.0) << stage;
    }
    // Verbose runs put the engine's lines on stderr.
    EXPECT_NE(runCli({"modes", pdb, "-v"}).err.find("total number of springs"), std::string::npos);

    const CliRun help = runCli({"response", "--help"}, false);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: vornax-enm response"), std::string::npos) << help.out;
}

// An NMR structure has modes but no calibration: modes reports them, response refuses it.
TEST_F(CliOn1crn, NmrStructureHasModesButNoCalibration)
{
    std::string text = readWholeFile(pdb);
    const std::string xray = "EXPERIMENT TYPE                : X-RAY DIFFRACTION";
    const auto at = text.find(xray);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, xray.size(), "EXPERIMENT TYPE                : NMR              ");
    const TempFile nmr(text);

    const CliRun xrayRun = runCli({"modes", pdb});
    const CliRun run = runCli({"modes", nmr.path().string()});
    ASSERT_EQ(xrayRun.status, 0) << describe(xrayRun);
    ASSERT_EQ(run.status, 0) << describe(run);
    EXPECT_TRUE(run.report["nmr"].get<bool>());
    EXPECT_FALSE(run.report["calibrated"].get<bool>());
    for (const char* field : {"spring_constant", "mean_fluctuation", "mean_compliance", "force_scaler"})
        EXPECT_EQ(run.report[field].get<double>(), 0.0) << field;
    EXPECT_EQ(run.report["eigenvalues"], xrayRun.report["eigenvalues"]);
    EXPECT_RELATIVE(run.report["sum_inverse_eigenvalues"].get<double>(),
                    xrayRun.report["sum_inverse_eigenvalues"].get<double>(), 1e-12);
    EXPECT_RELATIVE(run.report["sum_bfactors"].get<double>(), xrayRun.report["sum_bfactors"].get<double>(), 1e-12);

    const CliRun response = respond(nmr.path().string(), 0, {1, 0, 0}, "all");
    EXPECT_EQ(response.status, 2) << describe(response);
    EXPECT_EQ(response.errLines().size(), 1u) << response.err;
    // Its eigen data files cannot be asked for either, and the refusal says why (it was empty).
    const vornax::testing::TempDir folder;
    const CliRun out = runCli({"modes", nmr.path().string(), "--out", folder.path().string()});
    EXPECT_EQ(out.status, 2) << describe(out);
    EXPECT_NE(out.err.find("NMR structure is not calibrated"), std::string::npos) << out.err;
}

// ---- Bad input --------------------------------------------------------------------------------

// ---- Fluctuations and response maps against the peer ----------------------------------------

/// The peer's maps of `pdb` at `rc`, from tests/cli/prody_maps.py; null without ProDy.
json peerMaps(const std::string& pdb, double rc)
{
    const TempFile out("", ".json"), log("", ".log");
    const std::string command = "/usr/bin/python3 " + shellQuoted(VORNAX_PRODY_MAPS) + ' ' + shellQuoted(pdb) + ' '
        + std::to_string(rc) + ' ' + shellQuoted(out.path().string()) + " </dev/null >"
        + shellQuoted(log.path().string()) + " 2>&1";
    if (std::system(command.c_str()) != 0) return nullptr;
    return json::parse(readWholeFile(out.path()), nullptr, false);
}

/// max |got − expected| / max |expected|.
double maxRelative(const json& got, const json& expected)
{
    std::vector<double> a, b;
    auto flatten = [](const json& j, std::vector<double>& to, auto& self) -> void {
        if (j.is_array())
            for (const json& e : j) self(e, to, self);
        else
            to.push_back(j.get<double>());
    };
    flatten(got, a, flatten);
    flatten(expected, b, flatten);
    return maxNormDifference(a, b);
}

// Square fluctuations (every mode, the ten lowest, the sparse path's lowest) and the
// perturbation-response maps agree with ProDy's calcSqFlucts and calcPerturbResponse, on
// proteins, DNA (phosphorus nodes) and haemoglobin (four chains, two phosphate nodes).
TEST(CliMaps, FluctuationsAndResponseMapsMatchThePeer)
{
    const std::pair<const char*, double> structures[] = {{"1crn.pdb", 11.0}, {"1bna.pdb", 15.0}, {"4hhb.pdb", 11.0}};
    for (const auto& [name, rc] : structures) {
        SCOPED_TRACE(name);
        const std::string pdb = pathOf(name);
        if (pdb.empty()) continue;
        const json peer = peerMaps(pdb, rc);
        if (peer.is_null()) GTEST_SKIP() << "ProDy (Debian's python3-prody) is not available";
        const std::string cutoff = std::to_string(rc);
        // The peer leaves out zero modes beyond the rigid ones (1bna has five at 15 Å); here
        // they stay in the numbering with no weight.
        const std::string ten = std::to_string(10 + 3 * peer["nodes"].get<int>() - 6 - peer["modes"].get<int>());
        const CliRun all = runCli({"fluct", pdb, "--rc", cutoff});
        const CliRun lowest = runCli({"fluct", pdb, "--rc", cutoff, "--modes", "first:" + ten});
        const CliRun sparse = runCli({"fluct", pdb, "--rc", cutoff, "--path", "sparse", "--lowest", ten});
        const CliRun maps = runCli({"prs", pdb, "--rc", cutoff});
        for (const CliRun* run : {&all, &lowest, &sparse, &maps}) ASSERT_EQ(run->status, 0) << describe(*run);
        EXPECT_EQ(all.report["nodes"], peer["nodes"]);
        EXPECT_LE(maxRelative(all.report["sq_flucts"], peer["sq_flucts"]), 1e-6);
        EXPECT_LE(maxRelative(lowest.report["sq_flucts"], peer["sq_flucts_first10"]), 1e-6);
        EXPECT_TRUE(sparse.report["modes"]["lowest_modes_only"].get<bool>());
        EXPECT_LE(maxRelative(sparse.report["sq_flucts"], peer["sq_flucts_first10"]), 1e-6);
        EXPECT_LE(maxRelative(maps.report["prs_matrix"], peer["prs_matrix"]), 1e-6);
        EXPECT_LE(maxRelative(maps.report["effectiveness"], peer["effectiveness"]), 1e-6);
        EXPECT_LE(maxRelative(maps.report["sensitivity"], peer["sensitivity"]), 1e-6);

        // Calibrated over every mode, the fluctuations give back the B-factors' sum.
        const CliRun modes = runCli({"modes", pdb, "--rc", cutoff});
        ASSERT_EQ(modes.status, 0) << describe(modes);
        double sumB = 0.0;
        for (const json& v : all.report["sq_flucts_calibrated"])
            sumB += vornax::kEightPiSquared / 3.0 * v.get<double>();
        EXPECT_LE(relativeDifference(sumB, modes.report["sum_bfactors"].get<double>()), 1e-9);
        const double r = all.report["b_factor_correlation"].get<double>();
        EXPECT_TRUE(r > -1.0 && r < 1.0) << r;
    }
}

TEST(CliMaps, ResponseMapsGoToCsvAndTheSparsePathIsRefusedWithItsMemory)
{
    const std::string crn = pathOf("1crn.pdb");
    if (crn.empty()) GTEST_SKIP() << "1crn.pdb is not available";
    const TempFile csv("", ".csv");
    const CliRun written = runCli({"prs", crn, "--csv", csv.path().string()});
    ASSERT_EQ(written.status, 0) << describe(written);
    EXPECT_FALSE(written.report.contains("prs_matrix"));
    std::istringstream lines(readWholeFile(csv.path()));
    std::string header, first;
    std::getline(lines, header);
    std::getline(lines, first);
    EXPECT_EQ(header.rfind("node,chain,residue,effectiveness,sensitivity,response_0,", 0), 0u) << header;
    EXPECT_EQ(std::count(first.begin(), first.end(), ','), 4 + 46) << first;
    EXPECT_EQ(first.rfind("0,A,1,", 0), 0u) << first;

    const CliRun sparse = runCli({"prs", crn, "--path", "sparse"});
    EXPECT_EQ(sparse.status, 2);
    EXPECT_NE(sparse.err.find("GB, which the sparse path does not hold"), std::string::npos) << sparse.err;
}

TEST(CliBadInput, OneLineOnStderrAndExitStatus2)
{
    const std::string crn = pathOf("1crn.pdb");
    const std::string tiny = pathOf("tiny.pdb");
    if (crn.empty() || tiny.empty()) GTEST_SKIP() << "test structures are not available";
    const TempFile notPdb("just some text\nwith no atom records\n", ".pdb");
    // Two nodes at one position: no spring direction, the Hessian is undefined.
    std::string coincident;
    const double xyz[5][3] = {{0, 0, 0}, {3.8, 0, 0}, {3.8, 0, 0}, {3.8, 3.8, 0}, {0, 3.8, 3.8}};
    for (int i = 0; i < 5; ++i)
        coincident += atomLine("ATOM", i + 1, " CA ", "ALA", 'A', i + 1, xyz[i][0], xyz[i][1], xyz[i][2]) + "\n";
    const TempFile coincidentNodes(coincident);
    const std::string missing = (fs::temp_directory_path() / "vornax-no-such-file.pdb").string();
    auto respondArgs = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"response", crn, "--node", "0", "--force", "1", "0", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"modes"},
        {"transform", crn},
        {"modes", crn, "--bogus"},
        {"modes", missing},
        {"modes", fs::temp_directory_path().string()},
        {"modes", notPdb.path().string()},
        {"modes", tiny},
        {"modes", coincidentNodes.path().string()},
        {"modes", crn, "--rc", "-3"},
        {"modes", crn, "--rc", "0"},
        {"modes", crn, "--rc", "nan"},
        {"modes", crn, "--rc", "eleven"},
        {"modes", crn, "--solver", "jacobi"},
        {"modes", crn, "--json", (fs::path(missing) / "out.json").string()},
        {"response", crn, "--force", "1", "0", "0"},
        {"response", crn, "--node", "0"},
        {"response", crn, "--node", "46", "--force", "1", "0", "0"},
        {"response", crn, "--node", "-1", "--force", "1", "0", "0"},
        {"response", crn, "--node", "zero", "--force", "1", "0", "0"},
        {"response", crn, "--node", "0", "--force", "1", "0"},
        {"response", crn, "--node", "0", "--force", "1", "up", "0"},
        {"response", crn, "--node", "0", "--force", "1", "nan", "0"},
        respondArgs({"--modes", "first:0"}),
        respondArgs({"--modes", "first:133"}),
        respondArgs({"--modes", "first:ten"}),
        respondArgs({"--modes", "list:132"}),
        respondArgs({"--modes", "list:"}),
        respondArgs({"--modes", "list:1,,2"}),
        respondArgs({"--modes", "list:1,1"}),
        respondArgs({"--modes", "list:-1"}),
        respondArgs({"--modes", "list:0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20"}),
        respondArgs({"--modes", "most"}),
        {"deform", crn, "--node", "0", "--force", "1", "0", "0"},
        {"deform", crn, "--node", "46", "--force", "1", "0", "0", "--out", "x.pdb"},
        {"deform", crn, "--node", "0", "--force", "1", "0", "0", "--out", (fs::path(missing) / "out.pdb").string()},
        {"fluct", crn, "--modes", "first:133"},
        {"fluct", crn, "--modes", "list:132"},
        {"prs", crn, "--path", "sparse"},
        {"prs", crn, "--csv", (fs::path(missing) / "out.csv").string()},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += ' ' + a;
        SCOPED_TRACE("vornax-enm" + shown);
        const CliRun run = runCli(args, false);
        EXPECT_EQ(run.status, 2) << describe(run);
        EXPECT_TRUE(run.out.empty()) << run.out;
        const std::vector<std::string> lines = run.errLines();
        ASSERT_EQ(lines.size(), 1u) << run.err;
        EXPECT_EQ(lines[0].rfind("vornax-enm: error: ", 0), 0u) << lines[0];
    }
}

} // namespace
