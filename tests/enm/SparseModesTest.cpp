// The sparse path against the dense one: Hessian, lowest modes (degenerate ones complete),
// Σinv exact and estimated, calibration and full-mode responses.
#include "enm/sparse/SparseNetworkSolver.h"
#include "support/TestData.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <random>

using namespace vornax;
using namespace vornax::testing;

namespace {

double relativeError(double got, double want) { return std::fabs(got - want) / std::max(std::fabs(want), 1e-300); }

/// A structure with its dense eigen solution and its sparse solver, factorised.
struct BothPaths {
    std::unique_ptr<LoadedStructure> s;
    std::unique_ptr<SparseNetworkSolver> sparse;
    ElasticNetworkModel* eln() const { return s->network.get(); }
};

BothPaths bothPaths(std::unique_ptr<LoadedStructure> s, bool dense = true)
{
    BothPaths b;
    b.s = std::move(s);
    ElasticNetworkModel* eln = b.s->network.get();
    ScopedUserPrompts scoped(&b.s->prompts);
    if (dense) {
        EXPECT_EQ(eln->constructHessianMatrix(nullptr), EnmStatus::Ok);
        EXPECT_EQ(eln->calculateEigen(nullptr), EnmStatus::Ok);
    }
    b.sparse = std::make_unique<SparseNetworkSolver>(eln->geometry().getNodeCoordinates().data(), eln->getAmountOfAtoms(),
                                                     eln->geometry().getRcAngstrom());
    EXPECT_EQ(b.sparse->factorise(), EnmStatus::Ok);
    return b;
}

std::vector<double> bFactors(const ElasticNetworkModel& eln)
{
    std::vector<double> b;
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) b.push_back(eln.getAtom(i)->getMyBFactor());
    return b;
}

/// The sparse eigenvalues against modes 7… of the dense solve; zero modes against zero.
void expectSameLowestModes(const BothPaths& b, int k)
{
    const auto& dense = b.eln()->modes().getEigenvalues();
    const auto& sparse = b.sparse->eigenvalues();
    ASSERT_GE(static_cast<int>(sparse.size()), k);
    const double zero = ModeSet::kZeroModeTolerance * dense.back();
    EXPECT_EQ(b.sparse->extraZeroModes(), b.eln()->modes().getExtraZeroModes());
    for (std::size_t j = 0; j < sparse.size(); ++j) {
        if (dense[j + 7] <= zero)
            EXPECT_LE(std::fabs(sparse[j]), zero) << "zero mode " << j;
        else
            EXPECT_LT(relativeError(sparse[j], dense[j + 7]), 1e-8) << "mode " << j;
    }
    // The largest eigenvalue only scales what counts as zero: 1e-4 is all it is solved to.
    EXPECT_LT(relativeError(b.sparse->largestEigenvalue(), dense.back()), 1e-4);
}

/// Sparse responses of two nodes against Y, relative to Y's response.
void expectSameResponses(BothPaths& b, const std::vector<int>& nodes)
{
    const std::size_t n = static_cast<std::size_t>(b.eln()->get3N());
    for (int node : nodes) {
        const double f[3] = {0.3, -1.2, 0.7};
        std::vector<double> viaY(n), viaSolves(n);
        b.eln()->deformation().computeResponse(f, node, 2, 0, nullptr, viaY.data());
        b.sparse->response(f, node, viaSolves.data());
        double err = 0, scale = 0;
        for (std::size_t i = 0; i < n; ++i) {
            err = std::max(err, std::fabs(viaSolves[i] - viaY[i]));
            scale = std::max(scale, std::fabs(viaY[i]));
        }
        EXPECT_LT(err / scale, 1e-8) << "node " << node;
        const auto diag = b.sparse->responseDiagonal(node);
        for (int c = 0; c < 3; ++c)
            EXPECT_LT(relativeError(diag[static_cast<std::size_t>(c)], b.eln()->modes().getYMatrix()[(3 * node + c) * (n + 1)]),
                      1e-8);
    }
}

