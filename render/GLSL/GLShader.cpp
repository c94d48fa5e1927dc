#include "render/GLSL/GLShader.h"

namespace vornax::GLSL {
void GLShader::use() {}
void GLShader::stop() {}
bool GLShader::isLinked() const { return false; }
} // namespace vornax::GLSL
