// Shader programs: one compiled stage (ShaderObject and its vertex, geometry and fragment
// kinds) and one linked program (GLShader). Every operation needs the view's context current.
//
// A program that could not be built stays unlinked, and then use()/stop() switch the
// fixed-function lighting on and off instead, so that callers never need to know which path
// is active.
#pragma once

#include "render/GLHeaders.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vornax {
class GLChecks;
}

namespace vornax::GLSL {

/// The largest shader source file we read (anything bigger is not a shader).
inline constexpr std::uintmax_t kMaxShaderSourceBytes = 16u << 20;

/// One compiled shader stage.
class ShaderObject {
public:
    enum Kind : int32_t { None = 0, Vertex = 1, Geometry = 2, Fragment = 3 };

    ShaderObject();
    /// Deletes the GL shader.
    virtual ~ShaderObject();
    ShaderObject(const ShaderObject&) = delete;
    ShaderObject& operator=(const ShaderObject&) = delete;

    /// Creates the GL shader of this kind (the base has none).
    virtual void createShader() {}

    /// Reads the source text: 0 on success, -1 when the file cannot be opened, -2 when it is
    /// empty, -3 when it is too big to hold.
    int loadFileIntoString(const std::string& fileName);
    /// Takes the source text: 0 on success, -2 when it is empty, -3 when it is too big.
    int loadStringIntoShader(const std::string& text);
    /// Deletes the GL shader now (a detached stage); the stage then has none.
    void releaseShader();
    /// Compiles the source; true when it compiled.
    bool compileShaderSource();
    /// Prints the compiler's log ("Vertex Info Log:: "…) when it has one.
    void getInfoLog();
    /// The compiler's log text (empty when there is none).
    std::string infoLogText() const;

    int32_t getKind() const { return m_kind; }
    GLuint getShaderHandle() const { return m_shader; }
    const std::string& getSource() const { return m_source; }
    bool isCompiled() const { return m_compiled; }
    /// "Vertex", "Geometry" or "Fragment".
    const char* kindName() const;

protected:
    explicit ShaderObject(int32_t kind);
    void createShaderOfType(GLenum type);

    std::unique_ptr<GLChecks> m_checks;
    int32_t m_kind = None;
    GLuint m_shader = 0;
    std::string m_source;
    bool m_compiled = false;
};

class VertexShader : public ShaderObject {
public:
    VertexShader() : ShaderObject(Vertex) {}
    void createShader() override;
};

class GeometryShader : public ShaderObject {
public:
    GeometryShader() : ShaderObject(Geometry) {}
    void createShader() override;
};

class FragmentShader : public ShaderObject {
public:
    FragmentShader() : ShaderObject(Fragment) {}
    void createShader() override;
};

/// One shader program. The setters and getters pass straight to the GL entry point of the
/// same name; each returns false (and does nothing) when the driver lacks that entry point.
class GLShader {
public:
    /// Creates the GL program.
    GLShader();
    /// Deletes the GL program (and the stages it keeps).
    ~GLShader();
    GLShader(const GLShader&) = delete;
    GLShader& operator=(const GLShader&) = delete;

    /// Attaches a compiled stage; the caller keeps the stage.
    void attachShader(ShaderObject& stage);
    /// Attaches a stage and keeps it for the program's lifetime.
    void attachShader(std::unique_ptr<ShaderObject> stage);
    /// Detaches the stage and deletes its GL shader.
    void detachShader(ShaderObject& stage);
    /// Input and output primitives and the most vertices a geometry stage emits; marks the
    /// program as using a geometry stage.
    void setGeometryShaderVars(int32_t input, int32_t output, int32_t vertices);

    /// Links the attached stages; true when the program linked.
    bool link();
    /// Makes the program current, or, when it is not linked, enables fixed-function lighting
    /// with colour material.
    void use();
    /// Program 0, or fixed-function lighting and colour material off.
    void stop();
    /// Prints the linker's log when it has one.
    void getInfoLog();
    std::string infoLogText() const;

