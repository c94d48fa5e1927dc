// The one way into OpenGL for the renderer: GLEW first (it must precede every other GL
// header), then GLU.
#pragma once

#include <GL/glew.h>

#include <GL/glu.h>
