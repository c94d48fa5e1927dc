#include "render/COpenGL.h"

#include "render/GLHeaders.h"

#include "common/Console.h"
#include "common/Units.h"
#include "enm/ElasticNetworkModel.h"
#include "haptics/DeviceGraphics.h"
#include "haptics/Haptics.h"
#include "haptics/Workbench.h"
#include "molecule/Atom.h"
#include "molecule/SuperAtom.h"
#include "render/AtomDrawing.h"
#include "render/DeviceDrawing.h"
#include "render/GLChecks.h"
#include "render/GLSL/GLShader.h"
#include "render/IdleAnimation.h"
#include "render/NetworkDrawing.h"
#include "render/RuntimeData.h"
#include "render/ShaderHandler.h"
#include "render/TgaImage.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vornax {

namespace {

void setLight(GLenum light, std::array<float, 4> ambient, std::array<float, 4> diffuse, std::array<float, 4> specular)
{
    glLightfv(light, GL_AMBIENT, ambient.data());
    glLightfv(light, GL_DIFFUSE, diffuse.data());
    glLightfv(light, GL_SPECULAR, specular.data());
}

void setAttenuation(GLenum light, float value)
{
    glLightf(light, GL_CONSTANT_ATTENUATION, value);
    glLightf(light, GL_LINEAR_ATTENUATION, value);
    glLightf(light, GL_QUADRATIC_ATTENUATION, value);
}

std::array<double, 16> identity4d() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

/// Rigid-body product a · b of two column-order 4 × 4 matrices whose last rows are (0, 0, 0, 1).
Matrix4f rigidProduct(const Matrix4f& a, const Matrix4f& b)
{
    Matrix4f m = identity4();
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            m[c * 4 + r] = a[0 * 4 + r] * b[c * 4 + 0] + a[1 * 4 + r] * b[c * 4 + 1] + a[2 * 4 + r] * b[c * 4 + 2];
    for (int r = 0; r < 3; ++r)
        m[12 + r] = a[0 * 4 + r] * b[12] + a[1 * 4 + r] * b[13] + a[2 * 4 + r] * b[14] + a[12 + r];
    return m;
}

/// `eye` in the frame of `m`: minus m's translation, projected on its three rotation columns.
Vector3d intoFrame(const Matrix4f& m, const Vector3d& eye)
{
    const Vector3d d(eye.x - m[12], eye.y - m[13], eye.z - m[14]);
    return {d.x * m[0] + d.y * m[1] + d.z * m[2], d.x * m[4] + d.y * m[5] + d.z * m[6],
            d.x * m[8] + d.y * m[9] + d.z * m[10]};
}

} // namespace

double COpenGL::nearPlane() { return 1.0 / std::tan(0.3490658503988659); }

COpenGL::COpenGL(Workbench& workbench, int iWidth, int iHeight, float hapticRad)
    : m_workbench(workbench), shaderHandler(std::make_unique<ShaderHandler>()),
      lineShaderHandler(std::make_unique<ShaderHandler>()), checks(std::make_unique<GLChecks>()),
      animation(std::make_unique<IdleAnimation>()), savedTransforms(ViewTransforms{identity4d(), identity4d(), {}})
{
    SuperAtom::setAllHapticRadii(units::toModel(hapticRad));
    xCam = yCam = 0.0f;
    // The device's arc-ball turns with the mouse over a surface of this size.
    m_workbench.setViewSize(static_cast<float>(iWidth), static_cast<float>(iHeight));
    surfaceHeight = iHeight;

    ReSizeGLScene(iWidth, iHeight);
    InitGL();
    stereoSupport = checks->queryStereoBuffer();
    shaderYESNO = checks->checkOpenGLExtensions();
    console::line("Checks Complete.");
    if (shaderYESNO) {
        console::write(console::Capability, "GLSL is Enabled");
        phong_shader.reset(shaderHandler->loadFromFile(runtimeDataPath("Shaders/PhongMultiLight.vert").string(), "",
                                                       runtimeDataPath("Shaders/PhongMultiLight.frag").string()));
        lineShader.reset(
            lineShaderHandler->loadFromFile(runtimeDataPath("Shaders/PhongMultiLightLINES.vert").string(), "",
                                            runtimeDataPath("Shaders/PhongMultiLightLINES.frag").string()));
    } else {
        console::write(console::Capability, "GLSL Cannot Be Enabled");
        setupBasicLights();
    }

    render3DMode = false;
    eyeSeperation = 5.0f;
    zoomT = zoomT_INC = 0.0f;
    showWorkspace = true;
    rotateMe = false;
    showingSelected = true;
    amRenderingSprings = false;
    lastFrameRate = 80;

    // The probe's window position comes from the matrices the last frame saved.
    DeviceDrawingOptions options;
    options.view = [this] { return frameTransforms(); };
    options.crosshairTexture = crosshairTexture;
    deviceGraphics = makeDeviceGraphics(std::move(options));
}

