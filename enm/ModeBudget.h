// The mode budget over the machine's facts: how many doubles a structure may hold, how many
// modes fit beside the response matrix Y or without it, and how many one response can use within
// 60 ms, found by timing trial responses in a bisection.
#pragma once

#include <cstdint>
#include <functional>

namespace vornax {

class Deformation;
class EigenDataFiles;
class ModeSet;
class NetworkGeometry;
class Progress;

/// What the mode budget asks of the machine. Every member left empty (or zero) is taken from
/// the running system; tests set them to plan for other machines.
struct MachineFacts {
    std::function<uint64_t()> availableMemory; ///< bytes of physical memory free for new allocations
    int pointerBits = 0;                       ///< 32 or 64; 0 for this process's own width
    /// Milliseconds one response through `modes` modes takes; empty to time real trials.
    std::function<double(int32_t modes)> trialMilliseconds;
};

class ModeBudget {
public:
    /// Milliseconds one response may take.
    static constexpr double kResponseMilliseconds = 60.0;

    void setMachineFacts(MachineFacts facts) { m_facts = std::move(facts); }
    const MachineFacts& machineFacts() const { return m_facts; }
    /// Bytes of physical memory free, as the budget sees it.
    uint64_t availableMemory() const;
    int pointerBits() const;

    /// How many modes of `m` (= 3N) coordinates fit, with and without Y.
    struct Plan {
        int32_t withoutY = 0; ///< beside the per-structure vectors alone
        int32_t besideY = 0;  ///< beside those and Y
        bool yFits = false;   ///< Y itself fits the budget
    };
    /// Fixes the memory budget B (in doubles) for `m` coordinates, counting a Y of this process
    /// (`yHeld`) as the structure's own, and what fits in it.
    Plan plan(uint64_t m, bool yHeld);

    /// The timing search between `lo` and `hi` modes, never above `allowance`: the count it
    /// settles on. `trial` gives the milliseconds of one response through a count of modes.
    static int32_t searchModeCount(int32_t lo, int32_t hi, int32_t allowance,
                                   const std::function<double(int32_t)>& trial, Progress* progress);

    int32_t getModesAllowedByMemory() const { return m_modesAllowedByMemory; }
    void setModesAllowedByMemory(int32_t modes) { m_modesAllowedByMemory = modes; }
    /// The memory budget B of the last decision, in doubles.
    uint64_t getMemoryBudget() const { return m_memoryBudget; }
    /// The decision of `other` (the same structure, budgeted apart) as this budget's own.
    void takeDecision(const ModeBudget& other)
    {
        m_memoryBudget = other.m_memoryBudget;
        m_modesAllowedByMemory = other.m_modesAllowedByMemory;
    }

private:
    MachineFacts m_facts;
    uint64_t m_memoryBudget = 0;
    int32_t m_modesAllowedByMemory = 0;
};

/// The budget run on one network's modes: how many modes it keeps (memory, then time) and the
/// kept-mode arrays filled for them, from the modes computed in this run, from a main eigen data
/// file, or blank for eigen data given as text.
class BudgetedModes {
public:
    BudgetedModes(NetworkGeometry& geometry, ModeSet& modes, Deformation& deformation, ModeBudget& budget,
                  EigenDataFiles& files)
        : m_geometry(geometry), m_modes(modes), m_deformation(deformation), m_budget(budget), m_files(files)
    {
    }
    BudgetedModes(const BudgetedModes&) = delete;
    BudgetedModes& operator=(const BudgetedModes&) = delete;

    /// Runs the budget on eigen data computed in this run or read from a main eigen data file;
    /// returns totalMaxModes.
    int32_t getMaxPossibleModes(Progress* progress);
    /// The same for plain-text eigen data: arrays are made ready for insertEigenValue/Vector.
    int32_t getMaxPossibleModesStandardFile(Progress* progress);
    int32_t findMaxPossibleModes_RAM_VS_TIME(Progress* progress);
    int32_t findMaxPossibleModes_RAM_VS_TIME_StandardFile(Progress* progress);
    /// The memory decision: -2 hold Y, -3 modes only, -10 the question was not answered.
    int32_t findMaxPossibleModesOnMemory();
    /// The timing search between `currentMinMode` and `currentMaxMode` modes, then the mode
    /// arrays; returns the mode count it settled on (0 when it could not finish).
    int32_t calcModesAllowed(int32_t currentMinMode, int32_t currentMaxMode, Progress* progress, bool instantLoad);

private:
    /// Shared by the two budget drivers.
    int32_t runModeBudget(Progress* progress, bool instantLoad);
    /// The search's result kept: the mode arrays, filled from the main eigen data file when
    /// `instantLoad`, and the selection. False when they could not be had (no modes kept).
    bool keepBudgetedModes(int32_t result, int32_t allowance, Progress* progress, bool instantLoad);

    NetworkGeometry& m_geometry;
    ModeSet& m_modes;
    Deformation& m_deformation;
    ModeBudget& m_budget;
    EigenDataFiles& m_files;
};

} // namespace vornax