/// Nodes on a cubic grid: octahedral symmetry, so many modes come in degenerate groups.
std::string cubicGrid(int side, double spacing, double offset = 0.0)
{
    std::vector<Vector3d> p;
    for (int x = 0; x < side; ++x)
        for (int y = 0; y < side; ++y)
            for (int z = 0; z < side; ++z)
                p.emplace_back(static_cast<float>(offset + x * spacing), static_cast<float>(y * spacing),
                               static_cast<float>(z * spacing));
    return cAlphaChain(p);
}

int largestNetwork() { return environmentNumber("VORNAX_MAX_SPARSE_NODES", 1200); }

std::vector<std::string> referenceNames()
{
    std::vector<std::string> names = referenceResultNames();
    if (names.empty()) names = {"1crn_rc11", "1ubq_rc11", "2por_rc11"}; // the repository's copies
    return names;
}

} // namespace

TEST(SparseHessianTest, EqualsTheDenseHessianEntryForEntry)
{
    auto s = buildNetwork(findPdb("1crn.pdb"));
    auto* eln = s->network.get();
    ASSERT_EQ(eln->constructHessianMatrix(nullptr), EnmStatus::Ok);
    int64_t pairs = 0;
    const SparseMatrixD h = buildSparseHessian(eln->geometry().getNodeCoordinates().data(), eln->getAmountOfAtoms(),
                                               eln->geometry().getRcAngstrom(), &pairs);
    EXPECT_EQ(pairs, eln->geometry().getAmountOfSprings());
    const int n = eln->get3N();
    const Eigen::MatrixXd dense = h.toDense();
    int differing = 0;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) differing += dense(r, c) != eln->modes().getHessian()[static_cast<std::size_t>(r) * n + c];
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(h.nonZeros(), 9 * (eln->getAmountOfAtoms() + pairs));
    // Either triangle, built alone, is that triangle of the whole matrix.
    for (const auto [triangle, expected] :
         {std::pair{HessianTriangle::Lower, SparseMatrixD(h.triangularView<Eigen::Lower>())},
          std::pair{HessianTriangle::Upper, SparseMatrixD(h.triangularView<Eigen::Upper>())}}) {
        const SparseMatrixD half = buildSparseHessian(eln->geometry().getNodeCoordinates().data(), eln->getAmountOfAtoms(),
                                                      eln->geometry().getRcAngstrom(), nullptr, triangle);
        EXPECT_EQ(half.nonZeros(), expected.nonZeros());
        EXPECT_EQ((Eigen::MatrixXd(half) - Eigen::MatrixXd(expected)).cwiseAbs().maxCoeff(), 0.0);
    }
    // Built straight in a factorisation's ordering, with additions to the diagonal: entry (i, j)
    // of the lower triangle is H(perm[i], perm[j]), bit for bit.
    std::vector<int> perm(static_cast<std::size_t>(n));
    std::iota(perm.begin(), perm.end(), 0);
    std::shuffle(perm.begin(), perm.end(), std::mt19937(7));
    const std::vector<std::pair<int, double>> added{{5, 0.25}, {n - 1, 2.0}, {5, 0.5}};
    const SparseMatrixD permuted = buildPermutedLowerHessian(eln->geometry().getNodeCoordinates().data(), eln->getAmountOfAtoms(),
                                                             eln->geometry().getRcAngstrom(), perm.data(), added);
    Eigen::MatrixXd expected = Eigen::MatrixXd::Zero(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) expected(i, j) = dense(perm[static_cast<std::size_t>(i)], perm[static_cast<std::size_t>(j)]);
    for (const auto& [row, value] : added) {
        const auto at = std::find(perm.begin(), perm.end(), row) - perm.begin();
        expected(at, at) += value;
    }
    EXPECT_EQ((Eigen::MatrixXd(permuted) - expected).cwiseAbs().maxCoeff(), 0.0);
    EXPECT_EQ(permuted.nonZeros(), SparseMatrixD(h.triangularView<Eigen::Lower>()).nonZeros());
}

