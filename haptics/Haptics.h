// The haptic device object: the abstract interface through which the view and the main window
// drive a force-feedback arm (the device models' parameters and the per-tick snapshot are in
// DeviceModels.h).
//
// `Haptics` holds the whole interaction state (contact, forces, selection stack, navigation
// transforms); `SensableHaptics` (SensableHaptics.h) binds it to our HDAPI layer and supplies
// the servo-loop logic.
//
// Threads: the servo thread (the HDAPI scheduler) runs touchTool and everything it calls; the
// window thread sets the mode flags, drives the mouse arc-ball and grows the workspace; the
// render thread reads the transform and writes the probe's window position; the simulation
// thread answers the press-state requests on the atoms. Flags and small values shared between
// them are atomics or sequence-locked. The navigation state and the selection stack are each
// guarded by a mutex that the servo thread only ever try-locks: a tick never waits for another
// thread. The model-to-device transform is published sequence-locked for every reader.
#pragma once

#include "common/SeqLocked.h"
#include "common/Vector3d.h"
#include "haptics/ArcBall.h"
#include "haptics/DeviceGraphics.h"
#include "haptics/DeviceModels.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vornax {

class Atom;
class ElasticNetworkModel;
class Progress;

/// Window-side hooks of the device object; every member is optional, so the object runs
/// without a window.
struct HapticsUiHooks {
    /// Navigation was switched by checkToggle: enable the zoom buttons and set the translate
    /// check box accordingly (zoom buttons are usable while navigation is off).
    std::function<void(bool navigationOn)> setNavigationControls;
    /// Builds the sphere and cylinder display lists; called by initHD when set (the rendering
    /// side sets it when a GL context exists).
    std::function<void()> makeDisplayLists;
};

/// Faces of the navigation cube, in the order of the `faceCrossed` flags.
enum CubeFace : int { FaceZMin = 0, FaceZMax, FaceXMin, FaceXMax, FaceYMax, FaceYMin, FaceCount };

/// What the view needs to draw the navigation cube.
struct WorkspaceView {
    std::array<double, 6> navigationBox{}; ///< min x, y, z, max x, y, z (mm)
    std::array<bool, FaceCount> faceCrossed{};
    bool enteredCube = false;
};

/// The abstract device object. The operations below are in the order of their virtual slots;
/// the defaults are those of a device object without a device.
class Haptics {
public:
    Haptics(std::vector<Atom*> atoms, float viewWidth, float viewHeight, HapticsUiHooks hooks = {});
    Haptics(const Haptics&) = delete;
    Haptics& operator=(const Haptics&) = delete;

