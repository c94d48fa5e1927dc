// What the graphics driver offers: programmable shading (GLSL) and quad-buffered stereo, and
// the report of a pending GL error. Run with the view's context current.
#pragma once

#include <memory>
#include <string>

namespace vornax {

/// The answers of the driver the capability check reads. The default asks the current GL
/// context through GLEW; tests give their own answers.
class GLDriverQueries {
public:
    virtual ~GLDriverQueries() = default;
    /// Loads the entry points (glewInit); false with the reason in `problem`.
    virtual bool load(std::string& problem);
    virtual std::string vendor();
    virtual std::string renderer();
    virtual std::string version();
    /// Empty when the driver reports no shading-language version.
    virtual std::string shadingLanguageVersion();
    /// An extension ("GL_ARB_vertex_shader") or a core version ("GL_VERSION_2_0").
    virtual bool isSupported(const std::string& name);
};

class GLChecks {
public:
    GLChecks();
    explicit GLChecks(std::shared_ptr<GLDriverQueries> queries);

    /// True when programmable shading can be used: GLEW loads, the adapter is not an Intel
    /// one, and the driver offers OpenGL 2.0. Prints the driver strings and the missing
    /// shader extensions on the way.
    bool checkOpenGLExtensions();
    /// Whether the current pixel format has a stereo buffer; also kept in quadBufferSupported.
    bool queryStereoBuffer();
    /// Prints the pending GL error, if any.
    void checkGLError();

    bool quadBufferSupported = false;
    /// The driver rasterises on the CPU (found by checkOpenGLExtensions from its name): every
    /// frame then costs the cores the program computes on.
    bool softwareRendering = false;

private:
    std::shared_ptr<GLDriverQueries> m_queries;
};

/// True for an adapter on which shaders are never used (the name says "Intel", "intel" or
/// "INTEL").
bool isIntelRenderer(const std::string& renderer);
/// True for a driver that draws on the CPU: Mesa's llvmpipe and softpipe, SwiftShader, and
/// Microsoft's and Apple's software renderers.
bool isSoftwareRenderer(const std::string& renderer);

} // namespace vornax
