// The sparse path through the load: the same network, calibration and responses as the dense
// path, the memory guard that chooses it, and its eigen data files.
#include "enm/sparse/SparseNetworkSolver.h"
#include "molecule/SessionFile.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

using namespace vornax;
using namespace vornax::testing;
namespace fs = std::filesystem;

namespace {

constexpr int kLowest = 20;

LoadOptions pathOptions(EnginePath path)
{
    LoadOptions options = solvedOptions();
    options.path = path;
    options.lowestModes = kLowest;
    options.keepAllModes = path == EnginePath::Dense;
    return options;
}

double relative(double a, double b) { return std::fabs(a - b) / std::max(std::fabs(a), std::fabs(b)); }

/// Largest difference of two displacements, relative to the largest component of the first.
double responseDifference(const std::vector<double>& a, const std::vector<double>& b)
{
    double diff = 0.0, scale = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff = std::max(diff, std::fabs(a[i] - b[i]));
        scale = std::max(scale, std::fabs(a[i]));
    }
    return scale > 0.0 ? diff / scale : diff; // the first modes of a loose network are zero modes
}

/// Displacements of a force on `node` by each route: all modes, the first 10, modes 1, 3 and 6.
std::vector<std::vector<double>> responsesByEveryRoute(ElasticNetworkModel& eln, int32_t node)
{
    const double f[3] = {0.3, -0.2, 0.5};
    const int32_t list[3] = {0, 2, 5};
    std::vector<std::vector<double>> out;
    for (const auto& [route, count] : {std::pair{2, 0}, std::pair{1, 10}, std::pair{0, 3}}) {
        std::vector<double> d(static_cast<std::size_t>(eln.get3N()));
        eln.deformation().computeResponse(f, node, route, count, list, d.data());
        out.push_back(std::move(d));
    }
    return out;
}

void expectSameSolution(ElasticNetworkModel& dense, ElasticNetworkModel& sparse, double exactness)
{
    ASSERT_EQ(dense.get3N(), sparse.get3N());
    ASSERT_GE(sparse.modes().getSparseModeCount(), kLowest);
    // Extra zero modes of a network that hangs loose are zero to rounding, on either path.
    EXPECT_EQ(dense.modes().getExtraZeroModes(), sparse.modes().getExtraZeroModes());
    const double largest = dense.modes().getEigenvalues().back();
    for (int m = 7; m < 7 + kLowest; ++m) {
        const double a = dense.modes().getEigenvalues()[m], b = sparse.modes().getEigenvalues()[m];
        if (m < 7 + dense.modes().getExtraZeroModes())
            EXPECT_LT(std::fabs(a - b), 1e-10 * largest) << "zero mode " << m;
        else
            EXPECT_LT(relative(a, b), 1e-8) << "mode " << m;
    }
    const auto& c = dense.modes().getCalibration();
    const auto& s = sparse.modes().getCalibration();
    EXPECT_LT(relative(c.sumInverse, s.sumInverse), exactness);
    EXPECT_LT(relative(c.K, s.K), exactness);
    EXPECT_LT(relative(c.S, s.S), exactness);
    for (int32_t node : {0, dense.getAmountOfAtoms() / 2}) {
        const auto a = responsesByEveryRoute(dense, node);
        const auto b = responsesByEveryRoute(sparse, node);
        for (std::size_t r = 0; r < a.size(); ++r)
            EXPECT_LT(responseDifference(a[r], b[r]), std::max(exactness, 1e-8)) << "node " << node << " route " << r;
    }
}

} // namespace

TEST(SparsePathTest, AgreesWithTheDensePathOnEveryRoute)
{
    for (const char* name : {"1crn", "4hhb", "1ehz"}) {
        SCOPED_TRACE(name);
        const fs::path pdb = findPdb(std::string(name) + ".pdb");
        auto dense = loadedThroughPipeline(pdb, pathOptions(EnginePath::Dense));
        auto sparse = loadedThroughPipeline(pdb, pathOptions(EnginePath::Sparse));
        ASSERT_TRUE(dense && sparse);
        EXPECT_EQ(dense->path, EnginePath::Dense);
        ASSERT_EQ(sparse->path, EnginePath::Sparse);
        ElasticNetworkModel& s = *sparse->network;
        EXPECT_TRUE(s.isSetup() && s.setupComplete());
        EXPECT_EQ(s.getTotalMaxModes(), s.modes().getSparseModeCount());
        EXPECT_EQ(s.getLoadResult(), -2); // all-mode responses, through the factorisation
        EXPECT_TRUE(s.modes().getSumInverseEstimate().exact);
        expectSameSolution(*dense->network, s, 1e-10);
    }
}

