// Hessian of the network and the agreement of the eigen solvers.
#include "enm/dense/ReferenceNumerics.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

using namespace vornax;
using namespace vornax::testing;

namespace {

std::vector<double> copyHessian(const ElasticNetworkModel& eln)
{
    const std::size_t n = static_cast<std::size_t>(eln.get3N());
    return std::vector<double>(eln.modes().getHessian(), eln.modes().getHessian() + n * n);
}

std::unique_ptr<LoadedStructure> solved(const std::filesystem::path& pdb, EigenSolver solver, float rc = 11.0f,
                                        std::vector<double>* hessian = nullptr)
{
    auto s = buildNetwork(pdb, rc);
    s->network->modes().setEigenSolver(solver);
    EXPECT_EQ(s->network->constructHessianMatrix(nullptr), EnmStatus::Ok);
    if (hessian) *hessian = copyHessian(*s->network);
    EXPECT_EQ(s->network->calculateEigen(nullptr), EnmStatus::Ok);
    return s;
}

/// Response of every coordinate to a unit force along `axis` on `node`, through all non-rigid
/// modes with unit weights: invariant under sign and degenerate rotations of the eigenvectors.
std::vector<double> pseudoInverseColumn(const ElasticNetworkModel& eln, int node, int axis)
{
    const std::size_t n = static_cast<std::size_t>(eln.get3N());
    const double* vt = eln.modes().getEigenvectorMatrixT();
    const auto& inv = eln.modes().getInverseEigenvalues();
    std::vector<double> out(n, 0.0);
    for (std::size_t k = 0; k < inv.size(); ++k) {
        const double a = vt[k * n + 3 * node + axis] * inv[k];
        for (std::size_t i = 0; i < n; ++i) out[i] += a * vt[k * n + i];
    }
    return out;
}

} // namespace

TEST(HessianTest, BlocksOfOnePairAndZeroRowSums)
{
    // Nodes 0 and 1 share one spring; node 2 is alone.
    auto s = buildNetworkFromText(cAlphaChain({{0, 0, 0}, {3, 4, 1}, {50, 0, 0}}));
    auto* eln = s->network.get();
    ASSERT_EQ(eln->constructHessianMatrix(nullptr), EnmStatus::Ok);
    const double* h = eln->modes().getHessian();
    const double d[3] = {-30, -40, -10}; // model units; the blocks do not depend on length
    const double s2 = 30 * 30 + 40 * 40 + 10 * 10;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            const double v = d[a] * d[b] / s2;
            EXPECT_NEAR(h[a * 9 + b], v, 1e-12);
            EXPECT_NEAR(h[a * 9 + 3 + b], -v, 1e-12);
            EXPECT_NEAR(h[(3 + a) * 9 + b], -v, 1e-12);
            EXPECT_NEAR(h[(6 + a) * 9 + 6 + b], 0.0, 0.0);
        }
    std::vector<double> hessian = copyHessian(*eln);
    ASSERT_EQ(eln->calculateEigen(nullptr), EnmStatus::Ok);
    // Rank one: one non-zero eigenvalue, equal to 2 (the trace of the pair's two diagonal blocks).
    EXPECT_NEAR(eln->modes().getEigenvalues()[9], 2.0, 1e-12);
    EXPECT_EQ(eln->modes().getExtraZeroModes(), 2); // 3N − 6 = 3 kept, two of them zero
    EXPECT_EQ(eln->modes().getHessian(), nullptr);  // freed after the solve
}

TEST(HessianTest, SymmetricWithZeroRowSums)
{
    const auto pdb = findPdb("1crn.pdb");
    auto s = buildNetwork(pdb);
    ASSERT_EQ(s->network->constructHessianMatrix(nullptr), EnmStatus::Ok);
    const std::size_t n = static_cast<std::size_t>(s->network->get3N());
    const double* h = s->network->modes().getHessian();
    double trace = 0;
    for (std::size_t r = 0; r < n; ++r) {
        double sum = 0;
        for (std::size_t c = 0; c < n; ++c) {
            sum += h[r * n + c];
            ASSERT_EQ(h[r * n + c], h[c * n + r]);
        }
        EXPECT_NEAR(sum, 0.0, 1e-12) << r;
        trace += h[r * n + r];
    }
    // Every spring adds 1 to the trace from each end.
    EXPECT_NEAR(trace, s->network->geometry().getAmountOfSprings(), 1e-9);
}

