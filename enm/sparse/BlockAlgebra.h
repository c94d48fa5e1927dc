// Dense products on tall blocks of columns, shared by the sparse solver's parts: the block
// Lanczos, the trace estimate and the pseudo-inverse's projections.
#pragma once

#include <Eigen/Dense>

namespace vornax::sparse {

extern "C" void dgemm_(const char* transA, const char* transB, const int* m, const int* n, const int* k,
                       const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
                       const double* beta, double* c, const int* ldc);

/// c ← α·op(a)·b + β·c through the BLAS (the tall products of the block Lanczos and the
/// projections are most of its arithmetic). `a` is m × k after op, b is k × n.
template <typename A, typename B, typename C>
void gemm(bool transposeA, double alpha, const A& a, const B& b, double beta, C&& c)
{
    const int m = static_cast<int>(c.rows()), n = static_cast<int>(c.cols());
    const int k = static_cast<int>(transposeA ? a.rows() : a.cols());
    if (m == 0 || n == 0) return;
    if (k == 0) {
        c *= beta;
        return;
    }
    const int lda = static_cast<int>(a.outerStride()), ldb = static_cast<int>(b.outerStride()),
              ldc = static_cast<int>(c.outerStride());
    dgemm_(transposeA ? "T" : "N", "N", &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c.data(), &ldc);
}

/// x ← x with every component along the columns of `basis` removed (basis orthonormal).
void project(const Eigen::Ref<const Eigen::MatrixXd>& basis, Eigen::MatrixXd& x);

/// Replaces the columns of `a` by an orthonormal basis of them (as many), by Householder QR in
/// a's own memory: LAPACK's dgeqrf, then dorgqr forms the basis over the reflectors. A sketch
/// of a capsid is 130 MB; a QR beside it would take two more of that. Throws std::bad_alloc
/// when LAPACK's workspace cannot be had.
void orthonormaliseInPlace(Eigen::MatrixXd& a);

} // namespace vornax::sparse
