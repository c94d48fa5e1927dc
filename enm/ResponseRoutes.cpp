#include "enm/ResponseRoutes.h"

#include "enm/sparse/SparseNetworkSolver.h"

#include <cblas.h>

#include <algorithm>

namespace vornax {

void ResponseThroughY::respond(const double f[3], int32_t node, double* out)
{
    // Y is symmetric: the three columns of the node are its three contiguous rows.
    const double* r0 = m_y + 3 * static_cast<std::size_t>(node) * m_dim;
    const double* r1 = r0 + m_dim;
    const double* r2 = r1 + m_dim;
    const double f0 = f[0], f1 = f[1], f2 = f[2];
    for (std::size_t i = 0; i < m_dim; ++i) out[i] = r0[i] * f0 + r1[i] * f1 + r2[i] * f2;
}

ResponseThroughModes& ResponseThroughModes::first(int32_t count)
{
    m_listed = false;
    m_count = count;
    return *this;
}

ResponseThroughModes& ResponseThroughModes::listed(const int32_t* list, int32_t count)
{
    m_listed = true;
    m_list = list;
    m_count = count;
    return *this;
}

void ResponseThroughModes::respond(const double f[3], int32_t node, double* out)
{
    const std::size_t coordinate = 3 * static_cast<std::size_t>(node);
    if (m_listed)
        respondListed(f, coordinate, out);
    else
        respondFirst(f, coordinate, out);
}

void ResponseThroughModes::respondFirst(const double f[3], std::size_t coordinate, double* out)
{
    const int32_t n = std::clamp(m_count, 0, m_kept);
    if (n == 0 || !m_modes) {
        std::fill(out, out + m_dim, 0.0);
        return;
    }
    if (m_amplitudes.size() < static_cast<std::size_t>(n)) m_amplitudes.resize(static_cast<std::size_t>(n));
    const double* m = m_modes + coordinate;
    for (int32_t k = 0; k < n; ++k, m += m_dim)
        m_amplitudes[static_cast<std::size_t>(k)] =
            (m[0] * f[0] + m[1] * f[1] + m[2] * f[2]) * m_inverseScaled[static_cast<std::size_t>(k)];
    cblas_dgemv(CblasRowMajor, CblasTrans, n, static_cast<int>(m_dim), 1.0, m_modes, static_cast<int>(m_dim),
                m_amplitudes.data(), 1, 0.0, out, 1);
}

void ResponseThroughModes::respondListed(const double f[3], std::size_t coordinate, double* out)
{
    std::fill(out, out + m_dim, 0.0);
    if (!m_modes) return;
    for (int32_t j = 0; j < std::min(m_count, 20); ++j) {
        const int32_t k = m_list[j];
        if (k < 0 || k >= m_kept) continue;
        const double* m = m_modes + static_cast<std::size_t>(k) * m_dim;
        const double a = (m[coordinate] * f[0] + m[coordinate + 1] * f[1] + m[coordinate + 2] * f[2])
            * m_inverseScaled[static_cast<std::size_t>(k)];
        cblas_daxpy(static_cast<int>(m_dim), a, m, 1, out, 1);
    }
}

void ResponseThroughFactorisation::respond(const double f[3], int32_t node, double* out)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_solver.response(f, node, out);
}

} // namespace vornax
