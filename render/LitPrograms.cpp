#include "render/LitPrograms.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace vornax {

namespace {

// ---- Vertex stage ------------------------------------------------------------------------

const char* const kVertexDeclarations = R"(#version 120
varying vec3 base;      // emission and ambient light, scaled by the lights' strength
varying float fogShare; // how much of the lit colour the fog leaves

const float fogStart = 400.0;
const float fogMaxShare = 0.5;
)";

// A sphere impostor: the quad lies in the plane through the sphere's centre square to the line
// of sight, just large enough to hold the sphere's outline as the eye sees it (under
// perspective that outline is wider than the radius: radius·d/√(d² − radius²) at distance d).
// The vertex is the centre; texture coordinates 1 give the corner (±1, ±1) and the radius.
const char* const kSphereVertexMain = R"(
varying vec3 centre;    // eye space
varying float radius;   // eye space
varying vec3 quadPoint; // the point of the quad under the fragment, eye space

void main()
{
    vec4 c = gl_ModelViewMatrix * gl_Vertex;
    centre = c.xyz / c.w;
    radius = gl_MultiTexCoord1.z * length(gl_ModelViewMatrix[0].xyz);
    bool perspective = gl_ProjectionMatrix[3][3] == 0.0;
    vec3 toEye = perspective ? -centre : vec3(0.0, 0.0, 1.0);
    float eyeDistance = length(toEye);
    toEye /= max(eyeDistance, 1e-6);
    vec3 helper = abs(toEye.y) < 0.9 ? vec3(0.0, 1.0, 0.0) : vec3(1.0, 0.0, 0.0);
    vec3 right = normalize(cross(helper, toEye));
    vec3 up = cross(toEye, right);
    float extent = radius;
    if (perspective) {
        float e = eyeDistance;
        extent = e > radius * 1.001 ? radius * e / sqrt(e * e - radius * radius) : 0.0;
    }
    quadPoint = centre + (right * gl_MultiTexCoord1.x + up * gl_MultiTexCoord1.y) * extent;
    gl_Position = gl_ProjectionMatrix * vec4(quadPoint, 1.0);
    vec3 here = centre;
)";

// A cylinder impostor: the vertex is the tube's start, texture coordinates 0 its end, and
// texture coordinates 1 the corner (across: ±1, along: 0 or 1) and the radius. The quad holds
// the axis and lies as square to the line of sight as a plane through the axis can; it reaches
// past the tube's sides and ends far enough to hold its outline seen in perspective.
const char* const kCylinderVertexMain = R"(
varying vec3 axisStart; // eye space
varying vec3 axisEnd;
varying float radius;
varying vec3 quadPoint;

void main()
{
    vec4 a = gl_ModelViewMatrix * gl_Vertex;
    vec4 b = gl_ModelViewMatrix * vec4(gl_MultiTexCoord0.xyz, 1.0);
    axisStart = a.xyz / a.w;
    axisEnd = b.xyz / b.w;
    radius = gl_MultiTexCoord1.z * length(gl_ModelViewMatrix[0].xyz);
    bool perspective = gl_ProjectionMatrix[3][3] == 0.0;
    vec3 axis = axisEnd - axisStart;
    float len = length(axis);
    vec3 u = len > 1e-6 ? axis / len : vec3(1.0, 0.0, 0.0);
    vec3 middle = 0.5 * (axisStart + axisEnd);
    vec3 toEye = perspective ? normalize(-middle) : vec3(0.0, 0.0, 1.0);
    vec3 side = cross(u, toEye);
    if (dot(side, side) < 1e-8) side = cross(u, abs(u.y) < 0.9 ? vec3(0.0, 1.0, 0.0) : vec3(1.0, 0.0, 0.0));
    side = normalize(side);
    // Across: the tube's outline lies radius·e/√(e² − radius²) from the axis, for the eye at
    // distance e from the axis line. Along: the rim of an end, seen at a slant, reaches past the
    // end by up to radius·|cos|/sin of the angle between the axis and the line of sight.
    float across = radius;
    float slant = abs(dot(toEye, u));
    if (perspective) {
        float e = length(cross(middle, u));
        across = e > radius * 1.001 ? radius * e / sqrt(e * e - radius * radius) : 0.0;
    }
    float beyond = across * min(slant / sqrt(max(1.0 - slant * slant, 1e-4)), 4.0);
    float along = gl_MultiTexCoord1.y;
    quadPoint = mix(axisStart - u * beyond, axisEnd + u * beyond, along) + side * gl_MultiTexCoord1.x * across;
    gl_Position = gl_ProjectionMatrix * vec4(quadPoint, 1.0);
    vec3 here = mix(axisStart, axisEnd, along);
)";

