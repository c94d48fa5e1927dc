// The load pipeline: the checks after the read, stopping a load at any point without leaving
// anything half-built, and what it records per stage.
#include "common/Progress.h"
#include "common/SystemInfo.h"
#include "enm/dense/EigenSolvers.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>

using namespace vornax;
using namespace vornax::testing;
namespace fs = std::filesystem;

namespace {

/// Says "cancel" from the moment `when` holds; counts how often it was asked.
class CancellingProgress : public Progress {
public:
    explicit CancellingProgress(std::function<bool(int asked)> when) : m_when(std::move(when)) {}
    void setMaximum(int) override {}
    void step(int) override {}
    bool isCancelled() const override { return m_cancel || (m_cancel = m_when(++m_asked)); }
    void cancel() { m_cancel = true; }

private:
    std::function<bool(int)> m_when;
    mutable int m_asked = 0;
    mutable bool m_cancel = false;
};

/// Gives `eln` node records at `positions` (Å, as read), node i at positions[i].
void networkAt(const std::vector<std::array<double, 3>>& positions, ElasticNetworkModel& eln)
{
    ChainList chains(1);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const auto& p = positions[i];
        ELNBackboneData r(
            Vector3d(static_cast<float>(p[0] * 10), static_cast<float>(p[1] * 10), static_cast<float>(p[2] * 10)), "A",
            "ALA", std::to_string(i + 1), 20.0, false);
        r.coordinates = p;
        chains[0].push_back(r);
    }
    eln.recieveChainList(chains);
}

std::vector<std::array<double, 3>> helix(int n)
{
    std::vector<std::array<double, 3>> p;
    for (int i = 0; i < n; ++i) p.push_back({2.3 * std::cos(1.75 * i), 2.3 * std::sin(1.75 * i), 1.5 * i});
    return p;
}

fs::path writeText(const TempDir& dir, const std::string& name, const std::string& text)
{
    const fs::path path = dir.path() / name;
    std::ofstream(path) << text;
    return path;
}

} // namespace

