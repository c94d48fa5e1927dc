// The mode budget: the memory decision, the timing search and what it leaves for the
// response, and the mode selection written into the node under force.
#include "common/Progress.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vornax;
using namespace vornax::testing;

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

MachineFacts facts(uint64_t memory, int bits = 64, double trialMs = 1.0)
{
    MachineFacts f;
    f.availableMemory = [memory] { return memory; };
    f.pointerBits = bits;
    f.trialMilliseconds = [trialMs](int32_t) { return trialMs; };
    return f;
}

/// 1crn's network (46 nodes: 3N = 138, 132 non-rigid modes), not solved.
std::unique_ptr<LoadedStructure> crambin()
{
    auto s = buildNetwork(findPdb("1crn.pdb"));
    EXPECT_EQ(s->network->get3N(), 138);
    return s;
}

/// 1crn solved and calibrated, with Y held or not.
std::unique_ptr<LoadedStructure> solvedCrambin(bool withY = true)
{
    LoadOptions options = solvedOptions(11.0f, withY);
    options.lastStage = LoadStage::Y; // the tests run the budget themselves
    auto s = loadedThroughPipeline(findPdb("1crn.pdb"), options);
    EXPECT_EQ(s->network->get3N(), 138);
    return s;
}

} // namespace

TEST(MemoryDecision, ThirtyTwoBitProcessPlansForAtMostSevenTenthsOfAGibibyte)
{
    auto s = crambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    s->prompts.queueAnswer(MessageAnswer::No);
    eln.budget().setMachineFacts(facts(kGiB, 32));
    EXPECT_EQ(eln.findMaxPossibleModesOnMemory(), -3);
    EXPECT_EQ(eln.budget().getMemoryBudget(), 93952409u); // not 134217728
    EXPECT_EQ(eln.budget().getModesAllowedByMemory(), static_cast<int32_t>((93952409u - 3 * 138) / 138));

    s->prompts.queueAnswer(MessageAnswer::No);
    eln.budget().setMachineFacts(facts(kGiB / 2, 32));
    eln.findMaxPossibleModesOnMemory();
    EXPECT_EQ(eln.budget().getMemoryBudget(), kGiB / 2 / 8);

    s->prompts.queueAnswer(MessageAnswer::No);
    eln.budget().setMachineFacts(facts(kGiB, 64));
    eln.findMaxPossibleModesOnMemory();
    EXPECT_EQ(eln.budget().getMemoryBudget(), kGiB / 8);
}

TEST(MemoryDecision, HoldingYCostsItsSizeInModes)
{
    auto s = crambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    const uint64_t m = 138, ySize = (m + 3) * m + 3;
    const uint64_t budget = 3 * m + 1000 * m; // 1000 modes without Y
    eln.budget().setMachineFacts(facts(budget * 8));

    s->prompts.queueAnswer(MessageAnswer::No);
    EXPECT_EQ(eln.findMaxPossibleModesOnMemory(), -3);
    EXPECT_EQ(eln.budget().getModesAllowedByMemory(), 1000);

    s->prompts.queueAnswer(MessageAnswer::Yes);
    EXPECT_EQ(eln.findMaxPossibleModesOnMemory(), -2);
    EXPECT_EQ(eln.budget().getModesAllowedByMemory(), static_cast<int32_t>((1000 * m - ySize) / m));
    EXPECT_EQ(eln.budget().getModesAllowedByMemory(), 1000 - 142); // Ysize / M = M + 3 and a remainder

    // The question is put once per decision, in the system's words.
    const auto messages = s->prompts.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].caption, "Data Required");
    EXPECT_EQ(messages[0].text, "Preprocessed matrix is not available, \nDo you want to wait for the calculation?");
    EXPECT_EQ(messages[0].buttons, MessageButtons::YesNo);
}

TEST(MemoryDecision, NoQuestionWhenTheAnswerIsKnown)
{
    auto s = crambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    // Y cannot fit at all: modes only, without asking.
    eln.budget().setMachineFacts(facts(8 * 19000));
    EXPECT_EQ(eln.findMaxPossibleModesOnMemory(), -3);
    // Less than the per-structure vectors: no modes, and no wrap-around to a huge count.
    eln.budget().setMachineFacts(facts(100));
    EXPECT_EQ(eln.findMaxPossibleModesOnMemory(), -3);
    EXPECT_EQ(eln.budget().getModesAllowedByMemory(), 0);
    EXPECT_EQ(s->prompts.messages().size(), 0u);
}

