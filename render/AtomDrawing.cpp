#include "render/AtomDrawing.h"

#include "molecule/Atom.h"
#include "render/Quaternion.h"

#include <GL/glx.h>

#include <map>
#include <mutex>

namespace vornax {

namespace {

std::mutex listsMutex;
std::map<const void*, AtomDisplayLists> listsByContext;

/// The generator's strip, centred at the origin, as one list.
GLuint makeSphereList(float r, int p)
{
    const SphereMesh mesh = makeSphereStrip(0.0f, 0.0f, 0.0f, r, p);
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    glBegin(GL_TRIANGLE_STRIP);
    for (std::uint32_t i : mesh.indices) {
        glNormal3fv(&mesh.normals[3 * i]);
        glVertex3fv(&mesh.vertices[3 * i]);
    }
    glEnd();
    glEndList();
    return list;
}

AtomDisplayLists makeLists()
{
    AtomDisplayLists lists;
    for (std::size_t level = 0; level < lists.sphere.size(); ++level)
        lists.sphere[level] = makeSphereList(kNodeSphereRadius, kSphereLevelSubdivisions[level]);
    lists.hapticRadiusSphere = makeSphereList(1.0f, kHapticSphereSubdivisions);

    GLUquadric* quadric = gluNewQuadric();
    gluQuadricNormals(quadric, GLU_SMOOTH);
    // Head: a cone of base 2.5 and height 2, its base closed by a disc facing away from the tip.
    lists.cone = glGenLists(1);
    glNewList(lists.cone, GL_COMPILE);
    gluQuadricOrientation(quadric, GLU_INSIDE);
    gluDisk(quadric, 0.0, 2.5, 20, 20);
    gluQuadricOrientation(quadric, GLU_OUTSIDE);
    gluCylinder(quadric, 2.5, 0.0, 2.0, 20, 20);
    glEndList();
    // Shaft: a cylinder of radius 0.8 and height 1, stretched to the force's length.
    lists.disc = glGenLists(1);
    glNewList(lists.disc, GL_COMPILE);
    gluCylinder(quadric, 0.8, 0.8, 1.0, 20, 20);
    glEndList();
    gluDeleteQuadric(quadric);
    return lists;
}

} // namespace

const AtomDisplayLists& atomDisplayLists()
{
    const void* context = glXGetCurrentContext();
    std::lock_guard lock(listsMutex);
    auto it = listsByContext.find(context);
    // A context made where a destroyed one was has the same handle but none of its lists.
    if (it != listsByContext.end() && glIsList(it->second.sphere[0]) == GL_TRUE) return it->second;
    return listsByContext[context] = makeLists();
}

void makeAtomDisplayLists() { (void)atomDisplayLists(); }

void callHapticRadiusSphere() { glCallList(atomDisplayLists().hapticRadiusSphere); }

void renderForces(const Atom& atom)
{
    const ForceArrowGeometry g = atom.computeForceArrow();
    if (!g.visible) return;
    const AtomDisplayLists& lists = atomDisplayLists();
    Quaternion orientation;
    orientation.CreateFromAxisAngle(g.axis.x, g.axis.y, g.axis.z, g.angleDegrees);

    const GLboolean culling = glIsEnabled(GL_CULL_FACE);
    glDisable(GL_CULL_FACE);
    glColor3f(g.colour.x, g.colour.y, g.colour.z);
    glPushMatrix();
    glTranslatef(g.start.x, g.start.y, g.start.z);
    glMultMatrixd(orientation.getMatrix());
    glPushMatrix();
    glRotatef(g.shaftYRotation, 0.0f, 1.0f, 0.0f);
    glScalef(g.shaftScale.x, g.shaftScale.y, g.shaftScale.z);
    glCallList(lists.disc);
    glPopMatrix();
    glRotatef(g.headYRotation, 0.0f, 1.0f, 0.0f);
    glScalef(g.headScale.x, g.headScale.y, g.headScale.z);
    glCallList(lists.cone);
    glPopMatrix();
    if (culling) glEnable(GL_CULL_FACE);
}

} // namespace vornax
