#include "render/GLLoader.h"

#include "render/GLHeaders.h"

namespace vornax {

bool loadGLEntryPoints(std::string* problem)
{
    glewExperimental = GL_TRUE;
    const GLenum status = glewInit();
#ifdef GLEW_ERROR_NO_GLX_DISPLAY
    if (status == GLEW_ERROR_NO_GLX_DISPLAY) return true;
#endif
    if (status == GLEW_OK) return true;
    if (problem) *problem = reinterpret_cast<const char*>(glewGetErrorString(status));
    return false;
}

} // namespace vornax
