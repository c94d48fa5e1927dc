// A view of its own for the drawing tests: a perspective camera looking at the molecule from
// +z, one white light from the eye, culling and depth as the frame has them, and helpers that
// read what was drawn.
#pragma once

#include "GLTestContext.h"

#include "common/Vector3d.h"
#include "render/GLHeaders.h"

#include <QImage>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vornax::gltest {

/// Clears to white and sets camera and light (a colour facing the eye reads back as set): eye at `eye`, looking at `centre`, y up.
inline void beginFrame(const GLTestContext& gl, const Vector3d& eye, const Vector3d& centre = Vector3d())
{
    glViewport(0, 0, gl.width(), gl.height());
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(40.0, static_cast<double>(gl.width()) / gl.height(), 2.7474774, 18002.7474774);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, 0.0, 1.0, 0.0);
    // A light at the eye, ambient enough that colours read back close to what was set.
    const GLfloat position[] = {eye.x, eye.y, eye.z, 1.0f};
    const GLfloat ambient[] = {0.45f, 0.45f, 0.45f, 1.0f};
    const GLfloat diffuse[] = {0.55f, 0.55f, 0.55f, 1.0f};
    const GLfloat noAmbient[] = {0.0f, 0.0f, 0.0f, 1.0f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, noAmbient);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightModelf(GL_LIGHT_MODEL_TWO_SIDE, 0.0f);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_NORMALIZE);
}

/// The colour buffer as drawn, alpha left out. (The frame writes alpha 0.5 where blending is
/// off; a read that takes the buffer as premultiplied would brighten every such pixel.)
inline QImage readRgb(GLTestContext& gl)
{
    gl.makeCurrent();
    glFinish();
    QImage image(gl.width(), gl.height(), QImage::Format_RGB888);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    std::vector<unsigned char> rows(static_cast<std::size_t>(gl.width()) * gl.height() * 3);
    glReadPixels(0, 0, gl.width(), gl.height(), GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    for (int y = 0; y < gl.height(); ++y)
        std::memcpy(image.scanLine(gl.height() - 1 - y), rows.data() + static_cast<std::size_t>(y) * gl.width() * 3,
                    static_cast<std::size_t>(gl.width()) * 3);
    return image;
}

/// readRgb saved as `name` in the test pictures.
inline QImage savePicture(GLTestContext& gl, const std::string& name)
{
    QImage image = readRgb(gl);
    image.save(QString::fromStdString(picturePath(name)));
    return image;
}

/// Pixels of `image` for which `match` holds.
template <typename Match>
int countPixels(const QImage& image, Match match)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (match(image.pixelColor(x, y))) ++n;
    return n;
}

/// Not the white background.
inline bool drawn(const QColor& c) { return c.red() < 250 || c.green() < 250 || c.blue() < 250; }

/// The hue (degrees) of a clearly coloured pixel, −1 for a grey or white one.
inline int hueOf(const QColor& c)
{
    const int spread = std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
    return spread > 60 ? c.hsvHue() : -1;
}

/// Pixels whose hue lies within `tolerance` degrees of `hue`.
inline int pixelsOfHue(const QImage& image, int hue, int tolerance = 12)
{
    return countPixels(image, [&](const QColor& c) {
        const int h = hueOf(c);
        if (h < 0) return false;
        const int d = std::abs(h - hue);
        return std::min(d, 360 - d) <= tolerance;
    });
}

} // namespace vornax::gltest
