// The device's drawing: the core hook, the navigation cube's colours, the probe sphere and its
// window position, the crosshair overlay.
#include "render/DeviceDrawing.h"
#include "GLTestContext.h"
#include "haptics/Haptics.h"
#include "molecule/SuperAtom.h"
#include "render/GLHeaders.h"
#include "render/TgaImage.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using namespace vornax;

namespace {

/// A device object whose navigation state and probe the test sets.
class StagedDevice : public Haptics {
public:
    StagedDevice() : Haptics({}, 200.0f, 200.0f) {}
    void stage(const std::array<double, 6>& box, bool entered, std::array<bool, FaceCount> crossed = {})
    {
        std::lock_guard lock(navigationMutex);
        navigationBox = box;
        enteredCube = entered;
        faceCrossed = crossed;
    }
    void probeAt(const Vector3d& p)
    {
        devicePoint.store(p);
        probeMarker.store(p);
    }
};

/// Records the calls the device forwards.
class RecordingGraphics : public DeviceGraphics {
public:
    std::vector<std::string> calls;
    void renderWorkspace(Haptics&, bool state) override { calls.push_back(state ? "workspace on" : "workspace off"); }
    void renderHaptics2D(Haptics&) override { calls.push_back("2d"); }
    void renderElasticNetworkGraphics(Haptics&) override { calls.push_back("probe"); }
};

/// Camera looking down -z at the origin from `distance` mm, the view's 40° projection, and
/// the view's light 1 shining from the eye.
void deviceCamera(int size, double distance = 300.0)
{
    glViewport(0, 0, size, size);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(40.0, 1.0, 2.7474774, 18002.7474774);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(0, 0, distance, 0, 0, 1, 0, 1, 0);
    const GLfloat ambient[4] = {0.1f, 0.1f, 0.1f, 1}, diffuse[4] = {0.7f, 0.7f, 0.7f, 1}, fromEye[4] = {0, 0, 1, 0};
    glLightfv(GL_LIGHT1, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT1, GL_POSITION, fromEye);
    glEnable(GL_LIGHT1);
}

enum class Hue { White, Red, Green, Blue, Yellow, Grey, Other };

Hue hueOf(QRgb c)
{
    const int r = qRed(c), g = qGreen(c), b = qBlue(c);
    if (r > 240 && g > 240 && b > 240) return Hue::White;
    if (r > 60 && g < r / 3 && b < r / 3) return Hue::Red;
    if (g > 60 && r < g / 3 && b < g / 3) return Hue::Green;
    if (b > 60 && r < b / 3 && g < b / 3) return Hue::Blue;
    if (r > 60 && g > r * 2 / 3 && b < r / 3) return Hue::Yellow;
    if (r > 30 && std::abs(r - g) < 12 && std::abs(g - b) < 12) return Hue::Grey;
    return Hue::Other;
}

/// Counts of each hue in columns [x0, x1).
std::map<Hue, int> hues(const QImage& image, int x0, int x1)
{
    std::map<Hue, int> count;
    for (int y = 0; y < image.height(); ++y)
        for (int x = x0; x < x1; ++x) ++count[hueOf(image.pixel(x, y))];
    return count;
}

// Seen from 40 mm the box fills about 80 % of the picture and its edges are several pixels wide.
constexpr std::array<double, 6> kBox{-12.0, -8.0, -6.0, 12.0, 8.0, 6.0};
constexpr double kCubeDistance = 40.0;

} // namespace

TEST(DeviceGraphicsHookTest, DeviceForwardsItsDrawingOnlyWhenSet)
{
    Haptics device({}, 100.0f, 100.0f);
    device.renderWorkspace(true); // nothing set: nothing happens
    device.renderHaptics2D();
    device.renderElasticNetworkGraphics();
    RecordingGraphics graphics;
    device.setGraphics(&graphics);
    EXPECT_EQ(device.getGraphics(), &graphics);
    device.renderWorkspace(false);
    device.renderHaptics2D();
    device.renderElasticNetworkGraphics();
    EXPECT_EQ(graphics.calls, (std::vector<std::string>{"workspace off", "2d", "probe"}));
    device.setGraphics(nullptr);
    device.renderHaptics2D();
    EXPECT_EQ(graphics.calls.size(), 3u);
}

