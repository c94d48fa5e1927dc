#include "enm/sparse/PinnedCoordinates.h"

#include <algorithm>
#include <cmath>

namespace vornax::sparse {

namespace {

/// Pinned coordinates whose rigid-body rows are worse conditioned than this are not used.
constexpr double kWorstPinCondition = 1e8;

/// The node farthest from the centroid, the node farthest from it, and the node farthest from
/// the line through both.
std::array<int32_t, 3> farApartNodes(const std::vector<double>& xyz, int32_t n)
{
    auto node = [&](int32_t i) { return Eigen::Vector3d(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]); };
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    for (int32_t i = 0; i < n; ++i) centre += node(i) / n;
    auto farthest = [&](auto distance) {
        int32_t best = 0;
        double bestD = -1.0;
        for (int32_t i = 0; i < n; ++i)
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
    return {na, nb, nc};
}

} // namespace

std::optional<std::array<int32_t, 6>> choosePinnedRows(const std::vector<double>& xyz, int32_t n,
                                                       const Eigen::MatrixXd& rigid)
{
    const auto [na, nb, nc] = farApartNodes(xyz, n);
    const int32_t candidates[9] = {3 * na, 3 * na + 1, 3 * na + 2, 3 * nb, 3 * nb + 1,
                                   3 * nb + 2, 3 * nc, 3 * nc + 1, 3 * nc + 2};
    double bestCondition = kWorstPinCondition;
    std::optional<std::array<int32_t, 6>> pinned;
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
        for (int k = 0; k < 6; ++k) block.row(k) = rigid.row(rows[static_cast<std::size_t>(k)]);
        const Eigen::JacobiSVD<Eigen::Matrix<double, 6, 6>> svd(block);
        const auto& s = svd.singularValues();
        const double condition = s(5) > 0.0 ? s(0) / s(5) : HUGE_VAL;
        if (condition < bestCondition) bestCondition = condition, pinned = rows;
    }
    return pinned;
}

} // namespace vornax::sparse
