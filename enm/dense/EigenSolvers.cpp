// The eigen solvers: LAPACK's stages one by one, LAPACK's drivers, and the reference solver.
#include "enm/dense/EigenSolvers.h"

#include "common/Progress.h"
#include "enm/dense/ReferenceNumerics.h"
#include "enm/dense/Tridiagonal.h"

#include <cblas.h>
#include <lapacke.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace vornax {

namespace {

/// A LAPACK info as an outcome: positive infos are failures to converge.
SolverOutcome lapackOutcome(const char* stage, lapack_int info)
{
    SolverOutcome outcome;
    if (info == 0) return outcome;
    outcome.info = static_cast<int>(info);
    outcome.stage = stage;
    outcome.status = info > 0              ? EnmStatus::NotConverged
        : info == LAPACK_WORK_MEMORY_ERROR ? EnmStatus::OutOfMemory
                                           : EnmStatus::NotReady;
    return outcome;
}

SolverOutcome stopped(EnmStatus status, const char* stage)
{
    SolverOutcome outcome;
    outcome.status = status;
    outcome.stage = stage;
    return outcome;
}

/// The end of a solve that did not finish: the matrix goes, no vectors come back.
EigenSolution failed(DoubleBuffer& matrix, SolverOutcome outcome)
{
    matrix.reset();
    EigenSolution solution;
    solution.outcome = outcome;
    return solution;
}

} // namespace

// ---- LAPACK's stages ------------------------------------------------------------------------

SolverOutcome packReflectors(const double* a, int n, ReflectorBlocks& out)
{
    const auto dim = static_cast<std::size_t>(n);
    out.blocks.clear();
    std::size_t packedCount = 0;
    for (int i = 0; i < n - 1; i += ReflectorBlocks::kWidth) {
        const ReflectorBlock block{i, std::min(ReflectorBlocks::kWidth, n - 1 - i), n - 1 - i, packedCount};
        out.blocks.push_back(block);
        packedCount += static_cast<std::size_t>(block.rows) * static_cast<std::size_t>(block.count);
    }
    out.packed = allocateMatrixDoubles(std::max<std::size_t>(1, packedCount));
    if (!out.packed) return stopped(EnmStatus::OutOfMemory, "the reflector blocks");
    for (const ReflectorBlock& block : out.blocks) {
        const auto rows = static_cast<std::size_t>(block.rows);
        for (int k = 0; k < block.count; ++k) {
            const auto kk = static_cast<std::size_t>(k);
            const double* from =
                a + static_cast<std::size_t>(block.first + k) * dim + static_cast<std::size_t>(block.first) + 1;
            double* column = out.packed.get() + block.offset + kk * rows;
            std::memcpy(column, from, rows * sizeof(double));
            std::fill(column, column + kk, 0.0);
            column[kk] = 1.0;
        }
    }
    return {};
}

SolverOutcome solveTridiagonal(double* d, const double* e, double* z, int n)
{
    const auto dim = static_cast<std::size_t>(n);
    const auto ln = static_cast<lapack_int>(n);
    std::vector<double> offDiagonal(e, e + dim);
    double workQuery = 0.0;
    lapack_int iworkQuery = 0;
    lapack_int info =
        LAPACKE_dstedc_work(LAPACK_COL_MAJOR, 'I', ln, d, offDiagonal.data(), z, ln, &workQuery, -1, &iworkQuery, -1);
    if (info != 0) return lapackOutcome("dstedc", info);
    DoubleBuffer work = allocateMatrixDoubles(static_cast<std::size_t>(workQuery));
    std::vector<lapack_int> iwork;
    if (work) {
        try {
            iwork.resize(static_cast<std::size_t>(iworkQuery));
        } catch (const std::bad_alloc&) {
            work.reset();
        }
    }
    if (work) {
        info =
            LAPACKE_dstedc_work(LAPACK_COL_MAJOR, 'I', ln, d, offDiagonal.data(), z, ln, work.get(),
                                static_cast<lapack_int>(workQuery), iwork.data(), static_cast<lapack_int>(iworkQuery));
        return lapackOutcome("dstedc", info);
    }
    std::vector<double> tridiagonal(d, d + dim);
    std::vector<lapack_int> support(2 * dim);
    lapack_int found = 0;
    lapack_logical tryRelativeAccuracy = 1;
    info = LAPACKE_dstemr(LAPACK_COL_MAJOR, 'V', 'A', ln, tridiagonal.data(), offDiagonal.data(), 0.0, 0.0, 0, 0,
                          &found, d, z, ln, ln, support.data(), &tryRelativeAccuracy);
    if (info == 0 && found != ln) return stopped(EnmStatus::NotConverged, "dstemr");
    return lapackOutcome("dstemr", info);
}

