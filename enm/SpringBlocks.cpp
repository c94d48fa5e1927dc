#include "enm/SpringBlocks.h"

#include <algorithm>

namespace vornax {

void springBlocks(const double* xyz, int32_t i, const std::vector<int32_t>& near, double diag[3][3],
                  std::vector<double>& blocks)
{
    const double* pi = xyz + 3 * static_cast<std::size_t>(i);
    std::fill(&diag[0][0], &diag[0][0] + 9, 0.0);
    blocks.resize(9 * near.size());
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
}

} // namespace vornax
