// Capability checks with faked driver answers and on the real driver, shader programs from
// files and text, the fixed-function fall-back, and the four shipped shaders on Mesa.
#include "GLTestContext.h"
#include "common/Console.h"
#include "render/GLChecks.h"
#include "render/GLHeaders.h"
#include "render/GLSL/GLShader.h"
#include "render/ShaderHandler.h"

#include <gtest/gtest.h>

#include <QImage>

#include <sys/stat.h>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <tuple>
#include <unistd.h>

using namespace vornax;
namespace fs = std::filesystem;

namespace {

/// Driver answers given by the test.
class FakeDriver : public GLDriverQueries {
public:
    bool loads = true;
    std::string vendorText = "Test Vendor", rendererText = "Test Renderer", versionText = "2.1 Test", glsl = "1.20";
    std::set<std::string> supported{"GL_VERSION_2_0", "GL_ARB_fragment_shader", "GL_ARB_vertex_shader",
                                    "GL_EXT_geometry_shader4", "GL_ARB_shader_objects"};

    bool load(std::string& problem) override
    {
        if (!loads) problem = "Missing GL version";
        return loads;
    }
    std::string vendor() override { return vendorText; }
    std::string renderer() override { return rendererText; }
    std::string version() override { return versionText; }
    std::string shadingLanguageVersion() override { return glsl; }
    bool isSupported(const std::string& name) override { return supported.count(name) != 0; }
};

std::string shaderFile(const std::string& name) { return std::string(VORNAX_REPO_DIR) + "/Shaders/" + name; }

/// A scratch folder of this test process, removed at the end.
struct ScratchDir {
    fs::path path = fs::temp_directory_path() / ("vornax-shade-" + std::to_string(::getpid()));
    ScratchDir() { fs::create_directories(path); }
    ~ScratchDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::ofstream(path / name, std::ios::binary) << text;
        return (path / name).string();
    }
};

int attributeOf(const console::Capture& capture, const std::string& fragment)
{
    for (const auto& [attribute, text] : capture.lines())
        if (text.find(fragment) != std::string::npos) return attribute;
    return -1;
}

} // namespace