SolverOutcome applyReflectors(const ReflectorBlocks& reflectors, const double* tau, double* z, int n,
                              Progress* progress)
{
    constexpr int width = ReflectorBlocks::kWidth;
    const auto ln = static_cast<lapack_int>(n);
    std::vector<double> t(static_cast<std::size_t>(width) * width);
    DoubleBuffer w = allocateMatrixDoubles(static_cast<std::size_t>(n) * width);
    if (!w) return stopped(EnmStatus::OutOfMemory, "the back-transformation");
    for (auto block = reflectors.blocks.rbegin(); block != reflectors.blocks.rend(); ++block) {
        if (isCancelled(progress)) return stopped(EnmStatus::Cancelled, "the back-transformation");
        const double* v = reflectors.packed.get() + block->offset;
        const lapack_int info = LAPACKE_dlarft_work(LAPACK_COL_MAJOR, 'F', 'C', block->rows, block->count, v,
                                                    block->rows, tau + block->first, t.data(), width);
        if (info != 0) return lapackOutcome("dlarft", info);
        double* z2 = z + block->first + 1;
        cblas_dgemm(CblasColMajor, CblasTrans, CblasNoTrans, block->count, ln, block->rows, 1.0, v, block->rows, z2, ln,
                    0.0, w.get(), block->count);
        cblas_dtrmm(CblasColMajor, CblasLeft, CblasUpper, CblasNoTrans, CblasNonUnit, block->count, ln, 1.0, t.data(),
                    width, w.get(), block->count);
        cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, block->rows, ln, block->count, -1.0, v, block->rows,
                    w.get(), block->count, 1.0, z2, ln);
    }
    return {};
}

EigenSolution solveStaged(DoubleBuffer& matrix, int n, double* values, Progress* progress, SymmetricRows* rows)
{
    // 1. Tridiagonal form, its first block of columns from the sparse matrix; reflector k is
    //    left below the subdiagonal of column k (column-major, lower).
    // 2. The reflectors move into blocks of ReflectorBlocks::kWidth columns, about half a
    //    matrix, which frees the matrix's storage for the eigenvectors.
    // 3. Divide and conquer on the tridiagonal matrix (one matrix of workspace).
    // 4. The reflectors go onto the eigenvectors a block at a time, as two plain matrix
    //    products (LAPACK's dormtr uses blocks of 32, too narrow for them to run at full speed).
    const auto dim = static_cast<std::size_t>(n);
    std::vector<double> e(dim), tau(dim);
    double* a = matrix.get();
    if (isCancelled(progress)) return failed(matrix, stopped(EnmStatus::Cancelled, "the tridiagonal reduction"));
    const int info =
        reduceToTridiagonal(a, n, values, e.data(), tau.data(), -1, rows, [progress] { return isCancelled(progress); });
    if (rows) *rows = SymmetricRows(); // the reduction was their last reader
    if (info == 1) return failed(matrix, stopped(EnmStatus::Cancelled, "the tridiagonal reduction"));
    if (info != 0) return failed(matrix, lapackOutcome("the tridiagonal reduction", info));

    if (isCancelled(progress)) return failed(matrix, stopped(EnmStatus::Cancelled, "the reflector blocks"));
    ReflectorBlocks reflectors;
    SolverOutcome outcome = packReflectors(a, n, reflectors);
    if (!outcome.ok()) return failed(matrix, outcome);

    // The eigenvectors of the tridiagonal matrix take the matrix's storage.
    double* z = a;
    if (isCancelled(progress)) return failed(matrix, stopped(EnmStatus::Cancelled, "dstedc"));
    outcome = solveTridiagonal(values, e.data(), z, n);
    if (!outcome.ok()) return failed(matrix, outcome);

    outcome = applyReflectors(reflectors, tau.data(), z, n, progress);
    if (!outcome.ok()) return failed(matrix, outcome);
    EigenSolution solution;
    // Column k of Z, the eigenvector of values[k], is row k in row-major terms.
    solution.vectors = std::move(matrix);
    return solution;
}