    /*  0 */ virtual void loadDevices() {}
    /*  1 */ virtual bool initHD() { return false; }
    /*  2 */ virtual void touchTool() {}
    /*  3 */ virtual void releaseConditions(Vector3d& /*tempSCP*/, Vector3d& /*HIP*/) {}
    /*  4 */ virtual void renderHAPTICS() {}
    /*  5 */ virtual void setProgressBar(Progress* /*progress*/) {} // the device set-up shows no progress
    /*  6 */ virtual void setReconfiguringMolecule(int32_t r) { interactionEnabled.store(r); }
    /*  7 */ virtual Atom* getCurrentAtom() { return currentAtom.load(std::memory_order_acquire); }
    /*  8 */ virtual void setHatpicState(bool /*b*/) {} // not used by the device object
    /*  9 */ virtual int32_t getStatus() { return interactionEnabled.load(); }
    /* 10 */ virtual void renderWorkspace(bool state);
    /* 11 */ virtual Vector3d getSCP() { return SCP.load(); }
    /* 12 */ virtual void mouseDownTranslate(int32_t x, int32_t y);
    /* 13 */ virtual void updateMoleculeTranslation(int32_t x, int32_t y);
    /* 14 */ virtual void mouseUpTranslate(int32_t x, int32_t y);
    /* 15 */ virtual void mouseDownRotate(int32_t x, int32_t y);
    /* 16 */ virtual void updateMoleculePosition(int32_t x, int32_t y);
    /* 17 */ virtual void growHapticWS(float updateVal);
    /* 18 */ virtual bool calcForce(float* /*force*/, const float* /*hapticPoint*/, const float* /*centre*/)
    {
        return false;
    }
    /* 19 */ virtual Matrix4f getTransform();
    /* 20 */ virtual void scrollUp();
    /* 21 */ virtual void scrollDown();
    /* 22 */ virtual void hapticsTranslate();
    /* 23 */ virtual void setTranslates(bool b) { translates.store(b); }
    /* 24 */ virtual bool getTranslates() { return translates.load(); }
    /* 25 */ virtual Vector3d getTVEC();
    /* 26 */ virtual void resetProteinData(std::vector<Atom*> atoms) { proteinData = std::move(atoms); }
    /* 27 */ virtual void stopSched() {}
    /* 28 */ virtual void startSched() {}
    /* 29 */ virtual void disableDevice() {}
    /* 30 */ virtual void setForce(Vector3d /*HIP*/, bool /*holding*/) {}
    /* 31 */ virtual Matrix4f getHapticsTransform();
    /* 32 */ virtual Matrix3f getHapticsLastRot();
    /* 33 */ virtual Matrix3f getHapticsThisRot();
    /* 34 */ virtual void setHapticsTransform(const Matrix4f& m);
    /* 35 */ virtual void setHapticsLastRot(const Matrix3f& m);
    /* 36 */ virtual void setHapticsThisRot(const Matrix3f& m);
    /* 37 */ virtual float getZoom() { return hapticZoom.load(); }
    /* 38 */ virtual bool getUsingDevice() { return usingDevice.load(); }
    /* 39 */ virtual void setInitPositions(Vector3d p);
    /* 40 */ virtual void setTranslationVector(float x, float y, float z);
    /* 41 */ virtual void setNewScale(float scale, float darklight);
    /* 42 */ virtual bool checkToggle() { return false; }
    /* 43 */ virtual void toggleHapticsMarker(bool b) { hapticsMarker.store(b); }
    /* 44 */ virtual void renderHaptics2D();
    /* 45 */ virtual void setTransformAmount(float a) { transformAmount.store(a); }
    /* 46 */ virtual void reset(Vector3d translationVector);
    /* 47 */ virtual bool checkForErrors() { return false; }
    /* 48 */ virtual bool toggleTranslations();
    /* 49 */ virtual Errors* getMyErrors() { return &errors; }
    /* 50 */ virtual DeviceParameters getDeviceParams() { return deviceParameters; }
    /* 51 */ virtual bool getFirstEntry() { return false; }
    /* 52 */ virtual void resetWorkspace();
    /* 53 */ virtual int32_t getLastFrameTime() { return 0; }
    /* 54 */ virtual float getLastFrameTimeNEW() { return lastTickSeconds.load(); }
    /* 55 */ virtual void calcSubtractionAmount(float /*newRAD*/) {} // no effect on the device object
    /* 56 */ virtual void setRenderingElasticNetwork(bool b) { renderingElasticNetwork.store(b); }
    /* 57 */ virtual void renderElasticNetwork() {}
    /* 58 */ virtual void addElasticNetworkInfo(ElasticNetworkModel* eln) { elasticNetwork.store(eln); }
    /* 59 */ virtual void renderElasticNetworkGraphics();
    /* 60 */ virtual void setSelectionMode(bool b) { selectionMode.store(b); }
    /* 61 */ virtual void setAddMode(bool b) { addMode.store(b); }
    /* 62 */ virtual void setDeleteMode(bool b) { deleteMode.store(b); }
    /* 63 */ virtual void setSimulateMode(bool b) { simulateMode.store(b); }
    /* 64 */ virtual bool popLastSelectionFromStack();
    /* 65 */ virtual void setUsingAllModes(bool b) { usingAllModes.store(b); }
    /* 66 */ virtual void addNewForceForEq(float f) { eqForceFactor.store(f); }
    /* 67 */ virtual void setSaveForces(bool b) { saveForces.store(b); }
    /* 68 */ virtual float getAveForce() { return deviceParameters.averageForce; }
    /* 69 */ virtual void setStickingToSurface(bool b) { stickingToSurface.store(b); }
    /* 70 */ virtual void resetAllForces();
    /* 71 */ virtual void setCameraZoom(float currentZoom);
    /* 72 */ virtual void setTabPointer(void* /*tab*/) {} // not used by the device object
    /* 73 */ virtual int32_t getButtons() { return 0; }
    /* 74 */ virtual bool pointToPlane(Vector3d /*pointOnPlane*/, Vector3d /*planeNormal*/, Vector3d /*pointToTest*/)
    {
        return false;
    }
    /* 75 */ virtual void updateMolecule();

