// The calibration of the modes against the B-factors, and the response matrix Y.
#include "enm/Deformation.h"
#include "enm/ModeBudget.h"
#include "enm/ModeSet.h"
#include "enm/NetworkGeometry.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "common/SystemInfo.h"
#include "common/Units.h"
#include "common/UserPrompts.h"
#include "molecule/Atom.h"

#include <cblas.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <thread>

namespace vornax {

// ---- Calibration ------------------------------------------------------------------------------

EnmStatus ModeSet::calculateForceScaler(const NetworkGeometry& geometry, float averageHapticForce,
                                        bool readingStandardData_)
{
    const EnmStatus status = calibrateForces(geometry, averageHapticForce, readingStandardData_);
    if (status == EnmStatus::Ok && !readingStandardData) holdY(geometry, nullptr);
    return status;
}

EnmStatus ModeSet::holdY(const NetworkGeometry& geometry, Progress* progress)
{
    const EnmStatus status = calculateY(geometry, progress);
    yMatrixAvailable = status == EnmStatus::Ok;
    return status;
}

EnmStatus ModeSet::calibrateForces(const NetworkGeometry& geometry, float averageHapticForce, bool readingStandardData_)
{
    springConstant = 0.0;
    readingStandardData = readingStandardData_;
    calibration = Calibration();
    if (geometry.isNMR()) {
        console::line("NMR structure: no B-factors to calibrate against, forces are not applied");
        return EnmStatus::NotCalibrated;
    }
    const int32_t n = geometry.getAmountOfAtoms();
    const auto modes = static_cast<std::size_t>(geometry.get3NMinus6());
    if (n < 3 || inverseEigenvalues.size() != modes || eigenvalues.size() != static_cast<std::size_t>(geometry.get3N()) + 1)
        return EnmStatus::NotReady;

    double sumInverse = 0.0;
    for (double inv : inverseEigenvalues) sumInverse += inv;
    applyCalibration(geometry, sumInverse, averageHapticForce);
    return EnmStatus::Ok;
}

void ModeSet::applyCalibration(const NetworkGeometry& geometry, double sumInverse, float averageHapticForce)
{
    const auto modes = static_cast<std::size_t>(geometry.get3NMinus6());
    std::vector<double> bFactors(static_cast<std::size_t>(geometry.getAmountOfAtoms()));
    for (int32_t i = 0; i < geometry.getAmountOfAtoms(); ++i)
        bFactors[static_cast<std::size_t>(i)] = geometry.getAtoms()[static_cast<std::size_t>(i)]->getMyBFactor();
    calibration = vornax::calibrate(CalibrationInput{sumInverse, std::move(bFactors), geometry.getTemperature(), averageHapticForce, geometry.getPDBName()});
    const Calibration& cal = calibration;
    springConstant = cal.K;

    // Modes not computed (the sparse path's) have eigenvalue 0 and stay out.
    scaledEigenvalues.assign(modes, 0.0);
    for (std::size_t k = 7; k <= static_cast<std::size_t>(geometry.get3N()); ++k)
        scaledEigenvalues[k - 7] = eigenvalues[k] * cal.K;
    newtonToKcal = kNewtonToKcal;

    inverseScaledEigenvalues.assign(modes, 0.0);
    for (std::size_t k = 0; k < modes; ++k)
        if (inverseEigenvalues[k] != 0.0 && scaledEigenvalues[k] > 0.0)
            inverseScaledEigenvalues[k] = 1.0 / scaledEigenvalues[k];

    forceScaler = cal.S;
    console::Line() << "S: " << forceScaler.load();
    setupCompleteFlag = true;
}

EnmStatus ModeSet::calculateY(const NetworkGeometry& geometry, Progress* progress)
{
    const auto start = std::chrono::steady_clock::now();
    const auto dim = static_cast<std::size_t>(geometry.get3N());
    const auto modes = static_cast<std::size_t>(geometry.get3NMinus6());
    if (!eigenvectorsT || inverseScaledEigenvalues.size() != modes) return EnmStatus::NotReady;
    yMatrix = allocateMatrixDoubles(dim * dim);
    if (!yMatrix) {
        console::Line(console::Warning)
            << "Not enough memory for the response matrix Y; responses go through the modes";
        return EnmStatus::OutOfMemory;
    }
    // Y = Σ_k w_k v_k v_kᵀ = W·Wᵀ with W = V·diag(√w): rank-k updates on blocks of modes.
    // Vᵀ rows are the columns of V in column-major terms, so a block of rows is a block of W.
    const std::size_t block = std::min<std::size_t>(modes, 256);
    DoubleBuffer w = allocateDoubles(std::max<std::size_t>(block, 1) * dim);
    if (!w) {
        yMatrix.reset();
        return EnmStatus::OutOfMemory;
    }
    double* y = yMatrix.get();
    bool first = true;
    for (std::size_t k0 = 0; k0 < modes; k0 += block) {
        if (isCancelled(progress)) {
            yMatrix.reset();
            console::line("The response matrix Y was cancelled");
            return EnmStatus::Cancelled;
        }
        const std::size_t b = std::min(block, modes - k0);
        for (std::size_t j = 0; j < b; ++j) {
            const double scale = std::sqrt(inverseScaledEigenvalues[k0 + j]);
            const double* v = eigenvectorsT + (k0 + j) * dim;
            double* out = w.get() + j * dim;
            for (std::size_t i = 0; i < dim; ++i) out[i] = v[i] * scale;
        }
        cblas_dsyrk(CblasColMajor, CblasUpper, CblasNoTrans, static_cast<int>(dim), static_cast<int>(b), 1.0, w.get(),
                    static_cast<int>(dim), first ? 0.0 : 1.0, y, static_cast<int>(dim));
        first = false;
    }
    if (first) std::fill(y, y + dim * dim, 0.0);
    // Only the upper triangle (column-major) was formed; mirror it, tile by tile.
    constexpr std::size_t tile = 64;
    for (std::size_t jb = 0; jb < dim; jb += tile)
        for (std::size_t ib = 0; ib <= jb; ib += tile)
            for (std::size_t j = jb; j < std::min(jb + tile, dim); ++j)
                for (std::size_t i = ib; i < std::min(ib + tile, j); ++i) y[i * dim + j] = y[j * dim + i];
    ySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::Line() << "Time for calculating Y: " << ySeconds;
    return EnmStatus::Ok;
}

bool ModeSet::checkAvailableMemForY(const NetworkGeometry& geometry, const ModeBudget& budget) const
{
    const uint64_t m = static_cast<uint64_t>(geometry.get3N());
    const bool enough = (2 * m + 3) * m + 3 < budget.availableMemory() / 8;
    if (enough) console::line("enough memory to do the calculation of Y");
    return enough;
}

void ModeSet::finalize_inv_HDK(int32_t amountRead)
{
    const int32_t from = std::max(0, amountRead - 6);
    const auto to = static_cast<int32_t>(inverseScaledEigenvalues.size());
    console::Line() << "zeroing non set modes: " << from << " to " << to - 1;
    for (int32_t k = from; k < to; ++k) inverseScaledEigenvalues[static_cast<std::size_t>(k)] = 0.0;
}

void ModeSet::setUpAllModes(const NetworkGeometry& geometry, Deformation& deformation)
{
    const ModeChangeToken token = deformation.beginModeChange();
    totalMaxModes = geometry.get3NMinus6();
    amountSelected = totalMaxModes;
    modeSelectState = 2;
    ownedModeVectors.reset();
    modeVectors = eigenvectorsT;
    modeAmplitudes.assign(static_cast<std::size_t>(totalMaxModes), 0.0);
    loadResult = yMatrixAvailable ? -2 : -3;
    useAllModesFlag.store(true, std::memory_order_release);
    deformation.zeroForces();
    modesReady.store(modeVectors != nullptr || yMatrixAvailable, std::memory_order_release);
}

} // namespace vornax
