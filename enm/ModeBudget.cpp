// The mode budget: whether the response matrix Y fits in memory, how many modes fit beside
// it, and how many one response can use within 60 ms on this machine.
#include "enm/ElasticNetworkModel.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "common/SystemInfo.h"
#include "common/UserPrompts.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace vornax {

namespace {

/// 0.7 GiB: the most a 32-bit process plans for, however much memory is free.
constexpr uint64_t k32BitMemoryLimit = 751619276;
/// Milliseconds one response may take.
constexpr double kResponseMilliseconds = 60.0;

int32_t toInt32(uint64_t v)
{
    return static_cast<int32_t>(std::min<uint64_t>(v, static_cast<uint64_t>(std::numeric_limits<int32_t>::max())));
}

/// (budget − reserved) / perMode, and 0 when the reserve alone does not fit.
int32_t modesFitting(uint64_t budget, uint64_t reserved, uint64_t perMode)
{
    if (perMode == 0 || budget <= reserved) return 0;
    return toInt32((budget - reserved) / perMode);
}

} // namespace

uint64_t ElasticNetworkModel::availableMemory() const
{
    return machineFacts.availableMemory ? machineFacts.availableMemory() : availablePhysicalMemory();
}

int ElasticNetworkModel::pointerBits() const
{
    return machineFacts.pointerBits > 0 ? machineFacts.pointerBits : static_cast<int>(8 * sizeof(void*));
}

int32_t ElasticNetworkModel::findMaxPossibleModesOnMemory()
{
    const uint64_t available = availableMemory();
    console::Line() << "detected memory: " << available;
    uint64_t budget = 0;
    if (pointerBits() == 32) {
        console::line("32 bit application detected. ");
        if (available > k32BitMemoryLimit) {
            console::line("Adjusting memory amounts...");
            budget = k32BitMemoryLimit / 8;
        } else {
            console::line("no adjustment needed");
            budget = available / 8;
        }
    } else {
        console::line("64 bit application detected...");
        budget = available / 8;
    }
    const uint64_t m = static_cast<uint64_t>(std::max(threeN, 0));
    const uint64_t ySize = (m + 3) * m + 3;
    // A Y computed in this run already holds its memory: it is not free any more, but it is
    // part of what this structure may use.
    if (yMatrix && pointerBits() != 32) budget += m * m;
    memoryBudget = budget;

    const int32_t withoutY = modesFitting(budget, 3 * m, m);
    const int32_t besideY = modesFitting(budget, 3 * m + ySize, m);
    if (ySize >= budget) {
        modesAllowedByMemory = withoutY;
        return -3;
    }
    if (yMatrixAvailable || eigenComputed) {
        modesAllowedByMemory = besideY;
        return -2;
    }
    if (readingStandardData) {
        modesAllowedByMemory = withoutY;
        return -3;
    }
    const MessageAnswer answer = userPrompts().messageBox(
        "Data Required", "Preprocessed matrix is not available, \nDo you want to wait for the calculation?",
        MessageIcon::Information, MessageButtons::YesNo);
    if (answer == MessageAnswer::Yes) {
        modesAllowedByMemory = besideY;
        return -2;
    }
    if (answer == MessageAnswer::No) {
        modesAllowedByMemory = withoutY;
        return -3;
    }
    return -10;
}

int32_t ElasticNetworkModel::runModeBudget(Progress* progress, bool instantLoad)
{
    {
        // No step may work on the modes while they are replaced.
        const ModeChangeToken token = beginModeChange();
        modesReady.store(false, std::memory_order_release);
    }
    loadResult = findMaxPossibleModesOnMemory();
    if (loadResult == -2 || loadResult == -3) {
        console::Line() << "modes allowed by memory: " << modesAllowedByMemory;
        if (modesAllowedByMemory > threeNMinusSix) modesAllowedByMemory = std::max(threeNMinusSix, 0);
        calcModesAllowed(0, modesAllowedByMemory, progress, instantLoad);
    } else {
        console::Line(console::Warning) << "No modes are kept: the question about the response matrix was not answered";
    }
    {
        const ModeChangeToken token = beginModeChange();
        modeSelectState = 2;
    }
    console::Line() << "Mode checking is complete. \ntotal modes found is: " << totalMaxModes;
    return 0;
}

int32_t ElasticNetworkModel::findMaxPossibleModes_RAM_VS_TIME(Progress* progress)
{
    return runModeBudget(progress, true);
}

int32_t ElasticNetworkModel::findMaxPossibleModes_RAM_VS_TIME_StandardFile(Progress* progress)
{
    return runModeBudget(progress, false);
}

int32_t ElasticNetworkModel::getMaxPossibleModes(Progress* progress)
{
    // The sparse path keeps every mode it has: there are few, and no Y to budget for.
    if (sparseFileModesOffset > 0 && !readSparseEigenData()) return totalMaxModes;
    if (sparseModeCount > 0) {
        setUpSparseModes();
        return totalMaxModes;
    }
    findMaxPossibleModes_RAM_VS_TIME(progress);
    return totalMaxModes;
}

