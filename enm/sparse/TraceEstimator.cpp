#include "enm/sparse/TraceEstimator.h"

#include "enm/sparse/BlockAlgebra.h"

#include <algorithm>
#include <cmath>

namespace vornax::sparse {

namespace {

constexpr int kBlock = 64; ///< right-hand sides per block solve
/// Σinv's blocks stay below this many bytes each: fewer columns on the largest networks, so that
/// they add little to the factor's memory.
constexpr double kTraceBlockBytes = 64.0 * 1024 * 1024;

} // namespace

TracePlan fixedSamplePlan(int samples, uint64_t seed)
{
    TracePlan plan;
    plan.sketch = std::max(1, samples / 3);
    plan.firstRound = std::max(2, samples - 2 * plan.sketch);
    plan.maxSamples = 2 * plan.sketch + plan.firstRound;
    plan.relativeBound = 0.0;
    plan.seed = seed;
    return plan;
}

int TraceEstimator::block() const
{
    return std::clamp(static_cast<int>(kTraceBlockBytes / (8.0 * std::max(m_h.dim, 1))), 8, kBlock);
}

TraceEstimate TraceEstimator::exact() const
{
    TraceEstimate out;
    out.exact = true;
    double sum = 0.0;
    const int block = this->block();
    for (int first = 0; first < m_h.dim; first += block) {
        const int count = std::min(block, m_h.dim - first);
        Eigen::MatrixXd b = Eigen::MatrixXd::Zero(m_h.dim, count);
        for (int j = 0; j < count; ++j) b(first + j, j) = 1.0;
        project(m_h.nullSpace, b);
        sum += m_h.quadraticForms(b).sum();
        out.samples += count;
    }
    out.value = sum;
    out.reachedTarget = true;
    return out;
}

void TraceEstimator::deflate(Eigen::MatrixXd& x) const
{
    // The modes found carry their exact share; the estimate covers the rest. The null space
    // holds the extra zero modes, so the two sets are orthogonal and are projected off one
    // after the other, without a copy of both side by side (a capsid's is 120 MB).
    project(m_h.nullSpace, x);
    project(m_h.vectors.rightCols(m_h.vectors.cols() - m_h.extraZero), x);
}

Eigen::MatrixXd TraceEstimator::rademacher(int columns)
{
    Eigen::MatrixXd m(m_h.dim, columns);
    for (Eigen::Index j = 0; j < m.cols(); ++j)
        for (Eigen::Index i = 0; i < m.rows(); ++i) m(i, j) = (m_random() & 1u) ? 1.0 : -1.0;
    return m;
}

TraceEstimate TraceEstimator::estimate(const TracePlan& plan)
{
    TraceEstimate out;
    double known = 0.0;
    for (std::size_t j = static_cast<std::size_t>(m_h.extraZero); j < m_h.values.size(); ++j)
        known += 1.0 / m_h.values[j];
    m_random.seed(plan.seed);
    const int cap = std::max(plan.maxSamples, 4);
    const int sketch = std::clamp(plan.sketch, 0, std::min((cap - 2) / 2, m_h.dim / 2));
    Eigen::MatrixXd q(m_h.dim, 0);
    const double lowRank = sketchShare(sketch, q);
    // Hutchinson on the rest, in rounds until the bound is small enough.
    std::vector<double> each;
    double mean = 0.0, bound = HUGE_VAL;
    const int available = cap - 2 * sketch;
    int next = std::max(2, std::min(plan.firstRound, available));
    while (next > 0) {
        sample(next, q, each);
        bound = meanAndBound(each, mean);
        out.reachedTarget = bound <= plan.relativeBound * std::fabs(known + lowRank + mean);
        if (out.reachedTarget || plan.relativeBound <= 0.0) break;
        next = std::min(std::max(plan.round, 1), available - static_cast<int>(each.size()));
    }
    out.value = known + lowRank + mean;
    out.bound = bound;
    out.samples = 2 * sketch + static_cast<int>(each.size());
    return out;
}

double TraceEstimator::sketchShare(int sketch, Eigen::MatrixXd& q)
{
    double lowRank = 0.0;
    if (sketch <= 0) return lowRank;
    const int block = this->block();
    Eigen::MatrixXd s = rademacher(sketch);
    for (int first = 0; first < sketch; first += block) {
        Eigen::MatrixXd x = s.middleCols(first, std::min(block, sketch - first));
        deflate(x);
        m_h.apply(x);
        deflate(x);
        s.middleCols(first, x.cols()) = x;
    }
    orthonormaliseInPlace(s);
    q.swap(s);
    for (int first = 0; first < sketch; first += block) {
        Eigen::MatrixXd x = q.middleCols(first, std::min(block, sketch - first));
        lowRank += m_h.quadraticForms(x).sum();
    }
    return lowRank;
}

void TraceEstimator::sample(int count, const Eigen::MatrixXd& q, std::vector<double>& each)
{
    const int block = this->block();
    for (int done = 0; done < count; done += block) {
        Eigen::MatrixXd g = rademacher(std::min(block, count - done));
        project(q, g);
        deflate(g);
        const Eigen::VectorXd v = m_h.quadraticForms(g);
        each.insert(each.end(), v.data(), v.data() + v.size());
    }
}

double TraceEstimator::meanAndBound(const std::vector<double>& each, double& mean)
{
    const double count = static_cast<double>(each.size());
    double sum = 0.0;
    for (double v : each) sum += v;
    mean = sum / count;
    double squares = 0.0;
    for (double v : each) squares += (v - mean) * (v - mean);
    return 3.0 * std::sqrt(squares / (count - 1) / count);
}

} // namespace vornax::sparse
