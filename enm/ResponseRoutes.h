// The routes a force takes to the displacement of every node: through the response matrix Y,
// through chosen modes (the first n kept, or a list), or through the sparse factorisation.
// Each gives δ = Σ_k v_k (v_kᵀ f) / λ_k over its modes, for a force f on one node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vornax {

class SparseNetworkSolver;

class ResponseRoute {
public:
    virtual ~ResponseRoute() = default;
    /// Writes the displacement (Å, 3N values) of force `f` (kcal/mol/Å) on node `node` to `out`.
    virtual void respond(const double f[3], int32_t node, double* out) = 0;
};

/// Through Y (3N × 3N, row-major, symmetric).
class ResponseThroughY final : public ResponseRoute {
public:
    ResponseThroughY(const double* y, std::size_t dim) : m_y(y), m_dim(dim) {}
    void respond(const double f[3], int32_t node, double* out) override;

private:
    const double* m_y;
    std::size_t m_dim;
};

/// Through chosen kept modes: the first `count` of them, or the listed ones (at most 20).
class ResponseThroughModes final : public ResponseRoute {
public:
    /// `modes`: `kept` rows of 3N; `inverseScaled`: 1/(λ_k·K) of each; `amplitudes`: scratch.
    ResponseThroughModes(const double* modes, int32_t kept, const std::vector<double>& inverseScaled,
                         std::size_t dim, std::vector<double>& amplitudes)
        : m_modes(modes), m_kept(kept), m_inverseScaled(inverseScaled), m_dim(dim), m_amplitudes(amplitudes)
    {
    }
    /// The first `count` kept modes.
    ResponseThroughModes& first(int32_t count);
    /// The `count` modes of `list` (zero-based kept modes; others are passed over).
    ResponseThroughModes& listed(const int32_t* list, int32_t count);
    void respond(const double f[3], int32_t node, double* out) override;

private:
    void respondFirst(const double f[3], std::size_t coordinate, double* out);
    void respondListed(const double f[3], std::size_t coordinate, double* out);

    const double* m_modes;
    int32_t m_kept;
    const std::vector<double>& m_inverseScaled;
    std::size_t m_dim;
    std::vector<double>& m_amplitudes;
    bool m_listed = false;
    const int32_t* m_list = nullptr;
    int32_t m_count = 0;
};

/// Through the pulled node's columns of the pseudo-inverse, from the sparse factorisation (one
/// thread at a time in the solver: its columns are cached).
class ResponseThroughFactorisation final : public ResponseRoute {
public:
    ResponseThroughFactorisation(SparseNetworkSolver& solver, std::mutex& mutex) : m_solver(solver), m_mutex(mutex) {}
    void respond(const double f[3], int32_t node, double* out) override;

private:
    SparseNetworkSolver& m_solver;
    std::mutex& m_mutex;
};

} // namespace vornax
