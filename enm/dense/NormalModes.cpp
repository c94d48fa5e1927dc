// Hessian of the anisotropic network and its eigen solution (the solvers: EigenSolvers.cpp).
#include "enm/dense/EigenSolvers.h"
#include "enm/Deformation.h"
#include "enm/ModeSet.h"
#include "enm/NetworkGeometry.h"
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

EnmStatus ModeSet::constructHessianMatrix(const NetworkGeometry& geometry, Progress* progress)
{
    const int32_t n = geometry.getAmountOfAtoms();
    if (n < 3) {
        const std::string text = "The elastic network of " + geometry.getPDBName() + " has " + std::to_string(n)
            + " nodes (C-alpha or phosphorus atoms): at least 3 are needed for normal modes.";
        console::write(console::Warning, text);
        userPrompts().messageBox("Elastic Network Setup Error", text, MessageIcon::Warning, MessageButtons::Ok);
        return EnmStatus::TooFewNodes;
    }
    const auto dim = static_cast<std::size_t>(geometry.get3N());
    if (progress) progress->setMaximum(12 * n + 10);
    springConstant = 1.0;
    // The dense matrix is only reserved here: its pages are zeroed by the system when first
    // written, and the solve writes the values into it (fillHessian). What is built here is
    // the Hessian's non-zero blocks, row by row.
    hessianRows = SymmetricRows();
    hessianFill = HessianFill::None;
    hessianFinite = true;
    hessian = allocateMatrixDoubles(dim * dim);
    if (!hessian) {
        console::Line(console::Warning) << "Not enough memory for the Hessian of " << n << " nodes";
        return EnmStatus::OutOfMemory;
    }
    stepProgress(progress);
    console::Line() << "Constructing Hessian matrix from " << geometry.getAmountOfSprings() << " springs";

    try {
        // Each spring gives one 3 × 3 block in each of its two nodes' rows; each node its
        // diagonal block.
        const std::size_t blocks = static_cast<std::size_t>(n) + static_cast<std::size_t>(std::max(geometry.getAmountOfSprings(), 0));
        hessianRows.rowStart.reserve(dim + 1);
        hessianRows.column.reserve(9 * blocks);
        hessianRows.value.reserve(9 * blocks);
    } catch (const std::bad_alloc&) {
        hessian.reset();
        console::Line(console::Warning) << "Not enough memory for the Hessian of " << n << " nodes";
        return EnmStatus::OutOfMemory;
    }
    hessianRows.rowStart.push_back(0);

    bool finite = true;
    // Spring directions from the coordinates as read (double precision); the blocks do not
    // depend on the length unit.
    std::vector<int32_t> near;
    std::vector<double> blocks;
    for (int32_t i = 0; i < n; ++i) {
        neighboursOf(*geometry.getAtoms()[static_cast<std::size_t>(i)], i, near);
        finite = appendNodeRows(hessianRows, geometry.getNodeCoordinates().data(), i, near, blocks) && finite;
        stepProgress(progress);
    }
    hessianFinite = finite;
    return EnmStatus::Ok;
}

