// Calibration of the network from the B-factors, the response to forces and the simulation step.
#include "enm/ElasticNetworkModel.h"
#include "enm/ResponseRoutes.h"

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

EnmStatus ElasticNetworkModel::calculateForceScaler(float averageHapticForce, bool readingStandardData_)
{
    const EnmStatus status = calibrateForces(averageHapticForce, readingStandardData_);
    if (status == EnmStatus::Ok && !readingStandardData) holdY(nullptr);
    return status;
}

EnmStatus ElasticNetworkModel::holdY(Progress* progress)
{
    const EnmStatus status = calculateY(progress);
    m_modes.yMatrixAvailable = status == EnmStatus::Ok;
    return status;
}

EnmStatus ElasticNetworkModel::calibrateForces(float averageHapticForce, bool readingStandardData_)
{
    m_modes.springConstant = 0.0;
    readingStandardData = readingStandardData_;
    m_modes.calibration = Calibration();
    if (m_geometry.isNMR()) {
        console::line("NMR structure: no B-factors to calibrate against, forces are not applied");
        return EnmStatus::NotCalibrated;
    }
    const int32_t n = m_geometry.getAmountOfAtoms();
    const auto modes = static_cast<std::size_t>(m_geometry.get3NMinus6());
    if (n < 3 || m_modes.inverseEigenvalues.size() != modes || m_modes.eigenvalues.size() != static_cast<std::size_t>(m_geometry.get3N()) + 1)
        return EnmStatus::NotReady;

    double sumInverse = 0.0;
    for (double inv : m_modes.inverseEigenvalues) sumInverse += inv;
    applyCalibration(sumInverse, averageHapticForce);
    return EnmStatus::Ok;
}

void ElasticNetworkModel::applyCalibration(double sumInverse, float averageHapticForce)
{
    const auto modes = static_cast<std::size_t>(m_geometry.get3NMinus6());
    std::vector<double> bFactors(static_cast<std::size_t>(m_geometry.getAmountOfAtoms()));
    for (int32_t i = 0; i < m_geometry.getAmountOfAtoms(); ++i)
        bFactors[static_cast<std::size_t>(i)] = m_geometry.getAtoms()[static_cast<std::size_t>(i)]->getMyBFactor();
    m_modes.calibration = vornax::calibrate(CalibrationInput{sumInverse, std::move(bFactors), m_geometry.getTemperature(), averageHapticForce, m_geometry.getPDBName()});
    const Calibration& cal = m_modes.calibration;
    m_modes.springConstant = cal.K;

    // Modes not computed (the sparse path's) have eigenvalue 0 and stay out.
    m_modes.scaledEigenvalues.assign(modes, 0.0);
    for (std::size_t k = 7; k <= static_cast<std::size_t>(m_geometry.get3N()); ++k)
        m_modes.scaledEigenvalues[k - 7] = m_modes.eigenvalues[k] * cal.K;
    m_modes.newtonToKcal = kNewtonToKcal;

    m_modes.inverseScaledEigenvalues.assign(modes, 0.0);
    for (std::size_t k = 0; k < modes; ++k)
        if (m_modes.inverseEigenvalues[k] != 0.0 && m_modes.scaledEigenvalues[k] > 0.0)
            m_modes.inverseScaledEigenvalues[k] = 1.0 / m_modes.scaledEigenvalues[k];

    m_modes.forceScaler = cal.S;
    console::Line() << "S: " << m_modes.forceScaler.load();
    setupCompleteFlag = true;
}

EnmStatus ElasticNetworkModel::calculateY(Progress* progress)
{
    const auto start = std::chrono::steady_clock::now();
    const auto dim = static_cast<std::size_t>(m_geometry.get3N());
    const auto modes = static_cast<std::size_t>(m_geometry.get3NMinus6());
    if (!m_modes.eigenvectorsT || m_modes.inverseScaledEigenvalues.size() != modes) return EnmStatus::NotReady;
    m_modes.yMatrix = allocateMatrixDoubles(dim * dim);
    if (!m_modes.yMatrix) {
        console::Line(console::Warning)
            << "Not enough memory for the response matrix Y; responses go through the modes";
        return EnmStatus::OutOfMemory;
    }
    // Y = Σ_k w_k v_k v_kᵀ = W·Wᵀ with W = V·diag(√w): rank-k updates on blocks of modes.
    // Vᵀ rows are the columns of V in column-major terms, so a block of rows is a block of W.
    const std::size_t block = std::min<std::size_t>(modes, 256);
    DoubleBuffer w = allocateDoubles(std::max<std::size_t>(block, 1) * dim);
    if (!w) {
        m_modes.yMatrix.reset();
        return EnmStatus::OutOfMemory;
    }
    double* y = m_modes.yMatrix.get();
    bool first = true;
    for (std::size_t k0 = 0; k0 < modes; k0 += block) {
        if (isCancelled(progress)) {
            m_modes.yMatrix.reset();
            console::line("The response matrix Y was cancelled");
            return EnmStatus::Cancelled;
        }
        const std::size_t b = std::min(block, modes - k0);
        for (std::size_t j = 0; j < b; ++j) {
            const double scale = std::sqrt(m_modes.inverseScaledEigenvalues[k0 + j]);
            const double* v = m_modes.eigenvectorsT + (k0 + j) * dim;
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
    m_modes.ySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::Line() << "Time for calculating Y: " << m_modes.ySeconds;
    return EnmStatus::Ok;
}

bool ElasticNetworkModel::checkAvailableMemForY() const
{
    const uint64_t m = static_cast<uint64_t>(m_geometry.get3N());
    const bool enough = (2 * m + 3) * m + 3 < budget.availableMemory() / 8;
    if (enough) console::line("enough memory to do the calculation of Y");
    return enough;
}

void ElasticNetworkModel::finalize_inv_HDK(int32_t amountRead)
{
    const int32_t from = std::max(0, amountRead - 6);
    const auto to = static_cast<int32_t>(m_modes.inverseScaledEigenvalues.size());
    console::Line() << "zeroing non set modes: " << from << " to " << to - 1;
    for (int32_t k = from; k < to; ++k) m_modes.inverseScaledEigenvalues[static_cast<std::size_t>(k)] = 0.0;
}

void ElasticNetworkModel::setUpAllModes()
{
    const ModeChangeToken token = beginModeChange();
    m_modes.totalMaxModes = m_geometry.get3NMinus6();
    m_modes.amountSelected = m_modes.totalMaxModes;
    m_modes.modeSelectState = 2;
    m_modes.ownedModeVectors.reset();
    m_modes.modeVectors = m_modes.eigenvectorsT;
    m_modes.modeAmplitudes.assign(static_cast<std::size_t>(m_modes.totalMaxModes), 0.0);
    m_modes.loadResult = m_modes.yMatrixAvailable ? -2 : -3;
    m_modes.useAllModesFlag.store(true, std::memory_order_release);
    zeroForces();
    m_modes.modesReady.store(m_modes.modeVectors != nullptr || m_modes.yMatrixAvailable, std::memory_order_release);
}

// ---- Responses --------------------------------------------------------------------------------

// ---- Forces -----------------------------------------------------------------------------------

// ---- The simulation step ----------------------------------------------------------------------

// ---- Mode selection ---------------------------------------------------------------------------

} // namespace vornax
