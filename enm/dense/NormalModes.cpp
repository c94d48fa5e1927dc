// Hessian of the anisotropic network and its eigen solution (the solvers: EigenSolvers.cpp).
#include "enm/dense/EigenSolvers.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/SpringBlocks.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "common/UserPrompts.h"
#include "molecule/Atom.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <sstream>
#include <utility>
#include <vector>

namespace vornax {

namespace {

/// The nodes `node` (node i) is joined to, in its list's (ascending) order, itself left out.
void neighboursOf(const Atom& node, int32_t i, std::vector<int32_t>& near)
{
    near.clear();
    const int32_t count = node.getAmountOfConnectedAtoms();
    for (int32_t e = 0; e < count; ++e) {
        const int32_t j = node.getConnectedAtom(e)->getMyPositionInOriginalList();
        if (j != i) near.push_back(j);
    }
}

/// Appends node i's three rows of the Hessian to `rows`: its blocks with the nodes of `near`,
/// the diagonal block among them, columns ascending. False when a value is not finite.
bool appendNodeRows(SymmetricRows& rows, const double* xyz, int32_t i, const std::vector<int32_t>& near,
                    std::vector<double>& blocks)
{
    double diag[3][3];
    springBlocks(xyz, i, near, diag, blocks);
    const auto firstAbove = static_cast<std::size_t>(std::upper_bound(near.begin(), near.end(), i) - near.begin());
    bool finite = true;
    for (int a = 0; a < 3; ++a) {
        for (std::size_t e = 0; e <= near.size(); ++e) {
            const bool self = e == firstAbove;
            const std::size_t at = e < firstAbove ? e : e - 1; // the neighbour's block
            const int32_t j = self ? i : near[at];
            for (int b = 0; b < 3; ++b) {
                const double v = self ? diag[a][b] : blocks[9 * at + 3 * a + b];
                finite = finite && std::isfinite(v);
                rows.column.push_back(3 * j + b);
                rows.value.push_back(v);
            }
        }
        rows.rowStart.push_back(rows.column.size());
    }
    return finite;
}

} // namespace

EnmStatus ElasticNetworkModel::constructHessianMatrix(Progress* progress)
{
    const int32_t n = m_geometry.getAmountOfAtoms();
    if (n < 3) {
        const std::string text = "The elastic network of " + m_geometry.getPDBName() + " has " + std::to_string(n)
            + " nodes (C-alpha or phosphorus atoms): at least 3 are needed for normal modes.";
        console::write(console::Warning, text);
        userPrompts().messageBox("Elastic Network Setup Error", text, MessageIcon::Warning, MessageButtons::Ok);
        return EnmStatus::TooFewNodes;
    }
    const auto dim = static_cast<std::size_t>(m_geometry.get3N());
    if (progress) progress->setMaximum(12 * n + 10);
    m_modes.springConstant = 1.0;
    // The dense matrix is only reserved here: its pages are zeroed by the system when first
    // written, and the solve writes the values into it (fillHessian). What is built here is
    // the Hessian's non-zero blocks, row by row.
    m_modes.hessianRows = SymmetricRows();
    m_modes.hessianFill = ModeSet::HessianFill::None;
    m_modes.hessianFinite = true;
    m_modes.hessian = allocateMatrixDoubles(dim * dim);
    if (!m_modes.hessian) {
        console::Line(console::Warning) << "Not enough memory for the Hessian of " << n << " nodes";
        return EnmStatus::OutOfMemory;
    }
    stepProgress(progress);
    console::Line() << "Constructing Hessian matrix from " << m_geometry.getAmountOfSprings() << " springs";

    try {
        // Each spring gives one 3 × 3 block in each of its two nodes' rows; each node its
        // diagonal block.
        const std::size_t blocks = static_cast<std::size_t>(n) + static_cast<std::size_t>(std::max(m_geometry.getAmountOfSprings(), 0));
        m_modes.hessianRows.rowStart.reserve(dim + 1);
        m_modes.hessianRows.column.reserve(9 * blocks);
        m_modes.hessianRows.value.reserve(9 * blocks);
    } catch (const std::bad_alloc&) {
        m_modes.hessian.reset();
        console::Line(console::Warning) << "Not enough memory for the Hessian of " << n << " nodes";
        return EnmStatus::OutOfMemory;
    }
    m_modes.hessianRows.rowStart.push_back(0);

    bool finite = true;
    // Spring directions from the coordinates as read (double precision); the blocks do not
    // depend on the length unit.
    std::vector<int32_t> near;
    std::vector<double> blocks;
    for (int32_t i = 0; i < n; ++i) {
        neighboursOf(*m_geometry.getAtoms()[static_cast<std::size_t>(i)], i, near);
        finite = appendNodeRows(m_modes.hessianRows, m_geometry.getNodeCoordinates().data(), i, near, blocks) && finite;
        stepProgress(progress);
    }
    m_modes.hessianFinite = finite;
    return EnmStatus::Ok;
}

EnmStatus ElasticNetworkModel::calculateEigen(Progress* progress)
{
    if (m_geometry.getAmountOfAtoms() < 3) return EnmStatus::TooFewNodes;
    if (!m_modes.hessian) return EnmStatus::NotReady;
    m_modes.eigenComputed = true;
    const auto start = std::chrono::steady_clock::now();

    // Whatever a previous solve left goes first: a failed solve must not leave it looking current.
    m_modes.eigenvectorsT = nullptr;
    m_modes.eigenBuffer.reset();
    m_modes.eigenvalues.assign(static_cast<std::size_t>(m_geometry.get3N()) + 1, 0.0);
    double* values = m_modes.eigenvalues.data() + 1;
    EigenSolution solution;
    // The staged solver reads each row of the Hessian from the diagonal on (its lower triangle
    // in LAPACK's column-major terms) and takes its sparse products from the rows themselves.
    // Writing a fresh matrix faults in its pages, seconds on the largest: a cancel is heeded.
    const bool filled = m_modes.fillHessian(m_modes.eigenSolver == EigenSolver::Lapack ? ModeSet::HessianFill::Upper : ModeSet::HessianFill::Full,
                                    [progress] { return isCancelled(progress); });
    if (!filled) {
        solution.outcome = SolverOutcome{EnmStatus::Cancelled, 0, "the Hessian"};
    } else {
        switch (m_modes.eigenSolver) {
        case EigenSolver::Lapack: solution = solveStaged(m_modes.hessian, m_geometry.get3N(), values, progress, &m_modes.hessianRows); break;
        case EigenSolver::LapackDC: solution = solveWithDriver(m_modes.hessian, m_geometry.get3N(), values, true); break;
        case EigenSolver::LapackMRRR: solution = solveWithDriver(m_modes.hessian, m_geometry.get3N(), values, false); break;
        case EigenSolver::Reference: solution = solveReference(m_modes.hessian, m_geometry.get3N(), values, progress); break;
        }
    }
    m_modes.hessian.reset();
    m_modes.hessianRows = SymmetricRows();
    m_modes.hessianFill = ModeSet::HessianFill::None;
    if (!solution.outcome.ok()) {
        m_modes.eigenComputed = false;
        m_modes.eigenvalues.clear();
        const SolverOutcome& outcome = solution.outcome;
        switch (outcome.status) {
        case EnmStatus::OutOfMemory:
            console::Line(console::Warning)
                << "Not enough memory for the eigenvectors of " << m_geometry.getAmountOfAtoms() << " nodes (" << outcome.stage << ")";
            break;
        case EnmStatus::Cancelled: console::line("The eigen solution was cancelled"); break;
        default:
            console::Line(console::Warning) << "The eigen solution failed in " << outcome.stage << ": "
                                            << describe(outcome.status) << " (LAPACK info " << outcome.info << ")";
            break;
        }
        return outcome.status;
    }
    m_modes.eigenBuffer = std::move(solution.vectors);
    stepProgress(progress, 9);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::Line() << "Time for calculating eigen vectors and values in seconds: " << seconds;

    finishEigenSolution(progress);
    return EnmStatus::Ok;
}

void ElasticNetworkModel::finishEigenSolution(Progress* progress)
{
    const auto dim = static_cast<std::size_t>(m_geometry.get3N());
    const auto modes = static_cast<std::size_t>(m_geometry.get3NMinus6());
    m_modes.eigenvectorsT = m_modes.eigenBuffer.get() + 6 * dim;
    stepProgress(progress, static_cast<int>(dim));

    // Modes 7… keep their inverse eigenvalue; modes the network has in excess of the six
    // rigid-body ones (disconnected or floppy parts) have a zero eigenvalue and stay out.
    const double largest = std::fabs(m_modes.eigenvalues[dim]);
    const double zero = ModeSet::kZeroModeTolerance * largest;
    m_modes.inverseEigenvalues.assign(modes, 0.0);
    m_modes.extraZeroModes = 0;
    std::ostringstream line;
    line.precision(10);
    for (std::size_t k = 7; k <= dim; ++k) {
        line << m_modes.eigenvalues[k] << ' ';
        if (m_modes.eigenvalues[k] > zero) {
            m_modes.inverseEigenvalues[k - 7] = 1.0 / m_modes.eigenvalues[k];
        } else {
            ++m_modes.extraZeroModes;
        }
        stepProgress(progress);
    }
    console::line(line.str());
    if (m_modes.extraZeroModes > 0) warnExtraZeroModes(m_modes.extraZeroModes, m_geometry.getRc());
    zeroForces();
    m_modes.inverseScaledEigenvalues.assign(modes, 0.0);
    m_modes.scaledEigenvalues.assign(modes, 0.0);
}

void ElasticNetworkModel::warnExtraZeroModes(int32_t count, float rcAngstrom)
{
    std::ostringstream text;
    text << "The network has " << count << " zero-frequency modes besides the six rigid-body ones:"
         << " parts of it are disconnected or hang on too few springs. Those modes are left out of the"
         << " response. A larger cutoff Rc (now " << rcAngstrom << " \u00c5) joins the network.";
    console::write(console::Warning, text.str());
    userPrompts().messageBox("Elastic Network Setup Error", text.str(), MessageIcon::Warning, MessageButtons::Ok);
}

} // namespace vornax
