// The lowest modes of a network by passes of block Lanczos on its pseudo-inverse: each pass
// deflates the modes found before, and the passes go on until no mode at or below the last
// kept group can be missing (a degenerate partner that one pass could not see).
#pragma once

#include "enm/EnmStatus.h"
#include "enm/sparse/BlockLanczos.h"

#include <Eigen/Dense>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornax::sparse {

class LowestModeSearch {
public:
    /// `rigid`: the orthonormal rigid-body vectors (3N × 6); `solve` inverts the factorised
    /// matrix, H + σI with σ = `sigma` or the pinned network when `sigma` is 0; `largest`: the
    /// Hessian's largest eigenvalue, the scale of what counts as zero.
    LowestModeSearch(const Eigen::MatrixXd& rigid, double sigma, double largest, const LanczosShape& shape,
                     BlockSolve solve);

    /// The lowest `k` non-rigid modes, more when a degenerate group straddles mode k (the group
    /// is kept whole): eigenvalues ascending in `values`, orthonormal columns in `vectors`. Both
    /// are left as they were when the modes did not converge.
    EnmStatus run(int32_t k, std::vector<double>& values, Eigen::MatrixXd& vectors);
    /// Modes among `values` that count as zero, as the dense solve counts them.
    int32_t zeroModes(const std::vector<double>& values) const;
    /// Lanczos passes that converged.
    int passes() const { return m_passes; }
    /// Columns the operator was applied to, over every pass.
    int64_t products() const { return m_products; }

private:
    struct Pair {
        double value;
        Eigen::VectorXd vector;
    };

    /// Pairs a pass asks for: k modes and a few more first; then enough to check that no mode
    /// below the last kept group was missed.
    int passSize(int pass, int k, int remaining) const;
    /// One Lanczos run on the operator deflated of everything found: its new modes (eigenvalues
    /// of H) in `fresh`, the lowest of them in `lowestNew`. False when it did not converge.
    bool lanczosPass(int nev, std::vector<Pair>& fresh, double& lowestNew);
    /// Adds the new modes to those found (ascending) and to the deflated vectors.
    void addModes(std::vector<Pair>& fresh);
    /// Keeps the lowest k modes found, and the rest of the group the k-th one belongs to.
    void keepWholeGroups(int k);
    /// True when the pass just run leaves no mode missing. `check`: the pass looked for modes
    /// missed below `groupEnd`, the last kept group; `before`: the vectors deflated before it.
    bool finished(int pass, bool check, Eigen::Index before, double lowestNew, double groupEnd) const;
    bool sameGroup(double a, double b) const;
    int largestGroup() const;
    /// The kept modes into `values` and `vectors`, orthonormal within each group (and against
    /// everything before it), in ascending order.
    void writeKept(std::vector<double>& values, Eigen::MatrixXd& vectors) const;

    const Eigen::MatrixXd& m_rigid;
    double m_sigma;
    double m_largest;
    LanczosShape m_shape;
    BlockSolve m_solve;
    std::vector<Pair> m_found;
    Eigen::MatrixXd m_deflated;
    std::size_t m_keep = 0;
    int m_lastBlock = 0;
    int m_passes = 0;
    int64_t m_products = 0;
};

} // namespace vornax::sparse
