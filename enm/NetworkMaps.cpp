#include "enm/NetworkMaps.h"

#include "enm/ElasticNetworkModel.h"
#include "enm/ModeSet.h"

#include <cblas.h>

#include <cmath>
#include <limits>

namespace vornax {

ModeRows modeRows(const ModeSet& modes, int32_t dim)
{
    ModeRows r;
    r.dim = dim;
    const std::vector<double>& lambda = modes.getEigenvalues(); // one-based
    if (modes.isSparse()) {
        r.rows = modes.getModeVectors();
        r.count = modes.getSparseModeCount();
        r.sparse = true;
    } else if (modes.isEigenComputed()) {
        r.rows = modes.getEigenvectorMatrixT();
        r.count = dim - 6;
    }
    if (!r.rows || r.count <= 0 || lambda.size() < static_cast<std::size_t>(r.count) + 7)
        return ModeRows{nullptr, {}, 0, dim, r.sparse};
    const std::vector<double>& inverse = modes.getInverseEigenvalues();
    r.inverse.resize(static_cast<std::size_t>(r.count));
    for (std::size_t k = 0; k < r.inverse.size(); ++k) {
        // The solver's own zero-mode rule where it kept one inverse per mode.
        if (inverse.size() > k)
            r.inverse[k] = inverse[k];
        else
            r.inverse[k] = lambda[k + 7] > 0.0 ? 1.0 / lambda[k + 7] : 0.0;
    }
    return r;
}

HeldModes heldModes(const ElasticNetworkModel& network)
{
    const ModeSet& modes = network.modes();
    HeldModes held;
    held.rows = modeRows(modes, network.get3N());
    if (held.rows.count == 0 && modes.getModeVectors()) {
        held.rows.rows = modes.getModeVectors();
        held.rows.count = modes.getTotalMaxModes();
    }
    const std::vector<double>& scaled = modes.getInverseScaledEigenvalues();
    const std::vector<double>& lambda = modes.getEigenvalues(); // one-based
    const double K = modes.getCalibration().K > 0.0 ? modes.getCalibration().K : 1.0;
    held.inverseStiffness.assign(static_cast<std::size_t>(held.rows.count), 0.0);
    for (std::size_t k = 0; k < held.inverseStiffness.size(); ++k) {
        if (k < scaled.size() && scaled[k] > 0.0 && std::isfinite(scaled[k]))
            held.inverseStiffness[k] = scaled[k];
        else if (k + 7 < lambda.size() && lambda[k + 7] > 0.0)
            held.inverseStiffness[k] = 1.0 / (K * lambda[k + 7]);
    }
    if (held.rows.inverse.size() != held.inverseStiffness.size()) held.rows.inverse = held.inverseStiffness;
    return held;
}

std::vector<int32_t> allModes(const ModeRows& rows)
{
    std::vector<int32_t> all(static_cast<std::size_t>(rows.count));
    for (int32_t k = 0; k < rows.count; ++k) all[static_cast<std::size_t>(k)] = k;
    return all;
}

std::vector<double> squareFluctuations(const ModeRows& rows, const std::vector<int32_t>& modes)
{
    const auto dim = static_cast<std::size_t>(rows.dim);
    std::vector<double> sq(dim / 3, 0.0);
    for (const int32_t k : modes) {
        const double w = rows.inverse[static_cast<std::size_t>(k)];
        if (w == 0.0) continue;
        const double* v = rows.rows + static_cast<std::size_t>(k) * dim;
        for (std::size_t i = 0; i < sq.size(); ++i) sq[i] += w * nodePartSquared(v, i);
    }
    return sq;
}

double collectivity(const ModeRows& rows, int32_t k)
{
    const auto dim = static_cast<std::size_t>(rows.dim);
    const std::size_t n = dim / 3;
    if (n == 0 || k < 0 || k >= rows.count) return 0.0;
    const double* v = rows.rows + static_cast<std::size_t>(k) * dim;
    double sum = 0.0, entropy = 0.0;
    for (std::size_t i = 0; i < dim; ++i) sum += v[i] * v[i];
    if (!(sum > 0.0)) return 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double u = nodePartSquared(v, i) / sum;
        if (u > 0.0) entropy -= u * std::log(u);
    }
    return std::exp(entropy) / static_cast<double>(n);
}