COpenGL::~COpenGL()
{
    console::line("deleting OpenGL");
    if (Haptics* device = m_workbench.device())
        if (device->getGraphics() == deviceGraphics.get()) device->setGraphics(nullptr);
    deviceGraphics.reset();
    networkDrawing.reset();
    console::line("handle destroyed");
    phong_shader.reset();
    lineShader.reset();
    console::line("finished deleting OpenGL");
}

void COpenGL::followNetwork()
{
    // The device in use draws its probe and workspace through the view.
    if (Haptics* device = m_workbench.device())
        if (device->getGraphics() != deviceGraphics.get()) device->setGraphics(deviceGraphics.get());
    const uint64_t generation = m_workbench.generation();
    if (generation == drawnGeneration) return;
    // A hand-over: the old drawing goes (it only frees its GL objects), the new network's is made.
    networkDrawing.reset();
    drawnGeneration = generation;
    ElasticNetworkModel* eln = m_workbench.network();
    if (!eln) return;
    networkDrawing = std::make_unique<NetworkDrawing>(*eln);
    networkDrawing->init();
    networkDrawing->setPhongBatches(shaderYESNO && phong_shader && phong_shader->isLinked());
    if (eln->getAmountOfAtoms() > 0) networkDrawing->generateRenderingBB();
    showWorkspace = true;
}

NetworkDrawing* COpenGL::getNetworkDrawing() const
{
    return drawnGeneration == m_workbench.generation() ? networkDrawing.get() : nullptr;
}

ViewTransforms COpenGL::frameTransforms() const { return savedTransforms.load(); }

// ---- GL set-up ----------------------------------------------------------------------------

bool COpenGL::InitGL()
{
    glShadeModel(GL_SMOOTH);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glAlphaFunc(GL_LEQUAL, 1.0f);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);

    crosshairTexture = loadTgaTexture(runtimeDataPath("Textures/Crosshairsnew2.tga"));
    if (crosshairTexture != 0) glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);

    const float fogColour[4] = {0.1f, 0.1f, 0.1f, 1.0f};
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogfv(GL_FOG_COLOR, fogColour);
    glFogf(GL_FOG_DENSITY, 0.0025f);
    glHint(GL_FOG_HINT, GL_DONT_CARE);
    glFogf(GL_FOG_START, -1000.0f);
    glFogf(GL_FOG_END, 1000.0f);

    makeAtomDisplayLists();

    setAttenuation(GL_LIGHT0, 0.0009f);
    setAttenuation(GL_LIGHT1, 1e-07f);
    setAttenuation(GL_LIGHT2, 0.0009f);
    setAttenuation(GL_LIGHT3, 1e-05f);

    lastIdleFrame.reset();
    return true;
}

void COpenGL::setupBasicLights()
{
    console::line("setting up basic lights");
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT1);
    setLight(GL_LIGHT1, {0, 0, 0, 1}, {160, 160, 160, 1}, {140, 140, 140, 1});
    glMaterialf(GL_FRONT, GL_SHININESS, 128.0f);
}

void COpenGL::ReSizeGLScene(int width, int height)
{
    if (width < 1) width = 1;
    if (height < 1) height = 1;
    screenWidth = width;
    screenHeight = height;
    glViewport(0, surfaceHeight - height, width, height);
    setPerspective();
}

void COpenGL::setPerspective()
{
    const int w = screenWidth, h = screenHeight;
    nearDist = nearPlane();
    // Deep enough for the far side of the molecule at the current distance.
    farDist = std::max(farPlane(),
                       static_cast<double>(currentCamZ) + kNoDeviceEyeOffset - m_workbench.initialTranslation().z
                           + 2.0 * networkExtent);
    aspect = h > 0 ? static_cast<double>(w) / h : 1.0;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFieldOfView, aspect, nearDist, farDist);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

bool COpenGL::drawingToDefaultFramebuffer() const
{
    GLint bound = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    return bound == 0;
}

