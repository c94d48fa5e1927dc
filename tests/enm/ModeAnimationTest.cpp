// A mode played for the view, and the per-node maps, on solved 1crn.
#include "enm/ModeAnimation.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/NetworkMaps.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vornax;
using Clock = ModeAnimation::Clock;

TEST(ModeAnimation, SwingsAlongTheModeAtItsThermalAmplitudeAndKeepsItsPhaseAcrossSpeeds)
{
    auto s = vornax::testing::solvedStructure(vornax::testing::findPdb("1crn.pdb"));
    ASSERT_TRUE(s);
    const ElasticNetworkModel& eln = *s->network;
    ModeAnimation a;
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(ModeAnimation::playableModes(eln), 132);
    for (const int32_t refused : {-1, 132}) EXPECT_FALSE(a.start(eln, refused, t0)) << refused;
    EXPECT_TRUE(a.displacements(t0).empty());

    ASSERT_TRUE(a.start(eln, 4, t0));
    EXPECT_NEAR(a.thermalAmplitude(), std::sqrt(0.6 * eln.modes().getInverseScaledEigenvalues()[4]), 1e-12);
    // A quarter of a period in: the peak, each node at a·v (model units).
    const auto quarter = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(0.5));
    const std::vector<Vector3d>& d = a.displacements(t0 + quarter);
    const double* v = eln.modes().getEigenvectorMatrixT() + 4 * static_cast<std::size_t>(eln.get3N());
    for (std::size_t i = 0; i < d.size(); ++i)
        EXPECT_NEAR(d[i].y, 10.0 * a.thermalAmplitude() * v[3 * i + 1], 1e-5) << i;
    // A new speed carries the phase on; a scale beyond its range is held to it.
    a.setPeriod(8.0, t0 + quarter);
    EXPECT_NEAR(a.phaseAt(t0 + quarter), 1.0, 1e-9);
    EXPECT_NEAR(a.phaseAt(t0 + quarter + 8 * quarter), -1.0, 1e-9);
    a.setPeriod(std::numeric_limits<double>::quiet_NaN(), t0);
    EXPECT_EQ(a.period(), 8.0);
    for (const auto& [asked, kept] : {std::pair{-3.0, 0.0}, {1e9, ModeAnimation::kLargestScale}, {2.5, 2.5}}) {
        a.setScale(asked);
        EXPECT_EQ(a.scale(), kept);
    }
    a.holdAtPeak();
    EXPECT_EQ(a.phaseAt(t0 + 3 * quarter), 1.0);
    a.stop();
    EXPECT_EQ(a.mode(), -1);
}

TEST(NetworkMaps, CorrelationWithoutSpreadIsNoNumber)
{
    EXPECT_TRUE(std::isnan(pearsonCorrelation({1, 1, 1}, {1, 2, 3})));
    EXPECT_TRUE(std::isnan(pearsonCorrelation({1, 2}, {1, 2, 3})));
    EXPECT_NEAR(pearsonCorrelation({1, 2, 3}, {2, 4, 6.5}), 4.5 / std::sqrt(2.0 * 61.0 / 6.0), 1e-14);
    EXPECT_NEAR(pearsonCorrelation({1, 2, 3}, {3, 2, 1}), -1.0, 1e-15);
}

TEST(NetworkMaps, CollectivityIsOneForAllAlikeAndOneOverNForOneNode)
{
    const double together[6] = {0.5, 0, 0, 0.5, 0, 0}, far[6] = {0, 0, 0, 0, 1, 0};
    for (const auto& [v, expected] : {std::pair{together, 1.0}, {far, 0.5}}) {
        ModeRows rows;
        rows.rows = v;
        rows.count = 1;
        rows.dim = 6;
        EXPECT_NEAR(collectivity(rows, 0), expected, 1e-15);
    }
}

TEST(NetworkMaps, TheResponseMapThroughYIsThatOfTheModes)
{
    auto s = vornax::testing::solvedStructure(vornax::testing::findPdb("1crn.pdb"));
    ASSERT_TRUE(s && s->network->modes().getYMatrix());
    std::string why;
    const std::optional<PerturbResponse> throughY = networkResponse(*s->network, why);
    ASSERT_TRUE(throughY) << why;
    const PerturbResponse fromModes =
        perturbResponse(covarianceMatrix(modeRows(s->network->modes(), s->network->get3N())), 46);
    for (std::size_t i = 0; i < fromModes.matrix.size(); ++i)
        EXPECT_NEAR(throughY->matrix[i], fromModes.matrix[i], 1e-9) << i;
    for (std::size_t i = 0; i < 46; ++i) EXPECT_NEAR(throughY->effectiveness[i], fromModes.effectiveness[i], 1e-9);
}
