// The mouse as a stylus: drives the virtual haptic device's stylus from the pointer in the 3-D
// view, so that a user without a force-feedback arm can touch and pull nodes. Everything after
// the stylus (contact, pull, release, navigation) is the device object's servo logic.
//
//   - moving: the tip follows the pointer, at the tip's current depth;
//   - left button on a node: the tip goes to the node's centre (so the servo tick makes the
//     contact) and the front button goes down once the servo has seen the tip there, which
//     starts the pull; dragging pulls, the wheel moves the tip in depth meanwhile;
//   - left button up: the front button goes up (the servo logic decides what a let-go does);
//   - right button: the back button (rotation with the stylus, when navigation is on).
//
// Pixel coordinates are those of the view's drawing surface: origin at its top-left corner, y
// downwards, in device pixels (a window on a high-density screen multiplies its logical mouse
// positions by the device pixel ratio). The pointer is mapped through the matrices the view
// saved with its last frame and the device's model-to-device transform, so the mapping follows
// zoom, pan and rotation. The stylus only moves while the device in use is the virtual one.
//
// Window thread only.
#pragma once

#include "common/Vector3d.h"
#include "render/DeviceDrawing.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace vornax {

class COpenGL;
class Haptics;

class MouseStylus {
public:
    enum class Button { Left, Right };

    /// Tip travel in depth per wheel notch while dragging (device mm).
    static constexpr double kWheelStep = 10.0;
    /// Servo ticks the tip rests at a grabbed node, without a button, before the front button
    /// goes down (one to leave whatever it touched before, one to touch the node).
    static constexpr std::uint64_t kApproachTicks = 2;

    MouseStylus() = default;

    /// Drives the stylus of `view`'s device, with the matrices the view saves every frame.
    void attach(COpenGL& view);
    /// The same with the matrices and the device given (hosts without a COpenGL).
    void attach(std::function<ViewTransforms()> matrices, std::function<Haptics*()> device);
    void detach();

    /// Whether presses and moves reach the stylus now: attached, a device object in use on the
    /// virtual device, and a frame drawn.
    bool isActive() const;

    /// A button went down at (x, y). Left: grabs the node under the pointer, if any. Returns
    /// whether the press was taken (false: not active, the window's own handling applies).
    bool press(double x, double y, Button button);
    /// The pointer moved to (x, y), with or without a button held.
    void move(double x, double y);
    /// A button went up at (x, y).
    void release(double x, double y, Button button);
    /// Wheel turned by `notches` (positive: away from the user, pushing the tip into the
    /// screen). Taken (true) only while the left button drags; otherwise the window zooms.
    bool wheel(double notches);
    /// Lets a waiting grab go ahead (the front button goes down once the servo has seen the tip
    /// at the node). Called by press, move and wheel; a window with a timer calls it each tick.
    void update();

    /// The node the last left press grabbed (network index), or -1.
    int32_t grabbedNode() const { return m_grabbed; }
    /// The button bits the stylus holds (1 front, 2 back).
    int32_t buttons() const { return m_buttons; }
    /// Whether a left press waits for the servo before its front button goes down.
    bool grabPending() const { return m_pending; }
    /// The tip in device coordinates (mm).
    Vector3d tip() const;

    // ---- Mapping (the view's matrices of the last frame) ---------------------------------
    /// Device point -> surface pixel (x, y) and window depth; none behind the eye or without
    /// a frame.
    std::optional<std::array<double, 3>> toPixel(const Vector3d& device) const;
    /// Where node `node` of the device's network is drawn: surface pixel and window depth.
    std::optional<std::array<double, 3>> nodePixel(int32_t node) const;
    /// Surface pixel at window depth `depth` (0 near plane, 1 far plane) -> device point.
    std::optional<Vector3d> fromPixel(double x, double y, double depth) const;

private:
    struct Ray {
        std::array<double, 3> origin, direction; // direction of unit length
    };
    std::optional<Ray> rayAt(double x, double y) const;
    /// The node whose contact sphere the ray through (x, y) meets first, or -1.
    int32_t pickNode(double x, double y, Vector3d* centre) const;
    /// The window depth for the tip: the anchor's, or the device origin's before it has one.
    std::optional<double> anchorDepth() const;
    void follow(double x, double y);
    void send();
    Haptics* device() const;

    std::function<ViewTransforms()> m_matrices;
    std::function<Haptics*()> m_device;
    std::array<double, 3> m_anchor{}; // device point under the pointer
    std::array<double, 3> m_offset{}; // tip = anchor + offset (node centre while grabbing)
    bool m_anchored = false;          // the anchor was placed by the pointer
    int32_t m_buttons = 0;
    int32_t m_grabbed = -1;
    bool m_leftDown = false;
    bool m_pending = false;           // front button waits for the servo
    std::uint64_t m_pendingSince = 0; // servo tick count when the tip was placed
};

} // namespace vornax