TEST(DeviceDrawingTest, NavigationCubeColours)
{
    const int size = 200;
    gltest::GLTestContext gl(size, size);
    VORNAX_REQUIRE_CONTEXT(gl);
    auto graphics = makeDeviceGraphics();
    StagedDevice device;
    device.setGraphics(graphics.get());

    struct Case {
        const char* picture;
        bool entered;
        std::array<bool, FaceCount> crossed;
        Hue left, right; // colour of the left (x-min) and right (x-max) edges
    };
    std::array<bool, FaceCount> xMax{}, xMaxAndZMin{}, yMax{};
    xMax[FaceXMax] = true;
    xMaxAndZMin[FaceXMax] = xMaxAndZMin[FaceZMin] = true;
    yMax[FaceYMax] = true;
    const Case cases[] = {
        {"cube-before-entry.png", false, {}, Hue::Yellow, Hue::Yellow},
        {"cube-entered.png", true, {}, Hue::Grey, Hue::Grey},
        {"cube-x-max.png", true, xMax, Hue::Red, Hue::Green},
        // x-max comes before z-min in the highlight order.
        {"cube-x-max-z-min.png", true, xMaxAndZMin, Hue::Red, Hue::Green},
        // The top face: the side edges are red (only their top corners lie in it).
        {"cube-y-max.png", true, yMax, Hue::Red, Hue::Red},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picture);
        deviceCamera(size, kCubeDistance);
        device.stage(kBox, c.entered, c.crossed);
        device.renderWorkspace(true);
        EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
        EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
        gl.savePng(gltest::picturePath(c.picture));
        const QImage image = gl.read();
        // The back face's vertical edges project to about x = 28 and 172, its horizontal ones
        // to about y = 52 and 148 (GL window coordinates, y up); the front face's to 3/197
        // and 35/165.
        auto left = hues(image, 20, 36), right = hues(image, 164, 180);
        EXPECT_GT(left[c.left], 40);
        EXPECT_GT(right[c.right], 40);
        // The inside of the box stays clear.
        EXPECT_EQ(hueOf(image.pixel(100, 100)), Hue::White);
        EXPECT_GT(hues(image, 60, 140)[Hue::White], 60 * 200 / 2);
        if (c.crossed[FaceYMax]) {
            // The top edges are green, the bottom ones red.
            std::map<Hue, int> top, bottom;
            for (int x = 60; x < 140; ++x)
                for (int y = 140; y < 170; ++y) {
                    ++top[hueOf(image.pixel(x, y))];
                    ++bottom[hueOf(image.pixel(x, 200 - y))];
                }
            EXPECT_GT(top[Hue::Green], 200);
            EXPECT_EQ(top[Hue::Red], 0);
            EXPECT_GT(bottom[Hue::Red], 200);
            EXPECT_EQ(bottom[Hue::Green], 0);
        }
    }
    // Switched off: nothing is drawn.
    deviceCamera(size);
    device.renderWorkspace(false);
    EXPECT_EQ(hues(gl.read(), 0, size)[Hue::White], size * size);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(DeviceDrawingTest, ProbeSphereAndItsWindowPosition)
{
    const int size = 200;
    gltest::GLTestContext gl(size, size);
    VORNAX_REQUIRE_CONTEXT(gl);
    StagedDevice device;
    device.setCameraZoom(266.0f * 8.0f); // the base device's zoom: 8
    // The view hands its saved matrices over; here they are the camera's.
    deviceCamera(size);
    const ViewTransforms saved = currentGLTransforms();
    auto graphics = makeDeviceGraphics({[saved] { return saved; }, 0});
    device.setGraphics(graphics.get());

    struct Case {
        Vector3d at;
        double windowX, windowY; // where the probe projects
    };
    // At 300 mm a 40° view spans 2·300·tan 20° = 218.4 mm over 200 pixels.
    const double pixelsPerMm = size / (2.0 * 300.0 * std::tan(20.0 * M_PI / 180.0));
    const Case cases[] = {{Vector3d(0, 0, 0), 100.0, 100.0},
                          {Vector3d(40, -25, 0), 100 + 40 * pixelsPerMm, 100 - 25 * pixelsPerMm}};
    for (const Case& c : cases) {
        deviceCamera(size);
        glEnable(GL_LIGHTING);
        glEnable(GL_COLOR_MATERIAL);
        glEnable(GL_LIGHT0);
        device.probeAt(c.at);
        device.renderElasticNetworkGraphics();
        glDisable(GL_LIGHTING);
        const auto [x, y] = device.getProbeWindowPosition();
        EXPECT_NEAR(x, c.windowX, 0.01);
        EXPECT_NEAR(y, c.windowY, 0.01);
        const QImage image = gl.read();
        // A blue sphere of radius 8 mm (about 7 pixels) around that point.
        const QRgb centre = image.pixel(static_cast<int>(x), static_cast<int>(y));
        EXPECT_EQ(hueOf(centre), Hue::Blue);
        EXPECT_GT(qBlue(centre), 150) << "lit by the light from the eye";
        EXPECT_EQ(hueOf(image.pixel(static_cast<int>(x) + 12, static_cast<int>(y))), Hue::White);
        // Lights 0 and 2 sit at the probe (eye coordinates: the camera's transform of it).
        GLfloat light[4] = {};
        glGetLightfv(GL_LIGHT2, GL_POSITION, light);
        EXPECT_NEAR(light[0], c.at.x, 1e-3);
        EXPECT_NEAR(light[2], c.at.z - 300.0f, 1e-3);
        EXPECT_EQ(light[3], 1.0f);
    }
    gl.savePng(gltest::picturePath("device-probe.png"));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(DeviceDrawingTest, CrosshairOverlayDarkensOnlyUnderItsMarks)
{
    const int size = 200;
    gltest::GLTestContext gl(size, size);
    VORNAX_REQUIRE_CONTEXT(gl);
    const unsigned texture = loadTgaTexture(std::filesystem::path(VORNAX_REPO_DIR) / "Textures/Crosshairsnew2.tga");
    ASSERT_NE(texture, 0u);
    StagedDevice device;
    device.setProbeWindowPosition(70.0, 120.0, 0.5);
    const float radius = SuperAtom::getHapticRadius();
    SuperAtom::setHapticRadius(6.4f); // half-side 32 pixels: the 64-pixel texture one to one
    auto graphics = makeDeviceGraphics({{}, texture});
    device.setGraphics(graphics.get());

    deviceCamera(size);
    device.renderHaptics2D(); // marker off: nothing drawn
    EXPECT_EQ(hues(gl.read(), 0, size)[Hue::White], size * size);

    device.toggleHapticsMarker(true);
    GLint projectionDepth = 0;
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &projectionDepth);
    glBindTexture(GL_TEXTURE_2D, 0); // the overlay binds the crosshair itself
    device.renderHaptics2D();
    gl.savePng(gltest::picturePath("device-crosshair.png"));
    SuperAtom::setHapticRadius(radius);
    const QImage image = gl.read();
    EXPECT_EQ(hueOf(image.pixel(70, 120)), Hue::White);      // clear middle
    EXPECT_EQ(hueOf(image.pixel(70 + 13, 120)), Hue::Red);   // an arm
    EXPECT_EQ(hueOf(image.pixel(70, 120 + 24)), Hue::Red);   // the ring
    EXPECT_EQ(hueOf(image.pixel(70 + 40, 120)), Hue::White); // outside the square
    int red = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) red += hueOf(image.pixel(x, y)) == Hue::Red;
    EXPECT_GT(red, 150);
    EXPECT_LT(red, 64 * 64 / 2);

    // The state is as the frame expects it afterwards.
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_ALPHA_TEST));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLint depthFunc = 0, blendSource = 0, depth = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    glGetIntegerv(GL_BLEND_SRC, &blendSource);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &depth);
    EXPECT_EQ(depthFunc, GL_LEQUAL);
    EXPECT_EQ(blendSource, GL_SRC_ALPHA);
    EXPECT_EQ(depth, projectionDepth);
    glDeleteTextures(1, &texture);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
