// Segment orientation and the level-of-detail bands: plain arithmetic, no GL context.
#include "render/Orientation.h"
#include "render/NetworkDrawing.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vornax;

namespace {

/// The matrix's first column (where x̂ goes) and whether the matrix is a proper rotation.
void expectRotationOnto(const Vector3d& direction, const Vector3d& expected)
{
    Quaternion q = orientationTowards(direction);
    const double* m = q.getMatrix();
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(std::isfinite(m[i])) << "direction " << direction;
    EXPECT_NEAR(m[0], expected.x, 1e-5) << direction;
    EXPECT_NEAR(m[1], expected.y, 1e-5) << direction;
    EXPECT_NEAR(m[2], expected.z, 1e-5) << direction;
    // Orthonormal columns with determinant +1: nothing is stretched or mirrored.
    auto col = [&](int c) { return Vector3d(float(m[4 * c]), float(m[4 * c + 1]), float(m[4 * c + 2])); };
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(col(c).size(), 1.0f, 1e-5f);
    EXPECT_NEAR(col(0).dotProduct(col(1)), 0.0f, 1e-5f);
    EXPECT_NEAR((col(0) * col(1)).dotProduct(col(2)), 1.0f, 1e-5f);
}

} // namespace

TEST(Orientation, TurnsTheXAxisOntoTheSegment)
{
    const Vector3d directions[] = {{0, 1, 0},       {0, -1, 0},       {0, 0, 1},     {0, 0, -1},
                                   {3, 4, 0},       {-3, 4, 12},      {1, -1, -1},   {-0.2f, -5, 0.1f},
                                   {38, 0.001f, 0}, {-38, 0, 0.001f}, {1, 1e-7f, 0}, {-1, 0, 1e-7f}};
    for (const Vector3d& d : directions) expectRotationOnto(d, d.normalized());
}

TEST(Orientation, ZeroAxisCasesAreProperRotations)
{
    // Along +x: no turn; along −x: half a turn; no direction or a broken one: no turn.
    expectRotationOnto(Vector3d(5, 0, 0), Vector3d(1, 0, 0));
    expectRotationOnto(Vector3d(-5, 0, 0), Vector3d(-1, 0, 0));
    expectRotationOnto(Vector3d(-0.001f, 0, 0), Vector3d(-1, 0, 0));
    expectRotationOnto(Vector3d(1e-30f, 0, 0), Vector3d(1, 0, 0));
    expectRotationOnto(Vector3d(), Vector3d(1, 0, 0));
    expectRotationOnto(Vector3d(NAN, 1, 0), Vector3d(1, 0, 0));
    expectRotationOnto(Vector3d(INFINITY, 0, 0), Vector3d(1, 0, 0));
    // Two nodes at one place.
    Quaternion q = segmentOrientation(Vector3d(7, 8, 9), Vector3d(7, 8, 9));
    EXPECT_EQ(q.getMatrix()[0], 1.0);
}

TEST(LevelOfDetail, BandsAreClosedBelowAndOpenAbove)
{
    const std::pair<float, int> cases[] = {{0.0f, 0},       {199999.98f, 0}, {200000.0f, 1}, {399999.97f, 1},
                                           {400000.0f, 2},  {600000.0f, 3},  {800000.0f, 4}, {1000000.0f, 5},
                                           {1199999.9f, 5}, {1200000.0f, 6}, {1e12f, 6},     {INFINITY, 6}};
    for (const auto& [d, level] : cases) EXPECT_EQ(NetworkDrawing::levelOfDetail(d), level) << d;
}
