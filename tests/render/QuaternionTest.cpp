#include "GLTestContext.h"
#include "render/GLHeaders.h"
#include "render/Quaternion.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vornax;

TEST(Quaternion, DefaultIsIdentityMatrixAndTurnsMatchGL)
{
    Quaternion q;
    EXPECT_EQ(q.getW(), 1.0);
    EXPECT_EQ(q.getX(), 1.0);
    EXPECT_EQ(q.getY(), 0.0);
    EXPECT_EQ(q.getZ(), 0.0);

    // A quarter turn about z takes x onto y, as glRotate does.
    q.CreateFromAxisAngle(0.0, 0.0, 1.0, 90.0);
    const double* m = q.getMatrix();
    EXPECT_NEAR(m[0], 0.0, 1e-12);
    EXPECT_NEAR(m[1], 1.0, 1e-12);
    EXPECT_NEAR(m[4], -1.0, 1e-12);
    EXPECT_EQ(m[15], 1.0);

    gltest::GLTestContext gl(8, 8);
    VORNAX_REQUIRE_CONTEXT(gl);
    const double len = std::sqrt(0.3 * 0.3 + 0.5 * 0.5 + 0.8 * 0.8);
    const double ax = 0.3 / len, ay = -0.5 / len, az = 0.8 / len;
    Quaternion r;
    r.CreateFromAxisAngle(ax, ay, az, 37.0);
    const double* mr = r.getMatrix();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotated(37.0, ax, ay, az);
    double expected[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, expected);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(mr[i], expected[i], 1e-6) << i;
}
