// The 3-D view: camera, projection, lights, stereo and the drawing order of every frame, and
// the one façade through which the window reaches the elastic network and the haptic device.
//
// COpenGL draws into whatever GL context is current: the window makes its context current
// before constructing the view and before every call that draws or makes GL objects
// (construction, ReSizeGLScene, Idle + Render_ELNET_Backbone, initilizeData, the destructor).
//
//     COpenGL view(width, height, 1.52f);          // context current
//     view.initilizeData(maxPos, minPos, mid, atoms, nullptr, network.release());
//     view.startSchedular();                       // network marked initialised
//     view.resetALL();
//     view.fireSimulationThread();
//     every 10 ms: view.Idle(); view.Render_ELNET_Backbone(); swap
//
// Without a device every device operation does nothing and returns 0 / false / none.
#pragma once

#include "common/Vector3d.h"
#include "enm/ModeChangeToken.h"
#include "render/StereoOptions.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vornax {

class Atom;
class DeviceGraphics;
class ElasticNetworkModel;
class GLChecks;
class Haptics;
class IdleAnimation;
class NetworkDrawing;
class Progress;
class ShaderHandler;
class SimulationThread;
struct SessionWorkspace;
namespace GLSL {
class GLShader;
}

class COpenGL final : public StereoView {
public:
    /// Average device force (N) the force scaler is computed for when no device is open: the
    /// value every known device model records.
    static constexpr float kNoDeviceAverageForce = 1.0f;
    /// Camera distances after resetALL.
    static constexpr float kPremiumCameraZ = 866.0f;
    static constexpr float kStandardCameraZ = 266.0f;
    /// One wheel step of the zoom.
    static constexpr float kZoomStep = 20.1f;

    /// With the context current: checks, shaders, fixed GL state, an empty network.
    /// `hapticRad` is the probe sphere's radius in Å.
    COpenGL(int iWidth, int iHeight, float hapticRad);
    /// Stops the simulation thread and the device, frees the GL objects (context current).
    ~COpenGL() override;
    COpenGL(const COpenGL&) = delete;
    COpenGL& operator=(const COpenGL&) = delete;

    // ---- Frame ----------------------------------------------------------------------------
    /// Zoom easing, once per frame before drawing.
    void Idle();
    void Render_ELNET_Backbone();
    /// The window swaps the buffers; this only counts frames.
    void SwapOpenGLBuffers() { ++framesDrawn; }
    void setLastFrameTime(int framesPerSecond) { lastFrameRate = framesPerSecond; }
    int getLastFrameRate() const { return lastFrameRate; }
    int64_t getFramesDrawn() const { return framesDrawn; }

    // ---- GL set-up (called by the constructor, public for the window) ----------------------
    bool InitGL();
    void setupBasicLights();
    void ReSizeGLScene(int width, int height);
    /// Height of the surface the view draws on; the viewport keeps the picture's top edge at
    /// its top (the host sets it when the surface grows with the window).
    void setSurfaceHeight(int height) { surfaceHeight = height; }

    // ---- View control -----------------------------------------------------------------------
    void scrollUpView();
    void scrollDownView();
    void updateZoom();
    void shiftCam(int x, int y);
    void mouseDownTranslate(int x, int y);
    void resetALL();
    void set3DMode(bool on) override;
    void setEyeSeperation(float separation) override { eyeSeperation = separation; }
    void toggleEyeSeperation() override { eyeSeperation = -eyeSeperation; }
    bool getStereoSupport() const override { return stereoSupport; }
    void toggleRotateMode() { rotateMe = !rotateMe; }
    void toggleWorkspace(bool show) { showWorkspace = show; }
    void showSelectedAtoms(bool show) { showingSelected = show; }
    void renderSprings(bool show) { amRenderingSprings = show; }
    /// The probe sphere's radius in Å (SuperAtom's three haptic radii become 10 × Å).
    void setNewSphereSize(float angstrom);