TEST(HessianTest, NodesAtOnePositionMakeItNonFinite)
{
    auto apart = buildNetworkFromText(cAlphaChain({{0, 0, 0}, {3.8f, 0, 0}, {5, 3, 0}}));
    ASSERT_EQ(apart->network->constructHessianMatrix(nullptr), EnmStatus::Ok);
    EXPECT_TRUE(apart->network->modes().isHessianFinite());
    auto together = buildNetworkFromText(cAlphaChain({{0, 0, 0}, {3.8f, 0, 0}, {3.8f, 0, 0}}));
    ASSERT_EQ(together->network->constructHessianMatrix(nullptr), EnmStatus::Ok);
    EXPECT_FALSE(together->network->modes().isHessianFinite());
}

TEST(HessianTest, TooFewNodes)
{
    for (int nodes : {0, 1, 2}) {
        std::vector<Vector3d> pos;
        for (int i = 0; i < nodes; ++i) pos.emplace_back(3.8f * i, 0, 0);
        auto s = buildNetworkFromText(cAlphaChain(pos));
        auto* eln = s->network.get();
        EXPECT_EQ(eln->constructHessianMatrix(nullptr), EnmStatus::TooFewNodes);
        EXPECT_EQ(eln->calculateEigen(nullptr), EnmStatus::TooFewNodes);
        EXPECT_EQ(eln->calculateForceScaler(1.0f, false), EnmStatus::NotReady);
        EXPECT_EQ(eln->geometry().get3NMinus6(), 0);
    }
}

TEST(HessianTest, ThreeNodesKeepThreeModes)
{
    auto s = buildNetworkFromText(cAlphaChain({{0, 0, 0}, {3.8f, 0, 0}, {5, 3, 0}}));
    auto* eln = s->network.get();
    ASSERT_EQ(eln->constructHessianMatrix(nullptr), EnmStatus::Ok);
    ASSERT_EQ(eln->calculateEigen(nullptr), EnmStatus::Ok);
    EXPECT_EQ(eln->geometry().get3NMinus6(), 3);
    EXPECT_EQ(eln->modes().getInverseEigenvalues().size(), 3u);
    EXPECT_EQ(eln->modes().getExtraZeroModes(), 0);
    for (int k = 1; k <= 6; ++k) EXPECT_NEAR(eln->modes().getEigenvalues()[k], 0.0, 1e-12);
}

TEST(EigenSolverTest, SolversAgreeAndSolve)
{
    // The reference solver is O(n³) with poor locality: structures up to ~500 nodes.
    for (const char* name : {"1crn.pdb", "1ubq.pdb", "2por.pdb", "1ake.pdb"}) {
        const auto pdb = findPdb(name);
        if (pdb.empty()) continue;
        std::vector<double> h;
        // The default solver writes out only what it reads of the Hessian: it gets no other
        // call that would write out the whole (the Hessian for the residuals comes from dc's).
        auto lapack = solved(pdb, EigenSolver::Lapack);
        auto dc = solved(pdb, EigenSolver::LapackDC, 11.0f, &h);
        auto mrrr = solved(pdb, EigenSolver::LapackMRRR);
        auto reference = solved(pdb, EigenSolver::Reference);
        const auto* a = lapack->network.get();
        const std::size_t n = static_cast<std::size_t>(a->get3N());
        const double largest = a->modes().getEigenvalues()[n];
        for (const auto* other : {dc->network.get(), mrrr->network.get(), reference->network.get()}) {
            for (std::size_t k = 1; k <= n; ++k) {
                const double x = a->modes().getEigenvalues()[k], y = other->modes().getEigenvalues()[k];
                if (k <= 6)
                    EXPECT_NEAR(x, y, 1e-9 * largest) << name << " mode " << k;
                else
                    EXPECT_NEAR(x, y, 1e-9 * std::fabs(x)) << name << " mode " << k;
            }
            for (int node : {0, a->getAmountOfAtoms() / 2}) {
                const auto ya = pseudoInverseColumn(*a, node, 1);
                const auto yb = pseudoInverseColumn(*other, node, 1);
                std::vector<double> diff(ya.size());
                for (std::size_t i = 0; i < ya.size(); ++i) diff[i] = ya[i] - yb[i];
                EXPECT_LT(maxAbs(diff), 1e-8 * maxAbs(ya)) << name;
            }
        }
        // Residuals and orthonormality of the LAPACK eigenvectors, on a sample of modes.
        const double* vt = a->modes().getEigenvectorMatrixT();
        for (std::size_t k : {std::size_t(0), std::size_t(1), n / 2, n - 7}) {
            const double lambda = a->modes().getEigenvalues()[k + 7];
            double residual = 0, norm = 0;
            for (std::size_t r = 0; r < n; ++r) {
                double hv = 0;
                for (std::size_t c = 0; c < n; ++c) hv += h[r * n + c] * vt[k * n + c];
                residual = std::max(residual, std::fabs(hv - lambda * vt[k * n + r]));
                norm += vt[k * n + r] * vt[k * n + r];
            }
            EXPECT_LT(residual, 1e-10 * largest) << name << " mode " << k;
            EXPECT_NEAR(norm, 1.0, 1e-12);
            double dot = 0;
            for (std::size_t r = 0; r < n; ++r) dot += vt[k * n + r] * vt[((k + 1) % (n - 6)) * n + r];
            EXPECT_NEAR(dot, 0.0, 1e-12);
        }
    }
}

