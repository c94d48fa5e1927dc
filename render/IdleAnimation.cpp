#include "render/IdleAnimation.h"

#include "render/GLHeaders.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vornax {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kBreathsPerLoop = 4;
/// Beads closer than this (unit scale) are joined by a spring.
constexpr float kSpringCutoff = 0.42f;
constexpr float kBeadRadius = 0.05f;
/// The idle scene's light is six times as strong as a plain white light: the beads' colours
/// are toned down to match, so that they are lit to their own hue instead of washing out.
constexpr float kColourScale = 1.0f / 5.0f;

} // namespace

void IdleAnimation::advance(double milliseconds)
{
    if (!std::isfinite(milliseconds) || milliseconds <= 0.0) return;
    m_elapsed = std::fmod(m_elapsed + milliseconds, kLoopMilliseconds);
}

std::vector<Vector3d> IdleAnimation::beads() const
{
    const double phase = m_elapsed / kLoopMilliseconds;
    const double turn = phase * kTwoPi;
    const double breath = std::sin(phase * kBreathsPerLoop * kTwoPi);
    const double tilt = 0.45;
    std::vector<Vector3d> out;
    out.reserve(kBeads);
    for (int i = 0; i < kBeads; ++i) {
        // A trefoil knot, its radius swelling and shrinking along the chain as a standing wave.
        const double t = kTwoPi * i / kBeads;
        double x = std::sin(t) + 2.0 * std::sin(2.0 * t);
        double y = std::cos(t) - 2.0 * std::cos(2.0 * t);
        double z = -std::sin(3.0 * t);
        const double swell = 1.0 + 0.12 * breath * std::sin(3.0 * t);
        x *= swell;
        y *= swell;
        z *= swell;
        // Turn about y, then tilt towards the viewer.
        const double xr = x * std::cos(turn) + z * std::sin(turn);
        const double zr = -x * std::sin(turn) + z * std::cos(turn);
        const double yt = y * std::cos(tilt) - zr * std::sin(tilt);
        const double zt = y * std::sin(tilt) + zr * std::cos(tilt);
        // The knot reaches about 3.4 from its centre.
        constexpr double scale = 1.0 / 3.6;
        out.emplace_back(static_cast<float>(xr * scale), static_cast<float>(yt * scale),
                         static_cast<float>(zt * scale));
    }
    return out;
}

Vector3d IdleAnimation::beadColour(int i)
{
    // Hue 240 (blue) at the first bead down to 0 (red) at the last, full saturation.
    const double hue = 240.0 * (1.0 - static_cast<double>(std::clamp(i, 0, kBeads - 1)) / (kBeads - 1));
    const double h = hue / 60.0;
    const double x = 1.0 - std::fabs(std::fmod(h, 2.0) - 1.0);
    double r = 0, g = 0, b = 0;
    if (h < 1)
        r = 1, g = x;
    else if (h < 2)
        r = x, g = 1;
    else if (h < 3)
        g = 1, b = x;
    else
        b = 1, g = x;
    constexpr double value = 200.0 / 255.0;
    return {static_cast<float>(r * value), static_cast<float>(g * value), static_cast<float>(b * value)};
}

void IdleAnimation::draw(float size) const
{
    if (!(size > 0.0f)) return;
    const std::vector<Vector3d> points = beads();

    const bool lit = glIsEnabled(GL_LIGHTING) == GL_TRUE;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT | GL_LIGHTING_BIT);
    glPushMatrix();
    const float half = size * 0.5f;
    glScalef(half, half, half);
    glEnable(GL_NORMALIZE);
    glEnable(GL_DEPTH_TEST);

    // Springs: thin grey lines, unlit.
    glDisable(GL_LIGHTING);
    glLineWidth(1.5f);
    glColor3f(0.6f, 0.6f, 0.6f);
    glBegin(GL_LINES);
    for (int i = 0; i < kBeads; ++i)
        for (int j = i + 1; j < kBeads; ++j)
            if (points[i].euclideanDistance(points[j]) < kSpringCutoff) {
                glVertex3f(points[i].x, points[i].y, points[i].z);
                glVertex3f(points[j].x, points[j].y, points[j].z);
            }
    glEnd();

    // Beads: spheres in the chain's colours, lit by the scene's lights.
    if (lit) glEnable(GL_LIGHTING);
    GLUquadric* quadric = gluNewQuadric();
    if (quadric) {
        gluQuadricNormals(quadric, GLU_SMOOTH);
        for (int i = 0; i < kBeads; ++i) {
            const Vector3d c = beadColour(i);
            glColor3f(c.x * kColourScale, c.y * kColourScale, c.z * kColourScale);
            glPushMatrix();
            glTranslatef(points[i].x, points[i].y, points[i].z);
            gluSphere(quadric, kBeadRadius, 16, 12);
            glPopMatrix();
        }
        gluDeleteQuadric(quadric);
    }
    glPopMatrix();
    glPopAttrib();
}

} // namespace vornax