TEST(GLChecksTest, FakedDriversDecideShadersAndReportWhatIsMissing)
{
    struct Case {
        const char* name;
        std::string renderer;
        bool loads;
        std::set<std::string> missing;
        bool expected;
    };
    const Case cases[] = {
        {"all present", "Mesa llvmpipe", true, {}, true},
        {"Intel", "Mesa Intel(R) UHD Graphics 620", true, {}, false},
        {"intel", "intel gma", true, {}, false},
        {"INTEL", "INTEL HD 4000", true, {}, false},
        {"no GL 2.0", "GeForce 6", true, {"GL_VERSION_2_0"}, false},
        {"extensions missing but GL 2.0",
         "Radeon",
         true,
         {"GL_ARB_fragment_shader", "GL_ARB_vertex_shader", "GL_EXT_geometry_shader4", "GL_ARB_shader_objects"},
         true},
        {"GLEW fails", "Radeon", false, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto driver = std::make_shared<FakeDriver>();
        driver->rendererText = c.renderer;
        driver->loads = c.loads;
        for (const auto& m : c.missing) driver->supported.erase(m);
        console::Capture capture;
        GLChecks checks(driver);
        EXPECT_EQ(checks.checkOpenGLExtensions(), c.expected);
        EXPECT_EQ(checks.softwareRendering, c.loads && c.renderer.find("llvmpipe") != std::string::npos);
        if (!c.loads) {
            EXPECT_FALSE(capture.contains("OpenGL Vendor: "));
            continue;
        }
        EXPECT_EQ(attributeOf(capture, "OpenGL Vendor: Test Vendor"), console::Information);
        EXPECT_EQ(attributeOf(capture, "OpenGL Renderer: " + c.renderer), console::Information);
        EXPECT_EQ(attributeOf(capture, "OpenGL Version: 2.1 Test"), console::Information);
        const bool intel = isIntelRenderer(c.renderer);
        // An Intel adapter ends the check before the version and extension lines.
        EXPECT_EQ(capture.contains("Found GLSL Version: 1.20"), !intel);
        if (!intel) {
            EXPECT_EQ(attributeOf(capture, "Found GLSL Version: "), console::ShaderVersion);
        }
        EXPECT_EQ(capture.count("extension is not available!"),
                  static_cast<int>(c.missing.size() - c.missing.count("GL_VERSION_2_0")));
    }
    for (const char* cpu : {"softpipe", "Google SwiftShader", "GDI Generic", "Apple Software Renderer"})
        EXPECT_TRUE(isSoftwareRenderer(cpu)) << cpu;
    EXPECT_FALSE(isSoftwareRenderer("NVIDIA GeForce RTX 3060/PCIe/SSE2"));
}

TEST(GLChecksTest, GeometryWarningNamesTheArbExtensionAndNoVersionMeansNoLine)
{
    auto driver = std::make_shared<FakeDriver>();
    driver->supported.erase("GL_EXT_geometry_shader4");
    driver->supported.insert("GL_ARB_geometry_shader4"); // not what is tested
    driver->glsl.clear();
    console::Capture capture;
    EXPECT_TRUE(GLChecks(driver).checkOpenGLExtensions());
    EXPECT_EQ(capture.count("[WARNING] GL_ARB_geometry_shader4 extension is not available!"), 1);
    EXPECT_EQ(attributeOf(capture, "[WARNING] GL_ARB_geometry_shader4"), console::Warning);
    EXPECT_EQ(capture.count("extension is not available!"), 1);
    EXPECT_FALSE(capture.contains("Found GLSL Version"));
}

TEST(GLChecksTest, RealDriverStereoAndErrors)
{
    gltest::GLTestContext gl(16, 16);
    VORNAX_REQUIRE_CONTEXT(gl);
    console::Capture capture;
    GLChecks checks;
    checks.quadBufferSupported = true;
    EXPECT_FALSE(checks.queryStereoBuffer()); // Xvfb has no stereo
    EXPECT_FALSE(checks.quadBufferSupported);
    EXPECT_TRUE(capture.contains("Quad Buffer Stereo Support NOT Detected"));

    // Mesa offers GLSL (its renderer is llvmpipe, not an Intel one).
    EXPECT_TRUE(checks.checkOpenGLExtensions());
    EXPECT_TRUE(capture.contains("Found GLSL Version: "));

    capture.clear();
    checks.checkGLError();
    EXPECT_TRUE(capture.lines().empty());
    glEnable(0x7FFF); // not a capability: GL_INVALID_ENUM
    checks.checkGLError();
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].first, console::Warning);
    EXPECT_EQ(capture.lines()[0].second.rfind("OpenGL Error: ", 0), 0u);
    EXPECT_NE(capture.lines()[0].second, "OpenGL Error: ");
}

TEST(ShaderObjectTest, SourceLoadingCodes)
{
    gltest::GLTestContext gl(8, 8);
    VORNAX_REQUIRE_CONTEXT(gl);
    ScratchDir dir;
    GLSL::VertexShader stage;
    EXPECT_EQ(stage.loadFileIntoString((dir.path / "absent.vert").string()), -1);
    EXPECT_EQ(stage.loadFileIntoString(dir.path.string()), -1); // a folder
    ASSERT_EQ(::mkfifo((dir.path / "pipe.vert").c_str(), 0600), 0);
    EXPECT_EQ(stage.loadFileIntoString((dir.path / "pipe.vert").string()), -1); // refused, not waited on
    EXPECT_EQ(stage.loadFileIntoString(""), -1);
    EXPECT_EQ(stage.loadFileIntoString(dir.write("empty.vert", "")), -2);
    EXPECT_TRUE(stage.getSource().empty());
    EXPECT_EQ(stage.loadFileIntoString(dir.write("crlf.vert", "void main()\r\n{\r\n}\r\n")), 0);
    EXPECT_EQ(stage.getSource(), "void main()\n{\n}\n");
    EXPECT_EQ(stage.loadStringIntoShader(""), -2);
    EXPECT_EQ(stage.loadStringIntoShader(std::string(GLSL::kMaxShaderSourceBytes + 1, ' ')), -3);
    EXPECT_EQ(stage.loadStringIntoShader("void main() {}"), 0);
    // Nothing to compile without a GL shader.
    EXPECT_FALSE(stage.compileShaderSource());
    stage.createShader();
    EXPECT_NE(stage.getShaderHandle(), 0u);
    EXPECT_EQ(stage.getKind(), GLSL::ShaderObject::Vertex);
}

