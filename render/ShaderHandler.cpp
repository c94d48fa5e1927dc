#include "render/ShaderHandler.h"

namespace vornax {
GLSL::GLShader* ShaderHandler::loadFromFile(const std::string&, const std::string&, const std::string&)
{
    return new GLSL::GLShader;
}
GLSL::GLShader* ShaderHandler::loadFromString(const std::string&, const std::string&) { return new GLSL::GLShader; }
} // namespace vornax
