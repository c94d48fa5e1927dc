#include "MouseStylus.h"

#include "enm/ElasticNetworkModel.h"
#include "haptics/Haptics.h"
#include "haptics/Workbench.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"
#include "render/COpenGL.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace vornax {

using hdapi::VirtualDevice;

namespace {

using Vec = std::array<double, 3>;
using Mat = std::array<double, 16>; // column-major

Vec toVec(const Vector3d& v) { return {v.x, v.y, v.z}; }
Vector3d toVector(const Vec& v)
{
    return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}
Vec add(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec scale(const Vec& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
double dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
bool finite(const Vec& a) { return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]); }

Mat multiply(const Mat& a, const Mat& b)
{
    Mat r{};
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[c * 4 + k];
            r[c * 4 + row] = s;
        }
    return r;
}

/// Inverse by Gauss-Jordan elimination with partial pivoting; none when singular.
std::optional<Mat> invert(const Mat& m)
{
    double a[4][8];
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 4; ++c) {
            a[row][c] = m[c * 4 + row];
            a[row][c + 4] = row == c ? 1.0 : 0.0;
        }
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int row = c + 1; row < 4; ++row)
            if (std::fabs(a[row][c]) > std::fabs(a[pivot][c])) pivot = row;
        if (!(std::fabs(a[pivot][c]) > 1e-300)) return std::nullopt;
        if (pivot != c)
            for (int k = 0; k < 8; ++k) std::swap(a[c][k], a[pivot][k]);
        const double p = a[c][c];
        for (int k = 0; k < 8; ++k) a[c][k] /= p;
        for (int row = 0; row < 4; ++row) {
            if (row == c) continue;
            const double f = a[row][c];
            if (f == 0.0) continue;
            for (int k = 0; k < 8; ++k) a[row][k] -= f * a[c][k];
        }
    }
    Mat r{};
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 4; ++c) r[c * 4 + row] = a[row][c + 4];
    return r;
}

std::array<double, 4> apply(const Mat& m, const std::array<double, 4>& v)
{
    std::array<double, 4> r{};
    for (int row = 0; row < 4; ++row)
        r[row] = m[row] * v[0] + m[4 + row] * v[1] + m[8 + row] * v[2] + m[12 + row] * v[3];
    return r;
}

bool usable(const ViewTransforms& t) { return t.viewport[2] > 0 && t.viewport[3] > 0; }


/// Keeps the tip at least this far in front of the eye (mm) when the wheel pulls it closer.
constexpr double kNearestTip = 2.0 * 2.7474774;

} // namespace

void MouseStylus::attach(COpenGL& view)
{
    attach([&view] { return view.frameTransforms(); }, [&view] { return view.workbench().device(); });
}

void MouseStylus::attach(std::function<ViewTransforms()> matrices, std::function<Haptics*()> device)
{
    m_matrices = std::move(matrices);
    m_device = std::move(device);
    m_anchored = false;
    m_offset = {};
    m_buttons = 0;
    m_grabbed = -1;
    m_leftDown = false;
    m_pending = false;
}

void MouseStylus::detach()
{
    if (isActive() && m_buttons != 0) {
        m_buttons = 0;
        send();
    }
    m_matrices = nullptr;
    m_device = nullptr;
    m_buttons = 0;
    m_grabbed = -1;
    m_leftDown = false;
    m_pending = false;
}

Haptics* MouseStylus::device() const { return m_device ? m_device() : nullptr; }

bool MouseStylus::isActive() const
{
    if (!m_matrices || !device()) return false;
    if (hdapi::activeBackend() != hdapi::Backend::Virtual || !VirtualDevice::instance().isOpen()) return false;
    return usable(m_matrices());
}

Vector3d MouseStylus::tip() const { return toVector(add(m_anchor, m_offset)); }

std::optional<std::array<double, 3>> MouseStylus::nodePixel(int32_t node) const
{
    Haptics* haptics = device();
    ElasticNetworkModel* eln = haptics ? haptics->getElasticNetwork() : nullptr;
    if (!eln || node < 0 || node >= eln->getAmountOfAtoms()) return std::nullopt;
    return toPixel(Haptics::modelToDevice(haptics->getTransform(), eln->deformation().getDeformedPosition(node)));
}

