// Builds shader programs from files or text.
#pragma once

#include "render/GLSL/GLShader.h"

#include <string>

namespace vornax {
class ShaderHandler {
public:
    /// Empty name: the stage is absent. The caller owns the program.
    GLSL::GLShader* loadFromFile(const std::string& vertex, const std::string& geometry, const std::string& fragment);
    GLSL::GLShader* loadFromString(const std::string& vertex, const std::string& fragment);
};
} // namespace vornax
