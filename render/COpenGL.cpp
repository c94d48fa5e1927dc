#include "render/COpenGL.h"

#include "render/GLHeaders.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/SimulationThread.h"
#include "haptics/DeviceGraphics.h"
#include "haptics/Haptics.h"
#include "haptics/SensableHaptics.h"
#include "molecule/Atom.h"
#include "molecule/SessionFile.h"
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
#include "render/ViewGlobals.h"

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

COpenGL::COpenGL(int iWidth, int iHeight, float hapticRad)
    : shaderHandler(std::make_unique<ShaderHandler>()), lineShaderHandler(std::make_unique<ShaderHandler>()),
      checks(std::make_unique<GLChecks>()), animation(std::make_unique<IdleAnimation>())
{
    runningELN.store(false, std::memory_order_release);
    SuperAtom::setAllHapticRadii(hapticRad * 10.0f);
    xCam = yCam = 0.0f;
    myComponentWidth = static_cast<float>(iWidth);
    myComponentHeight = static_cast<float>(iHeight);
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

    my_ELN_Model = std::make_unique<ElasticNetworkModel>();
    my_ELN_Model->init();
    lastFrameRate = 80;
}

COpenGL::~COpenGL()
{
    console::line("deleting OpenGL");
    releaseNetwork();
    my_ELN_Model.reset();
    console::line("handle destroyed");
    phong_shader.reset();
    lineShader.reset();
    console::line("finished deleting OpenGL");
}

void COpenGL::releaseNetwork()
{
    stopSimulationThread();
    if (ElasticNetworkModel* eln = my_ELN_Model.get())
        globalPointerForELNAccessedBySimThread.compare_exchange_strong(eln, nullptr, std::memory_order_acq_rel);
    // The device's servo ticks read the network: close the device before the network goes.
    if (haptics) haptics->setGraphics(nullptr);
    haptics.reset();
    deviceGraphics.reset();
    usingHaptics = false;
    networkDrawing.reset();
}

void COpenGL::adoptNetwork(ElasticNetworkModel* network)
{
    if (network == my_ELN_Model.get()) return;
    stopSimulationThread();
    networkDrawing.reset();
    if (ElasticNetworkModel* old = my_ELN_Model.get())
        globalPointerForELNAccessedBySimThread.compare_exchange_strong(old, nullptr, std::memory_order_acq_rel);
    // The servo ticks read the network: they stop before it changes (the load restarts them
    // with startSchedular once the new network is ready).
    if (haptics) {
        haptics->stopSched();
        haptics->addElasticNetworkInfo(network);
    }
    my_ELN_Model.reset(network);
}

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
    ScreenWidth.store(width);
    ScreenHeight.store(height);
    glViewport(0, surfaceHeight - height, width, height);
    setPerspective();
}

void COpenGL::setPerspective()
{
    const int w = ScreenWidth.load(), h = ScreenHeight.load();
    nearDist = nearPlane();
    farDist = farPlane();
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
    if (Haptics* device = getDevice()) device->growHapticWS(zoomT_INC);
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
    if (Haptics* device = getDevice()) device->setCameraZoom(currentCamZ);
}

void COpenGL::scrollUpView()
{
    if (newCamZ - kZoomStep > 0.0f) newCamZ -= kZoomStep;
    zoomT = 0.0f;
}

void COpenGL::scrollDownView()
{
    if (newCamZ > 0.0f) newCamZ += kZoomStep;
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
    Transform.store(identity4());
    LastRot.store(identity3());
    ThisRot.store(identity3());
    const Vector3d translation(0.0f, deviceParams.viewHeightOffset, -sphereRad.load());
    translationVector.store(translation);
    if (deviceParams.deviceModel == 2) {
        newCamZ = currentCamZ = kPremiumCameraZ;
    } else {
        console::line("NOT PREMIUM. Adjusting camera accordingly...");
        newCamZ = currentCamZ = kStandardCameraZ;
    }
    initialTransform.store(midMolPoint.load());
    if (Haptics* device = getDevice()) device->reset(translation);
}

void COpenGL::set3DMode(bool on)
{
    // Without stereo buffers the left and right back buffers do not exist.
    render3DMode = on && stereoSupport;
}