std::optional<std::array<double, 3>> MouseStylus::toPixel(const Vector3d& p) const
{
    if (!m_matrices) return std::nullopt;
    const ViewTransforms t = m_matrices();
    if (!usable(t)) return std::nullopt;
    const std::array<double, 4> clip = apply(multiply(t.projection, t.modelView), {p.x, p.y, p.z, 1.0});
    if (!(clip[3] > 0.0)) return std::nullopt;
    const double nx = clip[0] / clip[3], ny = clip[1] / clip[3], nz = clip[2] / clip[3];
    const double wx = t.viewport[0] + (nx + 1.0) * 0.5 * t.viewport[2];
    const double wy = t.viewport[1] + (ny + 1.0) * 0.5 * t.viewport[3];
    const double depth = (nz + 1.0) * 0.5;
    if (!std::isfinite(wx) || !std::isfinite(wy) || !std::isfinite(depth)) return std::nullopt;
    // Window y runs up from the bottom of the surface, whose top is the viewport's top edge.
    const double top = t.viewport[1] + t.viewport[3];
    return std::array<double, 3>{wx - 0.5, top - wy - 0.5, depth};
}

std::optional<Vector3d> MouseStylus::fromPixel(double x, double y, double depth) const
{
    if (!m_matrices || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(depth)) return std::nullopt;
    const ViewTransforms t = m_matrices();
    if (!usable(t)) return std::nullopt;
    const std::optional<Mat> inverse = invert(multiply(t.projection, t.modelView));
    if (!inverse) return std::nullopt;
    const double top = t.viewport[1] + t.viewport[3];
    const double wx = x + 0.5, wy = top - (y + 0.5);
    const std::array<double, 4> ndc{2.0 * (wx - t.viewport[0]) / t.viewport[2] - 1.0,
                                    2.0 * (wy - t.viewport[1]) / t.viewport[3] - 1.0, 2.0 * depth - 1.0, 1.0};
    const std::array<double, 4> p = apply(*inverse, ndc);
    if (!(std::fabs(p[3]) > 1e-300)) return std::nullopt;
    const Vec v{p[0] / p[3], p[1] / p[3], p[2] / p[3]};
    if (!finite(v)) return std::nullopt;
    return toVector(v);
}

std::optional<MouseStylus::Ray> MouseStylus::rayAt(double x, double y) const
{
    const std::optional<Vector3d> nearPoint = fromPixel(x, y, 0.0);
    const std::optional<Vector3d> farPoint = fromPixel(x, y, 1.0);
    if (!nearPoint || !farPoint) return std::nullopt;
    const Vec o = toVec(*nearPoint);
    const Vec d = sub(toVec(*farPoint), o);
    const double length = std::sqrt(dot(d, d));
    if (!(length > 0.0) || !std::isfinite(length)) return std::nullopt;
    return Ray{o, scale(d, 1.0 / length)};
}

int32_t MouseStylus::pickNode(double x, double y, Vector3d* centre) const
{
    Haptics* haptics = device();
    ElasticNetworkModel* eln = haptics ? haptics->getElasticNetwork() : nullptr;
    if (!eln || !eln->isInit()) return -1;
    const std::optional<Ray> ray = rayAt(x, y);
    if (!ray) return -1;
    const Matrix4f m = haptics->getTransform();
    int32_t best = -1;
    double bestEntry = std::numeric_limits<double>::infinity();
    Vec bestCentre{};
    const int32_t n = eln->getAmountOfAtoms();
    for (int32_t i = 0; i < n; ++i) {
        const Atom* atom = eln->getAtom(i);
        if (!atom) continue;
        // The sphere the servo tick touches: the drawn (published) position, the atom's radius
        // plus the zoom-dependent margin.
        const Vec c = toVec(Haptics::modelToDevice(m, eln->deformation().getDeformedPosition(i)));
        const double r = 6.0 * atom->getCamZoom() + atom->getRadius();
        const Vec oc = sub(c, ray->origin);
        const double along = dot(oc, ray->direction);
        const double missSqr = dot(oc, oc) - along * along;
        if (!(missSqr < r * r) || along < 0.0) continue;
        const double entry = along - std::sqrt(r * r - missSqr);
        if (entry < bestEntry) {
            bestEntry = entry;
            best = i;
            bestCentre = c;
        }
    }
    if (best >= 0 && centre) *centre = toVector(bestCentre);
    return best;
}

