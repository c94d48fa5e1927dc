// The mode budget: whether the response matrix Y fits in memory, how many modes fit beside
// it, and how many one response can use within 60 ms on this machine.
#include "enm/ModeBudget.h"

#include "enm/Deformation.h"
#include "enm/ModeSet.h"
#include "enm/NetworkGeometry.h"
#include "enm/io/EigenDataFiles.h"

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

/// Trial responses of one force through a count of modes, as the simulation step computes them.
/// Their contents do not matter, only the time. The modes just computed serve as the trial block
/// where they are (a second block of their size would be a third matrix beside them and Y);
/// otherwise the block is allocated and filled once, at the size of the largest trial so far, as
/// later trials are smaller.
class TrialResponses {
public:
    TrialResponses(std::size_t dim, const double* computedModes, std::size_t computedCount, const double force[3])
        : m_dim(dim), m_computed(computedModes), m_computedCount(computedModes ? computedCount : 0),
          m_force{force[0] + 1.0, force[1], force[2]}
    {
    }

    /// Milliseconds of one response through `count` modes; infinite when they cannot be held.
    double operator()(int32_t count)
    {
        const auto modes = static_cast<std::size_t>(count);
        const double* t = modesFor(modes);
        if (!t) return std::numeric_limits<double>::infinity(); // cannot hold: too many
        DoubleBuffer a = allocateDoubles(modes);
        DoubleBuffer w = allocateDoubles(modes);
        if (!a || !w) return std::numeric_limits<double>::infinity();
        std::fill(w.get(), w.get() + modes, 1.0);
        std::vector<double> out(m_dim, 0.0), scratch(m_dim, 0.0);
        const double* f = m_force;
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t k = 0; k < modes; ++k)
            a[k] = (t[k] * f[0] + t[modes + k] * f[1] + t[2 * modes + k] * f[2]) * w[k];
        for (std::size_t i = 0; i < m_dim; ++i) {
            out[i] = 0.0;
            const double* row = t + i * modes;
            double s = 0.0;
            for (std::size_t k = 0; k < modes; ++k) s += a[k] * row[k];
            scratch[i] += s;
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        // Keep the result alive so the work is not optimised away.
        volatile double sink = scratch[m_dim ? m_dim - 1 : 0] + out[0];
        (void)sink;
        return ms;
    }

    /// Lets the trial block go (before the kept modes are allocated).
    void release() { m_block.reset(); }

private:
    const double* modesFor(std::size_t modes)
    {
        if (modes * m_dim <= m_computedCount) return m_computed;
        if (modes * m_dim > m_blockCount) {
            m_block.reset();
            m_blockCount = 0;
            m_block = allocateBulkDoubles(modes * m_dim);
            if (!m_block) return nullptr;
            m_blockCount = modes * m_dim;
            std::fill(m_block.get(), m_block.get() + m_blockCount, 1e-3); // nothing reads garbage
        }
        return m_block.get();
    }

    std::size_t m_dim;
    const double* m_computed;
    std::size_t m_computedCount;
    double m_force[3];
    DoubleBuffer m_block;
    std::size_t m_blockCount = 0;
};

} // namespace

uint64_t ModeBudget::availableMemory() const
{
    return m_facts.availableMemory ? m_facts.availableMemory() : availablePhysicalMemory();
}

int ModeBudget::pointerBits() const
{
    return m_facts.pointerBits > 0 ? m_facts.pointerBits : static_cast<int>(8 * sizeof(void*));
}

ModeBudget::Plan ModeBudget::plan(uint64_t m, bool yHeld)
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
    const uint64_t ySize = (m + 3) * m + 3;
    // A Y computed in this run already holds its memory: it is not free any more, but it is
    // part of what this structure may use.
    if (yHeld && pointerBits() != 32) budget += m * m;
    m_memoryBudget = budget;
    return Plan{modesFitting(budget, 3 * m, m), modesFitting(budget, 3 * m + ySize, m), ySize < budget};
}

