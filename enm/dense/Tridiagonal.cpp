#include "enm/dense/Tridiagonal.h"

#include <cblas.h>
#include <lapacke.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <vector>

namespace vornax {

namespace {

/// Products with the trailing part of a matrix in compressed rows.
struct SparseSymmetric {
    const SymmetricRows* rows = nullptr;
    std::vector<std::size_t> cursor; // per row: the first entry whose column is still in play

    explicit SparseSymmetric(const SymmetricRows& r) : rows(&r), cursor(r.rowStart.begin(), r.rowStart.end() - 1) {}

    /// y[r − first] = Σ_c A(r, c)·x[c − first] over r, c ≥ first. Calls come with `first`
    /// increasing, so each row's cursor only moves forward.
    void trailingProduct(int first, const double* x, double* y)
    {
        const int n = rows->order();
        const std::size_t* rowStart = rows->rowStart.data();
        const int* column = rows->column.data();
        const double* value = rows->value.data();
        for (int r = first; r < n; ++r) {
            std::size_t p = cursor[static_cast<std::size_t>(r)];
            const std::size_t end = rowStart[static_cast<std::size_t>(r) + 1];
            while (p < end && column[p] < first) ++p;
            cursor[static_cast<std::size_t>(r)] = p;
            double sum = 0.0;
            for (; p < end; ++p) sum += value[p] * x[column[p] - first];
            y[r - first] = sum;
        }
    }
};

/// Counts the non-zeros of every row of the symmetric matrix (both triangles, read from the
/// lower one) into rowStart[r + 1]. Stops once the lower triangle holds more than `limit`;
/// returns the lower triangle's count so far.
std::size_t countRows(const double* a, int n, std::size_t limit, std::vector<std::size_t>& rowStart)
{
    const auto dim = static_cast<std::size_t>(n);
    rowStart.assign(dim + 1, 0);
    std::size_t lower = 0;
    for (std::size_t j = 0; j < dim && lower <= limit; ++j) {
        const double* column = a + j * dim;
        for (std::size_t i = j; i < dim; ++i) {
            if (column[i] == 0.0) continue;
            ++lower;
            ++rowStart[i + 1];
            if (i != j) ++rowStart[j + 1];
        }
    }
    return lower;
}

/// The compressed rows, from the complete counts of countRows.
SymmetricRows compress(const double* a, int n, std::vector<std::size_t> rowCounts)
{
    const auto dim = static_cast<std::size_t>(n);
    SymmetricRows s;
    s.rowStart = std::move(rowCounts);
    for (std::size_t r = 0; r < dim; ++r) s.rowStart[r + 1] += s.rowStart[r];
    s.column.resize(s.rowStart[dim]);
    s.value.resize(s.rowStart[dim]);
    std::vector<std::size_t> next(s.rowStart.begin(), s.rowStart.end() - 1);
    // Column j contributes A(i, j) to row i (column j) and, mirrored, to row j (column i).
    // Scanning j upwards appends to every row in ascending column order.
    for (std::size_t j = 0; j < dim; ++j) {
        const double* column = a + j * dim;
        for (std::size_t i = j; i < dim; ++i) {
            const double v = column[i];
            if (v == 0.0) continue;
            std::size_t& atRowI = next[i];
            s.column[atRowI] = static_cast<int>(j);
            s.value[atRowI++] = v;
            if (i != j) {
                std::size_t& atRowJ = next[j];
                s.column[atRowJ] = static_cast<int>(i);
                s.value[atRowJ++] = v;
            }
        }
    }
    return s;
}

extern "C" {
void dlatrd_(const char* uplo, const int* n, const int* nb, double* a, const int* lda, double* e, double* tau,
             double* w, const int* ldw, std::size_t uploLength);
void dsytd2_(const char* uplo, const int* n, double* a, const int* lda, double* d, double* e, double* tau, int* info,
             std::size_t uploLength);
int ilaenv_(const int* ispec, const char* name, const char* opts, const int* n1, const int* n2, const int* n3,
            const int* n4, std::size_t nameLength, std::size_t optsLength);
}

/// LAPACK's dsytrd (lower) on the trailing matrix, its own loop written out: the same block
/// width and crossover, the same calls in the same order, so the same result to the last bit.
/// Between blocks it asks `stop`, so that a reduction of tens of thousands of rows can be
/// abandoned within a block (a single dsytrd call runs for minutes on them). Returns 0, 1 when
/// stopped, or LAPACK_WORK_MEMORY_ERROR.
int denseTridiagonal(double* a, int n, int lda, double* d, double* e, double* tau, const std::function<bool()>& stop)
{
    if (n <= 0) return 0;
    const int one = 1, three = 3, none = -1;
    int nb = ilaenv_(&one, "DSYTRD", "L", &n, &none, &none, &none, 6, 1);
    int nx = n;
    if (nb > 1 && nb < n) {
        nx = std::max(nb, ilaenv_(&three, "DSYTRD", "L", &n, &none, &none, &none, 6, 1));
    } else {
        nb = 1;
    }
    std::vector<double> work;
    try {
        if (nx < n) work.resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(nb));
    } catch (const std::bad_alloc&) {
        return LAPACK_WORK_MEMORY_ERROR;
    }
    auto at = [&](int row, int column) { return a + static_cast<std::size_t>(column) * lda + row; };
    int i = 0;
    for (; i < n - nx; i += nb) {
        if (stop && stop()) return 1;
        const int rest = n - i, ldw = n; // W's leading dimension is n, as in dsytrd
        // The block's reflectors and W, then the trailing matrix's update A − V·Wᵀ − W·Vᵀ.
        dlatrd_("L", &rest, &nb, at(i, i), &lda, e + i, tau + i, work.data(), &ldw, 1);
        cblas_dsyr2k(CblasColMajor, CblasLower, CblasNoTrans, rest - nb, nb, -1.0, at(i + nb, i), lda,
                     work.data() + nb, ldw, 1.0, at(i + nb, i + nb), lda);
        for (int j = i; j < i + nb; ++j) {
            *at(j + 1, j) = e[j];
            d[j] = *at(j, j);
        }
    }
    if (stop && stop()) return 1;
    const int rest = n - i;
    int info = 0;
    dsytd2_("L", &rest, at(i, i), &lda, d + i, e + i, tau + i, &info, 1);
    return info;
}

} // namespace

