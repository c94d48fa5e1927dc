#include "render/GLChecks.h"

namespace vornax {
bool GLChecks::checkOpenGLExtensions() { return false; }
bool GLChecks::queryStereoBuffer() { return quadBufferSupported = false; }
void GLChecks::checkGLError() {}
} // namespace vornax
