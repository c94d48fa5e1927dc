#include "render/GLSL/GLShader.h"

#include "common/Console.h"
#include "render/GLSL/InfoLog.h"

#include <algorithm>

namespace vornax::GLSL {

GLShader::GLShader()
{
    if (glCreateProgram) m_program = glCreateProgram();
}

GLShader::~GLShader()
{
    if (m_program != 0 && glDeleteProgram) glDeleteProgram(m_program);
}

bool GLShader::isAttached(GLuint shader) const
{
    if (m_program == 0 || shader == 0 || !glGetAttachedShaders) return false;
    GLint count = 0;
    GLuint attached[8] = {};
    glGetAttachedShaders(m_program, 8, &count, attached);
    return std::find(attached, attached + std::clamp(count, 0, 8), shader) != attached + std::clamp(count, 0, 8);
}

void GLShader::attachShader(ShaderObject& stage)
{
    if (m_program == 0 || stage.getShaderHandle() == 0 || !glAttachShader) return;
    if (isAttached(stage.getShaderHandle())) return;
    glAttachShader(m_program, stage.getShaderHandle());
    ++m_attachedCount;
}

void GLShader::attachShader(std::unique_ptr<ShaderObject> stage)
{
    if (!stage) return;
    attachShader(*stage);
    m_keptStages.push_back(std::move(stage));
}

void GLShader::detachShader(ShaderObject& stage)
{
    const GLuint shader = stage.getShaderHandle();
    if (m_program == 0 || shader == 0) return;
    const bool wasAttached = isAttached(shader);
    if (wasAttached && glDetachShader) glDetachShader(m_program, shader);
    // The stage forgets its shader, so that nothing deletes the name twice (GL may have given
    // it to a new shader by then).
    stage.releaseShader();
    if (wasAttached && m_attachedCount > 0) --m_attachedCount;
}

void GLShader::setGeometryShaderVars(int32_t input, int32_t output, int32_t vertices)
{
    m_geometryInput = input;
    m_geometryOutput = output;
    m_geometryVertices = vertices;
    m_usesGeometry = true;
}

bool GLShader::link()
{
    if (m_usesGeometry && m_program != 0) {
        if (glProgramParameteriEXT) {
            glProgramParameteriEXT(m_program, 0x8DDB, m_geometryInput);    // GL_GEOMETRY_INPUT_TYPE_EXT
            glProgramParameteriEXT(m_program, 0x8DDC, m_geometryOutput);   // GL_GEOMETRY_OUTPUT_TYPE_EXT
            glProgramParameteriEXT(m_program, 0x8DDA, m_geometryVertices); // GL_GEOMETRY_VERTICES_OUT_EXT
        } else {
            console::write(console::Warning, "[WARNING] geometry shader parameters cannot be set by this driver");
        }
    }
    if (m_attachedCount == 0) {
        console::write(console::Warning,
                       "[WARNING] there is no shader programs attached. Running fixed function pipeline");
        return false;
    }
    GLint status = GL_FALSE;
    if (m_program != 0 && glLinkProgram && glGetProgramiv) {
        glLinkProgram(m_program);
        glGetProgramiv(m_program, GL_LINK_STATUS, &status);
    }
    m_linked = status == GL_TRUE;
    if (m_linked)
        console::line("link step performed ok");
    else
        console::write(console::Warning, "[WARNING] link step not performed");
    return m_linked;
}

void GLShader::use()
{
    if (m_linked) {
        glUseProgram(m_program);
    } else {
        glEnable(GL_LIGHTING);
        glEnable(GL_COLOR_MATERIAL);
    }
}

void GLShader::stop()
{
    if (m_linked) {
        glUseProgram(0);
    } else {
        glDisable(GL_LIGHTING);
        glDisable(GL_COLOR_MATERIAL);
    }
}

std::string GLShader::infoLogText() const
{
    if (m_program == 0 || !glGetProgramiv || !glGetProgramInfoLog) return {};
    GLint length = 0;
    glGetProgramiv(m_program, GL_INFO_LOG_LENGTH, &length);
    if (length <= 0) return {};
    std::string log(static_cast<std::size_t>(length), '\0');
    GLsizei written = 0;
    glGetProgramInfoLog(m_program, length, &written, log.data());
    log.resize(static_cast<std::size_t>(std::clamp<GLsizei>(written, 0, length)));
    return log;
}

void GLShader::getInfoLog()
{
    const std::string log = infoLogText();
    if (log.empty() || log.find_first_not_of(" \t\r\n") == std::string::npos) return;
    writeLog("Shader object Info Log:: ", log);
    console::line("End of Info Log");
}

GLint GLShader::getUniLoc(const std::string& name)
{
    if (!m_linked) {
        console::line("Uniform variables are not accessible until program is linked");
        return -1;
    }
    const GLint location = glGetUniformLocation ? glGetUniformLocation(m_program, name.c_str()) : -1;
    if (location == -1) console::line("No such uniform named: " + name);
    return location;
}

GLint GLShader::getAttribLoc(const std::string& name)
{
    if (!m_linked) {
        console::line("Uniform variables are not accessible until program is linked");
        return -1;
    }
    const GLint location = glGetAttribLocation ? glGetAttribLocation(m_program, name.c_str()) : -1;
    if (location == -1) console::line("No such attribute named: " + name);
    return location;
}

// GLEW leaves an entry point null when the driver lacks it (the unsigned forms are GL 3.0):
// each pass-through checks before it calls.
#define VORNAX_PASS(fn, ...)     \
    do {                         \
        if (!(fn)) return false; \
        fn(__VA_ARGS__);         \
        return true;             \
    } while (false)

bool GLShader::setUniform1f(GLint l, GLfloat v0) { VORNAX_PASS(glUniform1f, l, v0); }
bool GLShader::setUniform2f(GLint l, GLfloat v0, GLfloat v1) { VORNAX_PASS(glUniform2f, l, v0, v1); }
bool GLShader::setUniform3f(GLint l, GLfloat v0, GLfloat v1, GLfloat v2) { VORNAX_PASS(glUniform3f, l, v0, v1, v2); }
bool GLShader::setUniform4f(GLint l, GLfloat v0, GLfloat v1, GLfloat v2, GLfloat v3)
{
    VORNAX_PASS(glUniform4f, l, v0, v1, v2, v3);
}
bool GLShader::setUniform1i(GLint l, GLint v0) { VORNAX_PASS(glUniform1i, l, v0); }
bool GLShader::setUniform2i(GLint l, GLint v0, GLint v1) { VORNAX_PASS(glUniform2i, l, v0, v1); }
bool GLShader::setUniform3i(GLint l, GLint v0, GLint v1, GLint v2) { VORNAX_PASS(glUniform3i, l, v0, v1, v2); }
bool GLShader::setUniform4i(GLint l, GLint v0, GLint v1, GLint v2, GLint v3)
{
    VORNAX_PASS(glUniform4i, l, v0, v1, v2, v3);
}
bool GLShader::setUniform1ui(GLint l, GLuint v0) { VORNAX_PASS(glUniform1ui, l, v0); }
bool GLShader::setUniform2ui(GLint l, GLuint v0, GLuint v1) { VORNAX_PASS(glUniform2ui, l, v0, v1); }
bool GLShader::setUniform3ui(GLint l, GLuint v0, GLuint v1, GLuint v2) { VORNAX_PASS(glUniform3ui, l, v0, v1, v2); }
bool GLShader::setUniform4ui(GLint l, GLuint v0, GLuint v1, GLuint v2, GLuint v3)
{
    VORNAX_PASS(glUniform4ui, l, v0, v1, v2, v3);
}

bool GLShader::setUniform1fv(GLint l, GLsizei n, const GLfloat* v) { VORNAX_PASS(glUniform1fv, l, n, v); }
bool GLShader::setUniform2fv(GLint l, GLsizei n, const GLfloat* v) { VORNAX_PASS(glUniform2fv, l, n, v); }
bool GLShader::setUniform3fv(GLint l, GLsizei n, const GLfloat* v) { VORNAX_PASS(glUniform3fv, l, n, v); }
bool GLShader::setUniform4fv(GLint l, GLsizei n, const GLfloat* v) { VORNAX_PASS(glUniform4fv, l, n, v); }
bool GLShader::setUniform1iv(GLint l, GLsizei n, const GLint* v) { VORNAX_PASS(glUniform1iv, l, n, v); }
bool GLShader::setUniform2iv(GLint l, GLsizei n, const GLint* v) { VORNAX_PASS(glUniform2iv, l, n, v); }
bool GLShader::setUniform3iv(GLint l, GLsizei n, const GLint* v) { VORNAX_PASS(glUniform3iv, l, n, v); }
bool GLShader::setUniform4iv(GLint l, GLsizei n, const GLint* v) { VORNAX_PASS(glUniform4iv, l, n, v); }
bool GLShader::setUniform1uiv(GLint l, GLsizei n, const GLuint* v) { VORNAX_PASS(glUniform1uiv, l, n, v); }
bool GLShader::setUniform2uiv(GLint l, GLsizei n, const GLuint* v) { VORNAX_PASS(glUniform2uiv, l, n, v); }
bool GLShader::setUniform3uiv(GLint l, GLsizei n, const GLuint* v) { VORNAX_PASS(glUniform3uiv, l, n, v); }
bool GLShader::setUniform4uiv(GLint l, GLsizei n, const GLuint* v) { VORNAX_PASS(glUniform4uiv, l, n, v); }

bool GLShader::setUniformMatrix2fv(GLint l, GLsizei n, GLboolean t, const GLfloat* v)
{
    VORNAX_PASS(glUniformMatrix2fv, l, n, t, v);
}
bool GLShader::setUniformMatrix3fv(GLint l, GLsizei n, GLboolean t, const GLfloat* v)
{
    VORNAX_PASS(glUniformMatrix3fv, l, n, t, v);
}
bool GLShader::setUniformMatrix4fv(GLint l, GLsizei n, GLboolean t, const GLfloat* v)
{
    VORNAX_PASS(glUniformMatrix4fv, l, n, t, v);
}

bool GLShader::getUniformfv(GLint l, GLfloat* v) { VORNAX_PASS(glGetUniformfv, m_program, l, v); }
bool GLShader::getUniformiv(GLint l, GLint* v) { VORNAX_PASS(glGetUniformiv, m_program, l, v); }
bool GLShader::getUniformuiv(GLint l, GLuint* v) { VORNAX_PASS(glGetUniformuiv, m_program, l, v); }

bool GLShader::setVertexAttrib1f(GLuint i, GLfloat v0) { VORNAX_PASS(glVertexAttrib1f, i, v0); }
bool GLShader::setVertexAttrib2f(GLuint i, GLfloat v0, GLfloat v1) { VORNAX_PASS(glVertexAttrib2f, i, v0, v1); }
bool GLShader::setVertexAttrib3f(GLuint i, GLfloat v0, GLfloat v1, GLfloat v2)
{
    VORNAX_PASS(glVertexAttrib3f, i, v0, v1, v2);
}
bool GLShader::setVertexAttrib4f(GLuint i, GLfloat v0, GLfloat v1, GLfloat v2, GLfloat v3)
{
    VORNAX_PASS(glVertexAttrib4f, i, v0, v1, v2, v3);
}

#undef VORNAX_PASS

} // namespace vornax::GLSL
