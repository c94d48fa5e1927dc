// CHOLMOD's supernodal LLᵀ behind the solves, called directly: the matrix is read in place, and
// the solves of a large network share their right-hand sides between two threads.
#include "enm/sparse/SparseFactor.h"

#include <cholmod.h>

#include <algorithm>
#include <array>
#include <dlfcn.h>
#include <exception>
#include <new>
#include <optional>
#include <thread>
#include <vector>

namespace vornax::sparse {

namespace {

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
struct CholmodFactor final : SparseFactor {
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

} // namespace

std::unique_ptr<SparseFactor> makeCholmodFactor(int64_t twoLaneRows)
{
    return std::make_unique<CholmodFactor>(twoLaneRows);
}

} // namespace vornax::sparse