// ---- LAPACK's drivers -----------------------------------------------------------------------

EigenSolution solveWithDriver(DoubleBuffer& matrix, int n, double* values, bool divideAndConquer)
{
    const auto ln = static_cast<lapack_int>(n);
    const auto dim = static_cast<std::size_t>(n);
    // Eigenvector k comes back as column k, which in row-major terms is row k.
    EigenSolution solution;
    if (divideAndConquer) {
        const lapack_int info = LAPACKE_dsyevd(LAPACK_COL_MAJOR, 'V', 'U', ln, matrix.get(), ln, values);
        if (info != 0) return failed(matrix, lapackOutcome("dsyevd", info));
        solution.vectors = std::move(matrix);
        return solution;
    }
    DoubleBuffer vectors = allocateMatrixDoubles(dim * dim);
    if (!vectors) return failed(matrix, stopped(EnmStatus::OutOfMemory, "dsyevr"));
    std::vector<lapack_int> support(2 * dim);
    lapack_int found = 0;
    const lapack_int info = LAPACKE_dsyevr(LAPACK_COL_MAJOR, 'V', 'A', 'U', ln, matrix.get(), ln, 0.0, 0.0, 0, 0, 0.0,
                                           &found, values, vectors.get(), ln, support.data());
    matrix.reset();
    if (info != 0) return failed(matrix, lapackOutcome("dsyevr", info));
    if (found != ln) return failed(matrix, stopped(EnmStatus::NotConverged, "dsyevr"));
    solution.vectors = std::move(vectors);
    return solution;
}

// ---- The reference solver -------------------------------------------------------------------

EigenSolution solveReference(DoubleBuffer& matrix, int n, double* values, Progress* progress)
{
    const auto dim = static_cast<std::size_t>(n);
    const std::size_t stride = dim + 1;
    // One-based copy: row 0 and column 0 unused.
    DoubleBuffer oneBased = allocateZeroedDoubles(stride * stride);
    if (!oneBased) return failed(matrix, stopped(EnmStatus::OutOfMemory, "the one-based copy"));
    for (std::size_t r = 1; r <= dim; ++r) {
        std::memcpy(oneBased.get() + r * stride + 1, matrix.get() + (r - 1) * dim, dim * sizeof(double));
        stepProgress(progress);
    }
    matrix.reset();

    std::vector<double> d(dim + 1, 0.0), e(dim + 1, 0.0);
    if (isCancelled(progress)) return failed(matrix, stopped(EnmStatus::Cancelled, "tred2"));
    tred2(oneBased.get(), n, d.data(), e.data());
    stepProgress(progress, 3);
    // The QL sweeps rotate pairs of eigenvectors: hold vector k as row k so that they run
    // along memory. The arithmetic is that of tqli and eigsrt on columns.
    double* z = oneBased.get();
    for (std::size_t r = 1; r <= dim; ++r)
        for (std::size_t c = r + 1; c <= dim; ++c) std::swap(z[r * stride + c], z[c * stride + r]);
    switch (tqliRows(d.data(), e.data(), n, z, progress)) {
    case QlOutcome::Converged: break;
    case QlOutcome::NotConverged: return failed(matrix, stopped(EnmStatus::NotConverged, "tqli"));
    case QlOutcome::Cancelled: return failed(matrix, stopped(EnmStatus::Cancelled, "tqli"));
    }
    stepProgress(progress, 3);
    eigsrtRows(d.data(), z, n);
    stepProgress(progress, 3);

    EigenSolution solution;
    solution.vectors = allocateDoubles(dim * dim);
    if (!solution.vectors) return failed(matrix, stopped(EnmStatus::OutOfMemory, "the eigenvectors"));
    for (std::size_t k = 1; k <= dim; ++k)
        std::memcpy(solution.vectors.get() + (k - 1) * dim, z + k * stride + 1, dim * sizeof(double));
    std::copy(d.begin() + 1, d.end(), values);
    return solution;
}

} // namespace vornax
