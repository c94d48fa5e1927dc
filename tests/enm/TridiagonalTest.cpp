// The tridiagonal reduction with its sparse leading block, against LAPACK's dsytrd.
#include "enm/dense/Tridiagonal.h"

#include "support/TestData.h"

#include <gtest/gtest.h>
#include <lapacke.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace vornax;
using namespace vornax::testing;

namespace {

struct Reduction {
    std::vector<double> a, d, e, tau;
};

Reduction reduce(std::vector<double> a, int n, int panel)
{
    Reduction r{std::move(a), std::vector<double>(n), std::vector<double>(n), std::vector<double>(n)};
    EXPECT_EQ(reduceToTridiagonal(r.a.data(), n, r.d.data(), r.e.data(), r.tau.data(), panel), 0);
    return r;
}

Reduction lapackReduce(std::vector<double> a, int n)
{
    Reduction r{std::move(a), std::vector<double>(n), std::vector<double>(n), std::vector<double>(n)};
    EXPECT_EQ(LAPACKE_dsytrd(LAPACK_COL_MAJOR, 'L', n, r.a.data(), n, r.d.data(), r.e.data(), r.tau.data()), 0);
    return r;
}

/// A network-like symmetric matrix: 3×3 blocks between nearby indices and a few distant ones,
/// plus a random diagonal; `isolated` nodes have no springs, so their columns are empty below
/// the diagonal. Without the diagonal, a Hessian's null space makes the reduction break down
/// (a zero subdiagonal), and the reflectors after that are rounding noise on both sides.
std::vector<double> networkLike(int nodes, unsigned seed, std::vector<int> isolated = {})
{
    const int n = 3 * nodes;
    std::vector<double> a(static_cast<std::size_t>(n) * n, 0.0);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> anyNode(0, nodes - 1);
    auto alone = [&](int i) { return std::find(isolated.begin(), isolated.end(), i) != isolated.end(); };
    auto spring = [&](int i, int j) {
        if (i == j || alone(i) || alone(j)) return;
        double dir[3] = {unit(rng), unit(rng), unit(rng)};
        const double len2 = dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2] + 1e-3;
        for (int p = 0; p < 3; ++p)
            for (int q = 0; q < 3; ++q) {
                const double v = dir[p] * dir[q] / len2;
                a[static_cast<std::size_t>(3 * j + q) * n + 3 * i + p] -= v;
                a[static_cast<std::size_t>(3 * i + q) * n + 3 * j + p] -= v;
                a[static_cast<std::size_t>(3 * i + q) * n + 3 * i + p] += v;
                a[static_cast<std::size_t>(3 * j + q) * n + 3 * j + p] += v;
            }
    };
    for (int i = 0; i < nodes; ++i) {
        for (int j = i + 1; j < std::min(nodes, i + 4); ++j) spring(i, j);
        spring(i, anyNode(rng));
    }
    for (int i = 0; i < n; ++i) a[static_cast<std::size_t>(i) * n + i] += 1.0 + unit(rng);
    return a;
}

/// Largest difference of the reductions' d, e, tau and reflectors, relative to the matrix's
/// largest entry. Both make the same reflectors in exact arithmetic.
double largestDifference(const Reduction& x, const Reduction& y, int n, double scale)
{
    double worst = 0.0;
    for (int i = 0; i < n; ++i) {
        worst = std::max(worst, std::fabs(x.d[i] - y.d[i]) / scale);
        if (i + 1 < n) {
            worst = std::max(worst, std::fabs(x.e[i] - y.e[i]) / scale);
            worst = std::max(worst, std::fabs(x.tau[i] - y.tau[i]));
        }
        for (int r = i + 2; r < n; ++r) {
            const std::size_t at = static_cast<std::size_t>(i) * n + r;
            worst = std::max(worst, std::fabs(x.a[at] - y.a[at]));
        }
    }
    return worst;
}

} // namespace

TEST(TridiagonalTest, SparseBlockGivesLapacksReduction)
{
    const int nodes = 70, n = 3 * nodes;
    const auto a = networkLike(nodes, 7);
    const auto expected = lapackReduce(a, n);
    const double scale = maxAbs(a);
    // Block widths: none, one column, not a multiple of LAPACK's block, wider than its block,
    // and the widest allowed (the rest is a 2×2 matrix).
    for (int panel : {0, 1, 17, 64, n - 2}) {
        SCOPED_TRACE(panel);
        const auto got = reduce(a, n, panel);
        EXPECT_LT(largestDifference(got, expected, n, scale), 1e-10);
    }
}

TEST(TridiagonalTest, DenseReductionIsLapacksToTheBitAndStopsBetweenBlocks)
{
    // Orders beyond LAPACK's crossover (128), so that its blocked loop runs.
    const int nodes = 110, n = 3 * nodes;
    const auto a = networkLike(nodes, 11);
    const auto expected = lapackReduce(a, n);
    const auto got = reduce(a, n, 0);
    EXPECT_EQ(got.d, expected.d);
    EXPECT_EQ(got.e, expected.e);
    EXPECT_EQ(got.tau, expected.tau);
    EXPECT_EQ(got.a, expected.a);
    for (int panel : {0, 40}) {
        SCOPED_TRACE(panel);
        Reduction r{a, std::vector<double>(n), std::vector<double>(n), std::vector<double>(n)};
        int asked = 0;
        const auto stop = [&] { return ++asked == 3; };
        EXPECT_EQ(reduceToTridiagonal(r.a.data(), n, r.d.data(), r.e.data(), r.tau.data(), panel, nullptr, stop), 1);
        EXPECT_EQ(asked, 3);
        // The block of 40 asks before its columns 0 and 32, then before each band of its update.
    }
}