void COpenGL::clearFrame()
{
    // The picture is opaque: the translucent colours blend with what is drawn, and the alpha
    // they carry stays out of the framebuffer, where a window compositor would read it.
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
}

// ---- Zoom and pan -------------------------------------------------------------------------

void COpenGL::Idle()
{
    zoomT_INC = std::fabs(80.0f / static_cast<float>(lastFrameRate > 0 ? lastFrameRate : 1)) * 0.03f;
    updateZoom();
    if (Haptics* device = m_workbench.device()) device->growHapticWS(zoomT_INC);
}

void COpenGL::updateZoom()
{
    if (currentCamZ == newCamZ) return;
    if (zoomT < 1.0f) {
        currentCamZ += (newCamZ - currentCamZ) * zoomT;
        zoomT += zoomT_INC;
    } else {
        currentCamZ = newCamZ;
        zoomT = 0.0f;
    }
    if (Haptics* device = m_workbench.device()) device->setCameraZoom(currentCamZ);
}

float COpenGL::zoomStep() const { return std::max(kZoomStep, kZoomStepFraction * newCamZ); }

void COpenGL::scrollUpView()
{
    if (newCamZ - zoomStep() > 0.0f) newCamZ -= zoomStep();
    zoomT = 0.0f;
}

void COpenGL::scrollDownView()
{
    if (newCamZ > 0.0f) newCamZ += zoomStep();
    zoomT = 0.0f;
}

void COpenGL::mouseDownTranslate(int x, int y)
{
    oldMolXtrans = static_cast<float>(x) / 50.0f;
    oldMolYtrans = static_cast<float>(y) / 50.0f;
}

void COpenGL::shiftCam(int x, int y)
{
    const float nx = static_cast<float>(x) / 50.0f, ny = static_cast<float>(y) / 50.0f;
    xCam += oldMolXtrans - nx;
    yCam -= oldMolYtrans - ny;
    oldMolXtrans = nx;
    oldMolYtrans = ny;
}

void COpenGL::resetALL()
{
    moleculeRotation = identity4();
    xCam = yCam = 0.0f;
    float standard = Workbench::kPremiumCameraZ;
    if (m_workbench.deviceParameters().deviceModel != 2) {
        console::line("NOT PREMIUM. Adjusting camera accordingly...");
        standard = Workbench::kStandardCameraZ;
    }
    m_workbench.resetPlacement();
    // Far enough back for the whole molecule, and never closer than the device's own distance.
    networkExtent = measureNetworkExtent();
    newCamZ = currentCamZ = std::max(standard, framedCameraZ());
    zoomT = 0.0f;
    // The device's workspace follows the camera, also back from a wheel zoom.
    if (Haptics* device = m_workbench.device()) device->setCameraZoom(currentCamZ);
    setPerspective();
}

float COpenGL::measureNetworkExtent() const
{
    const ElasticNetworkModel* eln = m_workbench.network();
    if (!eln || !eln->deformation().hasNodeAtoms()) return 0.0f;
    const Vector3d centre = m_workbench.placement().centre;
    float extent = 0.0f;
    for (int32_t i = 0; i < eln->getAmountOfAtoms(); ++i) {
        const Vector3d p = eln->deformation().getDeformedPosition(i);
        if (p.isFinite()) extent = std::max(extent, p.euclideanDistance(centre));
    }
    return extent + kNodeSphereRadius * kLargestSphereScale;
}

float COpenGL::framedCameraZ() const
{
    // The molecule's bounding sphere, with the margin, inside the narrower of the two fields of
    // view: at distance D it subtends asin(r / D).
    const double tanVertical = std::tan(kFieldOfView * 0.5 * kRadiansPerDegree);
    const double narrower = std::atan(std::min(tanVertical, tanVertical * (aspect > 0.0 ? aspect : 1.0)));
    const double distance = networkExtent * (1.0 + kFrameMargin) / std::sin(narrower);
    // The eye sits at the camera distance (40 further without a device); the molecule's centre
    // at the reset translation's depth.
    const double eyeBeyond = m_workbench.device() ? 0.0 : kNoDeviceEyeOffset;
    return static_cast<float>(distance + m_workbench.initialTranslation().z - eyeBeyond);
}