TEST(ShaderHandlerTest, MissingAndEmptyFilesLeaveAFixedFunctionProgram)
{
    gltest::GLTestContext gl(8, 8);
    VORNAX_REQUIRE_CONTEXT(gl);
    ScratchDir dir;
    const std::string empty = dir.write("empty.frag", "");
    console::Capture capture;
    std::unique_ptr<GLSL::GLShader> program(ShaderHandler().loadFromFile((dir.path / "no.vert").string(), "", empty));
    ASSERT_TRUE(program);
    EXPECT_EQ(capture.count("[WARNING] Vertex FileLoad Failed"), 1);
    EXPECT_EQ(capture.count("No Geometry shader file!! This file is not required for normal loading"), 1);
    EXPECT_EQ(capture.count("Program will run with fixed functionality"), 1);
    EXPECT_EQ(capture.count("Fragment FileLoad Failed"), 1); // zero length
    EXPECT_EQ(capture.count("[WARNING] there is no shader programs attached. Running fixed function pipeline"), 1);
    EXPECT_FALSE(capture.contains("FileLoad Success"));
    EXPECT_FALSE(program->hasAttachedShader());
    EXPECT_FALSE(program->isLinked());

    // Unlinked: use/stop switch the fixed-function lighting, and uniforms are refused.
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
    program->use();
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
    program->stop();
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));
    capture.clear();
    EXPECT_EQ(program->getUniLoc("anything"), -1);
    EXPECT_EQ(program->getAttribLoc("anything"), -1);
    EXPECT_EQ(capture.count("Uniform variables are not accessible until program is linked"), 2);

    // No stage at all.
    capture.clear();
    std::unique_ptr<GLSL::GLShader> none(ShaderHandler().loadFromFile("", "", ""));
    EXPECT_EQ(capture.count("Program will run with fixed functionality"), 3);
    EXPECT_FALSE(none->isLinked());
}

TEST(ShaderHandlerTest, ShippedShadersCompileAndLink)
{
    gltest::GLTestContext gl(8, 8);
    VORNAX_REQUIRE_CONTEXT(gl);
    for (const char* base : {"PhongMultiLight", "PhongMultiLightLINES"}) {
        SCOPED_TRACE(base);
        console::Capture capture;
        std::unique_ptr<GLSL::GLShader> program(ShaderHandler().loadFromFile(
            shaderFile(std::string(base) + ".vert"), "", shaderFile(std::string(base) + ".frag")));
        EXPECT_TRUE(program->isLinked());
        for (const char* line :
             {"Vertex FileLoad Success", "Vertex Shader Source Compile Success", "Fragment FileLoad Success",
              "Fragment Shader Source Compile Success", "link step performed ok"})
            EXPECT_EQ(capture.count(line), 1) << line;
        EXPECT_FALSE(capture.contains("Error compiling"));
        program->use();
        GLint current = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &current);
        EXPECT_EQ(static_cast<GLuint>(current), program->getProgramHandle());
        program->stop();
        glGetIntegerv(GL_CURRENT_PROGRAM, &current);
        EXPECT_EQ(current, 0);
        // The shaders need no uniform from the program.
        capture.clear();
        EXPECT_EQ(program->getUniLoc("noSuchUniform"), -1);
        EXPECT_TRUE(capture.contains("No such uniform named: noSuchUniform"));
    }
    // The relative name the view uses resolves beside the executable.
    console::Capture capture;
    std::unique_ptr<GLSL::GLShader> relative(
        ShaderHandler().loadFromFile("Shaders/PhongMultiLight.vert", "", "Shaders/PhongMultiLight.frag"));
    EXPECT_TRUE(relative->isLinked());
}

