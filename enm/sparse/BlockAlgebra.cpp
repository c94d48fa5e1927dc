#include "enm/sparse/BlockAlgebra.h"

#include <lapacke.h>

#include <new>
#include <vector>

namespace vornax::sparse {

void project(const Eigen::Ref<const Eigen::MatrixXd>& basis, Eigen::MatrixXd& x)
{
    if (basis.cols() == 0 || x.cols() == 0) return;
    Eigen::MatrixXd c(basis.cols(), x.cols());
    gemm(true, 1.0, basis, x, 0.0, c);
    gemm(false, -1.0, basis, c, 1.0, x);
}

void orthonormaliseInPlace(Eigen::MatrixXd& a)
{
    if (a.cols() == 0) return;
    const auto m = static_cast<lapack_int>(a.rows()), n = static_cast<lapack_int>(a.cols());
    std::vector<double> tau(static_cast<std::size_t>(n));
    if (LAPACKE_dgeqrf(LAPACK_COL_MAJOR, m, n, a.data(), m, tau.data()) == 0
        && LAPACKE_dorgqr(LAPACK_COL_MAJOR, m, n, n, a.data(), m, tau.data()) == 0)
        return;
    throw std::bad_alloc(); // LAPACK's workspace could not be had
}

} // namespace vornax::sparse
