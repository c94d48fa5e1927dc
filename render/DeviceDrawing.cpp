#include "render/DeviceDrawing.h"

#include "haptics/Haptics.h"
#include "molecule/SuperAtom.h"
#include "render/GLHeaders.h"

#include <cstddef>

namespace vornax {

namespace {

constexpr GLfloat kYellow[3] = {1.0f, 1.0f, 0.0f};
constexpr GLfloat kGrey[3] = {0.5f, 0.5f, 0.5f};
constexpr GLfloat kGreen[3] = {0.0f, 1.0f, 0.0f};
constexpr GLfloat kRed[3] = {1.0f, 0.0f, 0.0f};

/// A corner of the box: bit 0 picks max x, bit 1 max y, bit 2 max z.
struct Corner {
    double p[3];
    bool atMax[3];
};

Corner cornerOf(const std::array<double, 6>& box, int bits)
{
    Corner c{};
    for (int a = 0; a < 3; ++a) {
        c.atMax[a] = (bits >> a) & 1;
        c.p[a] = box[static_cast<std::size_t>(c.atMax[a] ? a + 3 : a)];
    }
    return c;
}

/// The face the drawing highlights: the first crossed one in the order x-min, x-max, z-min,
/// z-max, y-max, y-min, as (axis, at max); axis -1 when none is crossed.
std::pair<int, bool> highlightedFace(const std::array<bool, FaceCount>& crossed)
{
    static const std::pair<CubeFace, std::pair<int, bool>> kOrder[] = {
        {FaceXMin, {0, false}}, {FaceXMax, {0, true}}, {FaceZMin, {2, false}},
        {FaceZMax, {2, true}},  {FaceYMax, {1, true}}, {FaceYMin, {1, false}},
    };
    for (const auto& [face, where] : kOrder)
        if (crossed[static_cast<std::size_t>(face)]) return where;
    return {-1, false};
}

class DeviceDrawing final : public DeviceGraphics {
public:
    explicit DeviceDrawing(DeviceDrawingOptions options) : m_options(std::move(options)) {}
    ~DeviceDrawing() override
    {
        if (m_sphereList != 0) glDeleteLists(m_sphereList, 1);
        if (m_cylinderList != 0) glDeleteLists(m_cylinderList, 1);
    }

    void renderElasticNetworkGraphics(Haptics& device) override
    {
        makeLists();
        const ViewTransforms view = m_options.view ? m_options.view() : currentGLTransforms();
        const Vector3d p = device.getDevicePoint();
        GLdouble x = 0.0, y = 0.0, z = 0.0;
        if (gluProject(p.x, p.y, p.z, view.modelView.data(), view.projection.data(), view.viewport.data(), &x, &y, &z)
            == GL_TRUE)
            device.setProbeWindowPosition(x, y, z);

        const Vector3d marker = device.getProbeMarker();
        const GLfloat at[4] = {marker.x, marker.y, marker.z, 1.0f};
        glLightfv(GL_LIGHT0, GL_POSITION, at);
        glLightfv(GL_LIGHT2, GL_POSITION, at);
        const float zoom = device.getZoom();
        // The scale would shrink the fixed pipeline's normals with it.
        const GLboolean normalize = glIsEnabled(GL_NORMALIZE);
        glEnable(GL_NORMALIZE);
        glPushMatrix();
        glTranslatef(marker.x, marker.y, marker.z);
        glScalef(zoom, zoom, zoom);
        glColor3f(0.0f, 0.0f, 1.0f);
        glCallList(m_sphereList);
        glPopMatrix();
        if (!normalize) glDisable(GL_NORMALIZE);
    }

