// Shader programs and their stages.
#pragma once

namespace vornax::GLSL {
class ShaderObject {
public:
    virtual ~ShaderObject() = default;
};
class VertexShader : public ShaderObject {};
class GeometryShader : public ShaderObject {};
class FragmentShader : public ShaderObject {};
class GLShader {
public:
    void use();
    void stop();
    bool isLinked() const;
};
} // namespace vornax::GLSL
