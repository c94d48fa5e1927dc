#include "enm/ModeSet.h"

#include "common/Console.h"
#include "enm/sparse/SparseNetworkSolver.h"
#include "enm/sparse/TraceEstimator.h"

#include <algorithm>

namespace vornax {

namespace {
const TraceEstimate kNoTrace{};
} // namespace

ModeSet::ModeSet() = default;
ModeSet::~ModeSet() = default;

const double* ModeSet::getHessian() const
{
    fillHessian(HessianFill::Full);
    return hessian.get();
}

bool ModeSet::fillHessian(HessianFill fill, const std::function<bool()>& stop) const
{
    if (!hessian || hessianFill == HessianFill::Full || hessianFill == fill || fill == HessianFill::None) return true;
    if (!hessianRows.scatter(hessian.get(), fill == HessianFill::Upper, stop)) return false;
    hessianFill = fill;
    return true;
}

std::array<int32_t, 20> ModeSet::getModeArray() const
{
    std::array<int32_t, 20> modes{};
    for (std::size_t i = 0; i < modes.size(); ++i) modes[i] = modeArray[i].load(std::memory_order_relaxed);
    return modes;
}

const TraceEstimate& ModeSet::getSumInverseEstimate() const { return sparseTrace ? *sparseTrace : kNoTrace; }

double ModeSet::getRMSingle(int32_t mode, double kelvin) const
{
    if (mode < 0 || static_cast<std::size_t>(mode) >= inverseScaledEigenvalues.size()) return 0.0;
    const double val1 = 0.6 * kelvin;
    const double val2 = inverseScaledEigenvalues[static_cast<std::size_t>(mode)];
    console::Line() << "Val1: " << val1;
    console::Line() << "Val2: " << val2;
    return val1 * val2;
}

double ModeSet::getRTotal(double kelvin) const
{
    double sum = 0.0;
    for (double v : inverseScaledEigenvalues) sum += v;
    return 0.6 * kelvin * sum;
}

double ModeSet::getRMForTest(int32_t n, double kelvin) const
{
    double sum = 0.0;
    const auto count = std::min(static_cast<std::size_t>(std::max(n, 0)), inverseScaledEigenvalues.size());
    for (std::size_t k = 0; k < count; ++k) sum += inverseScaledEigenvalues[k];
    return 0.6 * kelvin * sum;
}

} // namespace vornax
