// Householder reduction of a symmetric matrix to tridiagonal form, the first stage of the
// full eigen solution.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace vornax {

/// A symmetric matrix in compressed rows: both triangles, columns ascending in each row.
struct SymmetricRows {
    std::vector<std::size_t> rowStart; // order + 1 entries
    std::vector<int> column;
    std::vector<double> value;

    int order() const { return rowStart.empty() ? 0 : static_cast<int>(rowStart.size()) - 1; }
    /// Entries on or below the diagonal (each row's entries whose column is at most the row).
    std::size_t lowerCount() const;
    /// Writes the entries into the zeroed order × order array `a`: every entry, or with
    /// `upperRowsOnly` only each row's entries from the diagonal on (which, the matrix being
    /// symmetric, is the lower triangle of `a` read column-major). The first writes to a fresh
    /// array fault in its pages, seconds on the largest ones: `stop`, when given, is asked every
    /// few hundred rows, and false is returned when it ended the writing unfinished.
    bool scatter(double* a, bool upperRowsOnly, const std::function<bool()>& stop = {}) const;
};

/// Columns reduced by the sparse leading panel for a symmetric matrix of order n whose lower
/// triangle holds `lowerNonZeros` non-zero entries (diagonal included); 0 means none.
int sparsePanelWidth(int n, std::size_t lowerNonZeros);

/// Reduces the symmetric n×n matrix `a` (column-major, leading dimension n; the lower triangle
/// is read and overwritten) to the tridiagonal matrix with diagonal d[0..n) and subdiagonal
/// e[0..n−1). The result and its storage are those of LAPACK's dsytrd with uplo 'L': the
/// orthogonal Q = H(0) H(1) … H(n−2), where H(k) = I − tau[k]·v·vᵀ, v[k+1] = 1 and v[k+2..n)
/// is stored in a(k+2..n, k).
///
/// A network's Hessian is sparse, while the trailing matrix of the reduction fills in after the
/// first block of columns. So the first `panelWidth` columns (−1: `sparsePanelWidth`) are
/// reduced as one block whose products with the untouched trailing matrix use its sparse
/// form, which stays in cache; LAPACK's dsytrd reduces the rest. The columns where the dense
/// product would stream the largest trailing matrices from memory are the ones taken out.
///
/// `rows`, when given, is the same matrix in compressed rows: the block then takes its sparse
/// products from it, and `a` need only hold its lower triangle (column-major), which is all the
/// reduction reads.
///
/// `stop`, when given, is asked between blocks of columns (every few tens of milliseconds on
/// the largest matrices); when it says yes the reduction ends, unfinished, and returns 1.
///
/// Returns 0, 1 when stopped, LAPACK_WORK_MEMORY_ERROR when the workspace cannot be allocated,
/// or the (negative) info of LAPACK's argument checks.
int reduceToTridiagonal(double* a, int n, double* d, double* e, double* tau, int panelWidth = -1,
                        const SymmetricRows* rows = nullptr, const std::function<bool()>& stop = {});

} // namespace vornax
