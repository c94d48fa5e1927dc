// Builds shader programs from up to three stages, from files or from source text.
#pragma once

#include "render/GLSL/GLShader.h"

#include <string>

namespace vornax {

class ShaderHandler {
public:
    /// Empty name: the stage is absent. The caller owns the program. A relative name that does
    /// not exist from the working folder is looked up in the run-time data folder
    /// (runtimeDataPath), where the build puts Shaders/.
    GLSL::GLShader* loadFromFile(const std::string& vertex, const std::string& geometry, const std::string& fragment);
    /// The same from source text (vertex and fragment stages only). The caller owns the program.
    GLSL::GLShader* loadFromString(const std::string& vertex, const std::string& fragment);
};

} // namespace vornax
