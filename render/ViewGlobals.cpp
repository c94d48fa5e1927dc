#include "render/ViewGlobals.h"

namespace vornax {

SeqLocked<Vector3d> translationVector;
SeqLocked<Matrix4f> Transform{identity4()};
SeqLocked<Matrix3f> LastRot{identity3()};
SeqLocked<Matrix3f> ThisRot{identity3()};
SeqLocked<Vector3d> midMolPoint;
SeqLocked<Vector3d> initialTransform;
std::atomic<float> sphereRad{0.0f};
SeqLocked<Vector3d> camLocal;
SeqLocked<Matrix4d> modelView{Matrix4d{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
SeqLocked<Matrix4d> projection{Matrix4d{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
SeqLocked<Viewport> viewport;
std::atomic<int> ScreenWidth{0};
std::atomic<int> ScreenHeight{0};

} // namespace vornax
