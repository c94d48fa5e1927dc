#include "common/Console.h"
#include "render/GLChecks.h"
#include "render/GLSL/GLShader.h"
#include "render/GLSL/InfoLog.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>

namespace vornax::GLSL {

ShaderObject::ShaderObject() : ShaderObject(None) {}

ShaderObject::ShaderObject(int32_t kind) : m_checks(std::make_unique<GLChecks>()), m_kind(kind) {}

ShaderObject::~ShaderObject() { releaseShader(); }

void ShaderObject::releaseShader()
{
    if (m_shader != 0 && glDeleteShader) glDeleteShader(m_shader);
    m_shader = 0;
    m_compiled = false;
}

const char* ShaderObject::kindName() const
{
    switch (m_kind) {
    case Vertex: return "Vertex";
    case Geometry: return "Geometry";
    case Fragment: return "Fragment";
    default: return "Shader";
    }
}

void ShaderObject::createShaderOfType(GLenum type)
{
    if (m_shader != 0 || !glCreateShader) return;
    m_shader = glCreateShader(type);
}

void VertexShader::createShader() { createShaderOfType(GL_VERTEX_SHADER); }
void GeometryShader::createShader() { createShaderOfType(0x8DD9); } // GL_GEOMETRY_SHADER_EXT
void FragmentShader::createShader() { createShaderOfType(GL_FRAGMENT_SHADER); }

int ShaderObject::loadFileIntoString(const std::string& fileName)
{
    m_source.clear();
    std::error_code ec;
    // Only a plain file: a folder may open as a stream, and a pipe would wait for a writer.
    if (fileName.empty() || !std::filesystem::is_regular_file(fileName, ec)) return -1;
    std::ifstream in(fileName, std::ios::in | std::ios::binary);
    if (!in.is_open()) return -1;
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length <= 0) return -2;
    if (static_cast<std::uintmax_t>(length) > kMaxShaderSourceBytes) return -3;
    in.seekg(0, std::ios::beg);
    std::string text;
    try {
        text.reserve(static_cast<std::size_t>(length) + 1);
    } catch (const std::bad_alloc&) {
        return -3;
    }
    if (!in.good()) {
        console::line("Error opening shader file");
        return 0;
    }
    // Only what was really read counts: the file may have shrunk since it was measured.
    char c;
    while (text.size() < static_cast<std::size_t>(length) && in.get(c)) text.push_back(c);
    // Line ends as a text-mode read gives them.
    std::string unified;
    unified.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) unified.push_back(text[i]);
    m_source = std::move(unified);
    return 0;
}

int ShaderObject::loadStringIntoShader(const std::string& text)
{
    m_source.clear();
    if (text.empty()) return -2;
    if (text.size() > kMaxShaderSourceBytes) return -3;
    // The text ends at its first NUL, as the driver would read it.
    m_source = std::string(text.c_str());
    return m_source.empty() ? -2 : 0;
}

bool ShaderObject::compileShaderSource()
{
    m_compiled = false;
    if (m_shader == 0 || m_source.empty() || !glShaderSource || !glCompileShader || !glGetShaderiv) return false;
    const GLchar* text = m_source.c_str();
    const GLint length = static_cast<GLint>(m_source.size());
    glShaderSource(m_shader, 1, &text, &length);
    glCompileShader(m_shader);
    GLint status = GL_FALSE;
    glGetShaderiv(m_shader, GL_COMPILE_STATUS, &status);
    m_compiled = status == GL_TRUE;
    return m_compiled;
}

std::string ShaderObject::infoLogText() const
{
    if (m_shader == 0 || !glGetShaderiv || !glGetShaderInfoLog) return {};
    GLint length = 0;
    glGetShaderiv(m_shader, GL_INFO_LOG_LENGTH, &length);
    if (length <= 0) return {};
    std::string log(static_cast<std::size_t>(length), '\0');
    GLsizei written = 0;
    glGetShaderInfoLog(m_shader, length, &written, log.data());
    log.resize(static_cast<std::size_t>(std::clamp<GLsizei>(written, 0, length)));
    return log;
}

void ShaderObject::getInfoLog()
{
    const std::string log = infoLogText();
    if (log.empty()) return;
    writeLog(std::string(kindName()) + " Info Log:: ", log);
}

} // namespace vornax::GLSL
