#include "render/ShaderHandler.h"

#include "common/Console.h"
#include "render/RuntimeData.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace vornax {

namespace {

using GLSL::ShaderObject;

std::unique_ptr<ShaderObject> makeStage(int32_t kind)
{
    switch (kind) {
    case ShaderObject::Vertex: return std::make_unique<GLSL::VertexShader>();
    case ShaderObject::Geometry: return std::make_unique<GLSL::GeometryShader>();
    default: return std::make_unique<GLSL::FragmentShader>();
    }
}

const char* lowerName(int32_t kind)
{
    switch (kind) {
    case ShaderObject::Vertex: return "vertex";
    case ShaderObject::Geometry: return "geometry";
    default: return "fragment";
    }
}

std::string loadFailedLine(int32_t kind)
{
    switch (kind) {
    case ShaderObject::Vertex: return "[WARNING] Vertex FileLoad Failed";
    case ShaderObject::Geometry: return "[WARNING] Geometry FileLoad Failed";
    default: return "Fragment FileLoad Failed";
    }
}

/// One stage: made, loaded by `load`, compiled and attached; any failure is reported and the
/// stage left out.
void addStage(GLSL::GLShader& program, int32_t kind, bool present, const std::function<int(ShaderObject&)>& load)
{
    auto stage = makeStage(kind);
    const std::string name = stage->kindName();
    if (!present) {
        console::line("No " + name + " shader file!! This file is not required for normal loading");
        console::line("Program will run with fixed functionality");
        return;
    }
    stage->createShader();
    if (load(*stage) != 0) {
        console::write(console::Warning, loadFailedLine(kind));
        return;
    }
    console::line(name + " FileLoad Success");
    if (stage->compileShaderSource()) {
        console::line(name + " Shader Source Compile Success");
        stage->getInfoLog();
        program.attachShader(std::move(stage));
    } else {
        console::write(console::Warning, std::string("Error compiling ") + lowerName(kind) + " shader source");
        stage->getInfoLog();
    }
}

std::string resolveShaderFile(const std::string& name)
{
    const std::filesystem::path path(name);
    std::error_code ec;
    if (path.is_relative() && !std::filesystem::exists(path, ec)) {
        const std::filesystem::path beside = runtimeDataPath(name);
        if (std::filesystem::exists(beside, ec)) return beside.string();
    }
    return name;
}

} // namespace

GLSL::GLShader* ShaderHandler::loadFromFile(const std::string& vertex, const std::string& geometry,
                                            const std::string& fragment)
{
    auto program = std::make_unique<GLSL::GLShader>();
    const std::pair<int32_t, const std::string*> stages[] = {
        {ShaderObject::Vertex, &vertex}, {ShaderObject::Geometry, &geometry}, {ShaderObject::Fragment, &fragment}};
    for (const auto& [kind, file] : stages) {
        const std::string resolved = file->empty() ? std::string() : resolveShaderFile(*file);
        addStage(*program, kind, !file->empty(),
                 [&resolved](ShaderObject& s) { return s.loadFileIntoString(resolved); });
    }
    program->link();
    program->getInfoLog();
    return program.release();
}

GLSL::GLShader* ShaderHandler::loadFromString(const std::string& vertex, const std::string& fragment)
{
    auto program = std::make_unique<GLSL::GLShader>();
    const std::pair<int32_t, const std::string*> stages[] = {{ShaderObject::Vertex, &vertex},
                                                             {ShaderObject::Fragment, &fragment}};
    for (const auto& stage : stages) {
        const std::string& text = *stage.second;
        addStage(*program, stage.first, !text.empty(),
                 [&text](ShaderObject& s) { return s.loadStringIntoShader(text); });
    }
    program->link();
    program->getInfoLog();
    return program.release();
}

} // namespace vornax