// What the lighting needs that does not depend on the surface's direction, at `here`; the
// lights' terms follow (written for the lights as they are set), then kVertexLightingTail.
const char* const kVertexLightingHead = R"(
    gl_FrontColor = gl_Color;
    gl_BackColor = gl_Color;
    vec3 material = gl_Color.rgb;
    vec3 ambient = gl_LightModel.ambient.rgb;
    float strength = max(ambient.r, max(ambient.g, ambient.b));
    vec3 toLight;
    float d;
    vec3 s;
)";

// The lights together may be several times as strong as one: their sum is scaled so that a
// surface facing all of them shows its own colour (as the Phong programs do).
const char* const kVertexLightingTail = R"(
    float scale = 1.0 / max(strength, 1.0);
    base = gl_FrontMaterial.emission.rgb + ambient * material * scale;
    fogShare = 1.0 - fogMaxShare * (1.0 - clamp(exp(-gl_Fog.density * max(length(here) - fogStart, 0.0)), 0.0, 1.0));
)";

// ---- Fragment stage ----------------------------------------------------------------------

const char* const kFragmentDeclarations = R"(#version 120
varying vec3 base;
varying float fogShare;
)";

// What both impostors' fragments start from: the line of sight through the fragment.
const char* const kImpostorFragmentDeclarations = R"(
varying float radius;
varying vec3 quadPoint;

void lineOfSight(out vec3 origin, out vec3 ray)
{
    bool perspective = gl_ProjectionMatrix[3][3] == 0.0;
    origin = perspective ? vec3(0.0) : vec3(quadPoint.xy, 0.0);
    ray = perspective ? normalize(quadPoint) : vec3(0.0, 0.0, -1.0);
}
)";

const char* const kSphereFragmentMain = R"(
varying vec3 centre;

void main()
{
    // The nearer crossing of the line of sight through this fragment with the sphere.
    vec3 origin, ray;
    lineOfSight(origin, ray);
    vec3 oc = centre - origin;
    float b = dot(ray, oc);
    float disc = b * b - dot(oc, oc) + radius * radius;
    if (disc < 0.0 || radius <= 0.0) discard;
    vec3 P = origin + (b - sqrt(disc)) * ray;
    vec3 N = (P - centre) / radius;
    vec3 V = -ray;
)";

// The nearer crossing of the line of sight with the tube's side, or, past its ends, the farther
// one: the tube is open, and the inside shows through its ends.
const char* const kCylinderFragmentMain = R"(
varying vec3 axisStart;
varying vec3 axisEnd;

void main()
{
    vec3 origin, ray;
    lineOfSight(origin, ray);
    vec3 axis = axisEnd - axisStart;
    float len = length(axis);
    if (len <= 0.0 || radius <= 0.0) discard;
    vec3 u = axis / len;
    vec3 w = origin - axisStart;
    vec3 rayAcross = ray - dot(ray, u) * u;
    vec3 wAcross = w - dot(w, u) * u;
    float a = dot(rayAcross, rayAcross);
    float b = dot(wAcross, rayAcross);
    float disc = b * b - a * (dot(wAcross, wAcross) - radius * radius);
    if (a < 1e-10 || disc < 0.0) discard;
    float root = sqrt(disc);
    vec3 P = origin + ((-b - root) / a) * ray;
    float s = dot(P - axisStart, u);
    float facing = 1.0;
    if (s < 0.0 || s > len) {
        P = origin + ((-b + root) / a) * ray;
        s = dot(P - axisStart, u);
        facing = -1.0;
        if (s < 0.0 || s > len) discard;
    }
    vec3 N = facing * (P - axisStart - s * u) / radius;
    vec3 V = -ray;
)";

const char* const kFragmentLightingHead = R"(
    float alpha = gl_Color.a;
    float shininess = max(gl_FrontMaterial.shininess, 1.0);
    vec3 colour = base;
    vec3 L;
    float lambert;
)";

const char* const kFragmentTail = R"(
    colour = mix(gl_Fog.color.rgb, colour, fogShare);
    gl_FragColor = vec4(colour, alpha);
)";

// An impostor's depth is its surface's, not the quad's. Impostors are opaque, and say so in
// the alpha they write (Impostors::draw).
const char* const kImpostorDepth = R"(
    gl_FragColor.a = 1.0;
    vec4 clip = gl_ProjectionMatrix * vec4(P, 1.0);
    gl_FragDepth = 0.5 * (gl_DepthRange.diff * clip.z / clip.w + gl_DepthRange.near + gl_DepthRange.far);
)";

/// `prefix` followed by the number `i`.
std::string numbered(const char* prefix, int i)
{
    std::string text(prefix);
    text += std::to_string(i);
    return text;
}

/// One of lights 0-3 as it is set now.
struct Light {
    int index = 0;
    bool glows = false;  ///< ambient light
    bool lit = false;    ///< diffuse light
    bool shiny = false;  ///< a highlight on this material
    bool spot = false;   ///< a cone
    std::string name() const { return numbered("gl_LightSource[", index) + "]"; }
};

