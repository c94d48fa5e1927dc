// Eigen solvers of the Hessian: every eigenvalue and eigenvector of a symmetric n × n matrix.
//
// Each solver takes the matrix (row-major; being symmetric it is also its own column-major
// form), consumes its storage, writes the n eigenvalues in ascending order into `values` and
// returns the eigenvectors as the rows of an n × n matrix (row k belongs to values[k]). On
// failure the matrix is freed all the same and no vectors are returned.
#pragma once

#include "common/Buffer.h"
#include "enm/EnmStatus.h"

#include <cstddef>
#include <vector>

namespace vornax {

class Progress;
struct SymmetricRows;

/// How a solver or one of its stages ended.
struct SolverOutcome {
    EnmStatus status = EnmStatus::Ok;
    int info = 0;           ///< LAPACK's info of the call that failed, 0 otherwise
    const char* stage = ""; ///< the stage that failed
    bool ok() const { return status == EnmStatus::Ok; }
};

struct EigenSolution {
    SolverOutcome outcome;
    DoubleBuffer vectors; ///< n × n, eigenvector k in row k; null unless outcome.ok()
};

/// LAPACK's stages one by one, arranged for speed and memory (at most two and a half matrices):
/// reduceToTridiagonal (Tridiagonal.h), packReflectors, solveTridiagonal, applyReflectors.
/// Cancellation is checked between the stages and between blocks of reflectors. `rows`, when
/// given, holds the matrix's non-zero blocks in compressed rows: the reduction's first block
/// then takes its products from them, and they are freed as soon as it is done (the matrix
/// itself then need only hold each row from the diagonal on).
EigenSolution solveStaged(DoubleBuffer& matrix, int n, double* values, Progress* progress,
                          SymmetricRows* rows = nullptr);
/// LAPACK's divide-and-conquer driver dsyevd (three matrices) or its MRRR driver dsyevr (two).
EigenSolution solveWithDriver(DoubleBuffer& matrix, int n, double* values, bool divideAndConquer);
/// Householder tridiagonalisation (tred2) and implicit-shift QL (tqli) on a one-based copy,
/// the modes sorted by eigsrt. Slow; for checking. Not converged when an eigenvalue takes
/// 3000 QL iterations; cancellable between eigenvalues.
EigenSolution solveReference(DoubleBuffer& matrix, int n, double* values, Progress* progress);

// ---- Stages of solveStaged -------------------------------------------------------------------

/// Reflectors applied together: the columns of one block in `ReflectorBlocks::packed`.
struct ReflectorBlock {
    int first; ///< reflectors first … first + count − 1,
    int count;
    int rows;           ///< acting on rows first + 1 … n − 1
    std::size_t offset; ///< of the block's first column in `packed`
};

struct ReflectorBlocks {
    static constexpr int kWidth = 256; ///< reflectors per block
    std::vector<ReflectorBlock> blocks;
    DoubleBuffer packed; ///< each block column-major with `rows` as leading dimension
};

/// Copies the reflectors that reduceToTridiagonal left below the subdiagonal of the
/// column-major `a` into blocks, written out in full (unit diagonal and the zeros above it
/// included) so that plain matrix products apply them. Out of memory when the blocks cannot be had.
SolverOutcome packReflectors(const double* a, int n, ReflectorBlocks& out);
/// Eigenvalues (ascending, into d) and eigenvectors (the columns of z, leading dimension n) of
/// the symmetric tridiagonal matrix with diagonal d and subdiagonal e (e is kept): dstedc, or
/// MRRR (dstemr), which needs no matrix of workspace, when dstedc's workspace cannot be had.
SolverOutcome solveTridiagonal(double* d, const double* e, double* z, int n);
/// Z ← Q·Z with Q = H(0) H(1) … H(n − 2), the last block first, each block as I − V·T·Vᵀ
/// (T from dlarft) by two matrix products.
SolverOutcome applyReflectors(const ReflectorBlocks& reflectors, const double* tau, double* z, int n,
                              Progress* progress);

} // namespace vornax