Matrix4f COpenGL::moleculeMatrix() const
{
    if (Haptics* device = m_workbench.device()) return device->getTransform();
    Matrix4f t = identity4();
    const Vector3d translation = m_workbench.translation();
    t[12] = translation.x;
    t[13] = translation.y;
    t[14] = translation.z;
    // The nodes keep the file's coordinates: turn and place the molecule about its centre.
    Matrix4f centre = identity4();
    const Vector3d mid = m_workbench.placement().centre;
    centre[12] = -mid.x;
    centre[13] = -mid.y;
    centre[14] = -mid.z;
    return rigidProduct(rigidProduct(t, moleculeRotation), centre);
}

void COpenGL::set3DMode(bool on)
{
    // Without stereo buffers the left and right back buffers do not exist.
    render3DMode = on && stereoSupport;
}

// ---- Frame --------------------------------------------------------------------------------

Vector3d COpenGL::cameraEye() const
{
    if (m_workbench.device()) return {xCam, yCam + m_workbench.deviceParameters().viewHeightOffset, currentCamZ};
    return {0.0f, 0.0f, currentCamZ + kNoDeviceEyeOffset};
}

void COpenGL::activatePhong()
{
    if (shaderYESNO && phong_shader) phong_shader->use();
}

void COpenGL::stopPhong()
{
    if (shaderYESNO && phong_shader) phong_shader->stop();
}

void COpenGL::saveMatrices() { savedTransforms.store(currentGLTransforms()); }

void COpenGL::Render_ELNET_Backbone()
{
    renderFrame();
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}

void COpenGL::renderFrame()
{
    contactHighlightDrawn = false;
    clearFrame();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    followNetwork();
    ElasticNetworkModel* eln = m_workbench.network();
    if (!eln || !eln->isInit() || !networkDrawing) {
        drawIdleScene();
        return;
    }

    Haptics* device = m_workbench.device();
    if (shaderYESNO) {
        activatePhong();
    } else {
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
        glEnable(GL_LIGHT7);
        setLight(GL_LIGHT7, {0.5f, 0.5f, 0.5f, 1}, {0.7f, 0.7f, 0.7f, 1}, {0.2f, 0.2f, 0.2f, 1});
        const float position[4] = {0, 60, 0, 0};
        glLightfv(GL_LIGHT7, GL_POSITION, position);
    }

    const Vector3d eye = cameraEye();
    if (device) {
        const float centreY = yCam + m_workbench.deviceParameters().viewHeightOffset;
        gluLookAt(eye.x, eye.y, eye.z, xCam, centreY, 1.0, 0.0, 1.0, 0.0);
        const float directional[4] = {eye.x, eye.y, eye.z, 0.0f};
        const float positional[4] = {eye.x, eye.y, eye.z, 1.0f};
        glLightfv(GL_LIGHT1, GL_POSITION, directional);
        glLightfv(GL_LIGHT3, GL_POSITION, positional);
    } else {
        gluLookAt(eye.x, eye.y, eye.z, 0.0, 0.0, 1.0, 0.0, 1.0, 0.0);
        // The lights as a device places them, with the probe (where lights 0 and 2 follow it)
        // taken to be at the eye. Left where GL puts them, all four would shine along the view
        // at full strength, and light 2 would tint everything blue.
        const float directional[4] = {eye.x, eye.y, eye.z, 0.0f};
        const float positional[4] = {eye.x, eye.y, eye.z, 1.0f};
        glLightfv(GL_LIGHT0, GL_POSITION, positional);
        glLightfv(GL_LIGHT1, GL_POSITION, directional);
        glLightfv(GL_LIGHT2, GL_POSITION, positional);
        glLightfv(GL_LIGHT3, GL_POSITION, positional);
    }
    saveMatrices();

    // A mode played swings the drawn nodes about the deformed structure.
    ModeAnimation& animation = m_workbench.animation();
    networkDrawing->setFrameOffsets(animation.running() ? &animation.displacements(ModeAnimation::Clock::now())
                                                        : nullptr);
    // A colour map, the displacement's following the pull.
    NodeColouring& colouring = m_workbench.colouring();
    colouring.refresh(*eln);
    networkDrawing->setNodeMap(colouring.map());
    networkDrawing->updateBackboneAngles();
    if (render3DMode)
        draw3DELNBackbone();
    else
        drawELNBackbone(eye);

    if (device && !rotateMe) {
        device->renderWorkspace(showWorkspace);
        device->renderHaptics2D();
        setPerspective();
    }
}

