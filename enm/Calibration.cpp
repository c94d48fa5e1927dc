#include "enm/Calibration.h"

#include "common/Console.h"
#include "common/UserPrompts.h"

#include <cmath>
#include <iomanip>
#include <sstream>

namespace vornax {

namespace {

constexpr double kThreeOverEightPiSquared = 0.037995443865876666;

/// Every route (modes, response, deform, the window, the eigen data files) takes the decision
/// made here: B-factors that are not finite, negative or beyond what the PDB field can hold
/// calibrate nothing, and the unit spring constant is used, as for B-factors that are all 0.
/// Why `bFactors` cannot calibrate, or ""; `sumB` gets the sum of the usable ones.
std::string bFactorProblem(const std::vector<double>& bFactors, const std::string& name, double& sumB)
{
    int32_t nonFinite = 0, negative = 0, tooLarge = 0, first = -1;
    for (std::size_t i = 0; i < bFactors.size(); ++i) {
        const double b = bFactors[i];
        const bool bad = !std::isfinite(b) || b < 0.0 || b > kMaxBFactor;
        nonFinite += !std::isfinite(b);
        negative += std::isfinite(b) && b < 0.0;
        tooLarge += std::isfinite(b) && b > kMaxBFactor;
        if (bad && first < 0) first = static_cast<int32_t>(i);
        if (!bad) sumB += b;
    }
    if (first < 0) return {};
    std::ostringstream why;
    const char* sep = "";
    if (nonFinite) why << sep << nonFinite << " that are not finite numbers", sep = ", ";
    if (negative) why << sep << negative << " negative", sep = ", ";
    if (tooLarge) why << sep << tooLarge << " above " << kMaxBFactor << " \u00c5\u00b2";
    return "The B-factors of " + name + " include " + why.str() + " (the first at node " + std::to_string(first) + ")";
}

} // namespace

Calibration calibrate(const CalibrationInput& in)
{
    const std::vector<double>& bFactors = in.bFactors;
    const std::string& name = in.name;
    const float averageHapticForce = in.averageHapticForce;
    const auto n = static_cast<int32_t>(bFactors.size());
    double t = in.kelvin;
    if (!(t > 0.0) || !std::isfinite(t) || t > kMaxTemperature) {
        console::Line(console::Warning) << "Temperature " << t << " K cannot be used; calibrating at 300 K";
        t = 300.0;
    }
    Calibration cal;
    cal.kT = thermalEnergy(t);
    cal.sumInverse = in.sumInverse;

    std::string bProblem = bFactorProblem(bFactors, name, cal.sumB);

    cal.calibrated = bProblem.empty() && cal.sumB > 0.0 && cal.sumInverse > 0.0 && std::isfinite(cal.sumB)
        && std::isfinite(cal.sumInverse);
    double rootSum = 0.0;
    if (cal.calibrated) {
        cal.K = cal.kT * cal.sumInverse / (kThreeOverEightPiSquared * cal.sumB);
        for (double b : bFactors) rootSum += std::sqrt(b * 900.0 / (t * kEightPiSquared));
        // Whatever the numbers, a calibration that does not give usable K, R and S is none.
        const double c = cal.sumInverse / (3.0 * n * cal.K);
        const double D = static_cast<double>(averageHapticForce) * kNewtonToKcal * c;
        const double S = D > 0.0 ? (rootSum / n) / D : 0.0;
        if (!(std::isfinite(cal.K) && cal.K > 0.0 && std::isfinite(S) && S > 0.0)) {
            cal.calibrated = false;
            std::ostringstream text;
            text << "The B-factors of " << name << " give a spring constant of " << std::setprecision(6) << cal.K
                 << " kcal/mol/\u00c5\u00b2, which cannot be used";
            bProblem = text.str();
        }
    }
    if (cal.calibrated) {
        console::Line() << "calculated K: " << cal.K;
    } else {
        // Predicted models and some electron-microscopy entries carry no B-factors: K would be
        // infinite. Fall back to a unit spring constant and say so.
        cal.K = 1.0;
        const std::string why = !bProblem.empty() ? bProblem
            : cal.sumInverse > 0.0                ? "The B-factors of " + name + " are all zero"
                                                  : "The network of " + name + " has no springs to move against";
        const std::string text = why
            + ", so the spring constant cannot be calibrated. A spring constant of"
              " 1 kcal/mol/\u00c5\u00b2 is used instead: the forces are not calibrated.";
        console::write(console::Warning, text);
        userPrompts().messageBox("Elastic Network Setup Error", text, MessageIcon::Warning, MessageButtons::Ok);
    }
    cal.c = cal.sumInverse / (3.0 * n * cal.K);
    // R: the mean fluctuation in Å; a typical 1 Å keeps the pull usable without a calibration.
    cal.R = cal.calibrated ? rootSum / n : 1.0;
    cal.D = static_cast<double>(averageHapticForce) * kNewtonToKcal * cal.c;
    console::Line() << "Simple Denom: " << cal.D;
    console::Line() << "Final Numerator: " << cal.R;
    cal.S = cal.D > 0.0 ? cal.R / cal.D : 0.0;
    return cal;
}

} // namespace vornax