    /// Devices are deleted through this interface.
    virtual ~Haptics();

    // ---- Plain accessors (not part of the virtual interface) ------------------------------
    /// Stylus position in device coordinates (mm) as of the last servo tick.
    Vector3d getDevicePoint() const { return devicePoint.load(); }
    /// Where the probe is drawn (device coordinates).
    Vector3d getProbeMarker() const { return probeMarker.load(); }
    /// Render thread: the probe's window position, read by the stylus arc-ball.
    void setProbeWindowPosition(double x, double y, double z);
    /// The probe's window position as last projected (x, y).
    std::array<double, 2> getProbeWindowPosition() const { return {probeWindowX.load(), probeWindowY.load()}; }
    /// The drawing of the three render operations (not owned; null draws nothing). Set and
    /// used on the render thread.
    void setGraphics(DeviceGraphics* drawing) { graphics.store(drawing); }
    DeviceGraphics* getGraphics() const { return graphics.load(); }
    /// The view's height in pixels (the stylus arc-ball flips y with it).
    void setViewHeight(int32_t height) { viewHeight.store(height); }
    /// Navigation cube and crossed faces for drawing.
    WorkspaceView getWorkspaceView();
    bool isWorkspaceGrowing();
    float getWorkspaceGrowth();
    Vector3d getTranslation();
    /// The point of the molecule (model units) that the transform puts at `translation` and
    /// turns about: the structure's centre, so that it sits where the view looks and turns in
    /// place. The origin until the view sets it.
    void setModelCentre(Vector3d centre);
    float getTransformAmount() const { return transformAmount.load(); }
    bool getSaveForces() const { return saveForces.load(); }
    bool getSimulateMode() const { return simulateMode.load(); }
    float getHapticScale() const { return hapticScale; }
    float getEqForceFactor() const { return eqForceFactor.load(); }
    bool isHapticsMarkerOn() const { return hapticsMarker.load(); }
    /// Full-list indices of the atoms selected by pulling, oldest first (copy).
    std::vector<int32_t> getSelectionStack();
    /// A node that keeps a force from a session: selected, in the network's list of forced
    /// atoms and on top of the selection stack, so that undo and "Clear All Forces" take its
    /// force out like that of a pull.
    void restoreSelection(Atom* atom);
    ElasticNetworkModel* getElasticNetwork() const { return elasticNetwork.load(); }
    const std::vector<Atom*>& getProteinData() const { return proteinData; }
    /// Model point → device point by `m` (getTransform()).
    static Vector3d modelToDevice(const Matrix4f& m, const Vector3d& p);
    /// Device point → model point by the inverse rigid transform `m`.
    static Vector3d deviceToModel(const Matrix4f& m, const Vector3d& p);

protected:
    /// Rebuilds moleculeTransform from translation and hapticsTransform and publishes it
    /// (navigation lock held).
    void rebuildMoleculeTransformLocked();
    // The navigation operations with the navigation lock already held (the servo tick's way).
    void hapticsTranslateLocked();
    void updateMoleculeLocked();
    void mouseDownRotateLocked(int32_t x, int32_t y);
    void updateMoleculePositionLocked(int32_t x, int32_t y);
    /// Model direction → device direction (rotation part only).
    static Vector3d rotateToDevice(const Matrix4f& m, const Vector3d& v);