int32_t ModeBudget::searchModeCount(int32_t lo, int32_t hi, int32_t allowance,
                                    const std::function<double(int32_t)>& trial, Progress* progress)
{
    lo = std::max(lo, 0);
    hi = std::max(hi, 0);
    // With nothing to search (no modes fit) the search ends at once.
    while (hi > lo) {
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
    return hi;
}

int32_t BudgetedModes::findMaxPossibleModesOnMemory()
{
    const ModeBudget::Plan plan = m_budget.plan(static_cast<uint64_t>(std::max(m_geometry.get3N(), 0)), m_modes.yMatrix != nullptr);
    const auto decide = [&](int32_t modes, int32_t result) {
        m_budget.setModesAllowedByMemory(modes);
        return result;
    };
    if (!plan.yFits) return decide(plan.withoutY, -3);
    if (m_modes.yMatrixAvailable || m_modes.eigenComputed) return decide(plan.besideY, -2);
    if (m_modes.readingStandardData) return decide(plan.withoutY, -3);
    const MessageAnswer answer = userPrompts().messageBox(
        "Data Required", "Preprocessed matrix is not available, \nDo you want to wait for the calculation?",
        MessageIcon::Information, MessageButtons::YesNo);
    if (answer == MessageAnswer::Yes) return decide(plan.besideY, -2);
    if (answer == MessageAnswer::No) return decide(plan.withoutY, -3);
    return -10;
}

int32_t BudgetedModes::runModeBudget(Progress* progress, bool instantLoad)
{
    {
        // No step may work on the modes while they are replaced.
        const ModeChangeToken token = m_deformation.beginModeChange();
        m_modes.modesReady.store(false, std::memory_order_release);
    }
    m_modes.loadResult = findMaxPossibleModesOnMemory();
    if (m_modes.loadResult == -2 || m_modes.loadResult == -3) {
        console::Line() << "modes allowed by memory: " << m_budget.getModesAllowedByMemory();
        if (m_budget.getModesAllowedByMemory() > m_geometry.get3NMinus6()) m_budget.setModesAllowedByMemory(std::max(m_geometry.get3NMinus6(), 0));
        calcModesAllowed(0, m_budget.getModesAllowedByMemory(), progress, instantLoad);
    } else {
        console::Line(console::Warning) << "No modes are kept: the question about the response matrix was not answered";
    }
    {
        const ModeChangeToken token = m_deformation.beginModeChange();
        m_modes.modeSelectState = 2;
    }
    console::Line() << "Mode checking is complete. \ntotal modes found is: " << m_modes.totalMaxModes;
    return 0;
}

int32_t BudgetedModes::findMaxPossibleModes_RAM_VS_TIME(Progress* progress)
{
    return runModeBudget(progress, true);
}

int32_t BudgetedModes::findMaxPossibleModes_RAM_VS_TIME_StandardFile(Progress* progress)
{
    return runModeBudget(progress, false);
}

int32_t BudgetedModes::getMaxPossibleModes(Progress* progress)
{
    // The sparse path keeps every mode it has: there are few, and no Y to budget for.
    if (m_modes.sparseFileModesOffset > 0 && !m_files.readSparseEigenData()) return m_modes.totalMaxModes;
    if (m_modes.sparseModeCount > 0) {
        m_modes.setUpSparseModes(m_deformation, m_budget);
        return m_modes.totalMaxModes;
    }
    findMaxPossibleModes_RAM_VS_TIME(progress);
    return m_modes.totalMaxModes;
}

int32_t BudgetedModes::getMaxPossibleModesStandardFile(Progress* progress)
{
    m_modes.readingStandardData = true;
    findMaxPossibleModes_RAM_VS_TIME_StandardFile(progress);
    return m_modes.totalMaxModes;
}

int32_t BudgetedModes::calcModesAllowed(int32_t currentMinMode, int32_t currentMaxMode, Progress* progress,
                                              bool instantLoad)
{
    const auto dim = static_cast<std::size_t>(std::max(m_geometry.get3N(), 0));
    const int32_t allowance = m_budget.getModesAllowedByMemory();
    TrialResponses trial(dim, m_modes.eigenComputed ? m_modes.eigenvectorsT : nullptr,
                         static_cast<std::size_t>(std::max(m_geometry.get3NMinus6(), 0)) * dim, m_deformation.getStepForce());
    const std::function<double(int32_t)> timed = m_budget.machineFacts().trialMilliseconds
        ? m_budget.machineFacts().trialMilliseconds
        : std::function<double(int32_t)>(std::ref(trial));
    const int32_t result =
        dim > 0 ? ModeBudget::searchModeCount(currentMinMode, currentMaxMode, allowance, timed, progress)
                : std::max(currentMaxMode, 0);
    trial.release();
    return keepBudgetedModes(result, allowance, progress, instantLoad) ? result : 0;
}

bool BudgetedModes::keepBudgetedModes(int32_t result, int32_t allowance, Progress* progress, bool instantLoad)
{
    const auto dim = static_cast<std::size_t>(std::max(m_geometry.get3N(), 0));
    // The kept modes and the selection change together, with no step running.
    const ModeChangeToken token = m_deformation.beginModeChange();
    m_deformation.zeroForces();
    m_modes.totalMaxModes = m_modes.amountSelected = std::max(0, std::min(result, allowance));
    console::Line() << "modes kept: " << m_modes.totalMaxModes;
    const auto kept = static_cast<std::size_t>(m_modes.totalMaxModes);
    m_modes.modeAmplitudes.assign(kept, 0.0);
    if (instantLoad) {
        if (!m_files.readEigenDataFromOldFile(progress)) {
            m_modes.totalMaxModes = m_modes.amountSelected = 0;
            return false;
        }
    } else {
        m_modes.inverseScaledEigenvalues.assign(static_cast<std::size_t>(std::max(m_geometry.get3NMinus6(), 0)), 0.0);
        m_modes.eigenvalues.assign(static_cast<std::size_t>(std::max(m_geometry.get3N(), 0)) + 1, 0.0);
        m_modes.inverseEigenvalues.assign(static_cast<std::size_t>(std::max(m_geometry.get3NMinus6(), 0)), 0.0);
        m_modes.ownedModeVectors = allocateZeroedDoubles(kept * dim);
        if (kept > 0 && !m_modes.ownedModeVectors) {
            console::Line(console::Warning) << "Not enough memory for " << kept << " modes";
            m_modes.totalMaxModes = m_modes.amountSelected = 0;
            return false;
        }
        m_modes.modeVectors = m_modes.ownedModeVectors.get();
    }
    m_modes.useAllModesFlag.store(m_modes.loadResult == -2, std::memory_order_release);
    m_modes.modesReady.store(m_modes.totalMaxModes > 0 || m_modes.yMatrix != nullptr, std::memory_order_release);
    return true;
}

} // namespace vornax
