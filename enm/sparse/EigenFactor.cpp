// Eigen's own sparse Cholesky factorisation (SimplicialLLT, AMD ordering) behind the solves.
#include "enm/sparse/SparseFactor.h"

#include <Eigen/SparseCholesky>

namespace vornax::sparse {

namespace {

struct EigenFactor final : SparseFactor {
    Eigen::SimplicialLLT<SparseMatrixD, Eigen::Upper> solver;
    bool analyse(const SparseMatrixD& a) override
    {
        solver.analyzePattern(a);
        return solver.info() == Eigen::Success;
    }
    bool factorise(const SparseMatrixD& a) override
    {
        solver.factorize(a);
        return solver.info() == Eigen::Success;
    }
    void solveInPlace(Eigen::MatrixXd& x) const override { x = solver.solve(x).eval(); }
    Eigen::VectorXd forwardSquaredNorms(Eigen::MatrixXd& b) const override
    {
        Eigen::MatrixXd y = solver.permutationP() * b;
        solver.matrixL().solveInPlace(y);
        return y.colwise().squaredNorm().transpose();
    }
    int64_t nonZeros() const override { return solver.matrixL().nestedExpression().nonZeros(); }
    bool finite() const override
    {
        const auto& l = solver.matrixL().nestedExpression();
        return Eigen::Map<const Eigen::VectorXd>(l.valuePtr(), l.nonZeros()).allFinite();
    }
};

} // namespace

std::unique_ptr<SparseFactor> makeEigenFactor() { return std::make_unique<EigenFactor>(); }

} // namespace vornax::sparse
