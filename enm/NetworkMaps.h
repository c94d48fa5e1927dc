// Per-node answers computed from a network's modes: the square fluctuations (and their fit to
// the experimental B-factors) and the perturbation-response maps.
//
//     const ModeRows rows = modeRows(eln.modes(), eln.get3N());
//     std::vector<double> sq = squareFluctuations(rows, allModes(rows));   // Å², unit springs
//     double r = pearsonCorrelation(sq, bFactors);
//     PerturbResponse prs = perturbResponse(covarianceMatrix(rows), n);
//
// Definitions (unit spring constant, Å, the eigenvalues λ_k of the non-rigid modes v_k):
//   square fluctuation of node i:  Σ_k |v_k,i|² / λ_k over the chosen modes; zero modes count 0.
//   calibrated:  × kT/K (Å²), so that B_i = 8π²/3 · that value.
//   covariance C = Σ_k v_k v_kᵀ / λ_k over every non-rigid mode (3N × 3N).
//   response P_ij = Σ_ab C(3i+a, 3j+b)²: the mean-square response of node j to a force of
//   random direction on node i. The map is P normalised by its diagonal, row by row
//   (P_ij / P_ii, 0 where P_ii is 0); effectiveness_i is the mean of row i and sensitivity_j
//   the mean of column j, the diagonal left out of both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornax {

class ElasticNetworkModel;
class ModeSet;

/// The non-rigid modes a mode set holds: `count` rows of `dim` coordinates, lowest first, with
/// their inverse eigenvalues (0 for zero modes).
struct ModeRows {
    const double* rows = nullptr;
    std::vector<double> inverse;
    int32_t count = 0;
    int32_t dim = 0;
    bool sparse = false; ///< only the lowest modes were computed
};

/// Every computed mode on the dense path, the lowest ones on the sparse path; none when the
/// vectors are not held or the modes were not computed here (eigen data files hold no
/// eigenvalues).
ModeRows modeRows(const ModeSet& modes, int32_t dim);
/// |v_i|² of node `i` in a vector of 3N coordinates.
inline double nodePartSquared(const double* v, std::size_t i)
{
    return v[3 * i] * v[3 * i] + v[3 * i + 1] * v[3 * i + 1] + v[3 * i + 2] * v[3 * i + 2];
}

/// 0 … count − 1.
std::vector<int32_t> allModes(const ModeRows& rows);

/// The modes a loaded network holds for the view: those of modeRows, or where the modes came
/// from eigen data files the ones they kept; each with 1/(K λ_k), the calibrated inverse where
/// it is held (K = 1 where the structure is not calibrated), 0 for a zero mode.
struct HeldModes {
    ModeRows rows; ///< rows.inverse: 1/λ_k, or 1/(K λ_k) where only that is known
    std::vector<double> inverseStiffness;
};
HeldModes heldModes(const ElasticNetworkModel& network);

/// Σ_k |v_k,i|² / λ_k per node over `modes` (indices into rows, each checked by the caller).
std::vector<double> squareFluctuations(const ModeRows& rows, const std::vector<int32_t>& modes);
/// The collectivity of mode `k`: exp(−Σ_i u_i ln u_i) / N with u_i = |v_k,i|² (Brüschweiler's
/// measure): 1 when every node moves alike, 1/N when one node moves alone.
double collectivity(const ModeRows& rows, int32_t k);
/// Pearson's r of two equally long series; NaN when either has no spread or they differ in length.
double pearsonCorrelation(const std::vector<double>& a, const std::vector<double>& b);

/// Bytes a covariance matrix of `nodes` nodes takes.
uint64_t covarianceBytes(int64_t nodes);
/// C = Σ_k v_k v_kᵀ / λ_k over every row, 3N × 3N row-major (both triangles).
std::vector<double> covarianceMatrix(const ModeRows& rows);

struct PerturbResponse {
    int32_t nodes = 0;
    std::vector<double> matrix; ///< nodes × nodes row-major, normalised by the diagonal
    std::vector<double> effectiveness, sensitivity;
};
/// The perturbation-response maps of the 3N × 3N covariance `c` of `nodes` nodes (any positive
/// multiple of it gives the same maps, such as the response matrix Y).
PerturbResponse perturbResponse(const double* c, int32_t nodes);
inline PerturbResponse perturbResponse(const std::vector<double>& c, int32_t nodes)
{
    return perturbResponse(c.data(), nodes);
}

/// Most nodes whose covariance the window computes from the modes when Y is not held (beyond,
/// the response maps are refused: the product takes minutes and gigabytes).
inline constexpr int32_t kLargestCovarianceFromModes = 2000;
/// The response maps of a loaded network: from Y where it is held, else from its modes (dense
/// path, at most kLargestCovarianceFromModes nodes); nothing, with `why`, otherwise.
std::optional<PerturbResponse> networkResponse(const ElasticNetworkModel& network, std::string& why);

} // namespace vornax