TEST(SparseModesTest, DegenerateGroupsComeOutWholeAndOrthonormal)
{
    BothPaths b = bothPaths(buildNetworkFromText(cubicGrid(4, 3.8), 7.0f));
    const auto& dense = b.eln()->modes().getEigenvalues();
    // Cut a degenerate group: k is the first count from 20 on whose next mode shares its eigenvalue.
    int k = 20;
    while (k < 150 && relativeError(dense[static_cast<std::size_t>(k + 7)], dense[static_cast<std::size_t>(k + 6)]) > 1e-8) ++k;
    // With the default block, and with a block of 2, narrower than the grid's groups of three:
    // those are completed by further passes.
    for (const LanczosShape shape : {LanczosShape{}, LanczosShape{2, 10}}) {
        SCOPED_TRACE(shape.block);
        b.sparse->setLanczosShape(shape);
        const int passes = b.sparse->times().lanczosPasses;
        ASSERT_EQ(b.sparse->computeLowestModes(k), EnmStatus::Ok);
        if (shape.block == 2) EXPECT_GT(b.sparse->times().lanczosPasses - passes, 1);
        const int kept = static_cast<int>(b.sparse->eigenvalues().size());
        EXPECT_GT(kept, k);
        expectSameLowestModes(b, k);
        // The mode after the last kept one starts a new group.
        EXPECT_GT(relativeError(dense[static_cast<std::size_t>(kept + 7)], dense[static_cast<std::size_t>(kept + 6)]), 1e-8);
        const Eigen::MatrixXd& v = b.sparse->modes();
        EXPECT_LT((v.transpose() * v - Eigen::MatrixXd::Identity(kept, kept)).cwiseAbs().maxCoeff(), 1e-12);
        EXPECT_LT((b.sparse->rigidBody().transpose() * v).cwiseAbs().maxCoeff(), 1e-12);
        const Eigen::MatrixXd residual = b.sparse->hessian() * v
            - v * Eigen::Map<const Eigen::VectorXd>(b.sparse->eigenvalues().data(), kept).asDiagonal();
        EXPECT_LT(residual.cwiseAbs().maxCoeff(), 1e-9);
    }
}

TEST(SparseModesTest, FloppyNetworkHasTheDenseZeroModesAndWarning)
{
    // Two cubes too far apart for a spring: six extra zero modes.
    auto s = buildNetworkFromText(cubicGrid(3, 3.8) + cubicGrid(3, 3.8, 40.0), 7.0f);
    BothPaths b = bothPaths(std::move(s));
    ScopedUserPrompts scoped(&b.s->prompts);
    b.s->console.clear();
    ASSERT_EQ(b.sparse->computeLowestModes(20), EnmStatus::Ok);
    EXPECT_EQ(b.sparse->extraZeroModes(), 6);
    EXPECT_TRUE(b.sparse->shifted());
    expectSameLowestModes(b, 20);
    EXPECT_TRUE(b.s->console.contains("has 6 zero-frequency modes besides the six rigid-body ones"));
    ASSERT_EQ(b.eln()->calculateForceScaler(1.0f, false), EnmStatus::Ok);
    EXPECT_LT(relativeError(b.sparse->sumInverseExact().value, b.eln()->modes().getCalibration().sumInverse), 1e-8);
    b.sparse->calibrate(b.sparse->sumInverseExact(), bFactors(*b.eln()), b.eln()->geometry().getTemperature(), 1.0f, "two cubes");
    expectSameResponses(b, {0, 30});
}

class SparseReferenceTest : public ::testing::TestWithParam<std::string> {};