void COpenGL::drawELNBackbone(const Vector3d& eye)
{
    ElasticNetworkModel& eln = networkDrawing->network();
    Haptics* device = m_workbench.device();
    if (shaderYESNO) {
        setLight(GL_LIGHT0, {0, 0, 0, 1}, {1, 1, 1, 1}, {0.8f, 0.8f, 0.8f, 1});
        setLight(GL_LIGHT1, {0.1f, 0.1f, 0.1f, 1}, {0.7f, 0.7f, 0.7f, 1}, {0, 0, 0, 1});
        setLight(GL_LIGHT2, {0, 0, 0, 1}, {0, 0, 1, 1}, {0, 0, 1, 1});
        setLight(GL_LIGHT3, {0.1f, 0.1f, 0.1f, 1}, {1, 1, 1, 1}, {0, 0, 0, 1});
    }
    if (device && !rotateMe) device->renderElasticNetworkGraphics();

    glPushMatrix();
    const Matrix4f m = moleculeMatrix();
    // The camera in the molecule's frame picks each sphere's level of detail.
    const Vector3d local = intoFrame(m, eye);
    glMultMatrixf(m.data());

    networkDrawing->renderBackbone(local);

    if (amRenderingSprings) {
        if (shaderYESNO) {
            stopPhong();
            if (lineShader) lineShader->use();
        } else {
            glDisable(GL_LIGHTING);
        }
        networkDrawing->renderSprings();
        if (shaderYESNO) {
            if (lineShader) lineShader->stop();
            activatePhong();
        } else {
            glEnable(GL_LIGHTING);
        }
    }

    stopPhong();
    glEnable(GL_BLEND);
    if (device && eln.isInit() && showingSelected) {
        Atom* atom = device->getCurrentAtom();
        if (atom && !atom->isSelected() && atom->isInContact()) {
            const Vector3d p = atom->getMyDeformedPosition();
            const float scale = device->getZoom() * 6.0f + 1.5f;
            glColor4f(0.0f, 1.0f, 0.0f, 0.5f);
            glPushMatrix();
            glTranslatef(p.x, p.y, p.z);
            glScalef(scale, scale, scale);
            callHapticRadiusSphere();
            glPopMatrix();
            contactHighlightDrawn = true;
        }
    }
    if (showingSelected) networkDrawing->renderSelectedAtoms();
    glDisable(GL_BLEND);
    activatePhong();
    glPopMatrix();
}

void COpenGL::draw3DELNBackbone()
{
    const float offset = m_workbench.deviceParameters().viewHeightOffset;
    const float eyes[2] = {-eyeSeperation, eyeSeperation};
    const GLenum buffers[2] = {GL_BACK_LEFT, GL_BACK_RIGHT};
    for (int i = 0; i < 2; ++i) {
        glDrawBuffer(buffers[i]);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        gluLookAt(eyes[i], offset, currentCamZ, 0.0, offset, 1.0, 0.0, 1.0, 0.0);
        clearFrame();
        drawELNBackbone(Vector3d(eyes[i], offset, currentCamZ));
        if (i == 0) {
            if (shaderYESNO) {
                activatePhong();
            } else {
                glEnable(GL_LIGHTING);
                glEnable(GL_LIGHT0);
                setLight(GL_LIGHT0, {0.1f, 0.1f, 0.1f, 1}, {1, 1, 1, 1}, {1, 1, 1, 1});
                const float position[4] = {0, 60, 0, 0};
                glLightfv(GL_LIGHT0, GL_POSITION, position);
            }
        }
    }
    glDrawBuffer(GL_BACK);
}

bool COpenGL::drawsInSoftware() const { return checks && checks->softwareRendering; }

void COpenGL::drawIdleScene()
{
    if (drawingToDefaultFramebuffer()) glDrawBuffer(GL_BACK);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT1);
    clearFrame();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(1.0, 0.0, 47.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
    setLight(GL_LIGHT1, {0, 0, 0, 1}, {6, 6, 6, 1}, {4, 4, 4, 1});
    const float position[4] = {0, 20, 60, 0};
    glLightfv(GL_LIGHT1, GL_POSITION, position);
    drawTestShape();
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT1);
}