TEST(CoincidentNodes, FoundByPositionAsTheHessianSeesIt)
{
    constexpr double tiny = 1e-200, nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        std::vector<std::array<double, 3>> extra; // appended to a 6-node helix
        std::array<int32_t, 2> expected;
    };
    const std::vector<std::array<double, 3>> base = helix(6);
    const std::vector<Case> cases = {
        {"all apart", {}, {-1, -1}},
        {"one thousandth of an angstrom apart", {{base[2][0] + 0.001, base[2][1], base[2][2]}}, {-1, -1}},
        {"a copy of node 2", {{base[2][0], base[2][1], base[2][2]}}, {2, 6}},
        {"a copy of node 4 and of node 1: the lower pair", {base[4], base[1]}, {1, 7}},
        {"-0 and 0 are one position", {{0.0, 0.0, 0.0}, {-0.0, 0.0, -0.0}}, {6, 7}},
        {"differences whose squares underflow", {{tiny, 0.0, 0.0}, {0.0, -tiny, 0.0}}, {6, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::array<double, 3>> positions = base;
        positions.insert(positions.end(), c.extra.begin(), c.extra.end());
        ElasticNetworkModel eln;
        networkAt(positions, eln);
        EXPECT_TRUE(eln.geometry().nodeCoordinatesUsable());
        EXPECT_EQ(eln.geometry().findCoincidentNodes(), c.expected);
    }
    for (double bad : {nan, std::numeric_limits<double>::infinity(), -1e200}) {
        ElasticNetworkModel unusable;
        networkAt({{0, 0, 0}, {1, bad, 2}, {3, 4, 5}}, unusable);
        EXPECT_FALSE(unusable.geometry().nodeCoordinatesUsable()) << bad;
    }
}

TEST(LoadPipeline, RefusesBeforeBuildingWhatItCannotSolve)
{
    TempDir dir;
    std::string identical = "HEADER    SYNTHETIC                               01-JAN-00   1SYN              \n";
    for (int i = 1; i <= 5000; ++i) identical += atomLine("ATOM", i, " CA ", "ALA", 'A', i, 1.0, 2.0, 3.0) + "\n";
    std::string twoApart;
    for (int i = 1; i <= 5; ++i)
        twoApart += atomLine("ATOM", i, " CA ", "GLY", 'B', i, 3.8 * (i == 5 ? 2 : i), 0.0, 0.0) + "\n";
    struct Case {
        fs::path file;
        float rc;
        LoadStatus status;
        std::string inMessage;
    };
    const std::vector<Case> cases = {
        // 5000 nodes at one place: refused after the read, before the neighbour lists (which
        // would hold 25 million springs) and the Hessian.
        {writeText(dir, "identical.pdb", identical), 11.0f, LoadStatus::CoincidentNodes,
         "are at the same position (node 0 (A 1 ALA) and node 1 (A 2 ALA))"},
        {writeText(dir, "two.pdb", twoApart), 11.0f, LoadStatus::CoincidentNodes,
         "node 1 (B 2 GLY) and node 4 (B 5 GLY)"},
        {findPdb("tiny.pdb"), 11.0f, LoadStatus::TooFewNodes, "normal modes need at least 3"},
        {dir.path() / "absent.pdb", 11.0f, LoadStatus::BadInput, ""},
        {findPdb("1crn.pdb"), 0.0f, LoadStatus::BadInput, "cutoff"},
        {findPdb("1crn.pdb"), std::numeric_limits<float>::quiet_NaN(), LoadStatus::BadInput, "cutoff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.string());
        LoadOptions options;
        options.rc = c.rc;
        options.measureStagePeaks = true;
        LoadedStructure s(StructureSource::pdbFile(c.file), options);
        EXPECT_EQ(s.status, c.status) << s.message;
        EXPECT_NE(s.message.find(c.inMessage), std::string::npos) << s.message;
        EXPECT_FALSE(s.network);
        EXPECT_TRUE(s.atoms.empty());
        EXPECT_FALSE(s.stages[static_cast<std::size_t>(LoadStage::Hessian)].ran);
        if (c.status == LoadStatus::CoincidentNodes) {
            EXPECT_FALSE(s.stages[static_cast<std::size_t>(LoadStage::Network)].ran);
            // The springs of 5000 nodes at one place alone would take gigabytes.
            EXPECT_LT(s.stages[static_cast<std::size_t>(LoadStage::Read)].stagePeakRssBytes, int64_t{512} << 20);
        }
    }
}

// A load stopped anywhere leaves no network and no eigen data file that is not whole; a
// stop that comes too late to matter lets the load finish.
TEST(LoadPipeline, CancelledLoadLeavesNothingHalfBuilt)
{
    const fs::path pdb = findPdb("1crn.pdb");
    for (LoadStage at : {LoadStage::Read, LoadStage::Network, LoadStage::Hessian, LoadStage::Eigen,
                         LoadStage::Calibration, LoadStage::Y, LoadStage::EigenFiles, LoadStage::Budget}) {
        for (EigenSolver solver : {EigenSolver::Lapack, EigenSolver::Reference}) {
            SCOPED_TRACE(std::string("cancelled as the ") + stageName(at) + " stage starts, solver "
                         + std::to_string(static_cast<int>(solver)));
            TempDir dir;
            CancellingProgress progress([](int) { return false; });
            LoadOptions options;
            options.solver = solver;
            options.eigenFileFolder = dir.path();
            options.progress = &progress;
            options.stageStarted = [&](LoadStage s) {
                if (s == at) progress.cancel();
            };
            LoadedStructure s(StructureSource::pdbFile(pdb), options);
            // The budget is the last stage: nothing is left to stop.
            if (at == LoadStage::Budget) {
                EXPECT_EQ(s.status, LoadStatus::Ok) << s.message;
                continue;
            }
            EXPECT_EQ(s.status, LoadStatus::Cancelled) << s.message;
            EXPECT_FALSE(s.network);
            EXPECT_TRUE(s.atoms.empty());
            // The long stages stop inside: the eigen solution and Y finish no work.
            if (at == LoadStage::Eigen || at == LoadStage::Y) {
                EXPECT_FALSE(s.stages[static_cast<std::size_t>(at) + 1].ran);
            }
            // Files are written whole or not at all; whole ones load back.
            const fs::path hdv = dir.path() / "1CRN.hdv";
            EXPECT_EQ(fs::exists(hdv), at == LoadStage::EigenFiles);
            if (fs::exists(hdv)) {
                LoadedStructure back(
                    StructureSource::eigenDataFiles({hdv.string(), (dir.path() / "1CRN.ppy").string()}), LoadOptions());
                EXPECT_EQ(back.status, LoadStatus::Ok) << back.message;
            }
        }
    }
}

// Stopped inside the eigen solution, the network has no Hessian and no modes, and a new solve
// gives what an uninterrupted one gives.
TEST(LoadPipeline, EigenSolutionStoppedInsideLeavesTheNetworkConsistent)
{
    for (EigenSolver solver : {EigenSolver::Lapack, EigenSolver::Reference}) {
        auto s = buildNetwork(findPdb("1crn.pdb"));
        ScopedUserPrompts scoped(&s->prompts);
        ElasticNetworkModel& eln = *s->network;
        eln.modes().setEigenSolver(solver);
        ASSERT_EQ(eln.constructHessianMatrix(nullptr), EnmStatus::Ok);
        CancellingProgress progress([](int asked) { return asked == 3; });
        EXPECT_EQ(eln.calculateEigen(&progress), EnmStatus::Cancelled);
        EXPECT_EQ(eln.modes().getHessian(), nullptr);
        EXPECT_EQ(eln.modes().getEigenvectorMatrixT(), nullptr);
        EXPECT_TRUE(eln.modes().getEigenvalues().empty());
        EXPECT_FALSE(eln.modes().isEigenComputed());
        EXPECT_EQ(eln.calculateForceScaler(1.0f, false), EnmStatus::NotReady);

        ASSERT_EQ(eln.constructHessianMatrix(nullptr), EnmStatus::Ok);
        ASSERT_EQ(eln.calculateEigen(nullptr), EnmStatus::Ok);
        const auto fresh = solvedStructure(findPdb("1crn.pdb"));
        ASSERT_TRUE(fresh);
        const auto& a = eln.modes().getEigenvalues();
        const auto& b = fresh->network->modes().getEigenvalues();
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t k = 7; k < a.size(); ++k) EXPECT_NEAR(a[k], b[k], 1e-9 * b.back()) << k;
    }
}

// The reference solver's QL iteration gives up after 3000 iterations (a NaN never converges).
TEST(EigenSolvers, ReferenceSolverReportsNoConvergence)
{
    const int n = 3;
    DoubleBuffer matrix = allocateDoubles(9);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[9] = {2, nan, 0, nan, 2, 1, 0, 1, 2};
    std::copy(values, values + 9, matrix.get());
    std::vector<double> eigenvalues(n);
    const console::Capture quiet;
    const EigenSolution solution = solveReference(matrix, n, eigenvalues.data(), nullptr);
    EXPECT_EQ(solution.outcome.status, EnmStatus::NotConverged);
    EXPECT_FALSE(solution.vectors);
    EXPECT_FALSE(matrix);
}

TEST(LoadPipeline, RecordsEveryStageAndReadsEigenFilesBack)
{
    TempDir dir;
    LoadOptions options;
    options.eigenFileFolder = dir.path();
    options.measureStagePeaks = true;
    LoadedStructure s(StructureSource::pdbFile(findPdb("1crn.pdb")), options);
    ASSERT_EQ(s.status, LoadStatus::Ok) << s.message;
    int64_t peak = 0;
    for (const StageRecord& r : s.stages) {
        EXPECT_TRUE(r.ran);
        EXPECT_GE(r.seconds, 0.0);
        EXPECT_GT(r.stagePeakRssBytes, 0);
        EXPECT_GE(r.processPeakRssBytes, peak); // never falls
        peak = r.processPeakRssBytes;
    }
    EXPECT_GT(s.network->getTotalMaxModes(), 0);

    LoadedStructure back(StructureSource::eigenDataFiles({(dir.path() / "1CRN.hdv").string()}), LoadOptions());
    ASSERT_EQ(back.status, LoadStatus::Ok) << back.message;
    EXPECT_EQ(back.network->getAmountOfAtoms(), s.network->getAmountOfAtoms());
    EXPECT_FALSE(back.stages[static_cast<std::size_t>(LoadStage::Hessian)].ran);
    EXPECT_TRUE(back.stages[static_cast<std::size_t>(LoadStage::Budget)].ran);
}

TEST(LoadPipeline, CutoffStaysInAngstromOnEveryPath)
{
    TempDir dir;
    LoadOptions options;
    options.rc = 12.0f;
    options.eigenFileFolder = dir.path();
    LoadedStructure computed(StructureSource::pdbFile(findPdb("1crn.pdb")), options);
    ASSERT_EQ(computed.status, LoadStatus::Ok) << computed.message;
    // The eigen data files are found by extension, in any case, never by a substring elsewhere.
    const fs::path upper = dir.path() / "1CRN.HDV";
    fs::copy_file(dir.path() / "1CRN.hdv", upper);
    LoadedStructure read(StructureSource::eigenDataFiles({(dir.path() / "x.hdv.old").string(), upper.string()}),
                         LoadOptions());
    ASSERT_EQ(read.status, LoadStatus::Ok) << read.message;
    for (const ElasticNetworkModel* eln : {computed.network.get(), read.network.get()}) {
        EXPECT_EQ(eln->getRc(), 12.0f);
        EXPECT_EQ(eln->geometry().getRcAngstrom(), 12.0);
    }
    EXPECT_EQ(read.network->geometry().getAmountOfSprings(), computed.network->geometry().getAmountOfSprings());
}