void COpenGL::setNewSphereSize(float angstrom) { SuperAtom::setAllHapticRadii(angstrom * 10.0f); }

// ---- Loading ------------------------------------------------------------------------------

void COpenGL::initilizeData(const Vector3d& maxPos, const Vector3d& /*minPos*/, const Vector3d& midPoint,
                            const std::vector<Atom*>& atomList, Progress* /*progressBar*/, ElasticNetworkModel* network)
{
    const auto start = std::chrono::steady_clock::now();
    midMolPoint.store(midPoint);
    console::Line() << "midMolPoint x: " << midPoint.x;
    console::Line() << "midMolPoint  y: " << midPoint.y;
    console::Line() << "midMolPoint z: " << midPoint.z;
    console::line("attempting to initilise");

    adoptNetwork(network);
    globalPointerForELNAccessedBySimThread.store(my_ELN_Model.get(), std::memory_order_release);

    sphereRad.store(maxPos.euclideanDistance(midPoint));
    const Vector3d translation(0.0f, deviceParams.viewHeightOffset, -sphereRad.load());
    translationVector.store(translation);
    initialTransform.store(midPoint);

    if (Haptics* device = getDevice()) {
        device->resetProteinData(atomList);
        device->setModelCentre(midPoint);
        device->setInitPositions(translation);
        device->addElasticNetworkInfo(my_ELN_Model.get());
        device->setCameraZoom(deviceParams.deviceModel == 2 ? kPremiumCameraZ : kStandardCameraZ);
    }

    if (my_ELN_Model && !networkDrawing) {
        networkDrawing = std::make_unique<NetworkDrawing>(*my_ELN_Model);
        networkDrawing->init();
        networkDrawing->setPhongBatches(shaderYESNO && phong_shader && phong_shader->isLinked());
        if (my_ELN_Model->getAmountOfAtoms() > 0) networkDrawing->generateRenderingBB();
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::Line() << "Time taken to initilise protein: " << seconds;
    showWorkspace = true;
}

void COpenGL::setupBinaryELN(ElasticNetworkModel* network)
{
    adoptNetwork(network);
    setupBinaryELN();
}

void COpenGL::setupBinaryELN()
{
    if (!my_ELN_Model) return;
    // Networks read from eigen data files hold their nodes about the structure's centre, while
    // getMidPoint names that centre in the file's frame: take the centre of the nodes as they are.
    const int32_t n = my_ELN_Model->getAmountOfAtoms();
    double sum[3] = {0.0, 0.0, 0.0};
    for (int32_t i = 0; i < n; ++i) {
        const Vector3d p = my_ELN_Model->getAtom(i)->getMyLocalPosition();
        sum[0] += p.x, sum[1] += p.y, sum[2] += p.z;
    }
    const Vector3d mid = n > 0
        ? Vector3d(static_cast<float>(sum[0] / n), static_cast<float>(sum[1] / n), static_cast<float>(sum[2] / n))
        : Vector3d();
    const Vector3d max = my_ELN_Model->findMaxCoord();
    const std::vector<Atom*> none;
    initilizeData(max, Vector3d(), mid, none, nullptr, my_ELN_Model.get());
}

bool COpenGL::initiliseHaptics(const std::vector<Atom*>& atomList, int32_t* deviceModel)
{
    std::unique_ptr<SensableHaptics> device =
        setUpHapticDevice(atomList, myComponentWidth, myComponentHeight, {}, deviceModel);
    if (!device) return false;
    adoptDevice(std::move(device));
    return true;
}

bool COpenGL::replaceDevice(const std::vector<Atom*>& atomList, int32_t* deviceModel)
{
    adoptDevice(nullptr);
    if (!initiliseHaptics(atomList, deviceModel)) return false;
    Haptics& device = *haptics;
    device.stopSched();
    device.resetProteinData(atomList);
    device.setModelCentre(midMolPoint.load());
    device.setInitPositions(translationVector.load());
    device.setCameraZoom(currentCamZ);
    device.resetWorkspace();
    return true;
}

void COpenGL::adoptDevice(std::unique_ptr<Haptics> device)
{
    haptics = std::move(device);
    usingHaptics = haptics != nullptr;
    if (!haptics) return;
    // The probe's window position comes from the matrices the last frame saved.
    DeviceDrawingOptions options;
    options.view = [] {
        ViewTransforms t;
        t.modelView = modelView.load();
        t.projection = projection.load();
        t.viewport = viewport.load();
        return t;
    };
    options.crosshairTexture = crosshairTexture;
    deviceGraphics = makeDeviceGraphics(std::move(options));
    haptics->setGraphics(deviceGraphics.get());
    if (my_ELN_Model && my_ELN_Model->getAmountOfAtoms() > 0) haptics->addElasticNetworkInfo(my_ELN_Model.get());
}

void COpenGL::fireSimulationThread()
{
    if (simulationThread || !my_ELN_Model) return;
    simulationThread = std::make_unique<SimulationThread>(my_ELN_Model.get());
}

void COpenGL::stopSimulationThread()
{
    if (!simulationThread) return;
    simulationThread->stop();
    simulationThread.reset();
}

bool COpenGL::applyForceToELN(int32_t atomNumber, const Vector3d& vec, float M, float EQForce,
                              const std::array<int32_t, 22>& modeArray)
{
    ElasticNetworkModel* eln = my_ELN_Model.get();
    SessionForce record;
    record.node = atomNumber;
    record.force = vec;
    record.magnitude = M;
    record.eqForce = EQForce;
    record.modeState = modeArray;
    if (!eln || !eln->restoreKeptForce(record)) {
        console::write(console::Warning, "atom: " + std::to_string(atomNumber) + " could not take its saved force");
        return false;
    }
    Atom* atom = eln->getAtom(atomNumber);
    if (Haptics* d = getDevice()) {
        d->restoreSelection(atom);
    } else {
        eln->addAtomToList(atom);
        atom->setSelected(true);
    }
    eln->setNeedsListUpdate(true);
    return true;
}

bool COpenGL::writeHapticTransformationData(SessionWorkspace& out)
{
    Haptics* d = getDevice();
    if (!d) return false;
    out.transform = d->getHapticsTransform();
    out.lastRotation = d->getHapticsLastRot();
    out.thisRotation = d->getHapticsThisRot();
    const Vector3d t = d->getTVEC();
    out.translation = {t.x, t.y, t.z};
    console::Line() << "close: " << out.lastRotation[7];
    console::Line() << "close: " << t.x << " " << t.y << " " << t.z;
    return true;
}

bool COpenGL::insertHapticTransformationData(const SessionWorkspace& in)
{
    Haptics* d = getDevice();
    if (!d) return false;
    d->setHapticsTransform(in.transform);
    d->setHapticsLastRot(in.lastRotation);
    d->setHapticsThisRot(in.thisRotation);
    d->setTranslationVector(in.translation[0], in.translation[1], in.translation[2]);
    console::Line() << "open: " << in.translation[0] << " " << in.translation[1] << " " << in.translation[2];
    return true;
}

// ---- Frame --------------------------------------------------------------------------------

Vector3d COpenGL::cameraEye() const
{
    if (getDevice()) return {xCam, yCam + deviceParams.viewHeightOffset, currentCamZ};
    return {0.0f, 0.0f, currentCamZ + 40.0f};
}

void COpenGL::activatePhong()
{
    if (shaderYESNO && phong_shader) phong_shader->use();
}

void COpenGL::stopPhong()
{
    if (shaderYESNO && phong_shader) phong_shader->stop();
}

void COpenGL::saveMatrices()
{
    Matrix4d m{};
    glGetDoublev(GL_MODELVIEW_MATRIX, m.data());
    modelView.store(m);
    glGetDoublev(GL_PROJECTION_MATRIX, m.data());
    projection.store(m);
    Viewport v{};
    glGetIntegerv(GL_VIEWPORT, v.data());
    viewport.store(v);
}

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

    ElasticNetworkModel* eln = my_ELN_Model.get();
    if (!eln || !eln->isInit() || !networkDrawing) {
        drawIdleScene();
        return;
    }

    Haptics* device = getDevice();
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
        const float centreY = yCam + deviceParams.viewHeightOffset;
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
    Haptics* device = getDevice();
    if (shaderYESNO) {
        setLight(GL_LIGHT0, {0, 0, 0, 1}, {1, 1, 1, 1}, {0.8f, 0.8f, 0.8f, 1});
        setLight(GL_LIGHT1, {0.1f, 0.1f, 0.1f, 1}, {0.7f, 0.7f, 0.7f, 1}, {0, 0, 0, 1});
        setLight(GL_LIGHT2, {0, 0, 0, 1}, {0, 0, 1, 1}, {0, 0, 1, 1});
        setLight(GL_LIGHT3, {0.1f, 0.1f, 0.1f, 1}, {1, 1, 1, 1}, {0, 0, 0, 1});
    }
    if (device && !rotateMe) device->renderElasticNetworkGraphics();

    glPushMatrix();
    Matrix4f m;
    if (device) {
        m = device->getTransform();
    } else {
        Matrix4f t = identity4();
        const Vector3d translation = translationVector.load();
        t[12] = translation.x;
        t[13] = translation.y;
        t[14] = translation.z;
        // The nodes keep the file's coordinates: turn and place the molecule about its centre.
        Matrix4f centre = identity4();
        const Vector3d mid = midMolPoint.load();
        centre[12] = -mid.x;
        centre[13] = -mid.y;
        centre[14] = -mid.z;
        m = rigidProduct(rigidProduct(t, Transform.load()), centre);
    }
    // The camera in the molecule's frame picks each sphere's level of detail.
    const Vector3d local = intoFrame(m, eye);
    camLocal.store(local);
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
    const float offset = deviceParams.viewHeightOffset;
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

// ---- Device forwarding --------------------------------------------------------------------

void COpenGL::mouseDownRotate(int x, int y)
{
    if (Haptics* d = getDevice()) d->mouseDownRotate(x, y);
}
void COpenGL::updateMoleculePosition(int x, int y)
{
    if (Haptics* d = getDevice()) d->updateMoleculePosition(x, y);
}
void COpenGL::setReconfigureMolecule(int32_t r)
{
    if (Haptics* d = getDevice()) d->setReconfiguringMolecule(r);
}
void COpenGL::setHatpicState(bool b)
{
    if (Haptics* d = getDevice()) d->setHatpicState(b);
}
Atom* COpenGL::getCurrentAtom()
{
    Haptics* d = getDevice();
    return d ? d->getCurrentAtom() : nullptr;
}
void COpenGL::setHapticsTranslate(bool b)
{
    if (Haptics* d = getDevice()) d->setTranslates(b);
}
bool COpenGL::checkToggle()
{
    Haptics* d = getDevice();
    return d ? d->toggleTranslations() : false;
}
void COpenGL::setHapticTranslateAmount(float amount)
{
    if (Haptics* d = getDevice()) d->setTransformAmount(amount);
}
void COpenGL::setHapticSticking(bool b)
{
    if (Haptics* d = getDevice()) d->setStickingToSurface(b);
}
bool COpenGL::pollHapticFirstEntry()
{
    Haptics* d = getDevice();
    return d ? d->getFirstEntry() : false;
}
int32_t COpenGL::gethapticButton()
{
    Haptics* d = getDevice();
    return d ? d->getButtons() : 0;
}
void COpenGL::resetHapticWS()
{
    if (Haptics* d = getDevice()) d->resetWorkspace();
}
void COpenGL::switchElasticMode(bool b)
{
    if (Haptics* d = getDevice()) d->setRenderingElasticNetwork(b);
}
void COpenGL::addElasticNetworkHaptics()
{
    if (Haptics* d = getDevice()) d->addElasticNetworkInfo(my_ELN_Model.get());
}
bool COpenGL::undoLastSelection()
{
    Haptics* d = getDevice();
    return d ? d->popLastSelectionFromStack() : false;
}
void COpenGL::resetSim()
{
    if (Haptics* d = getDevice()) d->resetAllForces();
}
void COpenGL::addEqForce(float f)
{
    if (Haptics* d = getDevice()) d->addNewForceForEq(f);
}
void COpenGL::setSaveForces(bool s)
{
    Haptics* d = getDevice();
    if (!d) return;
    if (!s) d->resetAllForces();
    d->setSaveForces(s);
}
void COpenGL::useAllModes(const ModeChangeToken& token, bool s)
{
    if (my_ELN_Model) my_ELN_Model->useAllModes(token, s);
    if (Haptics* d = getDevice()) d->setUsingAllModes(s);
}
void COpenGL::stopSchedular()
{
    if (Haptics* d = getDevice()) d->stopSched();
}
void COpenGL::startSchedular()
{
    if (Haptics* d = getDevice()) d->startSched();
    if (my_ELN_Model) my_ELN_Model->setInit();
}
float COpenGL::getForceMax() const { return getDevice() ? deviceParams.maxForce : 0.0f; }

// ---- Network forwarding -------------------------------------------------------------------

void COpenGL::setRc(float rc)
{
    if (my_ELN_Model) my_ELN_Model->setRc(rc);
}
float COpenGL::getRc() const
{
    if (!my_ELN_Model) return 0.0f;
    return my_ELN_Model->getRc();
}
void COpenGL::setELNRenderingDataUp()
{
    if (!my_ELN_Model) return;
    my_ELN_Model->setRenderingDataUp();
    if (networkDrawing) networkDrawing->generateRenderingBB();
}
int32_t COpenGL::getAmountOfAtoms() const { return my_ELN_Model ? my_ELN_Model->getAmountOfAtoms() : 0; }
bool COpenGL::getELNSetup() const { return my_ELN_Model && my_ELN_Model->setupComplete(); }
bool COpenGL::setupElasticNetwork(Progress* bar)
{
    if (!my_ELN_Model) return false;
    if (my_ELN_Model->constructHessianMatrix(bar) != EnmStatus::Ok) return false;
    if (my_ELN_Model->calculateEigen(bar) != EnmStatus::Ok) return false;
    const float average = getDevice() ? getDevice()->getAveForce() : kNoDeviceAverageForce;
    const bool ok = my_ELN_Model->calculateForceScaler(average, false) == EnmStatus::Ok;
    runningELN.store(true, std::memory_order_release);
    return ok;
}
void COpenGL::calculateForceScaler()
{
    if (!my_ELN_Model) return;
    const float average = getDevice() ? getDevice()->getAveForce() : kNoDeviceAverageForce;
    my_ELN_Model->calculateForceScaler(average, true);
}
bool COpenGL::writeNewElasticNetworkData() { return my_ELN_Model && my_ELN_Model->writeEigenDataToNewFile(); }
int32_t COpenGL::calcMaxPossibleModes(Progress* bar)
{
    if (!my_ELN_Model) return 0;
    runningELN.store(true, std::memory_order_release);
    return my_ELN_Model->getMaxPossibleModes(bar);
}
int32_t COpenGL::calcMaxPossibleModesStandardFile(Progress* bar)
{
    if (!my_ELN_Model) return 0;
    runningELN.store(true, std::memory_order_release);
    return my_ELN_Model->getMaxPossibleModesStandardFile(bar);
}
int32_t COpenGL::getMaxModes() const { return my_ELN_Model ? my_ELN_Model->getTotalMaxModes() : 0; }
double COpenGL::getS() const { return my_ELN_Model ? my_ELN_Model->getS() : 0.0; }
int32_t COpenGL::getELN_loadMode() const { return my_ELN_Model ? my_ELN_Model->getSimulationMode() : -1; }
bool COpenGL::getELN_loaded() const { return my_ELN_Model && my_ELN_Model->isInit(); }
std::string COpenGL::getPDB_Code() const { return my_ELN_Model ? my_ELN_Model->getPDB_Code() : std::string(); }
void COpenGL::setDirectory(const std::string& folder)
{
    if (my_ELN_Model) my_ELN_Model->setFileNames(folder);
}
bool COpenGL::recieveELNFileNames(const std::vector<std::string>& files)
{
    return my_ELN_Model && my_ELN_Model->inputEigenDataFiles(files);
}
bool COpenGL::pipeNewModeFileToELN(const std::string& file)
{
    return my_ELN_Model && my_ELN_Model->calculateEigenFromElnemo(file);
}
std::vector<int32_t> COpenGL::getElNemoModes() const
{
    return my_ELN_Model ? my_ELN_Model->getElNemoModes() : std::vector<int32_t>{};
}
void COpenGL::setupSelectedELNemoModes()
{
    if (my_ELN_Model) my_ELN_Model->setupSelectedELNemoModes();
}
bool COpenGL::addEigenValueToELN(double value, int32_t index)
{
    return my_ELN_Model && my_ELN_Model->insertEigenValue(value, index);
}
void COpenGL::finalizeEigenValues(int32_t n)
{
    if (my_ELN_Model) my_ELN_Model->finalize_inv_HDK(n);
}
std::optional<ModeChangeToken> COpenGL::setChangingSimMode()
{
    if (!my_ELN_Model) return std::nullopt;
    return my_ELN_Model->tryBeginModeChange();
}
void COpenGL::selectSliderAmount(const ModeChangeToken& token, int32_t n)
{
    if (my_ELN_Model) my_ELN_Model->selectAmountOfModes(token, n);
}
void COpenGL::setElasticNetworkModeState(const ModeChangeToken& token, int32_t state)
{
    if (my_ELN_Model) my_ELN_Model->selectModeState(token, state);
}
void COpenGL::copyModesToELN(const ModeChangeToken& token, const int32_t* modes, int32_t n)
{
    if (!my_ELN_Model) return;
    console::Line() << "adding to ELN from pointer: " << n;
    std::array<int32_t, 20> copy{};
    const int32_t count = std::clamp<int32_t>(n, 0, 20);
    for (int32_t i = 0; i < count && modes; ++i) copy[static_cast<std::size_t>(i)] = modes[i];
    my_ELN_Model->receiveNewModes(token, copy.data(), count);
}
double COpenGL::getRMSingle(int32_t mode) const { return my_ELN_Model ? my_ELN_Model->getRMSingle(mode) : 0.0; }
double COpenGL::getRM(int32_t n) const { return my_ELN_Model ? my_ELN_Model->getRMForTest(n) : 0.0; }
double COpenGL::getRTotal() const { return my_ELN_Model ? my_ELN_Model->getRTotal() : 0.0; }
std::vector<Atom*> COpenGL::getAtomContactList() const
{
    return my_ELN_Model ? my_ELN_Model->getContactList() : std::vector<Atom*>{};
}
bool COpenGL::newForceAdded() const { return my_ELN_Model && my_ELN_Model->getNeedsListUpdate(); }
void COpenGL::setNewForceAdded(bool b)
{
    if (my_ELN_Model) my_ELN_Model->setNeedsListUpdate(b);
}
bool COpenGL::writeCAlphaFile(const std::string& file) const
{
    return my_ELN_Model && my_ELN_Model->write_C_alphaFile(file);
}

void COpenGL::setRenderForces(bool b)
{
    if (my_ELN_Model) my_ELN_Model->setRenderForces(b);
}

void COpenGL::setRenderingSpheresElN(bool b)
{
    if (my_ELN_Model) my_ELN_Model->setRenderingSpheres(b);
}

void COpenGL::colourELNChains()
{
    if (my_ELN_Model) my_ELN_Model->generateColourList();
}

void COpenGL::colourELNGroups()
{
    if (my_ELN_Model) my_ELN_Model->generateColourListOverSeq();
}

void COpenGL::setBBColour(const Vector3d& colour)
{
    if (my_ELN_Model) my_ELN_Model->setBBColour(colour);
}

void COpenGL::removeAllResidues()
{
    if (my_ELN_Model) my_ELN_Model->clearAllResCols();
}

std::array<double, 3> COpenGL::surfacePixelOf(int32_t i) const
{
    const Matrix4f m = getDevice()->getTransform();
    const Vector3d p = getNetwork()->getDeformedPosition(i);
    const double dx = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
    const double dy = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
    const double dz = m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14];
    const Matrix4d mv = modelView.load(), pr = projection.load();
    const Viewport vp = viewport.load();
    double x = 0, y = 0, z = 0;
    gluProject(dx, dy, dz, mv.data(), pr.data(), vp.data(), &x, &y, &z);
    return {x - 0.5, vp[1] + vp[3] - y - 0.5, z};
}

} // namespace vornax