TEST(SparsePathTest, TheMemoryGuardTakesTheSparsePathWhenDenseDoesNotFit)
{
    const fs::path pdb = findPdb("1crn.pdb");
    struct Case {
        uint64_t available;
        int32_t pullFirstNodes;
        EnginePath expected;
        bool denseLater;
        const char* says;
    };
    // Pulling first never starts every mode in the background where it would not fit.
    for (const Case& c : {Case{100'000, 0, EnginePath::Sparse, false, "of memory is available"},
                          Case{100'000, 10, EnginePath::Sparse, false, "of memory is available"},
                          Case{uint64_t{8} << 30, 10, EnginePath::Sparse, true, "follows in the background"},
                          Case{uint64_t{8} << 30, 0, EnginePath::Dense, false, "Every mode is computed"}}) {
        LoadOptions options = pathOptions(EnginePath::Auto);
        options.machineFacts.availableMemory = [&] { return c.available; };
        options.pullFirstNodes = c.pullFirstNodes;
        auto loaded = loadedThroughPipeline(pdb, options);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->path, c.expected);
        EXPECT_EQ(loaded->denseLater, c.denseLater);
        EXPECT_NE(loaded->pathReason.find(c.says), std::string::npos) << loaded->pathReason;
        EXPECT_EQ(loaded->network->modes().isSparse(), c.expected == EnginePath::Sparse);
        EXPECT_GT(loaded->timeToFirstPull, 0.0);
    }
    // 46 nodes need 46² · 72 · 3.5 bytes with Y.
    EXPECT_EQ(ModeSet::denseBytesNeeded(46, true), 533232u);
    EXPECT_EQ(ModeSet::denseBytesNeeded(2'000'000'000, true), UINT64_MAX);
}

TEST(SparsePathTest, SparseEigenFilesComeBackAndOldLayoutsRefuseThem)
{
    TempDir dir;
    const fs::path pdb = findPdb("4hhb.pdb");
    LoadOptions options = pathOptions(EnginePath::Sparse);
    options.eigenFileFolder = dir.path();
    auto computed = loadedThroughPipeline(pdb, options);
    ASSERT_TRUE(computed && computed->eigenFilesWritten);
    const fs::path hdv = dir.path() / "4HHB.hdv";
    ASSERT_TRUE(fs::exists(hdv));
    EXPECT_FALSE(fs::exists(dir.path() / "4HHB.ppy"));
    const std::string bytes = readWholeFile(hdv);
    // A negative line count first: readers of the dense layout refuse the file at once.
    ASSERT_GT(bytes.size(), 16u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xff\xff\xff\xff", 4));
    EXPECT_EQ(bytes.substr(4, 8), "VXSPARSE");

    LoadedStructure read(StructureSource::eigenDataFiles({hdv.string()}), LoadOptions());
    ASSERT_TRUE(read.ok) << read.message;
    EXPECT_EQ(read.path, EnginePath::Sparse);
    ElasticNetworkModel& again = *read.network;
    EXPECT_EQ(again.modes().getSparseModeCount(), computed->network->modes().getSparseModeCount());
    EXPECT_EQ(again.getS(), computed->network->getS());
    EXPECT_EQ(again.getLoadResult(), -2);
    EXPECT_EQ(again.sessionStructure(), computed->network->sessionStructure());
    for (int32_t node : {3, 300}) {
        const auto a = responsesByEveryRoute(*computed->network, node);
        const auto b = responsesByEveryRoute(again, node);
        for (std::size_t r = 0; r < a.size(); ++r) EXPECT_LT(responseDifference(a[r], b[r]), 1e-12);
    }

    // Damaged files are refused with a message, before anything is loaded.
    struct Damage {
        const char* what;
        std::string content;
        const char* says;
    };
    std::string version = bytes;
    version[12] = 2;
    std::string foreign = bytes;
    foreign.replace(4, 8, "SOMEFILE");
    for (const Damage& d : {Damage{"truncated", bytes.substr(0, bytes.size() - 8), "do not make"},
                            Damage{"padded", bytes + std::string(8, '\0'), "do not make"},
                            Damage{"newer version", version, "version 2"},
                            Damage{"foreign", foreign, "negative line count"},
                            Damage{"header only", bytes.substr(0, 14), "version"}}) {
        SCOPED_TRACE(d.what);
        const fs::path bad = dir.path() / "BAD.hdv";
        std::ofstream(bad, std::ios::binary) << d.content;
        LoadedStructure r(StructureSource::eigenDataFiles({bad.string()}), LoadOptions());
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.network);
        EXPECT_NE(r.message.find(d.says), std::string::npos) << r.message;
    }
}

TEST(SparsePathTest, TheDenseSolutionTakesOverWithoutAJump)
{
    const fs::path pdb = findPdb("1ubq.pdb");
    LoadOptions first = pathOptions(EnginePath::Auto);
    first.pullFirstNodes = 50;
    auto live = loadedThroughPipeline(pdb, first);
    ASSERT_TRUE(live);
    ASSERT_EQ(live->path, EnginePath::Sparse);
    EXPECT_TRUE(live->denseLater);
    EXPECT_NE(live->pathReason.find("follows in the background"), std::string::npos) << live->pathReason;
    ElasticNetworkModel& eln = *live->network;

    // Kept forces through every mode and through the first 10, pulled on the sparse solution.
    SessionForce all, firstTen;
    all.node = 5;
    all.force = Vector3d(0.4f, -0.2f, 0.3f);
    all.modeState[0] = 2;
    all.modeState[1] = eln.getTotalMaxModes();
    firstTen.node = 60;
    firstTen.force = Vector3d(-0.1f, 0.5f, 0.2f);
    firstTen.modeState[0] = 1;
    firstTen.modeState[1] = 10;
    ASSERT_TRUE(eln.deformation().restoreKeptForce(all) && eln.deformation().restoreKeptForce(firstTen));
    eln.updateDeformables();
    const std::vector<double> before = eln.deformation().getDisplacement();

    auto dense = loadedThroughPipeline(pdb, pathOptions(EnginePath::Dense));
    ASSERT_TRUE(dense);
    ASSERT_TRUE(eln.adoptSolution(*dense->network));
    EXPECT_FALSE(eln.modes().isSparse());
    EXPECT_TRUE(eln.modes().getYMatrix());
    EXPECT_EQ(eln.getTotalMaxModes(), eln.geometry().get3NMinus6());
    EXPECT_EQ(eln.deformation().getDisplacement(), before) << "the picture does not move when the modes change hands";

    // Each force leaves by its own route through the new modes: nothing is left.
    double largest = 0.0;
    for (double d : before) largest = std::max(largest, std::fabs(d));
    eln.applyZeroForce(firstTen.node);
    eln.applyZeroForce(all.node);
    for (double d : eln.deformation().getDisplacement()) ASSERT_NEAR(d, 0.0, 1e-9 * largest);

    // Only a dense solution with Y of the same structure is taken, and only over a sparse one.
    EXPECT_FALSE(eln.adoptSolution(*dense->network));
    auto other = loadedThroughPipeline(findPdb("1crn.pdb"), pathOptions(EnginePath::Sparse));
    auto otherDense = loadedThroughPipeline(findPdb("1crn.pdb"), pathOptions(EnginePath::Dense));
    auto noY = pathOptions(EnginePath::Dense);
    noY.computeY = false;
    auto withoutY = loadedThroughPipeline(pdb, noY);
    ASSERT_TRUE(other && otherDense && withoutY);
    EXPECT_FALSE(other->network->adoptSolution(*withoutY->network));
    EXPECT_FALSE(other->network->adoptSolution(*dense->network));
    EXPECT_TRUE(other->network->adoptSolution(*otherDense->network));
}