/// Lights that shine from one place (or along one direction): they share one distance and one
/// direction to the surface, and one highlight.
struct LightGroup {
    GLfloat position[4] = {};
    std::vector<Light> lights;
    bool directional() const { return position[3] == 0.0f; }
    bool lit() const { return std::any_of(lights.begin(), lights.end(), [](const Light& l) { return l.lit; }); }
    bool shiny() const { return std::any_of(lights.begin(), lights.end(), [](const Light& l) { return l.shiny; }); }
};

bool nonZero(const GLfloat* rgb) { return rgb[0] != 0.0f || rgb[1] != 0.0f || rgb[2] != 0.0f; }

/// Lights 0-3 as they are set now, grouped by where they shine from; lights that add nothing
/// are left out.
std::vector<LightGroup> arrangeLights()
{
    GLfloat materialSpecular[4] = {};
    glGetMaterialfv(GL_FRONT, GL_SPECULAR, materialSpecular);
    std::vector<LightGroup> groups;
    for (int i = 0; i < 4; ++i) {
        const auto id = static_cast<GLenum>(GL_LIGHT0 + i);
        GLfloat position[4] = {}, ambient[4] = {}, diffuse[4] = {}, specular[4] = {}, cutoff = 180.0f;
        glGetLightfv(id, GL_POSITION, position);
        glGetLightfv(id, GL_AMBIENT, ambient);
        glGetLightfv(id, GL_DIFFUSE, diffuse);
        glGetLightfv(id, GL_SPECULAR, specular);
        glGetLightfv(id, GL_SPOT_CUTOFF, &cutoff);
        for (int k = 0; k < 3; ++k) specular[k] *= materialSpecular[k];
        Light light;
        light.index = i;
        light.glows = nonZero(ambient);
        light.lit = nonZero(diffuse);
        light.shiny = nonZero(specular);
        light.spot = position[3] != 0.0f && cutoff <= 90.0f;
        if (!light.glows && !light.lit && !light.shiny) continue;
        auto same = std::find_if(groups.begin(), groups.end(), [&](const LightGroup& g) {
            return std::equal(position, position + 4, g.position);
        });
        if (same == groups.end()) {
            same = groups.insert(groups.end(), LightGroup{});
            std::copy(position, position + 4, same->position);
        }
        same->lights.push_back(light);
    }
    return groups;
}

std::string key(const std::vector<LightGroup>& groups)
{
    std::string k;
    for (const LightGroup& g : groups) {
        k += g.directional() ? 'd' : 'p';
        for (const Light& l : g.lights) {
            k += static_cast<char>('0' + l.index);
            if (l.glows) k += 'A';
            if (l.lit) k += 'D';
            if (l.shiny) k += 'S';
            if (l.spot) k += 'C';
        }
        k += ';';
    }
    return k;
}

/// Light `l`'s attenuation, spot cone included, at distance d along toLight (as the Phong
/// programs work it out).
std::string attenuationOf(const Light& l)
{
    const std::string n = l.name(), a = numbered("a", l.index);
    std::string text = "    float " + a + " = 1.0 / max(" + n + ".constantAttenuation + " + n +
        ".linearAttenuation * d + " + n + ".quadraticAttenuation * d * d, 1e-6);\n";
    if (l.spot)
        text += "    {\n        float spot = dot(-toLight / max(d, 1e-6), normalize(" + n + ".spotDirection));\n        " + a +
            " *= spot < " + n + ".spotCosCutoff ? 0.0 : pow(max(spot, 0.0), " + n + ".spotExponent);\n    }\n";
    return text;
}