TEST(MemoryDecision, UnansweredQuestionKeepsNoModes)
{
    auto s = crambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    eln.budget().setMachineFacts(facts(kGiB));
    s->prompts.queueAnswer(MessageAnswer::Cancel);
    eln.getMaxPossibleModes(nullptr);
    EXPECT_EQ(eln.getLoadResult(), -10);
    EXPECT_FALSE(eln.isSetup());
    EXPECT_EQ(eln.modes().getModeVectors(), nullptr);
    eln.getAtom(3)->simulateState(0);
    eln.applyNonScaleForce(Vector3d(1, 0, 0), 3);
    eln.simulate(); // does nothing, and does not crash
    for (double d : eln.deformation().getDisplacement()) EXPECT_EQ(d, 0.0);
}

TEST(TimingSearch, SettlesOnTheLastCountWithinSixtyMilliseconds)
{
    auto s = solvedCrambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    MachineFacts f = facts(kGiB);
    std::vector<int32_t> tried;
    f.trialMilliseconds = [&tried](int32_t modes) {
        tried.push_back(modes);
        return modes > 40 ? 100.0 : 10.0;
    };
    eln.budget().setMachineFacts(f);
    CountingProgress progress;
    EXPECT_EQ(eln.getMaxPossibleModes(&progress), 40);
    EXPECT_EQ(tried, (std::vector<int32_t>{132, 66, 33, 49, 41, 37, 39, 40}));
    EXPECT_EQ(progress.value(), static_cast<int>(tried.size()) + 1);
    EXPECT_EQ(eln.getTotalMaxModes(), 40);
    EXPECT_EQ(eln.getAmountSelected(), 40);
    EXPECT_EQ(eln.getModeSelectState(), 2);
    EXPECT_TRUE(eln.isSetup());

    // Exactly 60 ms is within the limit (it must not end the search without modes).
    f.trialMilliseconds = [](int32_t modes) { return modes > 50 ? 60.5 : 60.0; };
    eln.budget().setMachineFacts(f);
    EXPECT_EQ(eln.getMaxPossibleModes(nullptr), 50);
}

TEST(TimingSearch, FastMachineKeepsEveryModeAndSlowOneKeepsOne)
{
    auto s = solvedCrambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    // Memory for far more than 3N − 6 modes: capped at 132.
    eln.budget().setMachineFacts(facts(kGiB));
    EXPECT_EQ(eln.getMaxPossibleModes(nullptr), 132);
    EXPECT_EQ(eln.budget().getModesAllowedByMemory(), 132);
    EXPECT_EQ(eln.getLoadResult(), -2); // computed in this run: Y held without asking
    EXPECT_TRUE(s->prompts.messages().empty());
    // The kept modes are the computed Vᵀ itself, not a copy.
    EXPECT_EQ(eln.modes().getModeVectors(), eln.modes().getEigenvectorMatrixT());

    eln.budget().setMachineFacts(facts(kGiB, 64, 1000.0));
    EXPECT_EQ(eln.getMaxPossibleModes(nullptr), 1);
}

TEST(TimingSearch, RealTrialsOnThisMachineKeepEveryModeOfASmallNetwork)
{
    auto s = solvedCrambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    MachineFacts f;
    f.availableMemory = [] { return kGiB; };
    eln.budget().setMachineFacts(f); // real timing: 132 modes of 138 coordinates take microseconds
    EXPECT_EQ(eln.getMaxPossibleModes(nullptr), 132);
    EXPECT_TRUE(eln.isSetup());
}

TEST(TimingSearch, ZeroBudgetEndsAtOnceWithoutModes)
{
    auto s = solvedCrambin(false);
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    int trials = 0;
    MachineFacts f = facts(100);
    f.trialMilliseconds = [&trials](int32_t) { return ++trials, 1.0; };
    eln.budget().setMachineFacts(f);
    EXPECT_EQ(eln.getMaxPossibleModes(nullptr), 0);
    EXPECT_EQ(trials, 0);
    EXPECT_EQ(eln.getLoadResult(), -3);
    EXPECT_EQ(eln.modes().getYMatrix(), nullptr);
    EXPECT_FALSE(eln.isSetup());
}

