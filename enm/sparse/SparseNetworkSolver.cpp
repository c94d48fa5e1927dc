#include "enm/sparse/SparseNetworkSolver.h"

#include "common/Console.h"

#include <cholmod.h>
#include <lapacke.h>
#include <Eigen/SparseCholesky>
#include <Spectra/MatOp/SparseSymMatProd.h>
#include <Spectra/SymEigsSolver.h>

#include <algorithm>
#include <array>
#include <exception>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <malloc.h>
#include <new>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>

namespace vornax {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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

/// Lanczos stops when every wanted Ritz pair's residual is below this fraction of its value.
constexpr double kLanczosTolerance = 1e-10;
/// The same for zero modes, whose solves carry the shift's conditioning (and whose eigenvalue
/// is zero whatever the vector).
constexpr double kZeroModeResidual = 1e-8;
/// Two eigenvalues this close (relative) belong to one degenerate group.
constexpr double kGroupTolerance = 1e-8;
/// Shift of a floppy network's matrix, relative to the mean diagonal of the Hessian.
constexpr double kRelativeShift = 1e-8;
/// Pinned coordinates whose rigid-body rows are worse conditioned than this are not used.
constexpr double kWorstPinCondition = 1e8;
constexpr int kMaxPasses = 200;
constexpr int kBlock = 64; ///< right-hand sides per block solve
/// Σinv's blocks stay below this many bytes each: fewer columns on the largest networks, so that
/// they add little to the factor's memory.
constexpr double kTraceBlockBytes = 64.0 * 1024 * 1024;
constexpr int kMaxLanczosSteps = 400;
constexpr Eigen::Index kRestartRows = 4096;

} // namespace

// ---- Factorisations ------------------------------------------------------------------------------

struct SparseNetworkSolver::Factor {
    virtual ~Factor() = default;
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

namespace {

struct EigenFactor final : SparseNetworkSolver::Factor {
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


/// The solves' triangular products are narrow and bound by memory: a second BLAS thread makes
/// them slower, several times so on a busy machine. OpenBLAS runs them on one thread while this
/// lives (other BLAS libraries are left as they are).
class OneBlasThread {
public:
    OneBlasThread()
    {
        if (set && get && (m_before = get()) > 1) set(1);
    }
    ~OneBlasThread()
    {
        if (m_before > 1) set(m_before);
    }
    OneBlasThread(const OneBlasThread&) = delete;
    OneBlasThread& operator=(const OneBlasThread&) = delete;

private:
    using Set = void (*)(int);
    using Get = int (*)();
    static inline const Set set = reinterpret_cast<Set>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads"));
    static inline const Get get = reinterpret_cast<Get>(dlsym(RTLD_DEFAULT, "openblas_get_num_threads"));
    int m_before = 0;
};

/// CHOLMOD's supernodal LLᵀ, called directly: the matrix is read in place (its upper triangle),
/// the ordering is nested dissection, and solves reuse their workspace block by block.
struct CholmodFactor final : SparseNetworkSolver::Factor {
    /// A thread's share of the solves: its own CHOLMOD workspace, the factor only read. The
    /// right-hand sides are solved in their own memory: put in the factor's ordering, then
    /// substituted through the supernodes, then put back.
    struct Lane {
        cholmod_common common{};
        std::vector<double> column;    ///< one column, for permuting a right-hand side in place
        std::vector<double> supernode; ///< the substitutions' workspace: a supernode's rows a column
        Lane()
        {
            cholmod_start(&common);
            common.print = 0;
        }
        ~Lane() { cholmod_finish(&common); }
        void release()
        {
            std::vector<double>().swap(column);
            std::vector<double>().swap(supernode);
        }
        Lane(const Lane&) = delete;
        Lane& operator=(const Lane&) = delete;
    };
    mutable cholmod_common common{};
    cholmod_factor* factor = nullptr;
    mutable std::array<Lane, 2> lanes;
    Eigen::Index twoLaneRows;

