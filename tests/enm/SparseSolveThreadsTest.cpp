// The sparse solver's solves on two threads (large networks share their right-hand sides
// between two threads); also built and run with ThreadSanitizer.
#include "enm/sparse/SparseNetworkSolver.h"

#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vornax;
using namespace vornax::testing;

namespace {
double relativeError(double got, double want) { return std::fabs(got - want) / std::max(std::fabs(want), 1e-300); }
} // namespace

TEST(SparseSolveThreadsTest, TwoThreadSolvesGiveTheOneThreadResults)
{
    // The large-network path (right-hand sides shared between two threads), forced on 4hhb.
    auto s = buildNetwork(findPdb("4hhb.pdb"));
    const ElasticNetworkModel& eln = *s->network;
    auto solve = [&](int64_t twoLaneRows) {
        auto solver = std::make_unique<SparseNetworkSolver>(eln.geometry().getNodeCoordinates().data(), eln.getAmountOfAtoms(),
                                                            eln.geometry().getRcAngstrom());
        solver->setTwoLaneRows(twoLaneRows);
        EXPECT_EQ(solver->factorise(), EnmStatus::Ok);
        EXPECT_EQ(solver->computeLowestModes(20), EnmStatus::Ok);
        return solver;
    };
    const auto one = solve(SparseNetworkSolver::kTwoLaneRows), two = solve(0);
    ASSERT_EQ(one->eigenvalues().size(), two->eigenvalues().size());
    for (std::size_t j = 0; j < one->eigenvalues().size(); ++j)
        EXPECT_LT(relativeError(two->eigenvalues()[j], one->eigenvalues()[j]), 1e-12) << "mode " << j;
    EXPECT_LT((two->responseColumns(100) - one->responseColumns(100)).norm(), 1e-12 * one->responseColumns(100).norm());
    TracePlan plan;
    plan.largestExact = 0;
    EXPECT_LT(relativeError(two->sumInverse(plan).value, one->sumInverse(plan).value), 1e-12);
}