std::size_t SymmetricRows::lowerCount() const
{
    std::size_t count = 0;
    const int n = order();
    for (int r = 0; r < n; ++r)
        for (std::size_t p = rowStart[static_cast<std::size_t>(r)]; p < rowStart[static_cast<std::size_t>(r) + 1]; ++p)
            count += column[p] <= r ? 1 : 0;
    return count;
}

bool SymmetricRows::scatter(double* a, bool upperRowsOnly, const std::function<bool()>& stop) const
{
    const auto dim = static_cast<std::size_t>(order());
    for (std::size_t r = 0; r < dim; ++r) {
        if (r % 256 == 0 && stop && stop()) return false;
        double* row = a + r * dim;
        for (std::size_t p = rowStart[r]; p < rowStart[r + 1]; ++p) {
            const auto c = static_cast<std::size_t>(column[p]);
            if (!upperRowsOnly || c >= r) row[c] = value[p];
        }
    }
    return true;
}

int sparsePanelWidth(int n, std::size_t lowerNonZeros)
{
    // Below a few hundred nodes the whole matrix stays in cache and the panel gains nothing.
    // The panel's own cost grows with its width (its block of reflectors is read three times
    // per column), and it falls behind the dense product at about n/12 columns.
    if (n < 768) return 0;
    const auto dim = static_cast<std::size_t>(n);
    if (lowerNonZeros > dim * dim / 16) return 0;
    return std::min(n / 10, n - 2);
}

