// Outcome of an engine computation that may fail on its input, on memory or on the user.
#pragma once

namespace vornax {

enum class EnmStatus {
    Ok,
    TooFewNodes,
    OutOfMemory,
    NotReady,      ///< an earlier stage has not run (or failed), or a solver refused its arguments
    NotCalibrated, ///< NMR structure: no B-factors to calibrate against
    NotConverged,  ///< an eigen solver's iteration did not converge
    Cancelled,     ///< stopped on request (Progress::isCancelled)
};

/// Short lower-case words for `status` ("out of memory", "not converged", …).
const char* describe(EnmStatus status);

} // namespace vornax