TEST(ShaderHandlerTest, CompileErrorsAndUniformPassThrough)
{
    gltest::GLTestContext gl(8, 8);
    VORNAX_REQUIRE_CONTEXT(gl);
    const std::string vertex = "#version 130\n"
                               "uniform float f; uniform ivec2 i2; uniform uvec3 u3; uniform vec4 v4[2];\n"
                               "uniform mat3 m3; attribute vec4 weight;\n"
                               "void main() { gl_Position = ftransform() * f + weight * float(i2.x + int(u3.z))"
                               " + v4[1] + vec4(m3[2], 0.0); }\n";
    console::Capture capture;
    std::unique_ptr<GLSL::GLShader> broken(ShaderHandler().loadFromString(vertex, "void main() { oops }"));
    EXPECT_TRUE(capture.contains("Error compiling fragment shader source"));
    EXPECT_TRUE(capture.contains("Fragment Info Log:: "));
    EXPECT_TRUE(broken->isLinked()); // the vertex stage alone

    std::unique_ptr<GLSL::GLShader> program(
        ShaderHandler().loadFromString(vertex, "#version 130\nvoid main() { gl_FragColor = vec4(1.0); }\n"));
    ASSERT_TRUE(program->isLinked());
    program->use();
    GLfloat fv[16] = {}; // room for the largest uniform read back (a mat3)
    GLint iv[2] = {};
    GLuint uv[3] = {};
    EXPECT_TRUE(program->setUniform1f(program->getUniLoc("f"), 2.5f));
    EXPECT_TRUE(program->getUniformfv(program->getUniLoc("f"), fv));
    EXPECT_EQ(fv[0], 2.5f);
    EXPECT_TRUE(program->setUniform2i(program->getUniLoc("i2"), 7, -3));
    EXPECT_TRUE(program->getUniformiv(program->getUniLoc("i2"), iv));
    EXPECT_EQ(iv[0], 7);
    EXPECT_EQ(iv[1], -3);
    EXPECT_TRUE(program->setUniform3ui(program->getUniLoc("u3"), 1u, 2u, 3u));
    EXPECT_TRUE(program->getUniformuiv(program->getUniLoc("u3"), uv));
    EXPECT_EQ(uv[2], 3u);
    const GLfloat two[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_TRUE(program->setUniform4fv(program->getUniLoc("v4"), 2, two));
    EXPECT_TRUE(program->getUniformfv(program->getUniLoc("v4[1]"), fv));
    EXPECT_EQ(fv[3], 8.0f);
    const GLfloat m[9] = {1, 0, 0, 0, 1, 0, 0.25f, 0.5f, 1};
    EXPECT_TRUE(program->setUniformMatrix3fv(program->getUniLoc("m3"), 1, GL_FALSE, m));
    EXPECT_TRUE(program->getUniformfv(program->getUniLoc("m3"), fv));
    EXPECT_EQ(fv[7], 0.5f);
    const GLint weight = program->getAttribLoc("weight");
    EXPECT_GE(weight, 0);
    EXPECT_TRUE(program->setVertexAttrib4f(static_cast<GLuint>(weight), 1, 2, 3, 4));
    GLfloat attrib[4] = {};
    glGetVertexAttribfv(static_cast<GLuint>(weight), GL_CURRENT_VERTEX_ATTRIB, attrib);
    EXPECT_EQ(attrib[2], 3.0f);
    program->stop();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(GLShaderTest, AttachAndDetachKeepCountAndDeleteEachShaderOnce)
{
    gltest::GLTestContext gl(8, 8);
    VORNAX_REQUIRE_CONTEXT(gl);
    console::Capture capture;
    GLSL::VertexShader vertex;
    GLSL::FragmentShader fragment;
    for (GLSL::ShaderObject* stage :
         {static_cast<GLSL::ShaderObject*>(&vertex), static_cast<GLSL::ShaderObject*>(&fragment)}) {
        stage->createShader();
        ASSERT_EQ(stage->loadStringIntoShader(stage == &vertex ? "void main() { gl_Position = ftransform(); }"
                                                               : "void main() { gl_FragColor = vec4(1.0); }"),
                  0);
        ASSERT_TRUE(stage->compileShaderSource());
    }
    GLSL::GLShader program;
    program.attachShader(vertex);
    program.attachShader(vertex); // once is enough
    program.attachShader(fragment);
    EXPECT_TRUE(program.link());
    program.detachShader(vertex);
    EXPECT_EQ(vertex.getShaderHandle(), 0u);
    EXPECT_TRUE(program.hasAttachedShader()); // the fragment stage is still there
    EXPECT_TRUE(program.link());
    program.detachShader(fragment);
    program.detachShader(fragment); // nothing left to detach
    EXPECT_FALSE(program.hasAttachedShader());
    capture.clear();
    EXPECT_FALSE(program.link());
    EXPECT_TRUE(capture.contains("[WARNING] there is no shader programs attached"));
    // A geometry stage's settings reach the program when it links.
    program.setGeometryShaderVars(GL_TRIANGLES, GL_TRIANGLE_STRIP, 3);
    EXPECT_TRUE(program.usesGeometryShader());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

namespace {

/// A lit red sphere as the view draws the network: its projection, lights, attenuation and
/// fog; with `program` (or the fixed pipeline when null).
QImage drawLitSphere(gltest::GLTestContext& gl, GLSL::GLShader* program, bool lines)
{
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(40.0, 1.0, 2.7474774, 18002.7474774);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const float camZ = 306.0f;
    gluLookAt(0, 0, camZ, 0, 0, 1, 0, 1, 0);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    const GLfloat fogColour[4] = {0.1f, 0.1f, 0.1f, 1};
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogfv(GL_FOG_COLOR, fogColour);
    glFogf(GL_FOG_DENSITY, 0.0025f);
    auto light = [](GLenum l, std::array<GLfloat, 4> a, std::array<GLfloat, 4> d, std::array<GLfloat, 4> s,
                    std::array<GLfloat, 4> p, float attenuation) {
        glLightfv(l, GL_AMBIENT, a.data());
        glLightfv(l, GL_DIFFUSE, d.data());
        glLightfv(l, GL_SPECULAR, s.data());
        glLightfv(l, GL_POSITION, p.data());
        for (GLenum k : {GL_CONSTANT_ATTENUATION, GL_LINEAR_ATTENUATION, GL_QUADRATIC_ATTENUATION})
            glLightf(l, k, attenuation);
        glEnable(l);
    };
    // The view's light colours for the shader path; light 1 directional from upper left of the
    // eye, light 3 at the eye, light 0 on the probe beside the sphere.
    light(GL_LIGHT0, {0, 0, 0, 1}, {1, 1, 1, 1}, {0.8f, 0.8f, 0.8f, 1}, {-50, 50, 80, 1}, 0.0009f);
    light(GL_LIGHT1, {0.1f, 0.1f, 0.1f, 1}, {0.7f, 0.7f, 0.7f, 1}, {0, 0, 0, 1}, {-1, 1, 1, 0}, 1e-7f);
    light(GL_LIGHT2, {0, 0, 0, 1}, {0, 0, 1, 1}, {0, 0, 1, 1}, {0, -500, 0, 1}, 0.0009f);
    light(GL_LIGHT3, {0.1f, 0.1f, 0.1f, 1}, {1, 1, 1, 1}, {0, 0, 0, 1}, {0, 0, camZ, 1}, 1e-5f);
    const GLfloat specular[4] = {1, 1, 1, 1};
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT, GL_SHININESS, 64);
    if (program)
        program->use();
    else
        glEnable(GL_LIGHTING);
    glColor3f(0.9f, 0.15f, 0.1f);
    if (lines) {
        glLineWidth(3);
        glBegin(GL_LINES);
        for (int i = -5; i <= 5; ++i) {
            glVertex3f(-80, i * 15.0f, 0);
            glVertex3f(80, i * 15.0f, -40);
        }
        glEnd();
    } else {
        GLUquadric* q = gluNewQuadric();
        gluSphere(q, 70.0, 48, 48);
        gluDeleteQuadric(q);
    }
    if (program) program->stop();
    glDisable(GL_LIGHTING);
    for (GLenum l : {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2, GL_LIGHT3}) glDisable(l);
    return gl.read();
}

double brightness(QRgb c) { return (qRed(c) + qGreen(c) + qBlue(c)) / 3.0; }

} // namespace

TEST(ShaderPictureTest, PhongSphereAndLinesAreLitLikeTheFixedPipeline)
{
    gltest::GLTestContext gl(160, 160);
    VORNAX_REQUIRE_CONTEXT(gl);
    console::Capture quiet;
    std::unique_ptr<GLSL::GLShader> phong(
        ShaderHandler().loadFromFile(shaderFile("PhongMultiLight.vert"), "", shaderFile("PhongMultiLight.frag")));
    std::unique_ptr<GLSL::GLShader> lines(ShaderHandler().loadFromFile(shaderFile("PhongMultiLightLINES.vert"), "",
                                                                       shaderFile("PhongMultiLightLINES.frag")));
    ASSERT_TRUE(phong->isLinked());
    ASSERT_TRUE(lines->isLinked());

    const QImage fixed = drawLitSphere(gl, nullptr, false);
    gl.savePng(gltest::picturePath("shader-sphere-fixed.png"));
    const QImage shaded = drawLitSphere(gl, phong.get(), false);
    gl.savePng(gltest::picturePath("shader-sphere-phong.png"));
    const QImage lit = drawLitSphere(gl, lines.get(), true);
    gl.savePng(gltest::picturePath("shader-lines.png"));

    // Background stays white; the sphere is red in both pictures, brighter towards the lights
    // (upper left, in GL window coordinates) than on the far side.
    for (const QImage* image : {&fixed, &shaded}) {
        EXPECT_EQ(image->pixel(3, 3), qRgb(255, 255, 255));
        const QRgb centre = image->pixel(80, 80);
        EXPECT_GT(qRed(centre), 2 * qGreen(centre));
        EXPECT_GT(qRed(centre), 80);
        EXPECT_GT(brightness(image->pixel(62, 98)), brightness(image->pixel(104, 56)) + 10);
    }
    // A specular highlight shows per pixel (near-white spot somewhere on the sphere).
    int highlight = 0;
    for (int y = 40; y < 120; ++y)
        for (int x = 40; x < 120; ++x)
            if (qGreen(shaded.pixel(x, y)) > 150 && qRed(shaded.pixel(x, y)) > 200) ++highlight;
    EXPECT_GT(highlight, 3);
    // Lines: red, lit, over white.
    int red = 0;
    for (int x = 30; x < 130; ++x)
        for (int y = 0; y < 160; ++y)
            if (qRed(lit.pixel(x, y)) > 100 && qGreen(lit.pixel(x, y)) < 90) ++red;
    EXPECT_GT(red, 200);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(ShaderPictureTest, FogGreysDistantSurfacesOnly)
{
    gltest::GLTestContext gl(200, 100);
    VORNAX_REQUIRE_CONTEXT(gl);
    console::Capture quiet;
    std::unique_ptr<GLSL::GLShader> phong(
        ShaderHandler().loadFromFile(shaderFile("PhongMultiLight.vert"), "", shaderFile("PhongMultiLight.frag")));
    ASSERT_TRUE(phong->isLinked());
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(40.0, 2.0, 2.7474774, 18002.7474774);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat fogColour[4] = {0.1f, 0.1f, 0.1f, 1}, none[4] = {0, 0, 0, 1}, grey[4] = {0.7f, 0.7f, 0.7f, 1},
                  fromEye[4] = {0, 0, 1, 0};
    glFogfv(GL_FOG_COLOR, fogColour);
    glFogf(GL_FOG_DENSITY, 0.0025f);
    // One light, from the eye and without attenuation: what differs between the spheres is fog.
    for (GLenum l : {GL_LIGHT0, GL_LIGHT1, GL_LIGHT2, GL_LIGHT3}) {
        glLightfv(l, GL_AMBIENT, none);
        glLightfv(l, GL_DIFFUSE, l == GL_LIGHT1 ? grey : none);
        glLightfv(l, GL_SPECULAR, none);
        glLightfv(l, GL_POSITION, fromEye);
    }
    // A sphere at the near camera's distance keeps its colour; one 1500 units away greys.
    gluLookAt(0, 0, 300, 0, 0, 1, 0, 1, 0);
    phong->use();
    glColor3f(0.9f, 0.15f, 0.1f);
    GLUquadric* q = gluNewQuadric();
    for (const auto& [x, z, r] : {std::tuple{-120.0, 0.0, 40.0}, std::tuple{600.0, -1200.0, 100.0}}) {
        glPushMatrix();
        glTranslated(x, 0, z);
        gluSphere(q, r, 32, 32);
        glPopMatrix();
    }
    gluDeleteQuadric(q);
    phong->stop();
    gl.savePng(gltest::picturePath("shader-fog.png"));
    const QImage image = gl.read();
    // Both seen 22° off the axis, lit alike, they differ by fog alone: the near one keeps the
    // lit red (0.2 · 0.9 + 0.7 · 0.9 · cos 22° = 0.765 of full), the far one goes part of the
    // way to the fog's dark grey.
    const QRgb nearCentre = image.pixel(45, 50), farCentre = image.pixel(155, 50);
    EXPECT_NEAR(qRed(nearCentre), 0.765 * 255, 6);
    EXPECT_LT(qRed(farCentre), 0.75 * qRed(nearCentre));
    EXPECT_GT(qRed(farCentre), 0.45 * qRed(nearCentre)); // never more than half hidden
    EXPECT_GT(qRed(farCentre), qGreen(farCentre) + 40);  // still red under the fog
}
