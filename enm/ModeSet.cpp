#include "enm/ModeSet.h"

#include "enm/sparse/SparseNetworkSolver.h"
#include "enm/sparse/TraceEstimator.h"

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

} // namespace vornax
