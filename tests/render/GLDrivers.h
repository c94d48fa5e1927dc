// Leak checking of the drawing tests. The GL driver (Mesa's, under Xvfb) keeps a few small
// allocations for the life of the process and is unloaded at exit, after which the leak checker
// can no longer tell whose they are. The test programs keep the driver loaded to the end and
// name its libraries as the owners of what it keeps.
#pragma once

namespace vornax::gltest {

/// Keeps every GL driver library mapped in the process loaded until exit.
void keepGLDriversLoaded();

} // namespace vornax::gltest
