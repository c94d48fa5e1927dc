// The view's globals: the molecule's translation and rotation as the mouse left them, its
// centre and size, the camera position in the molecule's frame and the matrices of the last
// frame. Written by the window thread; any thread may read them (each is an atomic or a
// sequence-locked value, so a reader never sees half a matrix).
//
// runningELN and globalPointerForELNAccessedBySimThread live with the simulation thread
// (enm/SimulationThread.h), deviceParams with the device object (haptics/Haptics.h).
#pragma once

#include "common/SeqLocked.h"
#include "common/Vector3d.h"
#include "haptics/ArcBall.h"

#include <array>
#include <atomic>

namespace vornax {

using Matrix4d = std::array<double, 16>;
using Viewport = std::array<int, 4>;

/// The molecule's translation (model units): (0, viewHeightOffset, −sphereRad) after a reset.
extern SeqLocked<Vector3d> translationVector;
/// Rotation and translation of the molecule without a device (column order).
extern SeqLocked<Matrix4f> Transform;
extern SeqLocked<Matrix3f> LastRot;
extern SeqLocked<Matrix3f> ThisRot;
/// Centre of the loaded molecule (model units) and where the view's transform starts from.
extern SeqLocked<Vector3d> midMolPoint;
extern SeqLocked<Vector3d> initialTransform;
/// Radius of the molecule's bounding sphere (model units).
extern std::atomic<float> sphereRad;
/// The camera's eye in the molecule's frame, as of the last frame.
extern SeqLocked<Vector3d> camLocal;
/// Model-view and projection matrices and viewport saved by every frame.
extern SeqLocked<Matrix4d> modelView;
extern SeqLocked<Matrix4d> projection;
extern SeqLocked<Viewport> viewport;
/// The current viewport size in pixels.
extern std::atomic<int> ScreenWidth;
extern std::atomic<int> ScreenHeight;

} // namespace vornax
