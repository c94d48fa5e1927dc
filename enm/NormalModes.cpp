// Hessian of the anisotropic network and its eigen solution.
#include "enm/ElasticNetworkModel.h"
#include "enm/Tridiagonal.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "common/UserPrompts.h"
#include "molecule/Atom.h"

#include <cblas.h>
#include <lapacke.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <sstream>
#include <utility>
#include <vector>

namespace vornax {

namespace {

void stepProgress(Progress* progress, int steps = 1)
{
    if (progress) progress->step(steps);
}

/// Implicit-shift QL on the tridiagonal (d, e). The eigenvectors are accumulated into z,
/// whose vector k is column k (`vectorsInRows` false) or row k (true).
template <bool vectorsInRows>
void tqliImpl(double* d, double* e, int n, double* z)
{
    const std::size_t s = static_cast<std::size_t>(n) + 1;
    auto vec = [z, s](int k) { return z + static_cast<std::size_t>(k) * s; };
    for (int i = 2; i <= n; ++i) e[i - 1] = e[i];
    e[n] = 0.0;
    for (int l = 1; l <= n; ++l) {
        int iter = 0;
        int m = l;
        do {
            for (m = l; m <= n - 1; ++m) {
                const double dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
                if (std::fabs(e[m]) + dd == dd) break;
            }
            if (m != l) {
                if (++iter == 3000) console::line("Too many iterations in tqli");
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

EnmStatus ElasticNetworkModel::constructHessianMatrix(Progress* progress)
{
    const int32_t n = amountOfAtoms;
    if (n < 3) {
        const std::string text = "The elastic network of " + pdbName + " has " + std::to_string(n)
            + " nodes (C-alpha or phosphorus atoms): at least 3 are needed for normal modes.";
        console::write(console::Warning, text);
        userPrompts().messageBox("Elastic Network Setup Error", text, MessageIcon::Warning, MessageButtons::Ok);
        return EnmStatus::TooFewNodes;
    }
    const auto dim = static_cast<std::size_t>(threeN);
    if (progress) progress->setMaximum(12 * n + 10);
    springConstant = 1.0;
    // The dense matrix is only reserved here: its pages are zeroed by the system when first
    // written, and the solve writes the values into it (fillHessian). What is built here is
    // the Hessian's non-zero blocks, row by row.
    hessianRows = SymmetricRows();
    hessianFill = HessianFill::None;
    hessianFinite = true;
    hessian = allocateMatrixDoubles(dim * dim);
    if (!hessian) {
        console::Line(console::Warning) << "Not enough memory for the Hessian of " << n << " nodes";
        return EnmStatus::OutOfMemory;
    }
    stepProgress(progress);
    console::Line() << "Constructing Hessian matrix from " << amountOfSprings << " springs";

    struct Neighbour {
        int32_t j;
        double d[3];
        double s;
    };
    std::vector<Neighbour> neighbours;
    try {
        // Each spring gives one 3 × 3 block in each of its two nodes' rows; each node its
        // diagonal block.
        const std::size_t blocks = static_cast<std::size_t>(n) + static_cast<std::size_t>(std::max(amountOfSprings, 0));
        hessianRows.rowStart.reserve(dim + 1);
        hessianRows.column.reserve(9 * blocks);
        hessianRows.value.reserve(9 * blocks);
    } catch (const std::bad_alloc&) {
        hessian.reset();
        console::Line(console::Warning) << "Not enough memory for the Hessian of " << n << " nodes";
        return EnmStatus::OutOfMemory;
    }
    std::vector<std::size_t>& rowStart = hessianRows.rowStart;
    std::vector<int>& column = hessianRows.column;
    std::vector<double>& value = hessianRows.value;
    rowStart.push_back(0);

    const double gamma = springConstant;
    bool finite = true;
    // Spring directions from the coordinates as read (double precision); the blocks do not
    // depend on the length unit.
    const double* xyz = nodeCoordinates.data();
    for (int32_t i = 0; i < n; ++i) {
        const Atom* node = atomArray[static_cast<std::size_t>(i)];
        const double* pi = xyz + 3 * static_cast<std::size_t>(i);
        double diag[3][3] = {};
        neighbours.clear();
        neighbours.push_back({i, {0.0, 0.0, 0.0}, 0.0});
        const int32_t count = node->getAmountOfConnectedAtoms();
        for (int32_t e = 0; e < count; ++e) {
            const Atom* other = node->getConnectedAtom(e);
            const int32_t j = other->getMyPositionInOriginalList();
            if (j == i) continue;
            const double* pj = xyz + 3 * static_cast<std::size_t>(j);
            Neighbour nb{j, {pi[0] - pj[0], pi[1] - pj[1], pi[2] - pj[2]}, 0.0};
            nb.s = nb.d[0] * nb.d[0] + nb.d[1] * nb.d[1] + nb.d[2] * nb.d[2];
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b) diag[a][b] += gamma * nb.d[a] * nb.d[b] / nb.s;
            neighbours.push_back(nb);
        }
        // Columns ascending in every row; a node listed twice gives one block.
        std::sort(neighbours.begin(), neighbours.end(), [](const Neighbour& x, const Neighbour& y) { return x.j < y.j; });
        neighbours.erase(std::unique(neighbours.begin(), neighbours.end(),
                                     [](const Neighbour& x, const Neighbour& y) { return x.j == y.j; }),
                         neighbours.end());
        for (int a = 0; a < 3; ++a) {
            for (const Neighbour& nb : neighbours) {
                for (int b = 0; b < 3; ++b) {
                    const double v = nb.j == i ? diag[a][b] : -(gamma * nb.d[a] * nb.d[b] / nb.s);
                    finite = finite && std::isfinite(v);
                    column.push_back(3 * nb.j + b);
                    value.push_back(v);
                }
            }
            rowStart.push_back(column.size());
        }
        stepProgress(progress);
    }
    hessianFinite = finite;
    return EnmStatus::Ok;
}

const double* ElasticNetworkModel::getHessian() const
{
    fillHessian(HessianFill::Full);
    return hessian.get();
}

void ElasticNetworkModel::fillHessian(HessianFill fill) const
{
    if (!hessian || hessianFill == HessianFill::Full || hessianFill == fill || fill == HessianFill::None) return;
    hessianRows.scatter(hessian.get(), fill == HessianFill::Upper);
    hessianFill = fill;
}

EnmStatus ElasticNetworkModel::calculateEigen(Progress* progress)
{
    if (amountOfAtoms < 3) return EnmStatus::TooFewNodes;
    if (!hessian) return EnmStatus::NotReady;
    eigenComputed = true;
    const auto start = std::chrono::steady_clock::now();

    // The staged solver reads each row of the Hessian from the diagonal on (its lower triangle
    // in LAPACK's column-major terms) and takes its sparse products from the rows themselves.
    fillHessian(eigenSolver == EigenSolver::Lapack ? HessianFill::Upper : HessianFill::Full);
    EnmStatus status = EnmStatus::Ok;
    switch (eigenSolver) {
    case EigenSolver::Lapack: status = solveInStages(); break;
    case EigenSolver::LapackDC: status = solveWithLapack(true); break;
    case EigenSolver::LapackMRRR: status = solveWithLapack(false); break;
    case EigenSolver::Reference: status = solveWithReference(progress); break;
    }
    hessianRows = SymmetricRows();
    hessianFill = HessianFill::None;
    if (status != EnmStatus::Ok) {
        eigenComputed = false;
        return status;
    }
    stepProgress(progress, 9);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::Line() << "Time for calculating eigen vectors and values in seconds: " << seconds;

    finishEigenSolution(progress);
    return EnmStatus::Ok;
}

EnmStatus ElasticNetworkModel::solveWithLapack(bool divideAndConquer)
{
    const auto n = static_cast<lapack_int>(threeN);
    const auto dim = static_cast<std::size_t>(threeN);
    eigenvalues.assign(dim + 1, 0.0);
    // The Hessian is symmetric, so its row-major storage is also its column-major storage.
    // Eigenvector k comes back as column k, which in row-major terms is row k: that is Vᵀ.
    lapack_int info = 0;
    if (divideAndConquer) {
        info = LAPACKE_dsyevd(LAPACK_COL_MAJOR, 'V', 'U', n, hessian.get(), n, eigenvalues.data() + 1);
        if (info == 0) eigenBuffer = std::move(hessian);
    } else {
        eigenBuffer = allocateMatrixDoubles(dim * dim);
        if (!eigenBuffer) {
            console::Line(console::Warning) << "Not enough memory for the eigenvectors of " << amountOfAtoms << " nodes";
            return EnmStatus::OutOfMemory;
        }
        std::vector<lapack_int> support(2 * dim);
        lapack_int found = 0;
        info = LAPACKE_dsyevr(LAPACK_COL_MAJOR, 'V', 'A', 'U', n, hessian.get(), n, 0.0, 0.0, 0, 0, 0.0, &found,
                              eigenvalues.data() + 1, eigenBuffer.get(), n, support.data());
        if (info == 0 && found != n) info = -1000;
    }
    hessian.reset();
    if (info != 0) {
        eigenBuffer.reset();
        console::Line(console::Warning) << "The eigen solution failed (LAPACK info " << info << ")";
        return info == LAPACK_WORK_MEMORY_ERROR ? EnmStatus::OutOfMemory : EnmStatus::NotReady;
    }
    return EnmStatus::Ok;
}

EnmStatus ElasticNetworkModel::solveInStages()
{
    // The stages of LAPACK's drivers, arranged for speed and memory:
    //  1. the reduction to tridiagonal form takes its first block of columns from the sparse
    //     Hessian (see reduceToTridiagonal);
    //  2. its reflectors move into blocks of kReflectorBlock columns, about half a matrix,
    //     which frees the Hessian's storage for the eigenvectors;
    //  3. divide and conquer on the tridiagonal matrix (one matrix of workspace; MRRR, which
    //     needs none, when that cannot be had);
    //  4. the reflectors go onto the eigenvectors a block at a time, as two plain matrix
    //     products (LAPACK's dormtr uses blocks of 32, too narrow for them to run at full speed).
    // At most two and a half matrices are held at any time.
    constexpr lapack_int kReflectorBlock = 256;
    const auto n = static_cast<lapack_int>(threeN);
    const auto dim = static_cast<std::size_t>(threeN);
    eigenvalues.assign(dim + 1, 0.0);
    double* d = eigenvalues.data() + 1;
    std::vector<double> e(dim), tau(dim);
    auto fail = [this](const char* stage, lapack_int info) {
        console::Line(console::Warning) << "The eigen solution failed in " << stage << " (LAPACK info " << info << ")";
        hessian.reset();
        eigenBuffer.reset();
        return info == LAPACK_WORK_MEMORY_ERROR ? EnmStatus::OutOfMemory : EnmStatus::NotReady;
    };
    auto outOfMemory = [this]() {
        console::Line(console::Warning) << "Not enough memory for the eigenvectors of " << amountOfAtoms << " nodes";
        hessian.reset();
        eigenBuffer.reset();
        return EnmStatus::OutOfMemory;
    };

    // 1. Tridiagonal form; reflector k below the subdiagonal of column k (column-major, lower).
    double* a = hessian.get();
    lapack_int info = reduceToTridiagonal(a, n, d, e.data(), tau.data(), -1, &hessianRows);
    hessianRows = SymmetricRows(); // the reduction was their last reader
    if (info != 0) return fail("the tridiagonal reduction", info);

    // 2. Each block of reflectors is stored column-major with `rows` as leading dimension,
    //    written out in full: the unit diagonal and the zeros above it included, so that plain
    //    matrix products apply them.
    struct ReflectorBlock {
        lapack_int first, count, rows; // reflectors first … first + count − 1 act on rows first + 1 … n − 1
        std::size_t offset;            // in `packed`
    };
    std::vector<ReflectorBlock> blocks;
    std::size_t packedCount = 0;
    for (lapack_int i = 0; i < n - 1; i += kReflectorBlock) {
        const ReflectorBlock block{i, std::min(kReflectorBlock, n - 1 - i), n - 1 - i, packedCount};
        blocks.push_back(block);
        packedCount += static_cast<std::size_t>(block.rows) * static_cast<std::size_t>(block.count);
    }
    DoubleBuffer packed = allocateMatrixDoubles(std::max<std::size_t>(1, packedCount));
    if (!packed) return outOfMemory();
    for (const ReflectorBlock& block : blocks) {
        const auto rows = static_cast<std::size_t>(block.rows);
        for (lapack_int k = 0; k < block.count; ++k) {
            const auto kk = static_cast<std::size_t>(k);
            const double* from = a + static_cast<std::size_t>(block.first + k) * dim + static_cast<std::size_t>(block.first) + 1;
            double* column = packed.get() + block.offset + kk * rows;
            std::memcpy(column, from, rows * sizeof(double));
            std::fill(column, column + kk, 0.0);
            column[kk] = 1.0;
        }
    }

    // 3. Eigenvalues (ascending, into d) and eigenvectors of the tridiagonal matrix, the latter
    //    as the columns of Z in the Hessian's storage.
    double* z = a;
    {
        std::vector<double> offDiagonal(e);
        double workQuery = 0.0;
        lapack_int iworkQuery = 0;
        info = LAPACKE_dstedc_work(LAPACK_COL_MAJOR, 'I', n, d, offDiagonal.data(), z, n, &workQuery, -1,
                                   &iworkQuery, -1);
        if (info != 0) return fail("dstedc", info);
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
            info = LAPACKE_dstedc_work(LAPACK_COL_MAJOR, 'I', n, d, offDiagonal.data(), z, n, work.get(),
                                       static_cast<lapack_int>(workQuery), iwork.data(),
                                       static_cast<lapack_int>(iworkQuery));
            if (info != 0) return fail("dstedc", info);
        } else {
            std::vector<double> tridiagonal(d, d + dim);
            std::vector<lapack_int> support(2 * dim);
            lapack_int found = 0;
            lapack_logical tryRelativeAccuracy = 1;
            info = LAPACKE_dstemr(LAPACK_COL_MAJOR, 'V', 'A', n, tridiagonal.data(), offDiagonal.data(), 0.0, 0.0,
                                  0, 0, &found, d, z, n, n, support.data(), &tryRelativeAccuracy);
            if (info == 0 && found != n) info = -1000;
            if (info != 0) return fail("dstemr", info);
        }
    }

    // 4. Z ← Q·Z with Q = H(0) H(1) … H(n − 2): the last block of reflectors goes first, each
    //    as I − V·T·Vᵀ (T from dlarft): W = Vᵀ·Z₂, W ← T·W, Z₂ −= V·W on rows i + 1 … n − 1.
    std::vector<double> t(static_cast<std::size_t>(kReflectorBlock * kReflectorBlock));
    DoubleBuffer w = allocateMatrixDoubles(dim * kReflectorBlock);
    if (!w) return outOfMemory();
    for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) {
        const double* v = packed.get() + block->offset;
        info = LAPACKE_dlarft_work(LAPACK_COL_MAJOR, 'F', 'C', block->rows, block->count, v, block->rows,
                                   tau.data() + block->first, t.data(), kReflectorBlock);
        if (info != 0) return fail("dlarft", info);
        double* z2 = z + block->first + 1;
        cblas_dgemm(CblasColMajor, CblasTrans, CblasNoTrans, block->count, n, block->rows, 1.0, v, block->rows, z2, n,
                    0.0, w.get(), block->count);
        cblas_dtrmm(CblasColMajor, CblasLeft, CblasUpper, CblasNoTrans, CblasNonUnit, block->count, n, 1.0, t.data(),
                    kReflectorBlock, w.get(), block->count);
        cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, block->rows, n, block->count, -1.0, v, block->rows,
                    w.get(), block->count, 1.0, z2, n);
    }
    eigenBuffer = std::move(hessian);
    return EnmStatus::Ok;
}

EnmStatus ElasticNetworkModel::solveWithReference(Progress* progress)
{
    const int n = threeN;
    const auto dim = static_cast<std::size_t>(n);
    const std::size_t stride = dim + 1;
    // One-based copy: row 0 and column 0 unused.
    DoubleBuffer hessianNR = allocateZeroedDoubles(stride * stride);
    if (!hessianNR) return EnmStatus::OutOfMemory;
    for (std::size_t r = 1; r <= dim; ++r) {
        std::memcpy(hessianNR.get() + r * stride + 1, hessian.get() + (r - 1) * dim, dim * sizeof(double));
        stepProgress(progress);
    }
    hessian.reset();

    eigenvalues.assign(dim + 1, 0.0);
    std::vector<double> e(dim + 1, 0.0);
    tred2(hessianNR.get(), n, eigenvalues.data(), e.data());
    stepProgress(progress, 3);
    // The QL sweeps rotate pairs of eigenvectors: hold vector k as row k so that they run
    // along memory. The arithmetic is that of tqli and eigsrt on columns.
    double* z = hessianNR.get();
    for (std::size_t r = 1; r <= dim; ++r)
        for (std::size_t c = r + 1; c <= dim; ++c) std::swap(z[r * stride + c], z[c * stride + r]);
    tqliImpl<true>(eigenvalues.data(), e.data(), n, z);
    stepProgress(progress, 3);
    eigsrtImpl<true>(eigenvalues.data(), z, n);
    stepProgress(progress, 3);

    eigenBuffer = allocateDoubles(dim * dim);
    if (!eigenBuffer) return EnmStatus::OutOfMemory;
    for (std::size_t k = 1; k <= dim; ++k) std::memcpy(eigenBuffer.get() + (k - 1) * dim, z + k * stride + 1, dim * sizeof(double));
    return EnmStatus::Ok;
}

void ElasticNetworkModel::finishEigenSolution(Progress* progress)
{
    const auto dim = static_cast<std::size_t>(threeN);
    const auto modes = static_cast<std::size_t>(threeNMinusSix);
    eigenvectorsT = eigenBuffer.get() + 6 * dim;
    stepProgress(progress, static_cast<int>(dim));

    // Modes 7… keep their inverse eigenvalue; modes the network has in excess of the six
    // rigid-body ones (disconnected or floppy parts) have a zero eigenvalue and stay out.
    const double largest = std::fabs(eigenvalues[dim]);
    const double zero = kZeroModeTolerance * largest;
    inverseEigenvalues.assign(modes, 0.0);
    extraZeroModes = 0;
    std::ostringstream line;
    line.precision(10);
    for (std::size_t k = 7; k <= dim; ++k) {
        line << eigenvalues[k] << ' ';
        if (eigenvalues[k] > zero) {
            inverseEigenvalues[k - 7] = 1.0 / eigenvalues[k];
        } else {
            ++extraZeroModes;
        }
        stepProgress(progress);
    }
    console::line(line.str());
    if (extraZeroModes > 0) {
        std::ostringstream text;
        text << "The network has " << extraZeroModes << " zero-frequency modes besides the six rigid-body ones:"
             << " parts of it are disconnected or hang on too few springs. Those modes are left out of the"
             << " response. A larger cutoff Rc (now " << Rc / 10.0f << " \u00c5) joins the network.";
        console::write(console::Warning, text.str());
        userPrompts().messageBox("Elastic Network Setup Error", text.str(), MessageIcon::Warning, MessageButtons::Ok);
    }
    zeroForces();
    inverseScaledEigenvalues.assign(modes, 0.0);
    scaledEigenvalues.assign(modes, 0.0);
}

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


void tqli(double* d, double* e, int n, double* z) { tqliImpl<false>(d, e, n, z); }

void eigsrt(double* d, double* v, int n) { eigsrtImpl<false>(d, v, n); }

void transposeMatrix(const double* A, double* At, int m, int n)
{
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j)
            At[static_cast<std::size_t>(j) * m + i] = A[static_cast<std::size_t>(i) * n + j];
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
