// Shader programs that light surfaces as the Phong programs do (lights 0-3 as the view sets
// them, colour material, fog), written for the lights as they are set, for drawing many small
// shapes fast:
// - what does not depend on the surface's direction (attenuation, spot cone, the lights' total
//   strength, fog) is worked out per vertex, which for a node sphere is once, at its centre;
// - lights that shine from one place share one direction and one highlight, and lights that
//   add nothing cost nothing.
// Two kinds of surface: sphere and cylinder impostors (Impostors). The programs are made from
// text held here, so no file can go missing, one per kind and arrangement of the lights, and
// kept.
#pragma once

#include "render/GLHeaders.h"

#include <map>
#include <string>

namespace vornax {

class LitPrograms {
public:
    enum class Surface { SphereImpostor, CylinderImpostor };

    LitPrograms() = default;
    ~LitPrograms(); ///< deletes the programs (context current)
    LitPrograms(const LitPrograms&) = delete;
    LitPrograms& operator=(const LitPrograms&) = delete;

    /// The programs of both kinds for the lights as they are set now (context current); 0 for
    /// one that cannot be built.
    struct Programs {
        GLuint sphere = 0;
        GLuint cylinder = 0;
    };
    Programs programsForLights();
    const std::string& problem() const { return m_problem; }

private:
    std::map<std::string, GLuint> m_programs; ///< by kind and arrangement of the lights
    std::string m_problem;
};

/// Makes `program` current (where it is not 0) and puts back the program that was current when
/// it goes.
class ProgramScope {
public:
    explicit ProgramScope(GLuint program);
    ~ProgramScope();
    ProgramScope(const ProgramScope&) = delete;
    ProgramScope& operator=(const ProgramScope&) = delete;

private:
    GLint m_previous = 0;
    bool m_switched = false;
};

} // namespace vornax