/// The two stages' text for this kind of surface and these groups of lights.
std::pair<std::string, std::string> sources(LitPrograms::Surface surface, const std::vector<LightGroup>& groups)
{
    const bool sphere = surface == LitPrograms::Surface::SphereImpostor;
    std::string declarations, vertexLights, vertexDiffuse, fragmentLights;
    for (std::size_t n = 0; n < groups.size(); ++n) {
        const LightGroup& g = groups[n];
        const std::string first = g.lights.front().name();
        // Per vertex: each light's attenuation, its share of the strength and its ambient light.
        if (!g.directional())
            vertexLights += "    toLight = " + first + ".position.xyz / " + first + ".position.w - here;\n"
                            "    d = length(toLight);\n";
        std::string diffuseSum;
        for (const Light& l : g.lights) {
            if (!l.glows && !l.lit) continue;
            const std::string a = numbered("a", l.index);
            vertexLights += g.directional() ? "    float " + a + " = 1.0;\n" : attenuationOf(l);
            vertexLights += "    s = (" + l.name() + ".ambient.rgb + " + l.name() + ".diffuse.rgb) * " + a +
                ";\n    strength += max(s.r, max(s.g, s.b));\n";
            if (l.glows) vertexLights += "    ambient += " + l.name() + ".ambient.rgb * " + a + ";\n";
            if (l.lit) diffuseSum += (diffuseSum.empty() ? std::string() : " + ") + l.name() + ".diffuse.rgb * " + a;
        }
        const std::string diffuse = numbered("diffuse", static_cast<int>(n));
        if (!diffuseSum.empty()) {
            declarations += "varying vec3 " + diffuse + ";\n";
            vertexDiffuse += "    " + diffuse + " = (" + diffuseSum + ") * material * scale;\n";
        }
        // Per fragment: the direction to the group's place, its diffuse light and highlight.
        if (!g.lit() && !g.shiny()) continue;
        fragmentLights += g.directional()
            ? "    L = normalize(" + first + ".position.xyz);\n"
            : "    L = normalize(" + first + ".position.xyz / " + first + ".position.w - P);\n";
        fragmentLights += "    lambert = dot(N, L);\n";
        if (!diffuseSum.empty()) fragmentLights += "    colour += " + diffuse + " * max(lambert, 0.0);\n";
        std::string specularSum;
        for (const Light& l : g.lights)
            if (l.shiny) specularSum += (specularSum.empty() ? std::string() : " + ") + l.name() + ".specular.rgb";
        if (!specularSum.empty())
            fragmentLights += "    if (lambert > 0.0) colour += 0.5 * (" + specularSum +
                ") * gl_FrontMaterial.specular.rgb * pow(max(dot(reflect(-L, N), V), 0.0), shininess);\n";
    }
    std::string vertex = std::string(kVertexDeclarations) + declarations +
        (sphere ? kSphereVertexMain : kCylinderVertexMain) + kVertexLightingHead + vertexLights + kVertexLightingTail +
        vertexDiffuse + "}\n";
    std::string fragment = std::string(kFragmentDeclarations) + declarations +
        kImpostorFragmentDeclarations + (sphere ? kSphereFragmentMain : kCylinderFragmentMain) + kFragmentLightingHead + fragmentLights + kFragmentTail +
        kImpostorDepth + "}\n";
    return {vertex, fragment};
}

std::string shaderLog(GLuint shader)
{
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
    glGetShaderInfoLog(shader, length, nullptr, log.data());
    return log.c_str();
}

/// A compiled stage, or 0 with `problem` set.
GLuint compile(GLenum type, const char* source, std::string& problem)
{
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return shader;
    problem = shaderLog(shader);
    glDeleteShader(shader);
    return 0;
}

/// A linked program from the two stages' text, or 0 with `problem` set.
GLuint link(const std::pair<std::string, std::string>& text, std::string& problem)
{
    const GLuint vertex = compile(GL_VERTEX_SHADER, text.first.c_str(), problem);
    const GLuint fragment = vertex ? compile(GL_FRAGMENT_SHADER, text.second.c_str(), problem) : 0;
    GLuint program = 0;
    if (vertex && fragment) {
        program = glCreateProgram();
        glAttachShader(program, vertex);
        glAttachShader(program, fragment);
        glLinkProgram(program);
        GLint ok = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (ok != GL_TRUE) {
            GLint length = 0;
            glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
            std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
            glGetProgramInfoLog(program, length, nullptr, log.data());
            problem = log.c_str();
            glDeleteProgram(program);
            program = 0;
        }
    }
    if (vertex) glDeleteShader(vertex); // the program keeps what it needs
    if (fragment) glDeleteShader(fragment);
    return program;
}

} // namespace

LitPrograms::~LitPrograms()
{
    for (const auto& entry : m_programs)
        if (entry.second != 0) glDeleteProgram(entry.second);
}

LitPrograms::Programs LitPrograms::programsForLights()
{
    if (!glCreateShader || !glCreateProgram || !glUseProgram) return {};
    // The lights are read once for both kinds.
    const std::vector<LightGroup> groups = arrangeLights();
    const std::string lights = key(groups);
    auto programFor = [&](Surface surface) {
        auto [it, added] = m_programs.emplace(std::to_string(static_cast<int>(surface)) + ":" + lights, 0);
        if (added) it->second = link(sources(surface, groups), m_problem);
        return it->second;
    };
    return {programFor(Surface::SphereImpostor), programFor(Surface::CylinderImpostor)};
}

ProgramScope::ProgramScope(GLuint program)
{
    if (program == 0) return;
    glGetIntegerv(GL_CURRENT_PROGRAM, &m_previous);
    glUseProgram(program);
    m_switched = true;
}

ProgramScope::~ProgramScope()
{
    if (m_switched) glUseProgram(static_cast<GLuint>(m_previous));
}

} // namespace vornax
