#include "molecule/SuperAtom.h"

#include "common/AxisAngle.h"
#include "molecule/Atom.h"

#include <algorithm>
#include <cmath>

namespace vornax {

std::atomic<float> SuperAtom::hapticRadius{15.2f};
std::atomic<float> SuperAtom::origHapticRadius{15.2f};
std::atomic<float> SuperAtom::defaultHapticRadius{15.2f};

namespace {
constexpr double kPi = 3.14159265358979323846;
}

void SuperAtom::incMyLocalPosition(float dx, float dy, float dz) { localPosition += Vector3d(dx, dy, dz); }

void SuperAtom::setSelected(bool b)
{
    selected.store(b, std::memory_order_release);
    if (!b) {
        applyingForce.store(Vector3d());
        savedForce.store(Vector3d());
    }
}

bool SuperAtom::hasForceApplied() const { return savedForce.load() != Vector3d(); }

bool SuperAtom::hasForce() const { return savedForce.load() != Vector3d() && applyingForce.load() != Vector3d(); }

void SuperAtom::setOldKcalForce(double x, double y, double z)
{
    oldKcalForce.store(Vector3d(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)));
}

void SuperAtom::setEQForce(double currentScale, double maxForce)
{
    const double magnitude = applyingForce.load().size();
    eqForce.store(static_cast<float>(magnitude / currentScale / maxForce), std::memory_order_relaxed);
}

void SuperAtom::setArrayOfValues(const ModeChangeToken& /*token*/, const int32_t* newValues, int32_t howMany)
{
    const int32_t n = std::clamp(howMany, 0, 20);
    modeStateArray[1].store(howMany, std::memory_order_relaxed);
    for (int32_t i = 0; i < n; ++i)
        modeStateArray[static_cast<std::size_t>(2 + i)].store(newValues[i], std::memory_order_relaxed);
}

void SuperAtom::setStatePosition(const ModeChangeToken& /*token*/, int i, int32_t val)
{
    if (i >= 0 && i < static_cast<int>(modeStateArray.size()))
        modeStateArray[static_cast<std::size_t>(i)].store(val, std::memory_order_relaxed);
}

int32_t SuperAtom::getStatePosition(int i) const
{
    if (i < 0 || i >= static_cast<int>(modeStateArray.size())) return 0;
    return modeStateArray[static_cast<std::size_t>(i)].load(std::memory_order_relaxed);
}

ModeStateArray SuperAtom::getStateArray() const
{
    ModeStateArray state{};
    for (std::size_t i = 0; i < state.size(); ++i) state[i] = modeStateArray[i].load(std::memory_order_relaxed);
    return state;
}

void SuperAtom::setIndicesToGrid(const int32_t* inds, int32_t size)
{
    const int32_t n = std::clamp(size, 0, static_cast<int32_t>(gridIndices.size()));
    std::copy(inds, inds + n, gridIndices.begin());
    gridIndexCount = n;
}

void SuperAtom::createConnectedListPtr()
{
    connectedData = connectedAtoms.data();
    connectedCount = static_cast<int32_t>(connectedAtoms.size());
}

bool SuperAtom::pointToSphereDeformed(const Vector3d& p) const { return pointToSphereAt(p, deformedPosition.load()); }

bool SuperAtom::pointToSphereAt(const Vector3d& p, const Vector3d& centre) const
{
    const double r = 6.0 * getCamZoom() + radius;
    const double dx = static_cast<double>(p.x) - centre.x;
    const double dy = static_cast<double>(p.y) - centre.y;
    const double dz = static_cast<double>(p.z) - centre.z;
    return dx * dx + dy * dy + dz * dz < r * r;
}

Vector3d SuperAtom::constrainPointToSphereDeformed(const Vector3d& p) const
{
    const float bigR = 12.0f * getCamZoom();
    const Vector3d centre = deformedPosition.load();
    const Vector3d toCentre = centre - p;
    const float d = toCentre.size();
    if (d >= bigR) return p;
    if (d == 0.0f) {
        // At the centre there is no direction to push along: use the x axis.
        return centre + Vector3d(bigR, 0.0f, 0.0f);
    }
    return p + toCentre * ((d - bigR) / d);
}