TEST_P(SparseReferenceTest, LowestModesCalibrationAndResponsesAsDense)
{
    std::string pdbName = GetParam().substr(0, GetParam().find('_')) + ".pdb";
    float rc = 11.0f;
    if (const auto dir = sharedReferenceDir(); !dir.empty()) {
        std::ifstream in(dir / (GetParam() + ".json"));
        const auto ref = nlohmann::json::parse(in);
        if (ref.value("n_nodes", 0) > largestNetwork() || ref.contains("error"))
            GTEST_SKIP() << "too large for the dense comparison, or no network";
        pdbName = ref["pdb_file"].get<std::string>();
        rc = ref["cutoff_A"].get<float>();
    }
    const auto pdb = findPdb(pdbName);
    if (pdb.empty()) GTEST_SKIP() << pdbName << " is not available";
    auto s = buildNetwork(pdb, rc);
    if (s->nodeCount() < 30) GTEST_SKIP() << "a network of " << s->nodeCount() << " nodes";
    BothPaths b = bothPaths(std::move(s));
    ScopedUserPrompts scoped(&b.s->prompts);
    ASSERT_EQ(b.sparse->computeLowestModes(20), EnmStatus::Ok);
    expectSameLowestModes(b, 20);

    ASSERT_EQ(b.eln()->calculateForceScaler(1.0f, false), EnmStatus::Ok);
    const auto& want = b.eln()->modes().getCalibration();
    const TraceEstimate exact = b.sparse->sumInverseExact();
    const auto& got = b.sparse->calibrate(exact, bFactors(*b.eln()), b.eln()->geometry().getTemperature(), 1.0f, "x");
    EXPECT_EQ(got.calibrated, want.calibrated);
    for (auto field : {&Calibration::sumInverse, &Calibration::K,
                       &Calibration::R, &Calibration::c,
                       &Calibration::S})
        EXPECT_LT(relativeError(got.*field, want.*field), 1e-8);
    expectSameResponses(b, {0, b.s->nodeCount() / 2});
}

INSTANTIATE_TEST_SUITE_P(References, SparseReferenceTest, ::testing::ValuesIn(referenceNames()),
                         [](const auto& info) { return info.param; });

class SparseTraceTest : public ::testing::TestWithParam<const char*> {};

TEST_P(SparseTraceTest, AdaptiveEstimateWithinHalfAPercentAndItsBound)
{
    const auto pdb = findPdb(GetParam());
    if (pdb.empty()) GTEST_SKIP() << GetParam() << " is not available";
    BothPaths b = bothPaths(buildNetwork(pdb), false);
    ASSERT_EQ(b.sparse->computeLowestModes(20), EnmStatus::Ok);
    TracePlan plan;
    plan.largestExact = 3 * b.s->nodeCount();
    const TraceEstimate exactly = b.sparse->sumInverse(plan);
    EXPECT_TRUE(exactly.exact);
    const double exact = exactly.value;
    plan.largestExact = 3 * b.s->nodeCount() - 1;
    plan.seed = 7;
    const TraceEstimate estimate = b.sparse->sumInverse(plan);
    EXPECT_FALSE(estimate.exact);
    EXPECT_TRUE(estimate.reachedTarget) << estimate.samples << " samples, bound " << estimate.bound / exact;
    EXPECT_LE(estimate.bound, plan.relativeBound * estimate.value);
    EXPECT_LE(std::fabs(estimate.value - exact), estimate.bound);
    EXPECT_LT(std::fabs(estimate.value - exact), 0.005 * exact);
    EXPECT_EQ(b.sparse->sumInverse(plan).value, estimate.value); // seeded: the same again
    // The fixed-count estimate stops at its count, whatever its bound.
    EXPECT_EQ(b.sparse->sumInverseEstimate(120, 7).samples, 120);
}

// 4hhb is in the repository; the larger two come from ../shared beside a full checkout.
INSTANTIATE_TEST_SUITE_P(Structures, SparseTraceTest, ::testing::Values("4hhb.pdb", "1igy.pdb", "3wip.pdb"),
                         [](const auto& info) { return std::string(info.param).substr(0, 4); });

TEST(SparseResponseTest, ColumnsAreCachedPerNode)
{
    BothPaths b = bothPaths(buildNetwork(findPdb("1crn.pdb")), false);
    ASSERT_EQ(b.sparse->computeLowestModes(20), EnmStatus::Ok);
    const Eigen::MatrixXd* first = &b.sparse->responseColumns(5);
    const int64_t solves = b.sparse->times().solves;
    EXPECT_EQ(&b.sparse->responseColumns(5), first);
    EXPECT_EQ(b.sparse->times().solves, solves);
    EXPECT_EQ(b.sparse->cachedNodes(), 1u);
}