    void renderWorkspace(Haptics& device, bool state) override
    {
        if (!state) return;
        makeLists();
        const WorkspaceView ws = device.getWorkspaceView();
        const GLboolean colourMaterial = glIsEnabled(GL_COLOR_MATERIAL);
        const GLboolean normalize = glIsEnabled(GL_NORMALIZE);
        glEnable(GL_NORMALIZE);

        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
        const GLfloat ambient[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        const GLfloat white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        const GLfloat position[4] = {0.0f, 60.0f, 0.0f, 0.0f};
        glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
        glLightfv(GL_LIGHT0, GL_SPECULAR, white);
        glLightfv(GL_LIGHT0, GL_POSITION, position);
        // The colours below are glColor: they reach the lit surface through colour material.
        glEnable(GL_COLOR_MATERIAL);

        const GLfloat* normal = ws.enteredCube ? kGrey : kYellow;
        const std::pair<int, bool> face = highlightedFace(ws.faceCrossed);
        const int faceAxis = face.first;
        const bool faceAtMax = face.second;
        auto inFace = [&](const Corner& c) { return c.atMax[faceAxis] == faceAtMax; };
        auto colourFor = [&](bool lies) { return faceAxis < 0 ? normal : (lies ? kGreen : kRed); };

        for (int bits = 0; bits < 8; ++bits) {
            const Corner c = cornerOf(ws.navigationBox, bits);
            glColor3fv(colourFor(faceAxis >= 0 && inFace(c)));
            glPushMatrix();
            glTranslated(c.p[0], c.p[1], c.p[2]);
            glCallList(m_sphereList);
            glPopMatrix();
        }
        // Edges from their minimum corner, along +axis: the list's cylinder runs along +z.
        for (int axis = 0; axis < 3; ++axis) {
            const double length =
                ws.navigationBox[static_cast<std::size_t>(axis + 3)] - ws.navigationBox[static_cast<std::size_t>(axis)];
            for (int bits = 0; bits < 8; ++bits) {
                if ((bits >> axis) & 1) continue;
                const Corner from = cornerOf(ws.navigationBox, bits);
                const Corner to = cornerOf(ws.navigationBox, bits | (1 << axis));
                glColor3fv(colourFor(faceAxis >= 0 && inFace(from) && inFace(to)));
                glPushMatrix();
                glTranslated(from.p[0], from.p[1], from.p[2]);
                if (axis == 1) glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
                if (axis == 0) glRotatef(90.0f, 0.0f, 1.0f, 0.0f);
                glScaled(1.0, 1.0, length);
                glCallList(m_cylinderList);
                glPopMatrix();
            }
        }

        if (!colourMaterial) glDisable(GL_COLOR_MATERIAL);
        if (!normalize) glDisable(GL_NORMALIZE);
        glDisable(GL_LIGHTING);
        glDisable(GL_LIGHT0);
    }

    void renderHaptics2D(Haptics& device) override
    {
        GLint viewport[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_VIEWPORT, viewport);
        // The overlay is drawn by the fixed pipeline, textured, whatever program is current.
        GLint program = 0;
        if (glUseProgram) {
            glGetIntegerv(GL_CURRENT_PROGRAM, &program);
            if (program != 0) glUseProgram(0);
        }
        const GLboolean lighting = glIsEnabled(GL_LIGHTING);
        glDisable(GL_LIGHTING);

        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        glOrtho(0.0, viewport[2], 0.0, viewport[3], -1.0, 1.0);
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
        glDepthFunc(GL_ALWAYS);
        glBlendFunc(GL_DST_COLOR, GL_ZERO);
        glAlphaFunc(GL_GEQUAL, 1.0f);
        glEnable(GL_ALPHA_TEST);
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        if (m_options.crosshairTexture != 0) glBindTexture(GL_TEXTURE_2D, m_options.crosshairTexture);

        if (device.isHapticsMarkerOn()) {
            const auto [x, y] = device.getProbeWindowPosition();
            const double h = 5.0 * SuperAtom::getHapticRadius();
            glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
            glBegin(GL_QUADS);
            glTexCoord2f(0.0f, 0.0f);
            glVertex2d(x - h, y - h);
            glTexCoord2f(1.0f, 0.0f);
            glVertex2d(x + h, y - h);
            glTexCoord2f(1.0f, 1.0f);
            glVertex2d(x + h, y + h);
            glTexCoord2f(0.0f, 1.0f);
            glVertex2d(x - h, y + h);
            glEnd();
        }

        glLineWidth(1.0f);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glDepthFunc(GL_LEQUAL);
        glDisable(GL_BLEND);
        glDisable(GL_ALPHA_TEST);
        glDisable(GL_TEXTURE_2D);
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glPopMatrix();
        if (lighting) glEnable(GL_LIGHTING);
        if (program != 0) glUseProgram(static_cast<GLuint>(program));
    }

private:
    /// The device's unit sphere (detail 22) and cylinder (radii 0.5, height 1, 20 × 20), in
    /// the context current at the first draw.
    void makeLists()
    {
        if (m_sphereList != 0) return;
        GLUquadric* quadric = gluNewQuadric();
        if (!quadric) return;
        gluQuadricDrawStyle(quadric, GLU_FILL);
        gluQuadricNormals(quadric, GLU_SMOOTH);
        m_sphereList = glGenLists(2);
        if (m_sphereList == 0) {
            gluDeleteQuadric(quadric);
            return;
        }
        m_cylinderList = m_sphereList + 1;
        glNewList(m_sphereList, GL_COMPILE);
        gluSphere(quadric, 1.0, 22, 22);
        glEndList();
        glNewList(m_cylinderList, GL_COMPILE);
        gluCylinder(quadric, 0.5, 0.5, 1.0, 20, 20);
        glEndList();
        gluDeleteQuadric(quadric);
    }

    DeviceDrawingOptions m_options;
    GLuint m_sphereList = 0;
    GLuint m_cylinderList = 0;
};

} // namespace

ViewTransforms currentGLTransforms()
{
    ViewTransforms t;
    glGetDoublev(GL_MODELVIEW_MATRIX, t.modelView.data());
    glGetDoublev(GL_PROJECTION_MATRIX, t.projection.data());
    glGetIntegerv(GL_VIEWPORT, t.viewport.data());
    return t;
}

std::unique_ptr<DeviceGraphics> makeDeviceGraphics() { return makeDeviceGraphics(DeviceDrawingOptions{}); }

std::unique_ptr<DeviceGraphics> makeDeviceGraphics(DeviceDrawingOptions options)
{
    return std::make_unique<DeviceDrawing>(std::move(options));
}

} // namespace vornax