    // ---- Loading ----------------------------------------------------------------------------
    /// Hands a loaded molecule to the view, which takes ownership of `network` (the previous
    /// one is deleted, after the simulation thread has been stopped). `atomList` stays the
    /// caller's and must outlive the device. Context current.
    void initilizeData(const Vector3d& maxPos, const Vector3d& minPos, const Vector3d& midPoint,
                       const std::vector<Atom*>& atomList, Progress* progressBar, ElasticNetworkModel* network);
    /// The same from the network's own data (eigen data files), for the network the view holds.
    void setupBinaryELN();
    /// setupBinaryELN for `network`, which the view takes (a network read from eigen data files).
    void setupBinaryELN(ElasticNetworkModel* network);
    /// Opens the haptic device (the HDAPI layer's choice: the arm, or the virtual device) for
    /// `atomList`; false, with the user told, when there is none. Returns the device model code
    /// through `deviceModel`.
    bool initiliseHaptics(const std::vector<Atom*>& atomList, int32_t* deviceModel = nullptr);
    /// Uses `device` as the device object (already initialised), for hosts and tests.
    void adoptDevice(std::unique_ptr<Haptics> device);
    /// Closes the device in use (its servo ticks end first) and opens the HDAPI layer's choice
    /// now, for the molecule already on the view: the same as initiliseHaptics before
    /// initilizeData, with the view's current centre, placement and zoom. The new device's
    /// scheduler is stopped. False when none opens (the view then has no device).
    bool replaceDevice(const std::vector<Atom*>& atomList, int32_t* deviceModel = nullptr);
    bool hasDevice() const { return haptics != nullptr && usingHaptics; }
    Haptics* getDevice() const { return hasDevice() ? haptics.get() : nullptr; }
    /// Where node `i` of the network was last drawn: its surface pixel (x, y from the top left)
    /// and window depth, through the device's transform and the last frame's matrices.
    std::array<double, 3> surfacePixelOf(int32_t i) const;

    /// Starts the simulation thread on the view's network (runningELN set).
    void fireSimulationThread();
    /// Stops and joins it (runningELN cleared); nothing when none runs.
    void stopSimulationThread();
    bool simulationThreadRunning() const { return simulationThread != nullptr; }

    /// Puts a session's kept force back on one atom: into the deformation by the route it was
    /// recorded with, kept by the atom, selected and on the device's selection stack (so that
    /// undo takes it out again). False (nothing done) for an atom index outside the network.
    bool applyForceToELN(int32_t atomNumber, const Vector3d& vec, float M, float EQForce,
                         const std::array<int32_t, 22>& modeArray);
    /// The device's workspace transform, rotations and translation (a session's); false, and
    /// `out` left as it is, without a device.
    bool writeHapticTransformationData(SessionWorkspace& out);
    /// Gives the device a session's workspace; false without a device.
    bool insertHapticTransformationData(const SessionWorkspace& in);

    // ---- Device forwarding (no-ops / 0 / false / none without a device) -------------------
    void mouseDownRotate(int x, int y);
    void updateMoleculePosition(int x, int y);
    void setReconfigureMolecule(int32_t r);
    void setHatpicState(bool b);
    Atom* getCurrentAtom();
    void setHapticsTranslate(bool b);
    bool checkToggle();
    void setHapticTranslateAmount(float amount);
    void setHapticSticking(bool b);
    bool pollHapticFirstEntry();
    int32_t gethapticButton();
    void resetHapticWS();
    void switchElasticMode(bool b);
    void addElasticNetworkHaptics();
    bool undoLastSelection();
    void resetSim();
    void addEqForce(float f);
    void setSaveForces(bool s);
    /// Sets the network's use-all-modes flag and tells the device.
    void useAllModes(const ModeChangeToken& token, bool s);
    void stopSchedular();
    /// Starts the device scheduler, then marks the network initialised.
    void startSchedular();
    float getForceMax() const;

    // ---- Network forwarding -----------------------------------------------------------------
    ElasticNetworkModel* getNetwork() const { return my_ELN_Model.get(); }
    /// The network's drawing (null before a network is on the view).
    NetworkDrawing* getNetworkDrawing() const { return networkDrawing.get(); }
    void setRc(float rc);
    /// The cutoff in Å.
    float getRc() const;
    void setELNRenderingDataUp();
    int32_t getAmountOfAtoms() const;
    bool getELNSetup() const;
    /// Hessian, eigen solution, then the force scaler for the device's average force.
    bool setupElasticNetwork(Progress* bar);
    void calculateForceScaler();
    bool writeNewElasticNetworkData();
    int32_t calcMaxPossibleModes(Progress* bar);
    int32_t calcMaxPossibleModesStandardFile(Progress* bar);
    int32_t getMaxModes() const;
    double getS() const;
    int32_t getELN_loadMode() const;
    bool getELN_loaded() const;
    std::string getPDB_Code() const;
    void setDirectory(const std::string& folder);
    /// The eigen data files the user chose; false when no main file (.hdv) is among them.
    bool recieveELNFileNames(const std::vector<std::string>& files);
    bool pipeNewModeFileToELN(const std::string& file);
    std::vector<int32_t> getElNemoModes() const;
    void setupSelectedELNemoModes();
    bool addEigenValueToELN(double value, int32_t index);
    void finalizeEigenValues(int32_t n);
    /// The mode-change handshake: empty while a simulation step runs.
    std::optional<ModeChangeToken> setChangingSimMode();
    void selectSliderAmount(const ModeChangeToken& token, int32_t n);
    void setElasticNetworkModeState(const ModeChangeToken& token, int32_t state);
    void copyModesToELN(const ModeChangeToken& token, const int32_t* modes, int32_t n);
    double getRMSingle(int32_t mode) const;
    double getRM(int32_t n) const;
    double getRTotal() const;
    std::vector<Atom*> getAtomContactList() const;
    bool newForceAdded() const;
    void setNewForceAdded(bool b);
    bool writeCAlphaFile(const std::string& file) const;
    // What the network shows and in which colours ("Show Forces", "Show Spheres", "Colour
    // Chains", "Chainbow", one colour for all, back to grey). Nothing without a network.
    void setRenderForces(bool b);
    void setRenderingSpheresElN(bool b);
    void colourELNChains();
    void colourELNGroups();
    void setBBColour(const Vector3d& colour);
    void removeAllResidues();

