#include "enm/SparseHessian.h"

#include "enm/ContactGrid.h"

#include <algorithm>
#include <vector>

namespace vornax {

SparseMatrixD buildSparseHessian(const double* xyz, int32_t n, double rcAngstrom, int64_t* orderedPairs, bool lowerOnly)
{
    const int dim = 3 * n;
    SparseMatrixD h(dim, dim);
    const std::vector<std::vector<int32_t>> lists = neighbourLists(xyz, n, rcAngstrom);
    int64_t pairs = 0;
    std::vector<int> perColumn(static_cast<std::size_t>(dim));
    for (int32_t i = 0; i < n; ++i) {
        const std::vector<int32_t>& near = lists[static_cast<std::size_t>(i)];
        const auto below = lowerOnly ? std::count_if(near.begin(), near.end(), [i](int32_t j) { return j > i; })
                                     : static_cast<std::ptrdiff_t>(near.size());
        for (int b = 0; b < 3; ++b)
            perColumn[static_cast<std::size_t>(3 * i + b)] = 3 * static_cast<int>(below) + (lowerOnly ? 3 - b : 3);
    }
    h.reserve(perColumn);

    // Column 3i + b holds row block j of every neighbour j and the diagonal block; the
    // matrix being symmetric, the column is row 3i + b of the dense Hessian.
    for (int32_t i = 0; i < n; ++i) {
        const std::vector<int32_t>& near = lists[static_cast<std::size_t>(i)];
        pairs += static_cast<int64_t>(near.size());
        const double* pi = xyz + 3 * static_cast<std::size_t>(i);
        double diag[3][3] = {};
        std::vector<double> blocks(9 * near.size());
        for (std::size_t e = 0; e < near.size(); ++e) {
            const double* pj = xyz + 3 * static_cast<std::size_t>(near[e]);
            const double d[3] = {pi[0] - pj[0], pi[1] - pj[1], pi[2] - pj[2]};
            const double s = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b) {
                    const double v = 1.0 * d[a] * d[b] / s;
                    diag[a][b] += v;
                    blocks[9 * e + 3 * a + b] = -v;
                }
        }
        for (int b = 0; b < 3; ++b) {
            const int column = 3 * i + b;
            bool diagonalDone = false;
            auto writeDiagonal = [&] {
                for (int a = lowerOnly ? b : 0; a < 3; ++a) h.insert(3 * i + a, column) = diag[a][b];
                diagonalDone = true;
            };
            for (std::size_t e = 0; e < near.size(); ++e) {
                if (lowerOnly && near[e] < i) continue;
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

} // namespace vornax