    explicit CholmodFactor(Eigen::Index twoLanesFrom) : twoLaneRows(twoLanesFrom)
    {
        cholmod_start(&common);
        common.supernodal = CHOLMOD_SUPERNODAL;
        common.final_asis = 1;
        common.quick_return_if_not_posdef = 1;
        common.print = 0;
        common.nmethods = 1;
        common.method[0].ordering = CHOLMOD_METIS; // what CHOLMOD's own choice ends in, without trying AMD first
        common.postorder = 1;
    }
    ~CholmodFactor() override
    {
        if (factor) cholmod_free_factor(&factor, &common);
        cholmod_finish(&common);
    }
    static cholmod_sparse view(const SparseMatrixD& a)
    {
        cholmod_sparse m{};
        m.nrow = static_cast<std::size_t>(a.rows());
        m.ncol = static_cast<std::size_t>(a.cols());
        m.nzmax = static_cast<std::size_t>(a.nonZeros());
        m.p = const_cast<int*>(a.outerIndexPtr());
        m.i = const_cast<int*>(a.innerIndexPtr());
        m.x = const_cast<double*>(a.valuePtr());
        // Symmetric, the upper triangle read (the ordering's input; the factorisation itself
        // reads the permuted lower triangle factorisePermuted is given).
        m.stype = 1;
        m.itype = CHOLMOD_INT;
        m.xtype = CHOLMOD_REAL;
        m.dtype = CHOLMOD_DOUBLE;
        m.sorted = 1;
        m.packed = 1;
        return m;
    }
    static cholmod_dense denseView(double* data, Eigen::Index rows, Eigen::Index columns)
    {
        cholmod_dense b{};
        b.nrow = static_cast<std::size_t>(rows);
        b.ncol = static_cast<std::size_t>(columns);
        b.nzmax = b.nrow * b.ncol;
        b.d = b.nrow;
        b.x = data;
        b.xtype = CHOLMOD_REAL;
        b.dtype = CHOLMOD_DOUBLE;
        return b;
    }
    bool analyse(const SparseMatrixD& a) override
    {
        if (!a.isCompressed()) return false;
        cholmod_sparse m = view(a);
        if (factor) cholmod_free_factor(&factor, &common);
        factor = cholmod_analyze(&m, &common);
        return factor != nullptr && common.status == CHOLMOD_OK && factor->is_super; // the solves need supernodes
    }
    bool factorise(const SparseMatrixD& a) override
    {
        // Below the two-lane size the supernodes are small, and OpenBLAS's second thread only
        // waits on them: on a busy machine it made 3j6r's factorisation (2,868 nodes) take 4.1 s
        // instead of 0.16 s. Large factorisations keep every BLAS thread.
        std::optional<OneBlasThread> oneThread;
        if (a.rows() < twoLaneRows) oneThread.emplace();
        cholmod_sparse m = view(a);
        cholmod_factorize(&m, factor, &common);
        return common.status == CHOLMOD_OK && factor->minor == factor->n;
    }
    const int* permutation() const override
    {
        return factor && factor->is_super ? static_cast<const int*>(factor->Perm) : nullptr;
    }
    bool factorisePermuted(const SparseMatrixD& lower) override
    {
        std::optional<OneBlasThread> oneThread;
        if (lower.rows() < twoLaneRows) oneThread.emplace();
        cholmod_sparse m = view(lower);
        m.stype = -1; // the lower triangle, already in the factor's ordering
        double beta[2] = {0.0, 0.0};
        cholmod_super_numeric(&m, nullptr, beta, factor, &common);
        return common.status == CHOLMOD_OK && factor->minor == factor->n;
    }
    /// Runs `work(lane, first, count)` over the columns: on a large network in two halves at
    /// once, the second on a thread of its own. A failure on either throws here.
    template <typename Work>
    void inLanes(Eigen::Index rows, Eigen::Index columns, Work&& work) const
    {
        const OneBlasThread oneThread;
        if (rows < twoLaneRows || columns < 2) {
            work(lanes[0], Eigen::Index{0}, columns);
            return;
        }
        const Eigen::Index half = (columns + 1) / 2;
        std::exception_ptr failed;
        std::thread second([&] {
            try {
                work(lanes[1], half, columns - half);
            } catch (...) {
                failed = std::current_exception();
            }
        });
        try {
            work(lanes[0], Eigen::Index{0}, half);
        } catch (...) {
            second.join();
            throw;
        }
        second.join();
        if (failed) std::rethrow_exception(failed);
    }
    /// The `count` columns at `x` (n rows each) put in the factor's ordering, P·x, or back, Pᵀ·x.
    void permute(Lane& lane, double* x, Eigen::Index n, Eigen::Index count, bool back) const
    {
        const auto* perm = static_cast<const int*>(factor->Perm);
        if (!perm) return;
        lane.column.resize(static_cast<std::size_t>(n));
        double* const scratch = lane.column.data();
        for (Eigen::Index j = 0; j < count; ++j) {
            double* c = x + j * n;
            std::copy_n(c, n, scratch);
            if (back)
                for (Eigen::Index k = 0; k < n; ++k) c[perm[k]] = scratch[k];
            else
                for (Eigen::Index k = 0; k < n; ++k) c[k] = scratch[perm[k]];
        }
    }
    /// L⁻¹, and with `back` then L⁻ᵀ, on the `count` columns at `x`, in place, a block at a time.
    void substitute(Lane& lane, double* x, Eigen::Index n, Eigen::Index count, bool back) const
    {
        for (Eigen::Index first = 0; first < count; first += kSolveBlock) {
            const Eigen::Index columns = std::min<Eigen::Index>(kSolveBlock, count - first);
            const auto need = static_cast<std::size_t>(columns) * factor->maxesize;
            if (lane.supernode.size() < need) lane.supernode.resize(need);
            cholmod_dense b = denseView(x + first * n, n, columns);
            cholmod_dense e = denseView(lane.supernode.data(), static_cast<Eigen::Index>(need), 1);
            if (!cholmod_super_lsolve(factor, &b, &e, &lane.common)
                || (back && !cholmod_super_ltsolve(factor, &b, &e, &lane.common)))
                throw std::bad_alloc();
        }
    }
    void solveInPlace(Eigen::MatrixXd& x) const override
    {
        const Eigen::Index n = x.rows();
        inLanes(n, x.cols(), [&](Lane& lane, Eigen::Index from, Eigen::Index columns) {
            double* first = x.col(from).data();
            permute(lane, first, n, columns, false);
            substitute(lane, first, n, columns, true);
            permute(lane, first, n, columns, true);
        });
    }
    Eigen::VectorXd forwardSquaredNorms(Eigen::MatrixXd& b) const override
    {
        const Eigen::Index n = b.rows();
        Eigen::VectorXd out(b.cols());
        inLanes(n, b.cols(), [&](Lane& lane, Eigen::Index from, Eigen::Index columns) {
            double* first = b.col(from).data();
            permute(lane, first, n, columns, false);
            substitute(lane, first, n, columns, false);
            out.segment(from, columns) = b.middleCols(from, columns).colwise().squaredNorm().transpose();
        });
        return out;
    }
    void releaseWorkspace() const override
    {
        for (Lane& lane : lanes) lane.release();
    }
    int64_t nonZeros() const override { return static_cast<int64_t>(common.lnz); }
    int64_t storedEntries() const override
    {
        return factor && factor->is_super ? static_cast<int64_t>(factor->xsize) : nonZeros();
    }
    bool finite() const override
    {
        if (!factor || !factor->x) return false;
        const auto entries = static_cast<Eigen::Index>(factor->is_super ? factor->xsize : factor->nzmax);
        return Eigen::Map<const Eigen::VectorXd>(static_cast<const double*>(factor->x), entries).allFinite();
    }
    static constexpr Eigen::Index kSolveBlock = 32;
};

std::unique_ptr<SparseNetworkSolver::Factor> makeFactor(SparseFactorisation kind, int64_t twoLaneRows)
{
    if (kind == SparseFactorisation::Cholmod) return std::make_unique<CholmodFactor>(twoLaneRows);
    return std::make_unique<EigenFactor>();
}

/// Replaces the columns of `a` by an orthonormal basis of them (as many), by Householder QR in
/// a's own memory: LAPACK's dgeqrf, then dorgqr forms the basis over the reflectors. A sketch
/// of a capsid is 130 MB; a QR beside it would take two more of that.
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

} // namespace

// ---- Construction and factorisation ------------------------------------------------------------

SparseNetworkSolver::SparseNetworkSolver(const double* xyz, int32_t n, double rcAngstrom, SparseFactorisation kind)
    : m_xyz(xyz, xyz + 3 * static_cast<std::size_t>(std::max(n, 0))), m_n(std::max(n, 0)), m_dim(3 * m_n), m_rc(rcAngstrom),
      m_kind(kind)
{
    const auto start = std::chrono::steady_clock::now();
    // One triangle alone: the factorisation reads nothing else, and the whole matrix is built
    // only when asked for.
    m_triangle = buildSparseHessian(m_xyz.data(), m_n, rcAngstrom, &m_pairs, HessianTriangle::Upper);
    m_times.hessian = secondsSince(start);

    // Translations and rotations about the centroid.
    m_rigid = Eigen::MatrixXd::Zero(m_dim, 6);
    double centre[3] = {0, 0, 0};
    for (int32_t i = 0; i < m_n; ++i)
        for (int c = 0; c < 3; ++c) centre[c] += m_xyz[3 * i + c] / m_n;
    for (int32_t i = 0; i < m_n; ++i) {
        const double p[3] = {m_xyz[3 * i] - centre[0], m_xyz[3 * i + 1] - centre[1], m_xyz[3 * i + 2] - centre[2]};
        for (int c = 0; c < 3; ++c) m_rigid(3 * i + c, c) = 1.0;
        // e_a × p for the axes a = x, y, z
        m_rigid(3 * i + 1, 3) = -p[2], m_rigid(3 * i + 2, 3) = p[1];
        m_rigid(3 * i + 0, 4) = p[2], m_rigid(3 * i + 2, 4) = -p[0];
        m_rigid(3 * i + 0, 5) = -p[1], m_rigid(3 * i + 1, 5) = p[0];
    }
    if (m_dim >= 6) orthonormaliseInPlace(m_rigid);
    m_null = m_rigid;
    double trace = 0.0;
    for (int i = 0; i < m_dim; ++i) trace += m_triangle.coeff(i, i);
    if (m_dim > 0 && trace > 0.0) m_meanDiagonal = trace / m_dim;
}

SparseNetworkSolver::~SparseNetworkSolver() = default;

const SparseMatrixD& SparseNetworkSolver::hessian() const
{
    if (m_hessian.size() == 0 && m_n > 0) m_hessian = buildSparseHessian(m_xyz.data(), m_n, m_rc);
    return m_hessian;
}

int64_t SparseNetworkSolver::factorNonZeros() const { return m_factor ? m_factor->nonZeros() : 0; }
int64_t SparseNetworkSolver::factorStoredEntries() const { return m_factor ? m_factor->storedEntries() : 0; }

EnmStatus SparseNetworkSolver::factorise()
{
    if (m_n < 3) return EnmStatus::TooFewNodes;
    takeTriangle();
    // The largest eigenvalue sets what counts as zero, as in the dense solve; it is found
    // before the factor takes its memory.
    if (m_largest == 0.0) {
        const auto start = std::chrono::steady_clock::now();
        using Product = Spectra::SparseSymMatProd<double, Eigen::Upper>;
        Product product(m_triangle);
        const int ncv = std::min(m_dim, 20);
        Spectra::SymEigsSolver<Product> eigs(product, 1, ncv);
        eigs.init();
        // It only sets the scale of what counts as zero (1e-10 of it), so a residual of 1e-4·θ,
        // which puts θ within 1e-4 (relative) of the eigenvalue and usually far closer, will do:
        // on a capsid the tight 1e-9 took a fifth of the load.
        // Spectra throws when its small eigen problem fails, as it does on a matrix that is not
        // finite (coordinates of a damaged file): that is a solve that did not converge.
        try {
            eigs.compute(Spectra::SortRule::LargestAlge, 1000, 1e-4);
        } catch (const std::exception&) {
            return EnmStatus::NotConverged;
        }
        if (eigs.info() != Spectra::CompInfo::Successful || !std::isfinite(eigs.eigenvalues()(0)))
            return EnmStatus::NotConverged;
        m_largest = eigs.eigenvalues()(0);
        m_largestSeconds = secondsSince(start);
    }
    // Pinning six coordinates holds one rigid piece: a network in several pieces is singular
    // pinned, and goes straight to the shifted factorisation.
    EnmStatus status = pieces() > 1 ? EnmStatus::NotConverged : factoriseMatrix(false);
    if (status == EnmStatus::NotConverged) status = factoriseMatrix(true);
    releaseTriangle();
    return status;
}

void SparseNetworkSolver::takeTriangle()
{
    if (m_triangle.size() != 0) return;
    m_triangle = buildSparseHessian(m_xyz.data(), m_n, m_rc, nullptr, HessianTriangle::Upper);
}

void SparseNetworkSolver::releaseTriangle()
{
    // The factor is all the solves need; a floppy network's second factorisation builds the
    // matrix again.
    // Assigning an empty matrix would keep the storage (Eigen's sparse storage never shrinks
    // on resize): swapping with one hands it back.
    SparseMatrixD().swap(m_triangle);
    malloc_trim(0);
}

int32_t SparseNetworkSolver::pieces() const
{
    // Union–find over the springs, which are the Hessian's off-diagonal blocks.
    std::vector<int32_t> parent(static_cast<std::size_t>(m_n));
    for (int32_t i = 0; i < m_n; ++i) parent[static_cast<std::size_t>(i)] = i;
    auto root = [&](int32_t i) {
        while (parent[static_cast<std::size_t>(i)] != i)
            i = parent[static_cast<std::size_t>(i)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
        return i;
    };
    int32_t count = m_n;
    for (int32_t j = 0; j < m_n; ++j)
        for (SparseMatrixD::InnerIterator it(m_triangle, 3 * j); it; ++it) {
            const int32_t a = root(static_cast<int32_t>(it.row() / 3)), b = root(j);
            if (a != b) parent[static_cast<std::size_t>(a)] = b, --count;
        }
    return count;
}

EnmStatus SparseNetworkSolver::factoriseMatrix(bool shift)
{
    m_columns.clear();
    m_factor.reset();
    malloc_trim(0);
    takeTriangle();
    // The pins or the shift: additions to the Hessian's diagonal, (row, value).
    std::vector<std::pair<int, double>> additions;
    m_sigma = 0.0;
    if (!shift) {
        // Pin six coordinates of three nodes far apart: the node farthest from the centroid,
        // the node farthest from it, and the node farthest from the line through both; of
        // their nine coordinates, the six whose rigid-body rows are best conditioned.
        auto node = [&](int32_t i) { return Eigen::Vector3d(m_xyz[3 * i], m_xyz[3 * i + 1], m_xyz[3 * i + 2]); };
        Eigen::Vector3d centre = Eigen::Vector3d::Zero();
        for (int32_t i = 0; i < m_n; ++i) centre += node(i) / m_n;
        auto farthest = [&](auto distance) {
            int32_t best = 0;
            double bestD = -1.0;
            for (int32_t i = 0; i < m_n; ++i)
                if (const double d = distance(node(i)); d > bestD) bestD = d, best = i;
            return best;
        };
        const int32_t na = farthest([&](const Eigen::Vector3d& p) { return (p - centre).norm(); });
        const int32_t nb = farthest([&](const Eigen::Vector3d& p) { return (p - node(na)).norm(); });
        const Eigen::Vector3d axis = (node(nb) - node(na)).normalized();
        const int32_t nc = farthest([&](const Eigen::Vector3d& p) {
            const Eigen::Vector3d d = p - node(na);
            return (d - axis * axis.dot(d)).norm();
        });
        const int32_t candidates[9] = {3 * na, 3 * na + 1, 3 * na + 2, 3 * nb, 3 * nb + 1,
                                       3 * nb + 2, 3 * nc, 3 * nc + 1, 3 * nc + 2};
        double bestCondition = kWorstPinCondition;
        std::array<int32_t, 6> pinned{};
        bool found = false;
        for (int mask = 0; mask < 512; ++mask) {
            if (__builtin_popcount(static_cast<unsigned>(mask)) != 6) continue;
            std::array<int32_t, 6> rows{};
            int r = 0;
            for (int b = 0; b < 9; ++b)
                if (mask & (1 << b)) rows[static_cast<std::size_t>(r++)] = candidates[b];
            std::array<int32_t, 6> sorted = rows;
            std::sort(sorted.begin(), sorted.end());
            if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
                continue; // the same coordinate twice (one node chosen twice)
            Eigen::Matrix<double, 6, 6> block;
            for (int k = 0; k < 6; ++k) block.row(k) = m_rigid.row(rows[static_cast<std::size_t>(k)]);
            const Eigen::JacobiSVD<Eigen::Matrix<double, 6, 6>> svd(block);
            const auto& s = svd.singularValues();
            const double condition = s(5) > 0.0 ? s(0) / s(5) : HUGE_VAL;
            if (condition < bestCondition) bestCondition = condition, pinned = rows, found = true;
        }
        if (!found) return EnmStatus::NotConverged;
        for (int32_t row : pinned) additions.emplace_back(row, m_meanDiagonal);
    } else {
        m_sigma = kRelativeShift * m_meanDiagonal;
        additions.reserve(static_cast<std::size_t>(m_dim));
        for (int i = 0; i < m_dim; ++i) additions.emplace_back(i, m_sigma);
    }
    try {
        m_factor = makeFactor(m_kind, m_twoLaneRows);
        auto start = std::chrono::steady_clock::now();
        if (!m_factor->analyse(m_triangle)) return EnmStatus::OutOfMemory; // the pattern of H + D: H's own
        m_times.ordering += secondsSince(start);
        start = std::chrono::steady_clock::now();
        bool ok = false;
        if (const int* perm = m_factor->permutation()) {
            // The factorisation reads the matrix in its own ordering: built in that ordering
            // straight from the nodes, in the place of H's triangle, it is the only copy of the
            // matrix beside the factor (a quarter of a GB on a capsid).
            releaseTriangle();
            const SparseMatrixD permuted = buildPermutedLowerHessian(m_xyz.data(), m_n, m_rc, perm, additions);
            ok = m_factor->factorisePermuted(permuted);
        } else {
            // On H's own triangle, and off again afterwards, bit for bit.
            std::vector<std::pair<double*, double>> before;
            for (const auto& [row, value] : additions) {
                double& entry = m_triangle.coeffRef(row, row);
                before.emplace_back(&entry, entry);
                entry += value;
            }
            ok = m_factor->factorise(m_triangle);
            for (auto& [entry, value] : before) *entry = value;
        }
        ok = ok && m_factor->finite();
        m_times.factorisation += secondsSince(start);
        if (!ok) {
            m_factor.reset();
            return EnmStatus::NotConverged;
        }
    } catch (const std::bad_alloc&) {
        m_factor.reset();
        return EnmStatus::OutOfMemory;
    }
    return EnmStatus::Ok;
}

void SparseNetworkSolver::solveInPlace(Eigen::MatrixXd& x)
{
    m_factor->solveInPlace(x);
    m_times.solves += x.cols();
}

void SparseNetworkSolver::project(const Eigen::Ref<const Eigen::MatrixXd>& basis, Eigen::MatrixXd& x)
{
    if (basis.cols() == 0 || x.cols() == 0) return;
    Eigen::MatrixXd c(basis.cols(), x.cols());
    gemm(true, 1.0, basis, x, 0.0, c);
    gemm(false, -1.0, basis, c, 1.0, x);
}

void SparseNetworkSolver::applyPseudoInverse(Eigen::MatrixXd& x)
{
    project(m_null, x);
    if (m_sigma == 0.0) {
        solveInPlace(x);
        project(m_null, x);
        return;
    }
    // (H + σI)·y = b + σ·y has the solution H·y = b; each round shrinks the error by
    // σ / (λ + σ) for the lowest non-zero λ. The lowest modes found are set to their exact
    // share vᵀb / λ each round, so the rounds only have the modes above them to settle.
    const Eigen::MatrixXd b = x;
    const Eigen::Index known = m_vectors.cols() - m_extraZero;
    Eigen::MatrixXd exactShare;
    if (known > 0 && m_vectors.rows() == m_dim) {
        exactShare = m_vectors.rightCols(known).transpose() * b;
        for (Eigen::Index j = 0; j < known; ++j) exactShare.row(j) /= m_values[static_cast<std::size_t>(m_extraZero + j)];
    }
    auto settleKnown = [&](Eigen::MatrixXd& y) {
        if (exactShare.size() == 0) return;
        const auto v = m_vectors.rightCols(known);
        y.noalias() += v * (exactShare - v.transpose() * y);
    };
    solveInPlace(x);
    project(m_null, x);
    settleKnown(x);
    double lastChange = HUGE_VAL;
    for (int round = 0; round < 100; ++round) {
        Eigen::MatrixXd next = b + m_sigma * x;
        solveInPlace(next);
        project(m_null, next);
        settleKnown(next);
        const double change = (next - x).norm(), size = next.norm();
        x.swap(next);
        // Converged, or down to rounding (the change no longer shrinks).
        if (change <= 1e-15 * size || change > 0.5 * lastChange) break;
        lastChange = change;
    }
}

// ---- Lowest modes --------------------------------------------------------------------------------

bool SparseNetworkSolver::sameGroup(double a, double b) const
{
    const double zero = ElasticNetworkModel::kZeroModeTolerance * m_largest;
    return std::fabs(a - b) <= kGroupTolerance * std::max(std::fabs(a), std::fabs(b)) + zero;
}

EnmStatus SparseNetworkSolver::computeLowestModes(int32_t k)
{
    if (!m_factor) return EnmStatus::NotReady;
    const auto start = std::chrono::steady_clock::now();
    EnmStatus status = runLanczos(k);
    if (status == EnmStatus::Ok && m_extraZero > 0 && m_sigma == 0.0) {
        // The pinned network is singular: factorise the shifted one and start again.
        status = factoriseMatrix(true);
        releaseTriangle();
        if (status == EnmStatus::Ok) status = runLanczos(k);
    }
    // Lanczos's blocks are wider than what the solves see later: their workspace goes.
    if (m_factor) m_factor->releaseWorkspace();
    m_times.lanczos = secondsSince(start) + m_largestSeconds;
    if (status == EnmStatus::Ok && m_extraZero > 0)
        ElasticNetworkModel::warnExtraZeroModes(m_extraZero, static_cast<float>(m_rc));
    return status;
}

EnmStatus SparseNetworkSolver::runLanczos(int32_t k)
{
    m_null = m_rigid;
    m_columns.clear();
    const int available = m_dim - 6;
    k = std::clamp(k, 0, std::max(available, 0));
    struct Pair {
        double value;
        Eigen::VectorXd vector;
    };
    std::vector<Pair> found;
    Eigen::MatrixXd deflated = m_rigid;
    std::size_t keep = 0;
    int lastBlock = 0;
    auto largestGroup = [&](const std::vector<Pair>& values) {
        int largest = 0;
        for (std::size_t j = 0, run = 0; j < values.size(); ++j) {
            run = j > 0 && sameGroup(values[j - 1].value, values[j].value) ? run + 1 : 1;
            largest = std::max(largest, static_cast<int>(run));
        }
        return largest;
    };
    for (int pass = 0; pass < kMaxPasses && k > 0; ++pass) {
        const int remaining = available - static_cast<int>(found.size());
        if (remaining <= 0) break;
        // The first pass asks for k modes and a few more; the later ones check that no mode
        // below the last kept group was missed (a degenerate partner Lanczos cannot see).
        int nev = pass == 0 ? k + 4 : std::max(6, k - static_cast<int>(found.size()) + 4);
        nev = std::min(nev, remaining - 1);
        if (nev < 1) break; // a tiny network: the dense solve is the tool for it
        const int block = std::min(nev, m_lanczos.block);
        Eigen::VectorXd theta;
        Eigen::MatrixXd vectors;
        const double zeroAbove = 1.0 / (m_sigma + ElasticNetworkModel::kZeroModeTolerance * std::fabs(m_largest));
        if (!largestOfInverse(deflated, nev, block, zeroAbove, theta, vectors)) return EnmStatus::NotConverged;
        ++m_times.lanczosPasses;
        lastBlock = block;
        double lowestNew = HUGE_VAL;
        std::vector<Pair> fresh;
        for (Eigen::Index j = 0; j < theta.size(); ++j) {
            if (!(theta(j) > 0.0)) continue; // a deflated direction
            const double lambda = 1.0 / theta(j) - m_sigma;
            lowestNew = std::min(lowestNew, lambda);
            fresh.push_back({lambda, vectors.col(j)});
        }
        const bool check = keep > 0 && static_cast<int>(found.size()) >= k;
        const double groupEnd = check ? found[keep - 1].value : HUGE_VAL;
        const Eigen::Index before = deflated.cols();
        deflated.conservativeResize(Eigen::NoChange, before + static_cast<Eigen::Index>(fresh.size()));
        for (std::size_t j = 0; j < fresh.size(); ++j) {
            const Eigen::Index column = before + static_cast<Eigen::Index>(j);
            Eigen::MatrixXd v = fresh[j].vector;
            project(deflated.leftCols(column), v);
            v /= v.norm();
            deflated.col(column) = v.col(0);
            found.push_back({fresh[j].value, v.col(0)});
        }
        fresh.clear();
        std::stable_sort(found.begin(), found.end(), [](const Pair& x, const Pair& y) { return x.value < y.value; });
        keep = std::min<std::size_t>(static_cast<std::size_t>(k), found.size());
        while (keep > 0 && keep < found.size() && sameGroup(found[keep - 1].value, found[keep].value)) ++keep;
        // A block of b start vectors shows every eigenvalue of multiplicity up to b whole, so when
        // every group found is smaller than the block and a mode beyond the last kept group was
        // found, no partner can be missing and no check pass is needed.
        if (!check && keep < found.size() && largestGroup(found) < lastBlock) break;
        // Done when a check found nothing at or below the last kept group.
        if (check && (before == deflated.cols() || (lowestNew > groupEnd && !sameGroup(lowestNew, groupEnd)))) break;
        if (before == deflated.cols() && pass > 0) break;
    }
    if (static_cast<int>(keep) < k) return EnmStatus::NotConverged;

    // Orthonormal within each group (and against everything before it), in ascending order.
    m_values.resize(keep);
    m_vectors.resize(m_dim, static_cast<Eigen::Index>(keep));
    for (std::size_t j = 0; j < keep; ++j) {
        m_values[j] = found[j].value;
        m_vectors.col(static_cast<Eigen::Index>(j)) = found[j].vector;
    }
    for (int round = 0; round < 2; ++round) {
        for (Eigen::Index j = 0; j < m_vectors.cols(); ++j) {
            Eigen::VectorXd v = m_vectors.col(j);
            v -= m_rigid * (m_rigid.transpose() * v);
            for (Eigen::Index i = 0; i < j; ++i) v -= m_vectors.col(i) * m_vectors.col(i).dot(v);
            m_vectors.col(j) = v / v.norm();
        }
    }
    const double zero = ElasticNetworkModel::kZeroModeTolerance * std::fabs(m_largest);
    m_extraZero = 0;
    for (double v : m_values) m_extraZero += v <= zero;
    if (m_extraZero > 0) {
        m_null.conservativeResize(Eigen::NoChange, 6 + m_extraZero);
        m_null.rightCols(m_extraZero) = m_vectors.leftCols(m_extraZero);
    }
    return EnmStatus::Ok;
}

bool SparseNetworkSolver::largestOfInverse(const Eigen::MatrixXd& deflated, int nev, int block, double zeroAbove,
                                           Eigen::VectorXd& theta, Eigen::MatrixXd& vectors)
{
    using Eigen::Index;
    const int range = m_dim - static_cast<int>(deflated.cols()); // dimension the operator acts on
    nev = std::min(nev, range - 1);
    if (nev < 1) return false;
    // The basis and the block after it must fit in the range, with room to keep nev vectors.
    block = std::clamp(block, 1, nev);
    while (block > 1 && nev + 2 * block > range) block = (block + 1) / 2;
    const int capacity = std::min(range - block, std::max(nev + 2 * block, m_lanczos.blocks * block));
    // Q holds the basis (its first `done` columns have their images folded into T) and the
    // block being extended; T is the projected operator QᵀMQ, its upper triangle from the
    // Gram–Schmidt coefficients, with the last step's R in the rows below.
    Eigen::MatrixXd q(m_dim, capacity + block);
    Eigen::MatrixXd t = Eigen::MatrixXd::Zero(capacity + block, capacity + block);
    std::mt19937_64 random(0x5eed);
    std::normal_distribution<double> normal;

    // Orthonormalises `w` (columns of Q from `first`, `width` of them) against the deflated
    // vectors and Q's first `first` columns, twice; the coefficients go to T when `coefficients`.
    auto orthogonalise = [&](Eigen::MatrixXd& w, Index first, bool coefficients, Index column) {
        for (int round = 0; round < 2; ++round) {
            project(deflated, w);
            if (first > 0) {
                Eigen::MatrixXd c(first, w.cols());
                gemm(true, 1.0, q.leftCols(first), w, 0.0, c);
                gemm(false, -1.0, q.leftCols(first), c, 1.0, w);
                if (coefficients) t.block(0, column, first, w.cols()) += c;
            }
        }
    };
    auto fillRandom = [&](Eigen::MatrixXd& w) {
        for (Index j = 0; j < w.cols(); ++j)
            for (Index i = 0; i < w.rows(); ++i) w(i, j) = normal(random);
    };
    // w = V·R with V orthonormal, V written to Q's columns from `first` (w is overwritten):
    // columns that vanish (an invariant subspace reached) are replaced by fresh random
    // directions orthogonal to everything so far. The factorisation works in w's own memory
    // and V goes straight to Q, so no block-sized copy is made on a large network.
    auto factorQR = [&](Eigen::MatrixXd& w, Index first) -> Eigen::MatrixXd {
        const double scale = std::max(w.norm(), 1e-300);
        const Index width = w.cols();
        Eigen::HouseholderQR<Eigen::Ref<Eigen::MatrixXd>> qr(w);
        Eigen::MatrixXd r = qr.matrixQR().topRows(width).triangularView<Eigen::Upper>();
        auto v = q.middleCols(first, width);
        v.setIdentity();
        qr.householderQ().applyThisOnTheLeft(v);
        for (Index j = 0; j < width; ++j) {
            if (std::fabs(r(j, j)) > 1e-10 * scale) continue;
            Eigen::MatrixXd fresh(w.rows(), 1);
            fillRandom(fresh);
            for (int round = 0; round < 2; ++round) {
                project(deflated, fresh);
                if (first > 0) fresh.noalias() -= q.leftCols(first) * (q.leftCols(first).transpose() * fresh);
                for (Index i = 0; i < width; ++i)
                    if (i != j) fresh.col(0) -= v.col(i) * v.col(i).dot(fresh.col(0));
            }
            v.col(j) = fresh.col(0) / fresh.norm();
        }
        return r;
    };
    Eigen::VectorXd ritz;
    Eigen::MatrixXd s; // eigenvectors of T, descending
    // Q·S in place in Q's first columns, a band of rows at a time (each band of the product
    // needs only its own rows).
    auto rotateBasis = [&](Index basis, Index columns) {
        for (Index first = 0; first < m_dim; first += kRestartRows) {
            const Index rows = std::min<Index>(kRestartRows, m_dim - first);
            Eigen::MatrixXd band(rows, columns);
            gemm(false, 1.0, q.block(first, 0, rows, basis), s.leftCols(columns), 0.0, band);
            q.block(first, 0, rows, columns) = band;
        }
    };

    Index done = 0, width = block;
    {
        Eigen::MatrixXd v(m_dim, width);
        fillRandom(v);
        orthogonalise(v, 0, false, 0);
        factorQR(v, 0);
    }
    for (int step = 0; step < kMaxLanczosSteps; ++step) {
        Eigen::MatrixXd w = q.middleCols(done, width);
        project(deflated, w);
        solveInPlace(w);
        m_times.operatorProducts += w.cols();
        orthogonalise(w, done + width, true, done);
        const Index basis = done + width;
        Eigen::MatrixXd r = factorQR(w, basis);
        w.resize(0, 0);
        // Rayleigh–Ritz on the basis so far; M·Q = Q·T + V·R·Eᵀ makes R times the last block
        // of a Ritz vector its residual.
        const Eigen::MatrixXd projected = t.topLeftCorner(basis, basis).selfadjointView<Eigen::Upper>();
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> small(projected);
        if (small.info() != Eigen::Success) return false;
        ritz = small.eigenvalues().reverse();
        s = small.eigenvectors().rowwise().reverse();
        Index wanted = std::min<Index>(nev, basis);
        bool converged = wanted == nev;
        const Eigen::MatrixXd residual = r * s.block(done, 0, width, wanted);
        for (Index j = 0; j < wanted && converged; ++j)
            converged = residual.col(j).norm() <= kLanczosTolerance * std::fabs(ritz(j));
        // Zero modes (θ at or above `zeroAbove`) dwarf the rest, whose residuals then cannot
        // reach the tolerance: once they have converged, they are returned alone to be deflated.
        Index zeros = 0;
        while (!converged && zeros < wanted && ritz(zeros) >= zeroAbove) ++zeros;
        if (zeros > 0 && (zeros == wanted || ritz(zeros) < 0.5 * zeroAbove)) {
            bool settled = true;
            for (Index j = 0; j < zeros && settled; ++j)
                settled = residual.col(j).norm() <= kZeroModeResidual * std::fabs(ritz(j));
            if (settled) {
                converged = true;
                wanted = zeros;
            }
        }
        if (converged) {
            theta = ritz.head(wanted);
            // The Ritz vectors take the basis's own memory.
            rotateBasis(basis, wanted);
            q.conservativeResize(Eigen::NoChange, wanted);
            vectors.resize(0, 0);
            vectors.swap(q);
            return true;
        }
        if (basis + width <= capacity) {
            done = basis;
            continue;
        }
        // Thick restart: keep the leading Ritz vectors, and the new block after them.
        const Index kept = std::min<Index>(basis - width, std::max<Index>(nev + block / 2, (basis + nev) / 2));
        const Eigen::MatrixXd coupling = r * s.block(done, 0, width, kept);
        rotateBasis(basis, kept);
        for (Index j = 0; j < width; ++j) q.col(kept + j) = q.col(basis + j); // kept + width <= basis
        t.setZero();
        t.topLeftCorner(kept, kept).diagonal() = ritz.head(kept);
        t.block(kept, 0, width, kept) = coupling;
        done = kept;
    }
    return false;
}

// ---- Σinv ------------------------------------------------------------------------------------------

Eigen::VectorXd SparseNetworkSolver::quadraticForms(Eigen::MatrixXd& b)
{
    if (m_sigma == 0.0) {
        // H⁺ = Π·A⁻¹·Π with Π off the null space, and b = Π·b: bᵀ·H⁺·b = bᵀ·A⁻¹·b.
        m_times.halfSolves += b.cols();
        return m_factor->forwardSquaredNorms(b);
    }
    Eigen::MatrixXd x = b;
    applyPseudoInverse(x);
    return (b.array() * x.array()).colwise().sum().transpose();
}

int SparseNetworkSolver::traceBlock() const
{
    return std::clamp(static_cast<int>(kTraceBlockBytes / (8.0 * std::max(m_dim, 1))), 8, kBlock);
}

TraceEstimate SparseNetworkSolver::sumInverseExact()
{
    const auto start = std::chrono::steady_clock::now();
    TraceEstimate out;
    out.exact = true;
    double sum = 0.0;
    const int block = traceBlock();
    for (int first = 0; first < m_dim; first += block) {
        const int count = std::min(block, m_dim - first);
        Eigen::MatrixXd b = Eigen::MatrixXd::Zero(m_dim, count);
        for (int j = 0; j < count; ++j) b(first + j, j) = 1.0;
        project(m_null, b);
        sum += quadraticForms(b).sum();
        out.samples += count;
    }
    out.value = sum;
    out.reachedTarget = true;
    m_times.trace += secondsSince(start);
    return out;
}

TraceEstimate SparseNetworkSolver::sumInverseEstimate(const TracePlan& plan)
{
    const auto start = std::chrono::steady_clock::now();
    TraceEstimate out;
    // The modes found carry their exact share; the estimate covers the rest. The null space
    // holds the extra zero modes, so the two sets are orthogonal and are projected off one
    // after the other, without a copy of both side by side (a capsid's is 120 MB).
    const auto nonZeroModes = m_vectors.rightCols(m_vectors.cols() - m_extraZero);
    auto deflate = [&](Eigen::MatrixXd& x) {
        project(m_null, x);
        project(nonZeroModes, x);
    };
    double known = 0.0;
    for (std::size_t j = static_cast<std::size_t>(m_extraZero); j < m_values.size(); ++j) known += 1.0 / m_values[j];

    std::mt19937_64 random(plan.seed);
    auto rademacher = [&](int columns) {
        Eigen::MatrixXd m(m_dim, columns);
        for (Eigen::Index j = 0; j < m.cols(); ++j)
            for (Eigen::Index i = 0; i < m.rows(); ++i) m(i, j) = (random() & 1u) ? 1.0 : -1.0;
        return m;
    };
    // The sketch: Q spans M·Ω for M = D·H⁺·D, D off the deflated modes; trace(Qᵀ·M·Q) exactly.
    const int cap = std::max(plan.maxSamples, 4);
    const int sketch = std::clamp(plan.sketch, 0, std::min((cap - 2) / 2, m_dim / 2));
    Eigen::MatrixXd q(m_dim, 0);
    double lowRank = 0.0;
    const int block = traceBlock();
    if (sketch > 0) {
        Eigen::MatrixXd s = rademacher(sketch);
        for (int first = 0; first < sketch; first += block) {
            Eigen::MatrixXd x = s.middleCols(first, std::min(block, sketch - first));
            deflate(x);
            applyPseudoInverse(x);
            deflate(x);
            s.middleCols(first, x.cols()) = x;
        }
        orthonormaliseInPlace(s);
        q.swap(s);
        for (int first = 0; first < sketch; first += block) {
            Eigen::MatrixXd x = q.middleCols(first, std::min(block, sketch - first));
            lowRank += quadraticForms(x).sum();
        }
    }
    // Hutchinson on (I − Q·Qᵀ)·M·(I − Q·Qᵀ), in rounds until the bound is small enough.
    std::vector<double> each;
    double mean = 0.0, bound = HUGE_VAL;
    const int available = cap - 2 * sketch;
    int next = std::max(2, std::min(plan.firstRound, available));
    while (next > 0) {
        for (int done = 0; done < next; done += block) {
            Eigen::MatrixXd g = rademacher(std::min(block, next - done));
            project(q, g);
            deflate(g);
            const Eigen::VectorXd v = quadraticForms(g);
            each.insert(each.end(), v.data(), v.data() + v.size());
        }
        const double count = static_cast<double>(each.size());
        double sum = 0.0;
        for (double v : each) sum += v;
        mean = sum / count;
        double squares = 0.0;
        for (double v : each) squares += (v - mean) * (v - mean);
        bound = 3.0 * std::sqrt(squares / (count - 1) / count);
        out.reachedTarget = bound <= plan.relativeBound * std::fabs(known + lowRank + mean);
        if (out.reachedTarget || plan.relativeBound <= 0.0) break;
        next = std::min(std::max(plan.round, 1), available - static_cast<int>(each.size()));
    }
    out.value = known + lowRank + mean;
    out.bound = bound;
    out.samples = 2 * sketch + static_cast<int>(each.size());
    m_times.trace += secondsSince(start);
    return out;
}

TraceEstimate SparseNetworkSolver::sumInverseEstimate(int samples, uint64_t seed)
{
    TracePlan plan;
    plan.sketch = std::max(1, samples / 3);
    plan.firstRound = std::max(2, samples - 2 * plan.sketch);
    plan.maxSamples = 2 * plan.sketch + plan.firstRound;
    plan.relativeBound = 0.0;
    plan.seed = seed;
    return sumInverseEstimate(plan);
}

TraceEstimate SparseNetworkSolver::sumInverse(const TracePlan& plan)
{
    TraceEstimate out = m_dim <= plan.largestExact ? sumInverseExact() : sumInverseEstimate(plan);
    if (m_factor) m_factor->releaseWorkspace();
    return out;
}

const ElasticNetworkModel::Calibration& SparseNetworkSolver::calibrate(const TraceEstimate& sumInverse,
                                                                      const std::vector<double>& bFactors, double kelvin,
                                                                      float averageHapticForce, const std::string& name)
{
    m_calibration = ElasticNetworkModel::calibrate(sumInverse.value, bFactors, kelvin, averageHapticForce, name);
    m_columns.clear();
    return m_calibration;
}

// ---- Responses -----------------------------------------------------------------------------------

const Eigen::MatrixXd& SparseNetworkSolver::responseColumns(int32_t node)
{
    if (const auto it = m_columns.find(node); it != m_columns.end()) return it->second;
    if (m_columns.size() >= kCachedNodes) m_columns.clear();
    Eigen::MatrixXd x = Eigen::MatrixXd::Zero(m_dim, 3);
    for (int c = 0; c < 3; ++c) x(3 * node + c, c) = 1.0;
    applyPseudoInverse(x);
    const double k = m_calibration.K > 0.0 ? m_calibration.K : 1.0;
    x /= k;
    return m_columns.emplace(node, std::move(x)).first->second;
}

void SparseNetworkSolver::response(const double f[3], int32_t node, double* out)
{
    const Eigen::MatrixXd& y = responseColumns(node);
    Eigen::Map<Eigen::VectorXd>(out, m_dim) = y * Eigen::Vector3d(f[0], f[1], f[2]);
}

std::array<double, 3> SparseNetworkSolver::responseDiagonal(int32_t node)
{
    const Eigen::MatrixXd& y = responseColumns(node);
    return {y(3 * node, 0), y(3 * node + 1, 1), y(3 * node + 2, 2)};
}

} // namespace vornax