TEST(TimingSearch, YComputedInThisRunCountsAsMemoryItMayUse)
{
    auto s = solvedCrambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    ASSERT_NE(eln.modes().getYMatrix(), nullptr);
    // Free memory after Y was made: enough for the vectors and the modes, not for a second Y.
    const uint64_t m = 138;
    eln.budget().setMachineFacts(facts(8 * (3 * m + 20 * m)));
    eln.getMaxPossibleModes(nullptr);
    EXPECT_EQ(eln.getLoadResult(), -2);
    EXPECT_NE(eln.modes().getYMatrix(), nullptr);
}

// ---- Mode selection ---------------------------------------------------------------------------

TEST(ModeSelection, SliderBeforeAnyPullWritesIntoNodeZero)
{
    auto s = solvedCrambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    eln.budget().setMachineFacts(facts(kGiB));
    eln.getMaxPossibleModes(nullptr);
    Atom* node0 = eln.getAtom(0);
    node0->simulateState(3);
    {
        auto token = eln.tryBeginModeChange();
        ASSERT_TRUE(token);
        eln.useAllModes(*token, false);
        eln.selectAmountOfModes(*token, 12);
        eln.selectModeState(*token, 1);
    }
    EXPECT_EQ(node0->getStateArray()[0], 1);
    EXPECT_EQ(node0->getStateArray()[1], 12);
    EXPECT_EQ(node0->getPressed(), 1);
    EXPECT_EQ(eln.getAmountSelected(), 12);
    EXPECT_EQ(eln.getModeSelectState(), 1);
    // The mode change of another network proves nothing here.
    ElasticNetworkModel other;
    eln.selectAmountOfModes(other.beginModeChange(), 3);
    EXPECT_EQ(eln.getAmountSelected(), 12);

    const int32_t ticked[] = {2, 5};
    eln.receiveNewModes(eln.beginModeChange(), ticked, 2);
    EXPECT_EQ(node0->getStateArray()[0], 0);
    EXPECT_EQ(node0->getStateArray()[1], 2);
    EXPECT_EQ(node0->getStateArray()[2], 2);
    EXPECT_EQ(node0->getStateArray()[3], 5);
}

TEST(ModeSelection, SelectAllGoesThroughYWhenHeldAndEveryKeptModeOtherwise)
{
    for (bool holdY : {true, false}) {
        SCOPED_TRACE(holdY ? "Y held" : "modes only");
        auto s = solvedCrambin(holdY);
        ScopedUserPrompts scoped(&s->prompts);
        ElasticNetworkModel& eln = *s->network;
        // Without Y: memory for 130 modes, too little for Y.
        eln.budget().setMachineFacts(holdY ? facts(kGiB) : facts(8 * (3 * 138 + 130 * 138)));
        eln.getMaxPossibleModes(nullptr);
        ASSERT_EQ(eln.getLoadResult(), holdY ? -2 : -3);
        ASSERT_EQ(eln.getTotalMaxModes(), holdY ? 132 : 130);
        {
            const ModeChangeToken token = eln.beginModeChange();
            eln.selectAmountOfModes(token, 7);
            eln.useAllModes(token, false);
            eln.receiveNewModes(token, nullptr, 0);
            eln.selectModeState(token, 2);
            eln.useAllModes(token, true);
        }
        EXPECT_EQ(eln.getAtom(0)->getStateArray()[0], 2);
        EXPECT_EQ(eln.getAmountSelected(), holdY ? 0 : 130);

        // The pull goes through Y, or through every kept mode.
        eln.getAtom(9)->simulateState(0);
        eln.applyNonScaleForce(Vector3d(0.5f, -1.0f, 0.25f), 9);
        eln.simulate();
        std::vector<double> want(138);
        const double f[3] = {0.5, -1.0, 0.25};
        eln.deformation().computeResponse(f, 9, holdY ? 2 : 1, eln.getTotalMaxModes(), nullptr, want.data());
        EXPECT_EQ(eln.deformation().getDisplacement(), want);
        EXPECT_NE(want, std::vector<double>(138, 0.0));
    }
}
