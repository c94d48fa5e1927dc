// Solved networks and device sessions for the device-logic tests.
#pragma once

#include "enm/ElasticNetworkModel.h"
#include "haptics/VirtualDeviceSession.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

namespace vornax::testing {

/// A workspace with round numbers: diagonal √(160² + 120² + 80²) mm.
inline constexpr std::array<double, 6> kTestWorkspace{-80.0, -60.0, -40.0, 80.0, 60.0, 40.0};

inline VirtualSessionOptions testOptions(bool saveForces = false, float factor = 1.0f)
{
    VirtualSessionOptions o;
    o.usableWorkspace = kTestWorkspace;
    o.saveForces = saveForces;
    o.forceFactor = factor;
    return o;
}

/// Largest absolute displacement component (Å).
inline double maxDisplacement(const ElasticNetworkModel& eln)
{
    double m = 0.0;
    for (double d : eln.deformation().getDisplacement()) m = std::max(m, std::fabs(d));
    return m;
}

} // namespace vornax::testing
