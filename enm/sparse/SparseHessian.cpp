#include "enm/sparse/SparseHessian.h"

#include "enm/NeighbourSearch.h"
#include "enm/SpringBlocks.h"

#include <algorithm>
#include <vector>

namespace vornax {

SparseMatrixD buildSparseHessian(const double* xyz, int32_t n, double rcAngstrom, int64_t* orderedPairs,
                                 HessianTriangle triangle)
{
    const bool lower = triangle == HessianTriangle::Lower, upper = triangle == HessianTriangle::Upper;
    const int dim = 3 * n;
    SparseMatrixD h(dim, dim);
    const std::vector<std::vector<int32_t>> lists = neighbourLists(xyz, n, rcAngstrom);
    int64_t pairs = 0;
    std::vector<int> perColumn(static_cast<std::size_t>(dim));
    for (int32_t i = 0; i < n; ++i) {
        const std::vector<int32_t>& near = lists[static_cast<std::size_t>(i)];
        // Neighbour lists are in ascending order: those above node i come after those below it.
        const auto after = std::count_if(near.begin(), near.end(), [i](int32_t j) { return j > i; });
        const auto kept = lower ? after : upper ? static_cast<std::ptrdiff_t>(near.size()) - after
                                               : static_cast<std::ptrdiff_t>(near.size());
        for (int b = 0; b < 3; ++b)
            perColumn[static_cast<std::size_t>(3 * i + b)] = 3 * static_cast<int>(kept) + (lower ? 3 - b : upper ? b + 1 : 3);
    }
    h.reserve(perColumn);

    // Column 3i + b holds row block j of every neighbour j and the diagonal block; the
    // matrix being symmetric, the column is row 3i + b of the dense Hessian.
    std::vector<double> blocks;
    for (int32_t i = 0; i < n; ++i) {
        const std::vector<int32_t>& near = lists[static_cast<std::size_t>(i)];
        pairs += static_cast<int64_t>(near.size());
        double diag[3][3];
        springBlocks(xyz, i, near, diag, blocks);
        for (int b = 0; b < 3; ++b) {
            const int column = 3 * i + b;
            bool diagonalDone = false;
            auto writeDiagonal = [&] {
                for (int a = lower ? b : 0; a < (upper ? b + 1 : 3); ++a) h.insert(3 * i + a, column) = diag[a][b];
                diagonalDone = true;
            };
            for (std::size_t e = 0; e < near.size(); ++e) {
                if ((lower && near[e] < i) || (upper && near[e] > i)) continue;
                if (!diagonalDone && near[e] > i) writeDiagonal();
                for (int a = 0; a < 3; ++a) h.insert(3 * near[e] + a, column) = blocks[9 * e + 3 * a + b];
            }
            if (!diagonalDone) writeDiagonal();
        }
    }
    h.makeCompressed();
    if (orderedPairs) *orderedPairs = pairs;
    return h;
}

SparseMatrixD buildPermutedLowerHessian(const double* xyz, int32_t n, double rcAngstrom, const int* perm,
                                        const std::vector<std::pair<int, double>>& diagonal)
{
    const int dim = 3 * n;
    std::vector<int> inverse(static_cast<std::size_t>(dim));
    for (int k = 0; k < dim; ++k) inverse[static_cast<std::size_t>(perm[k])] = k;
    const std::vector<std::vector<int32_t>> lists = neighbourLists(xyz, n, rcAngstrom);
    // Row k of the result is row perm[k] of H: node perm[k] / 3's neighbours and the node itself.
    // Its entries in the lower triangle are those whose column, mapped, is at most k. The rows
    // are visited in ascending order, so each column's rows come out sorted.
    auto eachEntry = [&](int k, auto&& take) {
        const int row = perm[k];
        const int32_t node = row / 3;
        const std::vector<int32_t>& near = lists[static_cast<std::size_t>(node)];
        for (std::size_t e = 0; e <= near.size(); ++e) {
            const int32_t other = e < near.size() ? near[e] : node;
            for (int c = 0; c < 3; ++c) {
                const int column = inverse[static_cast<std::size_t>(3 * other + c)];
                if (column <= k) take(column, e, c);
            }
        }
    };
    std::vector<int> perColumn(static_cast<std::size_t>(dim), 0);
    for (int k = 0; k < dim; ++k) eachEntry(k, [&](int column, std::size_t, int) { ++perColumn[static_cast<std::size_t>(column)]; });
    SparseMatrixD h(dim, dim);
    h.reserve(perColumn);
    std::vector<double> added(static_cast<std::size_t>(dim), 0.0);
    for (const auto& [row, value] : diagonal) added[static_cast<std::size_t>(row)] += value;
    std::vector<double> blocks;
    double diag[3][3];
    for (int k = 0; k < dim; ++k) {
        const int row = perm[k];
        const int32_t node = row / 3;
        const int a = row % 3;
        const std::vector<int32_t>& near = lists[static_cast<std::size_t>(node)];
        springBlocks(xyz, node, near, diag, blocks);
        eachEntry(k, [&](int column, std::size_t e, int c) {
            // H is symmetric: its entry (row, 3·other + c) is the node's block entry (a, c).
            const double v = e < near.size() ? blocks[9 * e + 3 * a + c] : diag[a][c];
            h.insert(k, column) = column == k ? v + added[static_cast<std::size_t>(row)] : v;
        });
    }
    h.makeCompressed();
    return h;
}

} // namespace vornax
