#include "enm/sparse/LowestModes.h"

#include "enm/ElasticNetworkModel.h"
#include "enm/sparse/BlockAlgebra.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vornax::sparse {

namespace {

/// Two eigenvalues this close (relative) belong to one degenerate group.
constexpr double kGroupTolerance = 1e-8;
constexpr int kMaxPasses = 200;

} // namespace

LowestModeSearch::LowestModeSearch(const Eigen::MatrixXd& rigid, double sigma, double largest,
                                   const LanczosShape& shape, BlockSolve solve)
    : m_rigid(rigid), m_sigma(sigma), m_largest(largest), m_shape(shape), m_solve(std::move(solve))
{}

EnmStatus LowestModeSearch::run(int32_t k, std::vector<double>& values, Eigen::MatrixXd& vectors)
{
    const int available = static_cast<int>(m_rigid.rows()) - 6;
    k = std::clamp(k, 0, std::max(available, 0));
    m_deflated = m_rigid;
    for (int pass = 0; pass < kMaxPasses && k > 0; ++pass) {
        const int remaining = available - static_cast<int>(m_found.size());
        if (remaining <= 0) break;
        const int nev = passSize(pass, k, remaining);
        if (nev < 1) break; // a tiny network: the dense solve is the tool for it
        std::vector<Pair> fresh;
        double lowestNew = HUGE_VAL;
        if (!lanczosPass(nev, fresh, lowestNew)) return EnmStatus::NotConverged;
        const bool check = m_keep > 0 && static_cast<int>(m_found.size()) >= k;
        const double groupEnd = check ? m_found[m_keep - 1].value : HUGE_VAL;
        const Eigen::Index before = m_deflated.cols();
        addModes(fresh);
        keepWholeGroups(k);
        if (finished(pass, check, before, lowestNew, groupEnd)) break;
    }
    if (static_cast<int>(m_keep) < k) return EnmStatus::NotConverged;
    writeKept(values, vectors);
    return EnmStatus::Ok;
}

int LowestModeSearch::passSize(int pass, int k, int remaining) const
{
    const int nev = pass == 0 ? k + 4 : std::max(6, k - static_cast<int>(m_found.size()) + 4);
    return std::min(nev, remaining - 1);
}

bool LowestModeSearch::lanczosPass(int nev, std::vector<Pair>& fresh, double& lowestNew)
{
    const int block = std::min(nev, m_shape.block);
    Eigen::VectorXd theta;
    Eigen::MatrixXd vectors;
    const double zeroAbove = 1.0 / (m_sigma + ModeSet::kZeroModeTolerance * std::fabs(m_largest));
    BlockLanczos lanczos(m_deflated, m_solve, m_shape.blocks);
    const bool converged = lanczos.run(nev, block, zeroAbove, theta, vectors);
    m_products += lanczos.products();
    if (!converged) return false;
    ++m_passes;
    m_lastBlock = block;
    for (Eigen::Index j = 0; j < theta.size(); ++j) {
        if (!(theta(j) > 0.0)) continue; // a deflated direction
        const double lambda = 1.0 / theta(j) - m_sigma;
        lowestNew = std::min(lowestNew, lambda);
        fresh.push_back({lambda, vectors.col(j)});
    }
    return true;
}

void LowestModeSearch::addModes(std::vector<Pair>& fresh)
{
    const Eigen::Index before = m_deflated.cols();
    m_deflated.conservativeResize(Eigen::NoChange, before + static_cast<Eigen::Index>(fresh.size()));
    for (std::size_t j = 0; j < fresh.size(); ++j) {
        const Eigen::Index column = before + static_cast<Eigen::Index>(j);
        Eigen::MatrixXd v = fresh[j].vector;
        project(m_deflated.leftCols(column), v);
        v /= v.norm();
        m_deflated.col(column) = v.col(0);
        m_found.push_back({fresh[j].value, v.col(0)});
    }
    fresh.clear();
    std::stable_sort(m_found.begin(), m_found.end(), [](const Pair& x, const Pair& y) { return x.value < y.value; });
}

void LowestModeSearch::keepWholeGroups(int k)
{
    m_keep = std::min<std::size_t>(static_cast<std::size_t>(k), m_found.size());
    while (m_keep > 0 && m_keep < m_found.size() && sameGroup(m_found[m_keep - 1].value, m_found[m_keep].value))
        ++m_keep;
}

bool LowestModeSearch::finished(int pass, bool check, Eigen::Index before, double lowestNew, double groupEnd) const
{
    // A block of b start vectors shows every eigenvalue of multiplicity up to b whole, so when
    // every group found is smaller than the block and a mode beyond the last kept group was
    // found, no partner can be missing and no check pass is needed.
    if (!check && m_keep < m_found.size() && largestGroup() < m_lastBlock) return true;
    // Done when a check found nothing at or below the last kept group.
    if (check && (before == m_deflated.cols() || (lowestNew > groupEnd && !sameGroup(lowestNew, groupEnd))))
        return true;
    return before == m_deflated.cols() && pass > 0;
}

bool LowestModeSearch::sameGroup(double a, double b) const
{
    const double zero = ModeSet::kZeroModeTolerance * m_largest;
    return std::fabs(a - b) <= kGroupTolerance * std::max(std::fabs(a), std::fabs(b)) + zero;
}

int LowestModeSearch::largestGroup() const
{
    int largest = 0;
    for (std::size_t j = 0, run = 0; j < m_found.size(); ++j) {
        run = j > 0 && sameGroup(m_found[j - 1].value, m_found[j].value) ? run + 1 : 1;
        largest = std::max(largest, static_cast<int>(run));
    }
    return largest;
}

void LowestModeSearch::writeKept(std::vector<double>& values, Eigen::MatrixXd& vectors) const
{
    values.resize(m_keep);
    vectors.resize(m_rigid.rows(), static_cast<Eigen::Index>(m_keep));
    for (std::size_t j = 0; j < m_keep; ++j) {
        values[j] = m_found[j].value;
        vectors.col(static_cast<Eigen::Index>(j)) = m_found[j].vector;
    }
    for (int round = 0; round < 2; ++round) {
        for (Eigen::Index j = 0; j < vectors.cols(); ++j) {
            Eigen::VectorXd v = vectors.col(j);
            v -= m_rigid * (m_rigid.transpose() * v);
            for (Eigen::Index i = 0; i < j; ++i) v -= vectors.col(i) * vectors.col(i).dot(v);
            vectors.col(j) = v / v.norm();
        }
    }
}

int32_t LowestModeSearch::zeroModes(const std::vector<double>& values) const
{
    const double zero = ModeSet::kZeroModeTolerance * std::fabs(m_largest);
    int32_t count = 0;
    for (double v : values) count += v <= zero;
    return count;
}

} // namespace vornax::sparse