std::optional<double> MouseStylus::anchorDepth() const
{
    const auto depthOf = [this](const Vec& p) -> std::optional<double> {
        const auto pixel = toPixel(toVector(p));
        if (!pixel || (*pixel)[2] < 0.0 || (*pixel)[2] > 1.0) return std::nullopt;
        return (*pixel)[2];
    };
    if (m_anchored)
        if (auto d = depthOf(m_anchor)) return d;
    // Before the pointer placed it, or when the camera has passed it: where the device's
    // workspace is centred.
    return depthOf(Vec{0.0, 0.0, 0.0});
}

void MouseStylus::follow(double x, double y)
{
    const std::optional<double> depth = anchorDepth();
    if (!depth) return;
    const std::optional<Vector3d> p = fromPixel(x, y, *depth);
    if (!p) return;
    m_anchor = toVec(*p);
    m_anchored = true;
}

void MouseStylus::send()
{
    VirtualDevice& vd = VirtualDevice::instance();
    VirtualDevice::Stylus s = vd.stylus();
    const Vec t = add(m_anchor, m_offset);
    for (int i = 0; i < 3; ++i) {
        s.position[static_cast<std::size_t>(i)] = t[static_cast<std::size_t>(i)];
        s.transform[static_cast<std::size_t>(12 + i)] = t[static_cast<std::size_t>(i)];
    }
    s.velocity = {};
    s.buttons = m_buttons;
    vd.setStylus(s); // position and buttons reach the servo tick together
}

bool MouseStylus::press(double x, double y, Button button)
{
    if (!isActive()) return false;
    update();
    if (button == Button::Right) {
        follow(x, y);
        m_buttons |= 2;
        send();
        return true;
    }
    m_leftDown = true;
    follow(x, y);
    Vector3d centre;
    m_grabbed = pickNode(x, y, &centre);
    m_offset = {};
    if (m_grabbed >= 0) {
        // The pointer takes the node's depth, and the tip goes to the node's centre, which no
        // other node's sphere holds; the tip keeps that small offset from the pointer while it
        // drags.
        if (const auto pixel = toPixel(centre))
            if (const auto p = fromPixel(x, y, (*pixel)[2])) m_anchor = toVec(*p);
        m_offset = sub(toVec(centre), m_anchor);
    }
    // The servo tick must see the tip at its new place before the front button: a button
    // pressed at once would pull whatever the tip touched before.
    m_buttons &= ~1;
    send();
    VirtualDevice& vd = VirtualDevice::instance();
    m_pending = true;
    m_pendingSince = vd.tickCount();
    if (!vd.manualMode()) {
        // The servo runs at 1 kHz: a few milliseconds at most.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        while (vd.schedulerRunning() && vd.tickCount() < m_pendingSince + kApproachTicks + 1
               && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    update();
    return true;
}

void MouseStylus::update()
{
    if (!m_pending || !isActive()) return;
    // One more tick than asked for: a tick in progress when the tip moved may have read it
    // from before.
    if (VirtualDevice::instance().tickCount() < m_pendingSince + kApproachTicks + 1) return;
    m_pending = false;
    m_buttons |= 1;
    send();
}

void MouseStylus::move(double x, double y)
{
    if (!isActive()) return;
    follow(x, y);
    send();
    update();
}

void MouseStylus::release(double x, double y, Button button)
{
    if (!isActive()) {
        if (button == Button::Left) m_leftDown = false;
        return;
    }
    follow(x, y);
    if (button == Button::Right) {
        m_buttons &= ~2;
    } else {
        m_leftDown = false;
        m_pending = false; // a click too short for the servo grabs nothing
        m_buttons &= ~1;
        m_offset = {};
    }
    send();
}

bool MouseStylus::wheel(double notches)
{
    if (!m_leftDown || !isActive() || !std::isfinite(notches)) return false;
    const ViewTransforms t = m_matrices();
    const std::optional<Mat> toWorld = invert(t.modelView);
    if (!toWorld) return false;
    const Vec eye{(*toWorld)[12], (*toWorld)[13], (*toWorld)[14]};
    const Vec tipNow = add(m_anchor, m_offset);
    Vec along = sub(tipNow, eye);
    const double distance = std::sqrt(dot(along, along));
    if (!(distance > 0.0)) return true;
    along = scale(along, 1.0 / distance);
    double moved = notches * kWheelStep;
    if (distance + moved < kNearestTip) moved = kNearestTip - distance;
    // The anchor moves with the tip, so the drag goes on at the new depth.
    m_anchor = add(m_anchor, scale(along, moved));
    m_anchored = true;
    send();
    update();
    return true;
}

} // namespace vornax