ForceArrowGeometry SuperAtom::computeForceArrow() const
{
    ForceArrowGeometry g;
    if (applyingForce.load() == Vector3d()) return g;
    const Vector3d kcal = kcalForce.load();
    const Vector3d position = deformedPosition.load();
    const float zoom = getCamZoom();
    g.visible = true;

    const Vector3d d = (-kcal).normalized();
    const AxisAngle turn = turnFromXAxis(d);
    g.direction = d;
    g.axis = Vector3d(static_cast<float>(turn.x), static_cast<float>(turn.y), static_cast<float>(turn.z));
    g.angleDegrees = static_cast<float>(turn.degrees);

    const float magnitude = kcal.size();
    forceMagnitude.store(magnitude, std::memory_order_relaxed);

    g.colour = refreshArrowColour();

    const bool renderMode = forceRenderMode.load(std::memory_order_relaxed);
    const bool reversed = renderMode || magnitude <= 0.0f;
    if (renderMode)
        g.start = position + d * (radius + 2.0f);
    else if (magnitude > 0.0f)
        g.start = position - d * (radius + magnitude);
    else
        g.start = position + d * (radius + 2.0f);
    g.shaftYRotation = reversed ? -90.0f : 90.0f;
    g.shaftScale = Vector3d(zoom, zoom, magnitude);
    g.headYRotation = -90.0f;
    g.headScale = Vector3d(zoom, zoom, 2.0f * zoom);
    return g;
}

Vector3d SuperAtom::refreshArrowColour() const
{
    const float eq = getEQForce();
    // A force beyond the maximum stays red; a NaN stays blue.
    int hue = eq >= 0.0f ? static_cast<int>((1.0f - std::min(eq, 1.0f)) * 240.0f) : 240;
    hue = std::clamp(hue, 0, 240);
    int r = 0, gr = 0, b = 0;
    HSVtoRGB(r, gr, b, hue, 255, 200);
    const Vector3d c(r / 255.0f, gr / 255.0f, b / 255.0f);
    currentArrowColour.store(c);
    return c;
}

void SuperAtom::setAllHapticRadii(float r)
{
    hapticRadius.store(r, std::memory_order_relaxed);
    origHapticRadius.store(r, std::memory_order_relaxed);
    defaultHapticRadius.store(r, std::memory_order_relaxed);
}

void HSVtoRGB(int& r, int& g, int& b, int h, int s, int v)
{
    if (s == 0) {
        r = g = b = v;
        return;
    }
    const int i = h / 60;
    const int f = (h - 60 * i) * 255 / 60;
    const int p = (256 - s) * v / 256;
    const int q = (256 - f * s / 256) * v / 256;
    const int t = (256 - (256 - f) * s / 256) * v / 256;
    switch (i) {
    case 0:
        r = v;
        g = t;
        b = p;
        break;
    case 1:
        r = q;
        g = v;
        b = p;
        break;
    case 2:
        r = p;
        g = v;
        b = t;
        break;
    case 3:
        r = p;
        g = q;
        b = v;
        break;
    case 4:
        r = t;
        g = p;
        b = v;
        break;
    default:
        r = v;
        g = p;
        b = q;
        break;
    }
}

SphereMesh makeSphereStrip(float cx, float cy, float cz, float r, int p)
{
    SphereMesh mesh;
    if (p <= 0) return mesh;
    const int bands = p / 2;
    const std::size_t count = static_cast<std::size_t>(2) * (p + 1) * bands;
    mesh.vertices.reserve(3 * count);
    mesh.normals.reserve(3 * count);
    mesh.indices.reserve(count);
    auto emit = [&](double theta, double theta3) {
        const double ex = std::cos(theta) * std::cos(theta3);
        const double ey = std::sin(theta);
        const double ez = std::cos(theta) * std::sin(theta3);
        mesh.normals.insert(mesh.normals.end(),
                            {static_cast<float>(ex), static_cast<float>(ey), static_cast<float>(ez)});
        mesh.vertices.insert(
            mesh.vertices.end(),
            {static_cast<float>(cx + r * ex), static_cast<float>(cy + r * ey), static_cast<float>(cz + r * ez)});
        mesh.indices.push_back(static_cast<std::uint32_t>(mesh.indices.size()));
    };
    for (int j = 0; j < bands; ++j) {
        const double theta1 = j * 2.0 * kPi / p - kPi / 2.0;
        const double theta2 = (j + 1) * 2.0 * kPi / p - kPi / 2.0;
        for (int i = 0; i <= p; ++i) {
            const double theta3 = i * 2.0 * kPi / p;
            emit(theta1, theta3);
            emit(theta2, theta3);
        }
    }
    return mesh;
}

} // namespace vornax
