// The device object's shared state: navigation in the workspace, the selection stack, and the
// copy-in/out of the navigation transforms for sessions.
#include "haptics/Haptics.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "molecule/Atom.h"

#include <algorithm>

namespace vornax {

Haptics::Haptics(std::vector<Atom*> atoms, float viewWidth, float viewHeight_, HapticsUiHooks hooks_)
    : hooks(std::move(hooks_)), proteinData(std::move(atoms)), arcBall(viewWidth, viewHeight_)
{
    atomCount = static_cast<int32_t>(proteinData.size());
    viewHeight.store(static_cast<int32_t>(viewHeight_));
}

Haptics::~Haptics() = default;

// ---- Transforms -------------------------------------------------------------------------------

Vector3d Haptics::deviceToModel(const Matrix4f& m, const Vector3d& p)
{
    const float dx = p.x - m[12], dy = p.y - m[13], dz = p.z - m[14];
    // Transposed rotation: row c of Rᵀ is column c of R.
    return {m[0] * dx + m[1] * dy + m[2] * dz, m[4] * dx + m[5] * dy + m[6] * dz, m[8] * dx + m[9] * dy + m[10] * dz};
}

Vector3d Haptics::modelToDevice(const Matrix4f& m, const Vector3d& p)
{
    return rotateToDevice(m, p) + Vector3d(m[12], m[13], m[14]);
}

Vector3d Haptics::rotateToDevice(const Matrix4f& m, const Vector3d& v)
{
    return {m[0] * v.x + m[4] * v.y + m[8] * v.z, m[1] * v.x + m[5] * v.y + m[9] * v.z,
            m[2] * v.x + m[6] * v.y + m[10] * v.z};
}

void Haptics::rebuildMoleculeTransformLocked()
{
    Matrix4f t = identity4();
    t[12] = translation.x;
    t[13] = translation.y;
    t[14] = translation.z;
    Matrix4f centre = identity4();
    centre[12] = -modelCentre.x;
    centre[13] = -modelCentre.y;
    centre[14] = -modelCentre.z;
    moleculeTransform = multiply4(t, multiply4(hapticsTransform, centre));
    publishedTransform.store(moleculeTransform);
}

Matrix4f Haptics::getTransform() { return publishedTransform.load(); }

// ---- Navigation cube and translation ----------------------------------------------------------

void Haptics::hapticsTranslate()
{
    std::lock_guard lock(navigationMutex);
    hapticsTranslateLocked();
}

void Haptics::hapticsTranslateLocked()
{
    if (!translates.load(std::memory_order_relaxed)) {
        easeStep = 0.0001f;
        faceCrossed.fill(false);
        return;
    }
    easeStep = 0.1f;
    const Vector3d p = devicePoint.load();
    const float amount = transformAmount.load(std::memory_order_relaxed);
    static constexpr int kMinFace[3] = {FaceXMin, FaceYMin, FaceZMin};
    static constexpr int kMaxFace[3] = {FaceXMax, FaceYMax, FaceZMax};
    for (int a = 0; a < 3; ++a) {
        const auto lo = static_cast<float>(navigationBox[static_cast<std::size_t>(a)]);
        const auto hi = static_cast<float>(navigationBox[static_cast<std::size_t>(a + 3)]);
        const float v = p[a];
        if (v < lo) {
            translationTarget[a] += (lo - v) * amount;
            faceCrossed[kMinFace[a]] = true;
        } else if (v > lo) {
            faceCrossed[kMinFace[a]] = false;
        }
        if (v > hi) {
            translationTarget[a] -= (v - hi) * amount;
            faceCrossed[kMaxFace[a]] = true;
        } else if (v < hi) {
            faceCrossed[kMaxFace[a]] = false;
        }
    }
}

void Haptics::updateMolecule()
{
    std::lock_guard lock(navigationMutex);
    updateMoleculeLocked();
}

void Haptics::updateMoleculeLocked()
{
    // Arc-ball: the current drag applied to the rotation at the start of the drag.
    if (dragStarted) {
        const Quat4f q = arcBall.drag(dragPoint[0], dragPoint[1]);
        hapticsThisRot = multiply3(rotationFromQuat(q), hapticsLastRot);
    }
    setRotation(hapticsTransform, hapticsThisRot);

    auto ease = [this](float& value, float target, float& weight) {
        if (value == target) return;
        if (weight < 1.0f) {
            value += (target - value) * weight;
            weight += easeStep;
        } else {
            value = target;
            weight = 0.0f;
        }
    };
    ease(translation.z, translationTarget.z, translationEaseZ);
    ease(translation.x, translationTarget.x, translationEaseX);
    ease(translation.y, translationTarget.y, translationEaseY);
    rebuildMoleculeTransformLocked();
}

void Haptics::mouseDownRotate(int32_t x, int32_t y)
{
    std::lock_guard lock(navigationMutex);
    mouseDownRotateLocked(x, y);
}

void Haptics::mouseDownRotateLocked(int32_t x, int32_t y)
{
    clickPoint[0] = dragPoint[0] = static_cast<float>(x);
    clickPoint[1] = dragPoint[1] = static_cast<float>(y);
    hapticsLastRot = hapticsThisRot;
    arcBall.click(clickPoint[0], clickPoint[1]);
    dragStarted = true;
}

void Haptics::updateMoleculePosition(int32_t x, int32_t y)
{
    std::lock_guard lock(navigationMutex);
    updateMoleculePositionLocked(x, y);
}

void Haptics::updateMoleculePositionLocked(int32_t x, int32_t y)
{
    dragPoint[0] = static_cast<float>(x);
    dragPoint[1] = static_cast<float>(y);
}

void Haptics::mouseDownTranslate(int32_t x, int32_t y)
{
    std::lock_guard lock(navigationMutex);
    mouseTranslateStart[0] = static_cast<float>(x) / 50.0f;
    mouseTranslateStart[1] = static_cast<float>(y) / 50.0f;
}

void Haptics::mouseUpTranslate(int32_t x, int32_t y) { mouseDownTranslate(x, y); }

void Haptics::updateMoleculeTranslation(int32_t x, int32_t y)
{
    std::lock_guard lock(navigationMutex);
    const float u = static_cast<float>(x) / 50.0f, v = static_cast<float>(y) / 50.0f;
    translationTarget.x += u - mouseTranslateStart[0];
    translationTarget.y += mouseTranslateStart[1] - v;
    mouseTranslateStart[0] = u;
    mouseTranslateStart[1] = v;
}

void Haptics::scrollUp()
{
    std::lock_guard lock(navigationMutex);
    translationTarget.z += 20.1f;
    translationEaseZ = 0.0f;
}

void Haptics::scrollDown()
{
    std::lock_guard lock(navigationMutex);
    translationTarget.z -= 20.1f;
    translationEaseZ = 0.0f;
}

bool Haptics::toggleTranslations()
{
    bool now = translates.load();
    while (!translates.compare_exchange_weak(now, !now)) {}
    return !now;
}

Vector3d Haptics::getTVEC()
{
    std::lock_guard lock(navigationMutex);
    return translationTarget;
}

Vector3d Haptics::getTranslation()
{
    std::lock_guard lock(navigationMutex);
    return translation;
}

void Haptics::setInitPositions(Vector3d p)
{
    std::lock_guard lock(navigationMutex);
    translationTarget = translation = p;
    rebuildMoleculeTransformLocked();
}

void Haptics::setModelCentre(Vector3d centre)
{
    std::lock_guard lock(navigationMutex);
    modelCentre = centre;
    rebuildMoleculeTransformLocked();
}

void Haptics::setTranslationVector(float x, float y, float z) { setInitPositions(Vector3d(x, y, z)); }

// The scale and light values are not used by the device object.
void Haptics::setNewScale(float /*scale*/, float /*darklight*/) {}

void Haptics::reset(Vector3d translationVector)
{
    std::lock_guard lock(navigationMutex);
    translationTarget = translation = translationVector;
    hapticsTransform = initialTransform;
    hapticsLastRot = initialLastRot;
    hapticsThisRot = initialThisRot;
    // Forget the last drag, or the next servo tick would apply it again to the identity.
    dragStarted = false;
    rebuildMoleculeTransformLocked();
}

// ---- Workspace --------------------------------------------------------------------------------

void Haptics::resetWorkspace()
{
    std::lock_guard lock(navigationMutex);
    for (std::size_t i = 0; i < 6; ++i) navigationBox[i] = usableWorkspace[i] * 0.5;
    enteredCube = false;
    workspaceGrowing = true;
    faceCrossed.fill(false);
    workspaceGrowth = 0.0f;
}

void Haptics::growHapticWS(float updateVal)
{
    std::lock_guard lock(navigationMutex);
    if (!workspaceGrowing || !enteredCube) return;
    if (workspaceGrowth < 1.0f) {
        for (std::size_t i = 0; i < 6; ++i)
            navigationBox[i] += (usableWorkspace[i] - navigationBox[i]) * static_cast<double>(workspaceGrowth);
        workspaceGrowth += updateVal;
    } else {
        workspaceGrowing = false;
    }
}

WorkspaceView Haptics::getWorkspaceView()
{
    std::lock_guard lock(navigationMutex);
    return {navigationBox, faceCrossed, enteredCube};
}

bool Haptics::isWorkspaceGrowing()
{
    std::lock_guard lock(navigationMutex);
    return workspaceGrowing;
}

float Haptics::getWorkspaceGrowth()
{
    std::lock_guard lock(navigationMutex);
    return workspaceGrowth;
}

// ---- Session copy-in and copy-out -------------------------------------------------------------

Matrix4f Haptics::getHapticsTransform()
{
    std::lock_guard lock(navigationMutex);
    return hapticsTransform;
}

Matrix3f Haptics::getHapticsLastRot()
{
    std::lock_guard lock(navigationMutex);
    return hapticsLastRot;
}

Matrix3f Haptics::getHapticsThisRot()
{
    std::lock_guard lock(navigationMutex);
    return hapticsThisRot;
}

void Haptics::setHapticsTransform(const Matrix4f& m)
{
    std::lock_guard lock(navigationMutex);
    hapticsTransform = m;
    // The rotation of a restored session is the one the transform carries, not a pending drag.
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            hapticsThisRot[static_cast<std::size_t>(c * 3 + r)] = m[static_cast<std::size_t>(c * 4 + r)];
    dragStarted = false;
    rebuildMoleculeTransformLocked();
}

void Haptics::setHapticsLastRot(const Matrix3f& m)
{
    std::lock_guard lock(navigationMutex);
    hapticsLastRot = m;
    dragStarted = false;
}

void Haptics::setHapticsThisRot(const Matrix3f& m)
{
    std::lock_guard lock(navigationMutex);
    hapticsThisRot = m;
    setRotation(hapticsTransform, m);
    dragStarted = false;
    rebuildMoleculeTransformLocked();
}

// ---- Selection stack --------------------------------------------------------------------------

bool Haptics::popLastSelectionFromStack()
{
    std::lock_guard lock(selectionMutex);
    if (selectionStack.empty()) return false;
    const int32_t index = selectionStack.back();
    console::Line() << "removing: " << index;
    ElasticNetworkModel* eln = elasticNetwork.load();
    if (eln && index >= 0 && index < eln->getAmountOfAtoms()) {
        eln->applyZeroForce(index);
        eln->removeAtomFromList(index);
    }
    selectionStack.pop_back();
    return true;
}

void Haptics::restoreSelection(Atom* atom)
{
    if (!atom) return;
    std::lock_guard lock(selectionMutex);
    if (ElasticNetworkModel* eln = elasticNetwork.load()) eln->addAtomToList(atom);
    atom->setSelected(true);
    selectionStack.push_back(atom->getMyPositionInOriginalList());
}

void Haptics::resetAllForces()
{
    while (popLastSelectionFromStack()) {}
}

std::vector<int32_t> Haptics::getSelectionStack()
{
    std::lock_guard lock(selectionMutex);
    return selectionStack;
}

// ---- Drawing (supplied by the renderer) -------------------------------------------------------

void Haptics::renderWorkspace(bool state)
{
    if (DeviceGraphics* g = graphics.load()) g->renderWorkspace(*this, state);
}

void Haptics::renderHaptics2D()
{
    if (DeviceGraphics* g = graphics.load()) g->renderHaptics2D(*this);
}

void Haptics::renderElasticNetworkGraphics()
{
    if (DeviceGraphics* g = graphics.load()) g->renderElasticNetworkGraphics(*this);
}

// ---- Misc -------------------------------------------------------------------------------------

void Haptics::setCameraZoom(float currentZoom) { hapticZoom.store(std::max(1.0f, currentZoom / 266.0f)); }

// The depth (z) is not needed: the stylus arc-ball works on the window point.
void Haptics::setProbeWindowPosition(double x, double y, double /*z*/)
{
    probeWindowX.store(x);
    probeWindowY.store(y);
}

} // namespace vornax
