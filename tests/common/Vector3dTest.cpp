#include "common/Units.h"
#include "common/Vector3d.h"

#include <gtest/gtest.h>

#include <cmath>

using vornax::Vector3d;

TEST(Vector3dTest, ArithmeticAndCrossProduct)
{
    const Vector3d a(1, 2, 3), b(4, -5, 6);
    EXPECT_EQ(a + b, Vector3d(5, -3, 9));
    EXPECT_EQ(a - b, Vector3d(-3, 7, -3));
    EXPECT_EQ(-a, Vector3d(-1, -2, -3));
    EXPECT_EQ(a * 2.0f, Vector3d(2, 4, 6));
    EXPECT_EQ(a / 2.0f, Vector3d(0.5f, 1, 1.5f));
    // (1,2,3) × (4,−5,6) = (2·6 − 3·(−5), 3·4 − 1·6, 1·(−5) − 2·4)
    EXPECT_EQ(a * b, Vector3d(27, 6, -13));
    EXPECT_FLOAT_EQ((a * b).dotProduct(a), 0.0f);
    EXPECT_EQ(Vector3d(1, 0, 0) * Vector3d(0, 1, 0), Vector3d(0, 0, 1));
    EXPECT_FLOAT_EQ(a.dotProduct(b), 4 - 10 + 18);
    EXPECT_EQ(a[0], 1.0f);
    EXPECT_EQ(a[1], 2.0f);
    EXPECT_EQ(a[2], 3.0f);
    Vector3d c;
    c[1] = 7.0f;
    EXPECT_EQ(c, Vector3d(0, 7, 0));
    EXPECT_NE(c, Vector3d(0, 7, 0.0001f));
}

TEST(Vector3dTest, LengthsAndDistances)
{
    const Vector3d a(3, 4, 12);
    EXPECT_FLOAT_EQ(a.size(), 13.0f);
    EXPECT_FLOAT_EQ(a.sizeSqr(), 169.0f);
    EXPECT_FLOAT_EQ(a.euclideanDistance(Vector3d(3, 4, 0)), 12.0f);
    EXPECT_FLOAT_EQ(a.squaredEuclideanDistance(Vector3d(3, 4, 0)), 144.0f);
}

TEST(Vector3dTest, NormalizeLeavesZeroUnchanged)
{
    Vector3d zero;
    zero.normalize();
    EXPECT_EQ(zero, Vector3d());
    EXPECT_FALSE(std::isnan(zero.x));
    Vector3d v(0, 0, -5);
    v.normalize();
    EXPECT_EQ(v, Vector3d(0, 0, -1));
}

TEST(Vector3dTest, EqualityWithThreshold)
{
    const Vector3d a(1, 1, 1);
    EXPECT_TRUE(a.isEqual(Vector3d(1.05f, 0.96f, 1.0f), 0.1f));
    EXPECT_FALSE(a.isEqual(Vector3d(1.2f, 1, 1), 0.1f));
    EXPECT_TRUE(a.testEquality(Vector3d(1, 1, 1)));
    EXPECT_FALSE(a.testEquality(Vector3d(1, 1, 1.0000001f + 1e-6f)));
}

TEST(Vector3dTest, LimitVectorScalesOnlyLongVectors)
{
    Vector3d longOne(30, 40, 0);
    longOne.limitVector(5.0f);
    EXPECT_FLOAT_EQ(longOne.size(), 5.0f);
    EXPECT_FLOAT_EQ(longOne.x, 3.0f);
    Vector3d shortOne(1, 0, 0);
    shortOne.limitVector(5.0f);
    EXPECT_EQ(shortOne, Vector3d(1, 0, 0));
    Vector3d zero;
    zero.limitVector(0.0f);
    EXPECT_EQ(zero, Vector3d());
}

TEST(Vector3dTest, AngleBetweenVectors)
{
    EXPECT_FLOAT_EQ(Vector3d(1, 0, 0).angleBetweenVectors(Vector3d(0, 3, 0)), static_cast<float>(M_PI / 2));
    EXPECT_FLOAT_EQ(Vector3d(1, 0, 0).angleBetweenVectors(Vector3d(-2, 0, 0)), static_cast<float>(M_PI));
    EXPECT_FLOAT_EQ(Vector3d(1, 1, 0).angleBetweenVectors(Vector3d(2, 2, 0)), 0.0f);
    EXPECT_EQ(Vector3d().angleBetweenVectors(Vector3d(1, 0, 0)), 0.0f);
}

TEST(Units, AngstromAndModelUnitsRoundTripAndTheCutoffRule)
{
    namespace u = vornax::units;
    // The reader's positions, the published deformation and the chain distances all go
    // through these: ten model units to the Å, both ways, in floats and doubles.
    EXPECT_EQ(u::toModel(1.5f), 15.0f);
    EXPECT_EQ(u::toModel(-0.25), -2.5);
    EXPECT_EQ(u::toAngstrom(120.0f), 12.0f);
    EXPECT_EQ(u::toAngstrom(u::toModel(Vector3d(1, -2, 3.5f))), Vector3d(1, -2, 3.5f));
    // The smallest cutoff a load accepts: 7 Å exactly is enough, just below or NaN is not.
    struct Case {
        float rc;
        bool enough;
    };
    for (const Case& c : {Case{7.0f, true}, Case{6.999f, false}, Case{11.0f, true}, Case{std::nanf(""), false},
                          Case{-8.0f, false}})
        EXPECT_EQ(u::isCutoffLargeEnough(c.rc), c.enough) << c.rc;
}
