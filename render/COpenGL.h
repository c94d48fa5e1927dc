// The 3-D view: camera, projection, lights, stereo and the drawing order of every frame. It
// draws what a workbench (haptics/Workbench.h) holds: the network, placed where the workbench
// put it, and the device's probe and workspace. It owns no network, device or thread.
//
// COpenGL draws into whatever GL context is current: the window makes its context current
// before constructing the view and before every call that draws or makes GL objects
// (construction, ReSizeGLScene, Idle + Render_ELNET_Backbone, the destructor).
//
//     Workbench bench;
//     COpenGL view(bench, width, height, 1.52f);  // context current
//     bench.handOver(std::move(network), atoms, placement);
//     bench.start();                              // network marked initialised
//     view.resetALL();
//     bench.startSimulation();
//     every 10 ms: view.Idle(); view.Render_ELNET_Backbone(); swap
//
// Without a device the view draws the molecule about its centre, turned by nothing.
#pragma once

#include "common/SeqLocked.h"
#include "common/Vector3d.h"
#include "haptics/ArcBall.h"
#include "render/DeviceDrawing.h"
#include "render/StereoOptions.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace vornax {

/// What the last frame shows of the network, in surface pixels (x right, y down from the top
/// left of the surface).
struct ViewReport {
    std::array<int, 4> viewport{};      ///< x, y (from the bottom, as GL has it), width, height
    std::array<double, 4> nodeBounds{}; ///< x min, y min, x max, y max of the drawn node spheres
    int64_t nodes = 0;                  ///< nodes with a position
    int64_t nodesOutside = 0;           ///< nodes whose centre falls outside the viewport or its depth
};

class DeviceGraphics;
class GLChecks;
class IdleAnimation;
class NetworkDrawing;
class ShaderHandler;
class Workbench;
namespace GLSL {
class GLShader;
}

class COpenGL final : public StereoView {
public:
    /// One wheel step of the zoom: at least this, and a twentieth of the distance further out,
    /// so that zooming out reaches the largest structure in a few dozen steps.
    static constexpr float kZoomStep = 20.1f;
    static constexpr float kZoomStepFraction = 0.05f;
    /// The margin around a framed molecule, as a fraction of its radius.
    static constexpr double kFrameMargin = 0.1;

    /// With the context current: checks, shaders, fixed GL state. `workbench` (not owned) must
    /// outlive the view. `hapticRad` is the probe sphere's radius in Å.
    COpenGL(Workbench& workbench, int iWidth, int iHeight, float hapticRad);
    /// Frees the GL objects (context current); the workbench's device draws nothing after.
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
    int64_t getFramesDrawn() const { return framesDrawn; }

    // ---- GL set-up ----------------------------------------------------------------------------
    void ReSizeGLScene(int width, int height);
    /// Height of the surface the view draws on; the viewport keeps the picture's top edge at
    /// its top (the host sets it when the surface grows with the window).
    void setSurfaceHeight(int height) { surfaceHeight = height; }

    // ---- View control -----------------------------------------------------------------------
    void scrollUpView();
    void scrollDownView();
    void shiftCam(int x, int y);
    void mouseDownTranslate(int x, int y);
    /// The rotation and pan undone, the device's molecule back in place, and the camera as far
    /// back as the whole molecule needs (never closer than the device model's own distance).
    void resetALL();
    /// The camera distance at which the whole network, with the margin, fits the view.
    float framedCameraZ() const;
    /// The last frame's view of the network (for --view-report and the tests).
    ViewReport viewReport() const;
    void set3DMode(bool on) override;
    void setEyeSeperation(float separation) override { eyeSeperation = separation; }
    void toggleEyeSeperation() override { eyeSeperation = -eyeSeperation; }
    bool getStereoSupport() const override { return stereoSupport; }
    void toggleRotateMode() { rotateMe = !rotateMe; }
    void toggleWorkspace(bool show) { showWorkspace = show; }
    void showSelectedAtoms(bool show) { showingSelected = show; }
    void renderSprings(bool show) { amRenderingSprings = show; }