void COpenGL::drawTestShape()
{
    const float ambientDiffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    const float specular[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, ambientDiffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 128.0f);

    const auto now = std::chrono::steady_clock::now();
    if (lastIdleFrame) animation->advance(std::chrono::duration<double, std::milli>(now - *lastIdleFrame).count());
    lastIdleFrame = now;

    // Centred in a 2-D projection of the viewport.
    GLint box[4] = {0, 0, 1, 1};
    glGetIntegerv(GL_VIEWPORT, box);
    const double w = box[2] > 0 ? box[2] : 1, h = box[3] > 0 ? box[3] : 1;
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-w / 2.0, w / 2.0, -h / 2.0, h / 2.0, -4000.0, 4000.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    animation->draw(static_cast<float>(0.8 * std::min(w, h)));
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glViewport(box[0], box[1], box[2], box[3]);
    setPerspective();
}

std::array<double, 3> COpenGL::surfacePixelOf(int32_t i) const
{
    const Vector3d d =
        Haptics::modelToDevice(moleculeMatrix(), m_workbench.network()->deformation().getDeformedPosition(i));
    const ViewTransforms t = frameTransforms();
    const std::array<int, 4>& vp = t.viewport;
    double x = 0, y = 0, z = 0;
    gluProject(d.x, d.y, d.z, t.modelView.data(), t.projection.data(), vp.data(), &x, &y, &z);
    return {x - 0.5, vp[1] + vp[3] - y - 0.5, z};
}

ViewReport COpenGL::viewReport() const
{
    ViewReport r;
    const ViewTransforms t = frameTransforms();
    r.viewport = t.viewport;
    const ElasticNetworkModel* eln = m_workbench.network();
    if (!eln || !eln->deformation().hasNodeAtoms() || t.viewport[2] <= 0 || t.viewport[3] <= 0) return r;
    const Matrix4f m = moleculeMatrix();
    const std::array<double, 16>& mv = t.modelView;
    const std::array<double, 16>& pr = t.projection;
    const double radius = networkDrawing ? networkDrawing->nodeSphereRadius() : kNodeSphereRadius;
    const double top = t.viewport[1] + t.viewport[3];
    // Where the last frame drew the nodes (a mode played moves them), else where they are.
    const NetworkDrawing* drawing = getNetworkDrawing();
    const std::vector<Vector3d>* drawn = drawing ? &drawing->framePositions() : nullptr;
    if (drawn && drawn->size() != static_cast<std::size_t>(eln->getAmountOfAtoms())) drawn = nullptr;
    bool any = false;
    for (int32_t i = 0; i < eln->getAmountOfAtoms(); ++i) {
        const Vector3d p = drawn ? (*drawn)[static_cast<std::size_t>(i)] : eln->deformation().getDeformedPosition(i);
        if (!p.isFinite()) continue;
        ++r.nodes;
        const Vector3d w = Haptics::modelToDevice(m, p);
        const double world[3] = {w.x, w.y, w.z};
        double eye[4];
        for (int k = 0; k < 4; ++k)
            eye[k] = mv[k] * world[0] + mv[4 + k] * world[1] + mv[8 + k] * world[2] + mv[12 + k];
        double clip[4];
        for (int k = 0; k < 4; ++k)
            clip[k] = pr[k] * eye[0] + pr[4 + k] * eye[1] + pr[8 + k] * eye[2] + pr[12 + k] * eye[3];
        if (!(clip[3] > 0.0)) {
            ++r.nodesOutside; // behind the eye
            continue;
        }
        // Surface pixels, y down from the viewport's top edge.
        const double x = t.viewport[0] + (clip[0] / clip[3] + 1.0) * 0.5 * t.viewport[2];
        const double y = top - (t.viewport[1] + (clip[1] / clip[3] + 1.0) * 0.5 * t.viewport[3]);
        // A sphere's radius on screen: its size over its depth, scaled as the projection does.
        const double pixels = radius * pr[5] * 0.5 * t.viewport[3] / clip[3];
        // Outside the viewport, or cut off by the near or the far plane.
        if (x < t.viewport[0] || x > t.viewport[0] + t.viewport[2] || y < top - t.viewport[1] - t.viewport[3]
            || y > top - t.viewport[1] || std::fabs(clip[2]) > clip[3])
            ++r.nodesOutside;
        const std::array<double, 4> box = {x - pixels, y - pixels, x + pixels, y + pixels};
        if (!any) {
            r.nodeBounds = box;
            any = true;
        } else {
            r.nodeBounds = {std::min(r.nodeBounds[0], box[0]), std::min(r.nodeBounds[1], box[1]),
                            std::max(r.nodeBounds[2], box[2]), std::max(r.nodeBounds[3], box[3])};
        }
    }
    return r;
}

} // namespace vornax