double pearsonCorrelation(const std::vector<double>& a, const std::vector<double>& b)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (a.size() != b.size() || a.size() < 2) return nan;
    const auto n = static_cast<double>(a.size());
    double ma = 0.0, mb = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= n;
    mb /= n;
    double sab = 0.0, saa = 0.0, sbb = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return saa > 0.0 && sbb > 0.0 ? sab / std::sqrt(saa * sbb) : nan;
}

uint64_t covarianceBytes(int64_t nodes)
{
    const auto dim = static_cast<uint64_t>(3 * nodes);
    return dim * dim * sizeof(double);
}

std::vector<double> covarianceMatrix(const ModeRows& rows)
{
    const auto dim = static_cast<std::size_t>(rows.dim);
    std::vector<double> c(dim * dim, 0.0);
    // C = Wᵀ W with W's rows v_k / √λ_k, a block of modes at a time.
    constexpr std::size_t kBlock = 256;
    std::vector<double> w(kBlock * dim);
    for (std::size_t first = 0; first < static_cast<std::size_t>(rows.count); first += kBlock) {
        const std::size_t b = std::min(kBlock, static_cast<std::size_t>(rows.count) - first);
        for (std::size_t k = 0; k < b; ++k) {
            const double s = std::sqrt(rows.inverse[first + k]);
            const double* v = rows.rows + (first + k) * dim;
            for (std::size_t r = 0; r < dim; ++r) w[k * dim + r] = s * v[r];
        }
        cblas_dsyrk(CblasRowMajor, CblasUpper, CblasTrans, static_cast<int>(dim), static_cast<int>(b), 1.0, w.data(),
                    static_cast<int>(dim), 1.0, c.data(), static_cast<int>(dim));
    }
    for (std::size_t r = 0; r < dim; ++r)
        for (std::size_t s = 0; s < r; ++s) c[r * dim + s] = c[s * dim + r];
    return c;
}

std::optional<PerturbResponse> networkResponse(const ElasticNetworkModel& network, std::string& why)
{
    const int32_t n = network.getAmountOfAtoms();
    if (const double* y = network.modes().getYMatrix()) return perturbResponse(y, n);
    const HeldModes held = heldModes(network);
    if (held.rows.count == 0) {
        why = "the structure's modes are not held";
        return std::nullopt;
    }
    if (held.rows.sparse) {
        why = "the response map needs every mode, which the sparse path does not compute";
        return std::nullopt;
    }
    if (n > kLargestCovarianceFromModes) {
        why = "without the response matrix Y, the map of " + std::to_string(n) + " nodes is not computed (at most "
            + std::to_string(kLargestCovarianceFromModes) + ")";
        return std::nullopt;
    }
    return perturbResponse(covarianceMatrix(held.rows), n);
}

PerturbResponse perturbResponse(const double* c, int32_t nodes)
{
    const auto n = static_cast<std::size_t>(nodes);
    const std::size_t dim = 3 * n;
    PerturbResponse p;
    p.nodes = nodes;
    p.matrix.assign(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t a = 0; a < 3; ++a) {
            const double* row = c + (3 * i + a) * dim;
            double* out = p.matrix.data() + i * n;
            for (std::size_t j = 0; j < n; ++j) out[j] += nodePartSquared(row, j);
        }
    for (std::size_t i = 0; i < n; ++i) {
        const double self = p.matrix[i * n + i];
        for (std::size_t j = 0; j < n; ++j) p.matrix[i * n + j] = self != 0.0 ? p.matrix[i * n + j] / self : 0.0;
    }
    p.effectiveness.assign(n, 0.0);
    p.sensitivity.assign(n, 0.0);
    if (n < 2) return p;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            if (i == j) continue;
            p.effectiveness[i] += p.matrix[i * n + j];
            p.sensitivity[j] += p.matrix[i * n + j];
        }
    for (std::size_t i = 0; i < n; ++i) {
        p.effectiveness[i] /= static_cast<double>(n - 1);
        p.sensitivity[i] /= static_cast<double>(n - 1);
    }
    return p;
}

} // namespace vornax