    Workbench& workbench() const { return m_workbench; }
    /// The drawing of the workbench's network (null before a network is handed over, and until
    /// the first frame after a hand-over).
    NetworkDrawing* getNetworkDrawing() const;
    /// Where node `i` of the network was last drawn: its surface pixel (x, y from the top left)
    /// and window depth, through the molecule's transform and the last frame's matrices.
    std::array<double, 3> surfacePixelOf(int32_t i) const;
    /// The matrices the last frame saved.
    ViewTransforms frameTransforms() const;

    // ---- State (read by the window and the tests) ------------------------------------------
    bool isShaderEnabled() const { return shaderYESNO; }
    /// The driver draws on the CPU (known once the view is initialised).
    bool drawsInSoftware() const;
    bool is3DMode() const { return render3DMode; }
    float getEyeSeperation() const { return eyeSeperation; }
    float getCurrentCamZ() const { return currentCamZ; }
    float getNewCamZ() const { return newCamZ; }
    double getNearDist() const { return nearDist; }
    double getFarDist() const { return farDist; }
    double getAspect() const { return aspect; }
    /// The current viewport size in pixels.
    int getScreenWidth() const { return screenWidth; }
    int getScreenHeight() const { return screenHeight; }
    /// Whether the last frame drew the contact highlight.
    bool drewContactHighlight() const { return contactHighlightDrawn; }
    IdleAnimation& idleAnimation() { return *animation; }

    /// Near and far planes and the vertical field of view of the perspective projection.
    static double nearPlane();
    static double farPlane() { return nearPlane() + 18000.0; }
    static constexpr double kFieldOfView = 40.0;

private:
    bool InitGL();
    void setupBasicLights();
    void updateZoom();
    /// The drawing follows the workbench's network: a new one is made after a hand-over.
    void followNetwork();
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
    Vector3d cameraEye() const;
    /// Model units to the molecule's place in the scene: the device's transform, or without
    /// one the reset translation and the mouse's rotation about the structure's centre.
    Matrix4f moleculeMatrix() const;
    /// The largest distance of a node's sphere from the structure's centre (model units).
    float measureNetworkExtent() const;
    float zoomStep() const;

    /// The eye lies this much further back without a device.
    static constexpr float kNoDeviceEyeOffset = 40.0f;
    /// The node spheres' largest size factor (the device's zoom reaches 1.5).
    static constexpr float kLargestSphereScale = 1.5f;
    static constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

    Workbench& m_workbench;

    std::unique_ptr<ShaderHandler> shaderHandler;
    std::unique_ptr<ShaderHandler> lineShaderHandler;
    std::unique_ptr<GLChecks> checks;
    unsigned crosshairTexture = 0; ///< the 2-D overlay's crosshair, 0 when it could not be read
    std::unique_ptr<GLSL::GLShader> phong_shader;
    std::unique_ptr<GLSL::GLShader> lineShader;
    std::unique_ptr<IdleAnimation> animation;

    std::unique_ptr<NetworkDrawing> networkDrawing;
    uint64_t drawnGeneration = 0; ///< the workbench's network the drawing is for
    std::unique_ptr<DeviceGraphics> deviceGraphics;
    /// Rotation of the molecule without a device (column order): none after a reset.
    Matrix4f moleculeRotation = identity4();
    /// Model-view and projection matrices and viewport saved by every frame (the mouse stylus
    /// and the probe's window position read them).
    SeqLocked<ViewTransforms> savedTransforms;
    int screenWidth = 0;
    int screenHeight = 0;

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
    float networkExtent = 0.0f; ///< measureNetworkExtent at the last reset
    bool showWorkspace = true;
    bool rotateMe = false;
    bool showingSelected = true;
    bool amRenderingSprings = false;
    int surfaceHeight = 0;
    bool contactHighlightDrawn = false;
    int64_t framesDrawn = 0;
    std::optional<std::chrono::steady_clock::time_point> lastIdleFrame;
};

} // namespace vornax
