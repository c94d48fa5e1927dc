// The sparse Cholesky factorisation behind the sparse solver's solves: one interface, two
// back-ends (CholmodFactor.cpp, EigenFactor.cpp).
#pragma once

#include "enm/sparse/SparseHessian.h"

#include <Eigen/Dense>

#include <cstdint>
#include <memory>

namespace vornax {

/// The sparse Cholesky factorisation behind the solves.
enum class SparseFactorisation {
    Cholmod,       ///< CHOLMOD's supernodal LLᵀ (its own choice of fill-reducing ordering)
    EigenLLT,      ///< Eigen's SimplicialLLT, AMD ordering
};

namespace sparse {

/// A factorisation A = Pᵀ·L·Lᵀ·P of a symmetric positive definite matrix given by its upper
/// triangle, and the solves with it.
class SparseFactor {
public:
    virtual ~SparseFactor() = default;
    virtual bool analyse(const SparseMatrixD& a) = 0;
    virtual bool factorise(const SparseMatrixD& a) = 0;
    /// The fill-reducing ordering the analysis chose, when the factorisation can take the
    /// matrix already in it (factorisePermuted); else null.
    virtual const int* permutation() const { return nullptr; }
    /// Factorises from `lower`, the lower triangle of P·A·Pᵀ in the ordering permutation() gives.
    virtual bool factorisePermuted(const SparseMatrixD& /*lower*/) { return false; }
    virtual void solveInPlace(Eigen::MatrixXd& x) const = 0;
    /// ‖L⁻¹·P·bⱼ‖² = bⱼᵀ·A⁻¹·bⱼ for every column: the forward substitution alone. `b` is
    /// used as workspace and comes back changed.
    virtual Eigen::VectorXd forwardSquaredNorms(Eigen::MatrixXd& b) const = 0;
    /// Lets go of the solves' workspace (it is taken again by the next solve).
    virtual void releaseWorkspace() const {}
    virtual int64_t nonZeros() const = 0;
    /// Entries the factor stores (a supernodal factor pads its supernodes with zeros).
    virtual int64_t storedEntries() const { return nonZeros(); }
    /// Every stored entry finite (a matrix with NaN in it can factorise "successfully").
    virtual bool finite() const = 0;
};

/// CHOLMOD's supernodal LLᵀ; its solves on a matrix of at least `twoLaneRows` rows share their
/// right-hand sides between two threads.
std::unique_ptr<SparseFactor> makeCholmodFactor(int64_t twoLaneRows);
/// Eigen's SimplicialLLT.
std::unique_ptr<SparseFactor> makeEigenFactor();

inline std::unique_ptr<SparseFactor> makeFactor(SparseFactorisation kind, int64_t twoLaneRows)
{
    if (kind == SparseFactorisation::Cholmod) return makeCholmodFactor(twoLaneRows);
    return makeEigenFactor();
}

} // namespace sparse
} // namespace vornax