int32_t ElasticNetworkModel::getMaxPossibleModesStandardFile(Progress* progress)
{
    readingStandardData = true;
    findMaxPossibleModes_RAM_VS_TIME_StandardFile(progress);
    return totalMaxModes;
}

int32_t ElasticNetworkModel::calcModesAllowed(int32_t currentMinMode, int32_t currentMaxMode, Progress* progress,
                                              bool instantLoad)
{
    const auto dim = static_cast<std::size_t>(std::max(threeN, 0));
    int32_t lo = std::max(currentMinMode, 0);
    int32_t hi = std::max(currentMaxMode, 0);
    // Trial responses of one force through `count` modes, as the simulation step computes them.
    // Their contents do not matter, only the time. The modes just computed serve as the trial
    // block where they are (a second block of their size would be a third matrix beside them
    // and Y); otherwise the block is allocated and filled once, at the size of the largest
    // trial so far, as later trials are smaller.
    DoubleBuffer block;
    std::size_t blockCount = 0;
    const double* computedModes = eigenComputed ? eigenvectorsT : nullptr;
    const std::size_t computedCount = computedModes ? static_cast<std::size_t>(std::max(threeNMinusSix, 0)) * dim : 0;
    auto trial = [&](int32_t count) -> double {
        if (machineFacts.trialMilliseconds) return machineFacts.trialMilliseconds(count);
        const auto modes = static_cast<std::size_t>(count);
        const bool inPlace = modes * dim <= computedCount;
        if (!inPlace && modes * dim > blockCount) {
            block.reset();
            blockCount = 0;
            block = allocateBulkDoubles(modes * dim);
            if (!block) return std::numeric_limits<double>::infinity(); // cannot hold: too many
            blockCount = modes * dim;
            std::fill(block.get(), block.get() + blockCount, 1e-3); // nothing reads garbage
        }
        DoubleBuffer a = allocateDoubles(modes);
        DoubleBuffer w = allocateDoubles(modes);
        if (!a || !w) return std::numeric_limits<double>::infinity();
        std::fill(w.get(), w.get() + modes, 1.0);
        std::vector<double> out(dim, 0.0), scratch(dim, 0.0);
        const double f[3] = {force[0] + 1.0, force[1], force[2]};
        const auto start = std::chrono::steady_clock::now();
        const double* t = inPlace ? computedModes : block.get();
        for (std::size_t k = 0; k < modes; ++k)
            a[k] = (t[k] * f[0] + t[modes + k] * f[1] + t[2 * modes + k] * f[2]) * w[k];
        for (std::size_t i = 0; i < dim; ++i) {
            out[i] = 0.0;
            const double* row = t + i * modes;
            double s = 0.0;
            for (std::size_t k = 0; k < modes; ++k) s += a[k] * row[k];
            scratch[i] += s;
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        // Keep the result alive so the work is not optimised away.
        volatile double sink = scratch[dim ? dim - 1 : 0] + out[0];
        (void)sink;
        return ms;
    };

    int32_t result = hi;
    const int32_t allowance = modesAllowedByMemory;
    // With nothing to search (no modes fit) the search ends at once.
    while (hi > lo && dim > 0) {
        const double ms = trial(std::min(hi, std::max(allowance, lo + 1)));
        stepProgress(progress);
        const int32_t half = (hi - lo) / 2;
        if (ms > kResponseMilliseconds) {
            if (lo + 1 == hi) break;
            hi = lo + half;
        } else {
            // Fast enough (exactly 60 ms counts as fast enough). Once the allowance itself is
            // fast enough, no larger count can be kept.
            if (lo + 1 == hi || hi >= allowance) break;
            lo = hi;
            hi = hi + half;
        }
    }
    result = hi;
    block.reset();

    // The kept modes and the selection change together, with no step running.
    const ModeChangeToken token = beginModeChange();
    zeroForces();
    totalMaxModes = amountSelected = std::max(0, std::min(result, allowance));
    console::Line() << "modes kept: " << totalMaxModes;
    const auto kept = static_cast<std::size_t>(totalMaxModes);
    modeAmplitudes.assign(kept, 0.0);
    if (instantLoad) {
        if (!readEigenDataFromOldFile(progress)) {
            totalMaxModes = amountSelected = 0;
            return 0;
        }
    } else {
        inverseScaledEigenvalues.assign(static_cast<std::size_t>(std::max(threeNMinusSix, 0)), 0.0);
        eigenvalues.assign(static_cast<std::size_t>(std::max(threeN, 0)) + 1, 0.0);
        inverseEigenvalues.assign(static_cast<std::size_t>(std::max(threeNMinusSix, 0)), 0.0);
        ownedModeVectors = allocateZeroedDoubles(kept * dim);
        if (kept > 0 && !ownedModeVectors) {
            console::Line(console::Warning) << "Not enough memory for " << kept << " modes";
            totalMaxModes = amountSelected = 0;
            return 0;
        }
        modeVectors = ownedModeVectors.get();
    }
    useAllModesFlag.store(loadResult == -2, std::memory_order_release);
    modesReady.store(totalMaxModes > 0 || yMatrix != nullptr, std::memory_order_release);
    return result;
}

} // namespace vornax