    /// Location of a uniform; -1 (which GL ignores) when there is none or the program is not
    /// linked.
    GLint getUniLoc(const std::string& name);
    /// Location of a vertex attribute; -1 when there is none or the program is not linked.
    GLint getAttribLoc(const std::string& name);

    bool isLinked() const { return m_linked; }
    bool hasAttachedShader() const { return m_attachedCount > 0; }
    bool usesGeometryShader() const { return m_usesGeometry; }
    GLuint getProgramHandle() const { return m_program; }

    bool setUniform1f(GLint location, GLfloat v0);
    bool setUniform2f(GLint location, GLfloat v0, GLfloat v1);
    bool setUniform3f(GLint location, GLfloat v0, GLfloat v1, GLfloat v2);
    bool setUniform4f(GLint location, GLfloat v0, GLfloat v1, GLfloat v2, GLfloat v3);
    bool setUniform1i(GLint location, GLint v0);
    bool setUniform2i(GLint location, GLint v0, GLint v1);
    bool setUniform3i(GLint location, GLint v0, GLint v1, GLint v2);
    bool setUniform4i(GLint location, GLint v0, GLint v1, GLint v2, GLint v3);
    bool setUniform1ui(GLint location, GLuint v0);
    bool setUniform2ui(GLint location, GLuint v0, GLuint v1);
    bool setUniform3ui(GLint location, GLuint v0, GLuint v1, GLuint v2);
    bool setUniform4ui(GLint location, GLuint v0, GLuint v1, GLuint v2, GLuint v3);

    bool setUniform1fv(GLint location, GLsizei count, const GLfloat* values);
    bool setUniform2fv(GLint location, GLsizei count, const GLfloat* values);
    bool setUniform3fv(GLint location, GLsizei count, const GLfloat* values);
    bool setUniform4fv(GLint location, GLsizei count, const GLfloat* values);
    bool setUniform1iv(GLint location, GLsizei count, const GLint* values);
    bool setUniform2iv(GLint location, GLsizei count, const GLint* values);
    bool setUniform3iv(GLint location, GLsizei count, const GLint* values);
    bool setUniform4iv(GLint location, GLsizei count, const GLint* values);
    bool setUniform1uiv(GLint location, GLsizei count, const GLuint* values);
    bool setUniform2uiv(GLint location, GLsizei count, const GLuint* values);
    bool setUniform3uiv(GLint location, GLsizei count, const GLuint* values);
    bool setUniform4uiv(GLint location, GLsizei count, const GLuint* values);

    bool setUniformMatrix2fv(GLint location, GLsizei count, GLboolean transpose, const GLfloat* values);
    bool setUniformMatrix3fv(GLint location, GLsizei count, GLboolean transpose, const GLfloat* values);
    bool setUniformMatrix4fv(GLint location, GLsizei count, GLboolean transpose, const GLfloat* values);

    bool getUniformfv(GLint location, GLfloat* values);
    bool getUniformiv(GLint location, GLint* values);
    bool getUniformuiv(GLint location, GLuint* values);

    bool setVertexAttrib1f(GLuint index, GLfloat v0);
    bool setVertexAttrib2f(GLuint index, GLfloat v0, GLfloat v1);
    bool setVertexAttrib3f(GLuint index, GLfloat v0, GLfloat v1, GLfloat v2);
    bool setVertexAttrib4f(GLuint index, GLfloat v0, GLfloat v1, GLfloat v2, GLfloat v3);

private:
    bool isAttached(GLuint shader) const;

    GLuint m_program = 0;
    bool m_usesGeometry = false;
    int32_t m_geometryInput = 0;
    int32_t m_geometryOutput = 0;
    int32_t m_geometryVertices = 0;
    int m_attachedCount = 0; ///< stages attached and not detached
    bool m_linked = false;
    std::vector<std::unique_ptr<ShaderObject>> m_keptStages;
};

} // namespace vornax::GLSL