TEST(EigenSolverTest, ExtraZeroModesAreLeftOut)
{
    // The DNA dodecamer at Rc 11 Å has 40 zero eigenvalues: 34 beyond the rigid-body six.
    auto s = solved(findPdb("1bna.pdb"), EigenSolver::Lapack);
    auto* eln = s->network.get();
    EXPECT_EQ(eln->modes().getExtraZeroModes(), 34);
    int zeros = 0;
    for (double inv : eln->modes().getInverseEigenvalues()) {
        EXPECT_TRUE(std::isfinite(inv));
        zeros += inv == 0.0 ? 1 : 0;
    }
    EXPECT_EQ(zeros, 34);
    EXPECT_TRUE(s->console.contains("34 zero-frequency modes"));
    // The rest of the calibration stays finite.
    ASSERT_EQ(eln->calculateForceScaler(1.0f, false), EnmStatus::Ok);
    EXPECT_TRUE(std::isfinite(eln->modes().getSpringConstant()));
    EXPECT_GT(eln->modes().getSpringConstant(), 0.0);
    EXPECT_TRUE(std::isfinite(eln->getS()));
}

TEST(EigenRoutinesTest, SmallMatrices)
{
    EXPECT_DOUBLE_EQ(pythag(3, 4), 5);
    EXPECT_DOUBLE_EQ(pythag(-4, 3), 5);
    EXPECT_DOUBLE_EQ(pythag(0, 0), 0);
    EXPECT_DOUBLE_EQ(pythag(1e300, 1e300), 1e300 * std::sqrt(2.0));

    // [[2,1,0],[1,2,1],[0,1,2]]: eigenvalues 2 − √2, 2, 2 + √2.
    const int n = 3;
    std::vector<double> a((n + 1) * (n + 1), 0.0), d(n + 1), e(n + 1);
    const double m[3][3] = {{2, 1, 0}, {1, 2, 1}, {0, 1, 2}};
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c) a[r * (n + 1) + c] = m[r - 1][c - 1];
    tred2(a.data(), n, d.data(), e.data());
    tqli(d.data(), e.data(), n, a.data());
    eigsrt(d.data(), a.data(), n);
    EXPECT_NEAR(d[1], 2 - std::sqrt(2.0), 1e-14);
    EXPECT_NEAR(d[2], 2, 1e-14);
    EXPECT_NEAR(d[3], 2 + std::sqrt(2.0), 1e-14);
    for (int k = 1; k <= n; ++k) // A·v = λ·v, column k
        for (int r = 1; r <= n; ++r) {
            double av = 0;
            for (int c = 1; c <= n; ++c) av += m[r - 1][c - 1] * a[c * (n + 1) + k];
            EXPECT_NEAR(av, d[k] * a[r * (n + 1) + k], 1e-13);
        }

    // Ascending sort; of equal values the later position is taken first.
    std::vector<double> values = {0, 3, 1, 2, 1};
    std::vector<double> vectors(25, 0.0);
    for (int k = 1; k <= 4; ++k) vectors[1 * 5 + k] = k; // row 1 tags each column
    eigsrt(values.data(), vectors.data(), 4);
    EXPECT_EQ(values, (std::vector<double>{0, 1, 1, 2, 3}));
    EXPECT_EQ(vectors[1 * 5 + 1], 4); // the 1 from position 4 came first
    EXPECT_EQ(vectors[1 * 5 + 2], 2);
    EXPECT_EQ(vectors[1 * 5 + 3], 3);
    EXPECT_EQ(vectors[1 * 5 + 4], 1);

    const double A[6] = {1, 2, 3, 4, 5, 6}; // 2 × 3
    double At[6];
    transposeMatrix(A, At, 2, 3);
    EXPECT_EQ(std::vector<double>(At, At + 6), (std::vector<double>{1, 4, 2, 5, 3, 6}));
    double C[4];
    matrixMultiply(A, At, C, 2, 3, 3, 2, 2, 2);
    EXPECT_EQ(std::vector<double>(C, C + 4), (std::vector<double>{14, 32, 32, 77}));
}
