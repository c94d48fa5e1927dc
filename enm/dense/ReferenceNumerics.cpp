// Householder reduction, QL iteration and the plain matrix helpers of the reference solver.
#include "enm/dense/ReferenceNumerics.h"

#include "common/Console.h"
#include "common/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace vornax {

namespace {

/// Iterations one eigenvalue may take in the QL sweeps.
constexpr int kMaxIterations = 3000;

/// Implicit-shift QL on the tridiagonal (d, e). The eigenvectors are accumulated into z,
/// whose vector k is column k (`vectorsInRows` false) or row k (true).
template <bool vectorsInRows>
QlOutcome tqliImpl(double* d, double* e, int n, double* z, Progress* progress)
{
    const std::size_t s = static_cast<std::size_t>(n) + 1;
    auto vec = [z, s](int k) { return z + static_cast<std::size_t>(k) * s; };
    for (int i = 2; i <= n; ++i) e[i - 1] = e[i];
    e[n] = 0.0;
    for (int l = 1; l <= n; ++l) {
        if (isCancelled(progress)) return QlOutcome::Cancelled;
        int iter = 0;
        int m = l;
        do {
            for (m = l; m <= n - 1; ++m) {
                const double dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
                if (std::fabs(e[m]) + dd == dd) break;
            }
            if (m != l) {
                if (++iter == kMaxIterations) {
                    console::line("Too many iterations in tqli");
                    // The solver's variant gives up; the classic routine goes on.
                    if constexpr (vectorsInRows) return QlOutcome::NotConverged;
                }
                double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
                double r = pythag(g, 1.0);
                g = d[m] - d[l] + e[l] / (g + (g >= 0.0 ? std::fabs(r) : -std::fabs(r)));
                double sn = 1.0, c = 1.0, p = 0.0;
                int i = m - 1;
                for (; i >= l; --i) {
                    double f = sn * e[i];
                    const double b = c * e[i];
                    e[i + 1] = (r = pythag(f, g));
                    if (r == 0.0) {
                        d[i + 1] -= p;
                        e[m] = 0.0;
                        break;
                    }
                    sn = f / r;
                    c = g / r;
                    g = d[i + 1] - p;
                    r = (d[i] - g) * sn + 2.0 * c * b;
                    d[i + 1] = g + (p = sn * r);
                    g = c * r - b;
                    if constexpr (vectorsInRows) {
                        double* zi = vec(i);
                        double* zi1 = vec(i + 1);
                        for (int k = 1; k <= n; ++k) {
                            f = zi1[k];
                            zi1[k] = sn * zi[k] + c * f;
                            zi[k] = c * zi[k] - sn * f;
                        }
                    } else {
                        for (int k = 1; k <= n; ++k) {
                            double* zk = vec(k);
                            f = zk[i + 1];
                            zk[i + 1] = sn * zk[i] + c * f;
                            zk[i] = c * zk[i] - sn * f;
                        }
                    }
                }
                if (r == 0.0 && i >= l) continue;
                d[l] -= p;
                e[l] = g;
                e[m] = 0.0;
            }
        } while (m != l);
    }
    return QlOutcome::Converged;
}

/// Selection sort into ascending order; of equal values the later position wins.
template <bool vectorsInRows>
void eigsrtImpl(double* d, double* v, int n)
{
    const std::size_t s = static_cast<std::size_t>(n) + 1;
    for (int i = 1; i < n; ++i) {
        int k = i;
        double p = d[i];
        for (int j = i + 1; j <= n; ++j) {
            if (d[j] <= p) {
                k = j;
                p = d[j];
            }
        }
        if (k != i) {
            d[k] = d[i];
            d[i] = p;
            if constexpr (vectorsInRows)
                std::swap_ranges(v + static_cast<std::size_t>(i) * s + 1, v + static_cast<std::size_t>(i) * s + s,
                                 v + static_cast<std::size_t>(k) * s + 1);
            else
                for (int j = 1; j <= n; ++j) std::swap(v[j * s + i], v[j * s + k]);
        }
    }
}

} // namespace

// ---- Numerical routines on one-based arrays ---------------------------------------------------

double pythag(double a, double b)
{
    const double absa = std::fabs(a), absb = std::fabs(b);
    if (absa > absb) {
        const double r = absb / absa;
        return absa * std::sqrt(1.0 + r * r);
    }
    if (absb == 0.0) return 0.0;
    const double r = absa / absb;
    return absb * std::sqrt(1.0 + r * r);
}

