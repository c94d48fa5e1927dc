// The calibration of a network against its B-factors: the spring constant K that makes the
// network's mean-square fluctuations those of the crystal at its temperature, and the force scale
// S that makes the device's average force move a node by the mean atomic fluctuation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vornax {

/// Largest B-factor the calibration accepts (Å²): the most the 6-column field can hold.
inline constexpr double kMaxBFactor = 9999.99;
/// Highest experiment temperature accepted (K).
inline constexpr float kMaxTemperature = 10000.0f;
inline constexpr double kEightPiSquared = 78.95683520871486;
/// Newtons to kcal/mol/Å, as the eigen data files store it (the product, bit for bit).
inline constexpr double kNewtonToKcal = 1e10 * 1.4396;

/// kT in kcal/mol at `kelvin` (0.6 at 300 K).
inline double thermalEnergy(double kelvin) { return 0.6 * kelvin / 300.0; }

/// What the calibration starts from.
struct CalibrationInput {
    double sumInverse = 0.0;      ///< Σ 1/λ over the non-rigid modes of the unit-spring network
    std::vector<double> bFactors; ///< one a node, Å²
    double kelvin = 300.0;        ///< experiment temperature
    float averageHapticForce = 1.0f; ///< the device's average force, newtons
    std::string name;             ///< the structure, for messages
};

/// What it gives.
struct Calibration {
    double kT = 0, sumInverse = 0, sumB = 0, K = 0, R = 0, c = 0, D = 0, S = 0;
    bool calibrated = false; ///< false when the B-factors could not calibrate K
};

/// K, R, c, D and S of a network of in.bFactors.size() nodes. When the B-factors cannot calibrate
/// K, K is 1 and the user is told why.
Calibration calibrate(const CalibrationInput& in);

} // namespace vornax
