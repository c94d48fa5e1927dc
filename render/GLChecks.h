// Graphics capability checks.
#pragma once

namespace vornax {
class GLChecks {
public:
    bool checkOpenGLExtensions();
    bool queryStereoBuffer();
    void checkGLError();
    bool quadBufferSupported = false;
};
} // namespace vornax
