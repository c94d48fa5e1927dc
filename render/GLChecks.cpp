#include "render/GLChecks.h"

#include "common/Console.h"
#include "render/GLHeaders.h"
#include "render/GLLoader.h"

#include <utility>

namespace vornax {

namespace {

std::string glText(GLenum name)
{
    const GLubyte* text = glGetString(name);
    return text ? reinterpret_cast<const char*>(text) : std::string();
}

} // namespace

bool GLDriverQueries::load(std::string& problem) { return loadGLEntryPoints(&problem); }
std::string GLDriverQueries::vendor() { return glText(GL_VENDOR); }
std::string GLDriverQueries::renderer() { return glText(GL_RENDERER); }
std::string GLDriverQueries::version() { return glText(GL_VERSION); }
std::string GLDriverQueries::shadingLanguageVersion() { return glText(GL_SHADING_LANGUAGE_VERSION); }
bool GLDriverQueries::isSupported(const std::string& name) { return glewIsSupported(name.c_str()) == GL_TRUE; }

bool isIntelRenderer(const std::string& renderer)
{
    for (const char* name : {"Intel", "intel", "INTEL"})
        if (renderer.find(name) != std::string::npos) return true;
    return false;
}

bool isSoftwareRenderer(const std::string& renderer)
{
    for (const char* name : {"llvmpipe", "softpipe", "SwiftShader", "Software Rasterizer", "GDI Generic", "Software Renderer"})
        if (renderer.find(name) != std::string::npos) return true;
    return false;
}

GLChecks::GLChecks() : m_queries(std::make_shared<GLDriverQueries>()) {}

GLChecks::GLChecks(std::shared_ptr<GLDriverQueries> queries)
    : m_queries(queries ? std::move(queries) : std::make_shared<GLDriverQueries>())
{}

bool GLChecks::checkOpenGLExtensions()
{
    std::string problem;
    if (!m_queries->load(problem)) {
        console::write(console::Warning, "GLEW could not be initialised: " + problem);
        return false;
    }
    const std::string renderer = m_queries->renderer();
    softwareRendering = isSoftwareRenderer(renderer);
    console::write(console::Information, "OpenGL Vendor: " + m_queries->vendor());
    console::write(console::Information, "OpenGL Renderer: " + renderer);
    console::write(console::Information, "OpenGL Version: " + m_queries->version());
    if (isIntelRenderer(renderer)) return false;

    if (const std::string glsl = m_queries->shadingLanguageVersion(); !glsl.empty())
        console::write(console::ShaderVersion, "Found GLSL Version: " + glsl);

    // The geometry stage is tested as the EXT extension; its warning names the ARB one.
    static const std::pair<const char*, const char*> kExtensions[] = {
        {"GL_ARB_fragment_shader", "GL_ARB_fragment_shader"},
        {"GL_ARB_vertex_shader", "GL_ARB_vertex_shader"},
        {"GL_EXT_geometry_shader4", "GL_ARB_geometry_shader4"},
        {"GL_ARB_shader_objects", "GL_ARB_shader_objects"},
    };
    for (const auto& [tested, named] : kExtensions)
        if (!m_queries->isSupported(tested))
            console::write(console::Warning, std::string("[WARNING] ") + named + " extension is not available!");

    return m_queries->isSupported("GL_VERSION_2_0");
}

bool GLChecks::queryStereoBuffer()
{
    GLboolean stereo = GL_FALSE;
    glGetBooleanv(GL_STEREO, &stereo);
    quadBufferSupported = stereo == GL_TRUE;
    console::line(quadBufferSupported ? "Quad Buffer Stereo Support Detected"
                                      : "Quad Buffer Stereo Support NOT Detected");
    return quadBufferSupported;
}

void GLChecks::checkGLError()
{
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR) return;
    const GLubyte* text = gluErrorString(error);
    console::write(console::Warning,
                   std::string("OpenGL Error: ") + (text ? reinterpret_cast<const char*>(text) : "unknown error"));
}

} // namespace vornax