EnmStatus ModeSet::calculateEigen(const NetworkGeometry& geometry, Deformation& deformation, Progress* progress)
{
    if (geometry.getAmountOfAtoms() < 3) return EnmStatus::TooFewNodes;
    if (!hessian) return EnmStatus::NotReady;
    eigenComputed = true;
    const auto start = std::chrono::steady_clock::now();

    // Whatever a previous solve left goes first: a failed solve must not leave it looking current.
    eigenvectorsT = nullptr;
    eigenBuffer.reset();
    eigenvalues.assign(static_cast<std::size_t>(geometry.get3N()) + 1, 0.0);
    double* values = eigenvalues.data() + 1;
    EigenSolution solution;
    // The staged solver reads each row of the Hessian from the diagonal on (its lower triangle
    // in LAPACK's column-major terms) and takes its sparse products from the rows themselves.
    // Writing a fresh matrix faults in its pages, seconds on the largest: a cancel is heeded.
    const bool filled = fillHessian(eigenSolver == EigenSolver::Lapack ? HessianFill::Upper : HessianFill::Full,
                                    [progress] { return isCancelled(progress); });
    if (!filled) {
        solution.outcome = SolverOutcome{EnmStatus::Cancelled, 0, "the Hessian"};
    } else {
        switch (eigenSolver) {
        case EigenSolver::Lapack: solution = solveStaged(hessian, geometry.get3N(), values, progress, &hessianRows); break;
        case EigenSolver::LapackDC: solution = solveWithDriver(hessian, geometry.get3N(), values, true); break;
        case EigenSolver::LapackMRRR: solution = solveWithDriver(hessian, geometry.get3N(), values, false); break;
        case EigenSolver::Reference: solution = solveReference(hessian, geometry.get3N(), values, progress); break;
        }
    }
    hessian.reset();
    hessianRows = SymmetricRows();
    hessianFill = HessianFill::None;
    if (!solution.outcome.ok()) {
        eigenComputed = false;
        eigenvalues.clear();
        const SolverOutcome& outcome = solution.outcome;
        switch (outcome.status) {
        case EnmStatus::OutOfMemory:
            console::Line(console::Warning)
                << "Not enough memory for the eigenvectors of " << geometry.getAmountOfAtoms() << " nodes (" << outcome.stage << ")";
            break;
        case EnmStatus::Cancelled: console::line("The eigen solution was cancelled"); break;
        default:
            console::Line(console::Warning) << "The eigen solution failed in " << outcome.stage << ": "
                                            << describe(outcome.status) << " (LAPACK info " << outcome.info << ")";
            break;
        }
        return outcome.status;
    }
    eigenBuffer = std::move(solution.vectors);
    stepProgress(progress, 9);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::Line() << "Time for calculating eigen vectors and values in seconds: " << seconds;

    finishEigenSolution(geometry, deformation, progress);
    return EnmStatus::Ok;
}

void ModeSet::finishEigenSolution(const NetworkGeometry& geometry, Deformation& deformation, Progress* progress)
{
    const auto dim = static_cast<std::size_t>(geometry.get3N());
    const auto modes = static_cast<std::size_t>(geometry.get3NMinus6());
    eigenvectorsT = eigenBuffer.get() + 6 * dim;
    stepProgress(progress, static_cast<int>(dim));

    // Modes 7… keep their inverse eigenvalue; modes the network has in excess of the six
    // rigid-body ones (disconnected or floppy parts) have a zero eigenvalue and stay out.
    const double largest = std::fabs(eigenvalues[dim]);
    const double zero = ModeSet::kZeroModeTolerance * largest;
    inverseEigenvalues.assign(modes, 0.0);
    extraZeroModes = 0;
    std::ostringstream line;
    line.precision(10);
    for (std::size_t k = 7; k <= dim; ++k) {
        line << eigenvalues[k] << ' ';
        if (eigenvalues[k] > zero) {
            inverseEigenvalues[k - 7] = 1.0 / eigenvalues[k];
        } else {
            ++extraZeroModes;
        }
        stepProgress(progress);
    }
    console::line(line.str());
    if (extraZeroModes > 0) warnExtraZeroModes(extraZeroModes, geometry.getRc());
    deformation.zeroForces();
    inverseScaledEigenvalues.assign(modes, 0.0);
    scaledEigenvalues.assign(modes, 0.0);
}

void ModeSet::warnExtraZeroModes(int32_t count, float rcAngstrom)
{
    std::ostringstream text;
    text << "The network has " << count << " zero-frequency modes besides the six rigid-body ones:"
         << " parts of it are disconnected or hang on too few springs. Those modes are left out of the"
         << " response. A larger cutoff Rc (now " << rcAngstrom << " \u00c5) joins the network.";
    console::write(console::Warning, text.str());
    userPrompts().messageBox("Elastic Network Setup Error", text.str(), MessageIcon::Warning, MessageButtons::Ok);
}

} // namespace vornax
