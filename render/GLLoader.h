// Loads the GL entry points through GLEW for the current context.
#pragma once

#include <string>

namespace vornax {

/// glewInit for the current context. True when the entry points are there: GLEW_OK, or GLEW's
/// "no GLX display" under EGL, which it reports after loading every entry point. Otherwise
/// false, with GLEW's text in `problem` when given.
bool loadGLEntryPoints(std::string* problem = nullptr);

} // namespace vornax