    // ---- State (read by the window and the tests) ------------------------------------------
    bool isShaderEnabled() const { return shaderYESNO; }
    /// The driver draws on the CPU (known once the view is initialised).
    bool drawsInSoftware() const;
    bool is3DMode() const { return render3DMode; }
    float getEyeSeperation() const { return eyeSeperation; }
    float getCurrentCamZ() const { return currentCamZ; }
    float getNewCamZ() const { return newCamZ; }
    float getZoomT() const { return zoomT; }
    float getXCam() const { return xCam; }
    float getYCam() const { return yCam; }
    bool isRotateMode() const { return rotateMe; }
    bool isShowingWorkspace() const { return showWorkspace; }
    bool isShowingSelected() const { return showingSelected; }
    bool isRenderingSprings() const { return amRenderingSprings; }
    double getNearDist() const { return nearDist; }
    double getFarDist() const { return farDist; }
    double getAspect() const { return aspect; }
    /// Whether the last frame drew the contact highlight.
    bool drewContactHighlight() const { return contactHighlightDrawn; }
    IdleAnimation& idleAnimation() { return *animation; }

    /// Near and far planes and the vertical field of view of the perspective projection.
    static double nearPlane();
    static double farPlane() { return nearPlane() + 18000.0; }
    static constexpr double kFieldOfView = 40.0;

private:
    void renderFrame();
    /// Clears colour and depth; the drawing then leaves the alpha channel opaque.
    void clearFrame();
    void drawELNBackbone(const Vector3d& eye);
    void draw3DELNBackbone();
    void drawIdleScene();
    void drawTestShape();
    void setPerspective();
    void activatePhong();
    void stopPhong();
    void saveMatrices();
    bool drawingToDefaultFramebuffer() const;
    /// Forgets the network's drawing and the device (simulation thread stopped first).
    void releaseNetwork();
    void adoptNetwork(ElasticNetworkModel* network);
    Vector3d cameraEye() const;

    std::unique_ptr<ShaderHandler> shaderHandler;
    std::unique_ptr<ShaderHandler> lineShaderHandler;
    std::unique_ptr<GLChecks> checks;
    unsigned crosshairTexture = 0; ///< the 2-D overlay's crosshair, 0 when it could not be read
    std::unique_ptr<GLSL::GLShader> phong_shader;
    std::unique_ptr<GLSL::GLShader> lineShader;
    std::unique_ptr<IdleAnimation> animation;

    std::unique_ptr<ElasticNetworkModel> my_ELN_Model;
    std::unique_ptr<NetworkDrawing> networkDrawing;
    std::unique_ptr<SimulationThread> simulationThread;
    std::unique_ptr<Haptics> haptics;
    std::unique_ptr<DeviceGraphics> deviceGraphics;
    bool usingHaptics = false;

    bool shaderYESNO = false;
    bool stereoSupport = false;
    bool render3DMode = false;
    float eyeSeperation = 5.0f;
    float currentCamZ = 0.0f;
    float newCamZ = 0.0f;
    float zoomT = 0.0f;
    float zoomT_INC = 0.0f;
    int lastFrameRate = 80;
    float xCam = 0.0f;
    float yCam = 0.0f;
    float oldMolXtrans = 0.0f;
    float oldMolYtrans = 0.0f;
    double nearDist = 0.0;
    double farDist = 0.0;
    double aspect = 1.0;
    bool showWorkspace = true;
    bool rotateMe = false;
    bool showingSelected = true;
    bool amRenderingSprings = false;
    float myComponentWidth = 0.0f;
    float myComponentHeight = 0.0f;
    int surfaceHeight = 0;
    bool contactHighlightDrawn = false;
    int64_t framesDrawn = 0;
    std::optional<std::chrono::steady_clock::time_point> lastIdleFrame;
};

} // namespace vornax