TEST(TridiagonalTest, EmptyColumnsAndTinyOrders)
{
    // Isolated nodes leave zero columns: reflectors with tau = 0 inside the block, and a
    // matrix that splits, so that the reflectors after each split are set by rounding. What
    // must hold is that the tridiagonal matrix has the original's eigenvalues.
    const int nodes = 40, n = 3 * nodes;
    const auto a = networkLike(nodes, 11, {0, 5, 6, 39});
    auto got = reduce(a, n, 30);
    EXPECT_EQ(got.tau[0], 0.0);
    EXPECT_EQ(got.e[0], 0.0);
    ASSERT_EQ(LAPACKE_dsterf(n, got.d.data(), got.e.data()), 0);
    std::vector<double> direct = a, expected(n);
    ASSERT_EQ(LAPACKE_dsyevd(LAPACK_COL_MAJOR, 'N', 'L', n, direct.data(), n, expected.data()), 0);
    for (int k = 0; k < n; ++k) EXPECT_NEAR(got.d[k], expected[k], 1e-12 * std::fabs(expected.back())) << k;

    // Orders 1 to 3: widths beyond n − 2 are cut down, and nothing is read out of range.
    for (int order = 1; order <= 3; ++order) {
        SCOPED_TRACE(order);
        std::vector<double> m(static_cast<std::size_t>(order) * order);
        for (int i = 0; i < order; ++i)
            for (int j = 0; j < order; ++j) m[static_cast<std::size_t>(i) * order + j] = 1.0 + i + j + (i == j);
        const auto want = lapackReduce(m, order);
        const auto have = reduce(m, order, 5);
        EXPECT_LT(largestDifference(have, want, order, maxAbs(m)), 1e-13);
    }
}

TEST(TridiagonalTest, BlockWidthFollowsSizeAndSparsity)
{
    EXPECT_EQ(sparsePanelWidth(600, 600 * 40), 0);          // small: stays in cache, nothing to gain
    EXPECT_EQ(sparsePanelWidth(3882, 3882 * 40), 388);      // a network's Hessian
    EXPECT_EQ(sparsePanelWidth(3000, 3000u * 3000 / 2), 0); // dense
}

TEST(TridiagonalTest, NetworkHessianKeepsItsEigenvalues)
{
    // 4hhb's Hessian is large enough for the automatic block; the tridiagonal matrix it gives
    // has the eigenvalues LAPACK's own driver finds for the Hessian.
    const auto pdb = findPdb("4hhb.pdb");
    if (pdb.empty()) GTEST_SKIP() << "4hhb.pdb is not present";
    auto s = buildNetwork(pdb, 11.0f);
    ASSERT_EQ(s->network->constructHessianMatrix(nullptr), EnmStatus::Ok);
    const int n = s->network->get3N();
    ASSERT_GE(n, 768);
    const std::vector<double> h(s->network->modes().getHessian(), s->network->modes().getHessian() + static_cast<std::size_t>(n) * n);

    auto reduced = reduce(h, n, -1);
    ASSERT_EQ(LAPACKE_dsterf(n, reduced.d.data(), reduced.e.data()), 0);
    std::vector<double> direct = h, expected(n);
    ASSERT_EQ(LAPACKE_dsyevd(LAPACK_COL_MAJOR, 'N', 'L', n, direct.data(), n, expected.data()), 0);
    const double largest = std::fabs(expected.back());
    for (int k = 0; k < n; ++k) EXPECT_NEAR(reduced.d[k], expected[k], 1e-12 * largest) << "eigenvalue " << k;
}

TEST(TridiagonalTest, CompressedRowsGiveTheSameReduction)
{
    // Rows handed in replace the count and the compression of the dense matrix; only the lower
    // triangle of the dense matrix is read. The operations are the same, so are the results.
    const int nodes = 260, n = 3 * nodes;
    const std::vector<double> a = networkLike(nodes, 7, {5, 6});
    SymmetricRows rows;
    rows.rowStart.push_back(0);
    std::vector<double> lower(a.size(), 0.0);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            const double v = a[static_cast<std::size_t>(r) * n + c];
            if (v == 0.0) continue;
            rows.column.push_back(c);
            rows.value.push_back(v);
        }
        rows.rowStart.push_back(rows.column.size());
    }
    rows.scatter(lower.data(), true);
    for (int c = 0; c < n; ++c)
        for (int r = 0; r < c; ++r) ASSERT_EQ(lower[static_cast<std::size_t>(c) * n + r], 0.0);

    const Reduction expected = reduce(a, n, -1);
    Reduction given{lower, std::vector<double>(n), std::vector<double>(n), std::vector<double>(n)};
    ASSERT_EQ(reduceToTridiagonal(given.a.data(), n, given.d.data(), given.e.data(), given.tau.data(), -1, &rows), 0);
    EXPECT_EQ(largestDifference(given, expected, n, 1.0), 0.0);
}
