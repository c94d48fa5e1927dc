// Numerical routines of the reference eigen solver: Householder reduction and QL iteration on
// one-based arrays (a[r][c] = a[r·(n + 1) + c]), and two plain matrix helpers on zero-based
// row-major arrays.
#pragma once

namespace vornax {

class Progress;

/// √(a² + b²) without destructive overflow or underflow; 0 when both are 0.
double pythag(double a, double b);
/// Householder reduction of the symmetric one-based n × n matrix `a` to tridiagonal form:
/// diagonal d[1..n], subdiagonal e[2..n] (e[1] = 0); `a` becomes the orthogonal transformation.
void tred2(double* a, int n, double* d, double* e);
/// Implicit-shift QL on the tridiagonal (d, e); the eigenvectors accumulate into the columns of
/// z. An eigenvalue that needs 3000 iterations is reported ("Too many iterations in tqli") and
/// the iteration goes on.
void tqli(double* d, double* e, int n, double* z);
/// Sorts the eigenvalues d[1..n] into ascending order and their column eigenvectors with them.
void eigsrt(double* d, double* v, int n);
/// At[j][i] = A[i][j] for an m × n row-major A.
void transposeMatrix(const double* A, double* At, int m, int n);
/// C = A·B by a plain triple loop (row-major; no dimension check).
void matrixMultiply(const double* A, const double* B, double* C, int aRow, int aCol, int bRow, int bCol, int cRow,
                    int cCol);

/// How tqliRows ended.
enum class QlOutcome { Converged, NotConverged, Cancelled };

/// The arithmetic of tqli with eigenvector k held as row k of z (the QL sweeps then run along
/// memory). Unlike tqli it gives up on an eigenvalue that has not converged after 3000
/// iterations, and stops between eigenvalues when `progress` asks to cancel.
QlOutcome tqliRows(double* d, double* e, int n, double* z, Progress* progress = nullptr);
/// eigsrt for eigenvectors held as rows.
void eigsrtRows(double* d, double* v, int n);

} // namespace vornax