int reduceToTridiagonal(double* a, int n, double* d, double* e, double* tau, int panelWidth, const SymmetricRows* rows,
                        const std::function<bool()>& stop)
{
    if (n <= 0) return 0;
    const auto dim = static_cast<std::size_t>(n);
    if (rows && rows->order() != n) rows = nullptr;
    // The rows are counted once, for the choice of the block and for the compressed form. An
    // automatic choice stops counting as soon as the matrix is too dense for the block.
    // Sizes that never take the block are not counted at all, nor are rows handed in.
    if (panelWidth < 0 && sparsePanelWidth(n, 0) == 0) return denseTridiagonal(a, n, n, d, e, tau, stop);
    int panel = 0;
    std::vector<std::size_t> rowCounts;
    try {
        if (panelWidth != 0 && n >= 3) {
            const std::size_t limit = panelWidth < 0 ? dim * dim / 16 : static_cast<std::size_t>(-1);
            const std::size_t lowerNonZeros = rows ? rows->lowerCount() : countRows(a, n, limit, rowCounts);
            panel = panelWidth < 0 ? sparsePanelWidth(n, lowerNonZeros) : std::min(panelWidth, n - 2);
        }
    } catch (const std::bad_alloc&) {
        panel = 0;
    }
    if (panel <= 0) return denseTridiagonal(a, n, n, d, e, tau, stop);

    SymmetricRows compressed;
    std::vector<double> w, scratch;
    std::optional<SparseSymmetric> sparse;
    try {
        if (!rows) {
            compressed = compress(a, n, std::move(rowCounts));
            rows = &compressed;
        }
        sparse.emplace(*rows);
        w.assign(dim * static_cast<std::size_t>(panel), 0.0);
        scratch.resize(static_cast<std::size_t>(panel));
    } catch (const std::bad_alloc&) {
        return denseTridiagonal(a, n, n, d, e, tau, stop);
    }

    // LAPACK's panel step (dlatrd, lower), one column at a time: update column i by the
    // reflectors so far, make reflector i from it, and form w_i = τ·A·v_i corrected for the
    // block's pending update A − V·Wᵀ − W·Vᵀ. The trailing matrix is the original one until
    // the block ends, so A·v_i is the sparse product.
    double* wAll = w.data();
    for (int i = 0; i < panel; ++i) {
        if (i % 32 == 0 && stop && stop()) return 1;
        const std::size_t col = static_cast<std::size_t>(i) * dim;
        double* ai = a + col;
        const int below = n - i;
        if (i > 0) {
            cblas_dgemv(CblasColMajor, CblasNoTrans, below, i, -1.0, a + i, n, wAll + i, n, 1.0, ai + i, 1);
            cblas_dgemv(CblasColMajor, CblasNoTrans, below, i, -1.0, wAll + i, n, a + i, n, 1.0, ai + i, 1);
        }
        const int len = below - 1;
        double beta = ai[i + 1];
        LAPACKE_dlarfg_work(len, &beta, ai + std::min(i + 2, n - 1), 1, tau + i);
        e[i] = beta;
        ai[i + 1] = 1.0;

        const int first = i + 1;
        const double* v = ai + first;
        double* wi = wAll + col + first;
        sparse->trailingProduct(first, v, wi);
        if (i > 0) {
            cblas_dgemv(CblasColMajor, CblasTrans, len, i, 1.0, wAll + first, n, v, 1, 0.0, scratch.data(), 1);
            cblas_dgemv(CblasColMajor, CblasNoTrans, len, i, -1.0, a + first, n, scratch.data(), 1, 1.0, wi, 1);
            cblas_dgemv(CblasColMajor, CblasTrans, len, i, 1.0, a + first, n, v, 1, 0.0, scratch.data(), 1);
            cblas_dgemv(CblasColMajor, CblasNoTrans, len, i, -1.0, wAll + first, n, scratch.data(), 1, 1.0, wi, 1);
        }
        cblas_dscal(len, tau[i], wi, 1);
        const double alpha = -0.5 * tau[i] * cblas_ddot(len, wi, 1, v, 1);
        cblas_daxpy(len, alpha, v, 1, wi, 1);
    }

    // The block's update of the trailing matrix, then the subdiagonal back in place and the
    // diagonal out, as dsytrd leaves them.
    const int rest = n - panel;
    const std::size_t corner = static_cast<std::size_t>(panel) * dim + static_cast<std::size_t>(panel);
    // A band of columns at a time (the whole update is one of the reduction's largest single
    // products, tens of seconds on the largest matrices): each band's diagonal block, then the
    // rectangle below it.
    constexpr int kBand = 512;
    for (int j = 0; j < rest; j += kBand) {
        if (stop && stop()) return 1;
        const int width = std::min(kBand, rest - j), below = rest - j - width;
        double* c = a + corner + static_cast<std::size_t>(j) * dim + static_cast<std::size_t>(j);
        const double* v = a + panel + j;
        const double* wj = wAll + panel + j;
        cblas_dsyr2k(CblasColMajor, CblasLower, CblasNoTrans, width, panel, -1.0, v, n, wj, n, 1.0, c, n);
        if (below == 0) continue;
        cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, below, width, panel, -1.0, v + width, n, wj, n, 1.0,
                    c + width, n);
        cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, below, width, panel, -1.0, wj + width, n, v, n, 1.0,
                    c + width, n);
    }
    for (int j = 0; j < panel; ++j) {
        const std::size_t col = static_cast<std::size_t>(j) * dim;
        a[col + static_cast<std::size_t>(j) + 1] = e[j];
        d[j] = a[col + static_cast<std::size_t>(j)];
    }
    w = {};
    sparse.reset();
    compressed = {};
    if (stop && stop()) return 1;
    return denseTridiagonal(a + corner, rest, n, d + panel, e + panel, tau + panel, stop);
}

} // namespace vornax