void tred2(double* a, int n, double* d, double* e)
{
    // The classic Householder reduction with accumulation of the transformation. Its column
    // walks are reordered into row walks; every element is computed by the same operations in
    // the same order, so the results are identical.
    const std::size_t s = static_cast<std::size_t>(n) + 1;
    auto row = [a, s](int r) { return a + static_cast<std::size_t>(r) * s; };
    std::vector<double> g(s, 0.0);
    for (int i = n; i >= 2; --i) {
        const int l = i - 1;
        double* ai = row(i);
        double h = 0.0, scale = 0.0;
        if (l > 1) {
            for (int k = 1; k <= l; ++k) scale += std::fabs(ai[k]);
            if (scale == 0.0) {
                e[i] = ai[l];
            } else {
                for (int k = 1; k <= l; ++k) {
                    ai[k] /= scale;
                    h += ai[k] * ai[k];
                }
                double f = ai[l];
                const double gl = f >= 0.0 ? -std::sqrt(h) : std::sqrt(h);
                e[i] = scale * gl;
                h -= f * gl;
                ai[l] = f - gl;
                // g[j] = Σ_{k≤j} A(j,k)·A(i,k) + Σ_{k>j} A(k,j)·A(i,k), both in ascending k.
                for (int k = 1; k <= l; ++k) {
                    const double* ak = row(k);
                    double sum = 0.0;
                    for (int m = 1; m <= k; ++m) sum += ak[m] * ai[m];
                    g[k] = sum;
                    const double aik = ai[k];
                    for (int j = 1; j < k; ++j) g[j] += ak[j] * aik;
                }
                f = 0.0;
                for (int j = 1; j <= l; ++j) {
                    row(j)[i] = ai[j] / h;
                    e[j] = g[j] / h;
                    f += e[j] * ai[j];
                }
                const double hh = f / (h + h);
                for (int j = 1; j <= l; ++j) {
                    f = ai[j];
                    const double gj = e[j] = e[j] - hh * f;
                    double* aj = row(j);
                    for (int k = 1; k <= j; ++k) aj[k] -= (f * e[k] + gj * ai[k]);
                }
            }
        } else {
            e[i] = ai[l];
        }
        d[i] = h;
    }
    d[1] = 0.0;
    e[1] = 0.0;
    for (int i = 1; i <= n; ++i) {
        const int l = i - 1;
        double* ai = row(i);
        if (d[i] != 0.0) {
            // g[j] = Σ_k A(i,k)·A(k,j), then A(k,j) −= g[j]·A(k,i): column i and row i are not
            // touched by the update, so all g can be formed first.
            std::fill(g.begin() + 1, g.begin() + i, 0.0);
            for (int k = 1; k <= l; ++k) {
                const double* ak = row(k);
                const double aik = ai[k];
                for (int j = 1; j <= l; ++j) g[j] += aik * ak[j];
            }
            for (int k = 1; k <= l; ++k) {
                double* ak = row(k);
                const double aki = ak[i];
                for (int j = 1; j <= l; ++j) ak[j] -= g[j] * aki;
            }
        }
        d[i] = ai[i];
        ai[i] = 1.0;
        for (int j = 1; j <= l; ++j) row(j)[i] = ai[j] = 0.0;
    }
}

void tqli(double* d, double* e, int n, double* z) { tqliImpl<false>(d, e, n, z, nullptr); }

QlOutcome tqliRows(double* d, double* e, int n, double* z, Progress* progress)
{
    return tqliImpl<true>(d, e, n, z, progress);
}

void eigsrtRows(double* d, double* v, int n) { eigsrtImpl<true>(d, v, n); }

void eigsrt(double* d, double* v, int n) { eigsrtImpl<false>(d, v, n); }

void transposeMatrix(const double* A, double* At, int m, int n)
{
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j) At[static_cast<std::size_t>(j) * m + i] = A[static_cast<std::size_t>(i) * n + j];
}

void matrixMultiply(const double* A, const double* B, double* C, int aRow, int aCol, int /*bRow*/, int bCol,
                    int /*cRow*/, int /*cCol*/)
{
    for (int i = 0; i < aRow; ++i)
        for (int j = 0; j < bCol; ++j) {
            double sum = 0.0;
            for (int k = 0; k < aCol; ++k)
                sum += A[static_cast<std::size_t>(i) * aCol + k] * B[static_cast<std::size_t>(k) * bCol + j];
            C[static_cast<std::size_t>(i) * bCol + j] = sum;
        }
}

} // namespace vornax
