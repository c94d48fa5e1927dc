#include "enm/EnmStatus.h"

namespace vornax {

const char* describe(EnmStatus status)
{
    switch (status) {
    case EnmStatus::Ok: return "ok";
    case EnmStatus::TooFewNodes: return "too few nodes";
    case EnmStatus::OutOfMemory: return "not enough memory";
    case EnmStatus::NotReady: return "the previous stage did not finish";
    case EnmStatus::NotCalibrated: return "not calibrated";
    case EnmStatus::NotConverged: return "not converged";
    case EnmStatus::Cancelled: return "cancelled";
    }
    return "unknown status";
}

} // namespace vornax