    // ---- Device and set-up --------------------------------------------------------------
    HapticsUiHooks hooks;
    std::atomic<DeviceGraphics*> graphics{nullptr};
    std::atomic<ElasticNetworkModel*> elasticNetwork{nullptr};
    std::vector<Atom*> proteinData;
    int32_t atomCount = 0;
    std::atomic<bool> usingDevice{false};
    DeviceParameters deviceParameters; ///< written before the scheduler starts
    Errors errors;
    float hapticScale = 1.0f; ///< written before the scheduler starts
    std::atomic<float> hapticZoom{0.0f};
    std::atomic<float> eqForceFactor{1.0f};
    std::atomic<int32_t> interactionEnabled{0};
    std::atomic<float> lastTickSeconds{0.0f};
    std::atomic<int32_t> viewHeight{0};

    // ---- Touch and pull (servo thread unless atomic) -------------------------------------
    SeqLocked<Vector3d> devicePoint;
    Vector3d probePoint;
    SeqLocked<Vector3d> SCP;
    SeqLocked<Vector3d> probeMarker;
    Vector3d contactPoint;
    Vector3d constrainedProbe;
    Vector3d surfaceProxy;
    Vector3d proxyTarget;
    float proxySlack = 1.0f;
    std::atomic<Atom*> currentAtom{nullptr};
    bool probeInContact = false;
    int32_t contactState = -1;
    bool pullArmed = false;
    bool pullReleased = false;
    bool releasing = false;
    float releaseForce = 0.0f;
    std::atomic<bool> simulateMode{true};
    std::atomic<bool> saveForces{false};
    std::atomic<bool> renderingElasticNetwork{false};
    float dragProxy[3] = {0.0f, 0.0f, 0.0f};
    bool dragProxyValid = false;
    float dragProxyRadiusSquared = 15.0f;
    float dragProxyRadius = 3.8729833f; // √15
    std::atomic<double> probeWindowX{0.0}, probeWindowY{0.0};
    bool rotatingWithStylus = false;
    std::atomic<bool> selectionMode{false}, addMode{false}, deleteMode{false}, usingAllModes{false},
        stickingToSurface{false};

    /// Guards selectionStack and the network's list of forced atoms against the window
    /// thread's undo. The servo thread only ever try-locks it and retries on a later tick.
    std::mutex selectionMutex;
    std::vector<int32_t> selectionStack;

    // ---- Navigation (guarded by navigationMutex) -----------------------------------------
    std::atomic<bool> translates{false};
    std::atomic<float> transformAmount{0.001f};
    std::atomic<bool> hapticsMarker{false};
    std::mutex navigationMutex;
    Vector3d translationTarget;
    Vector3d translation;
    Vector3d modelCentre;
    float translationEaseX = 0.0f, translationEaseY = 0.0f, translationEaseZ = 0.0f;
    float easeStep = 0.0001f;
    std::array<bool, FaceCount> faceCrossed{};
    bool enteredCube = false;
    bool workspaceGrowing = false;
    float workspaceGrowth = 0.0f;
    std::array<double, 6> navigationBox{};
    std::array<double, 6> usableWorkspace{}; ///< written before the scheduler starts
    Matrix4f hapticsTransform = identity4();
    Matrix3f hapticsLastRot = identity3();
    Matrix3f hapticsThisRot = identity3();
    const Matrix4f initialTransform = identity4();
    const Matrix3f initialLastRot = identity3();
    const Matrix3f initialThisRot = identity3();
    /// An arc-ball drag was started since the last reset or copy-in: the current rotation is
    /// the drag applied to the rotation at its start.
    bool dragStarted = false;
    float clickPoint[2] = {0.0f, 0.0f};
    float dragPoint[2] = {0.0f, 0.0f};
    float mouseTranslateStart[2] = {0.0f, 0.0f};
    Matrix4f moleculeTransform = identity4();
    /// moleculeTransform as last rebuilt, for the servo tick and the render thread.
    SeqLocked<Matrix4f> publishedTransform{identity4()};
    ArcBall_t arcBall;
};

} // namespace vornax
