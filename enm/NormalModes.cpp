// Hessian of the anisotropic network and its eigen solution (the solvers: EigenSolvers.cpp).
#include "enm/ElasticNetworkModel.h"
#include "enm/EigenSolvers.h"

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

void stepProgress(Progress* progress, int steps = 1)
{
    if (progress) progress->step(steps);
}

} // namespace

EnmStatus ElasticNetworkModel::constructHessianMatrix(Progress* progress)
{
    const int32_t n = amountOfAtoms;
    if (n < 3) {
        const std::string text = "The elastic network of " + pdbName + " has " + std::to_string(n)
            + " nodes (C-alpha or phosphorus atoms): at least 3 are needed for normal modes.";
        console::write(console::Warning, text);
        userPrompts().messageBox("Elastic Network Setup Error", text, MessageIcon::Warning, MessageButtons::Ok);
        return EnmStatus::TooFewNodes;
    }
    const auto dim = static_cast<std::size_t>(threeN);
    if (progress) progress->setMaximum(12 * n + 10);
    springConstant = 1.0;
    hessian = allocateMatrixDoubles(dim * dim);
    if (!hessian) {
        console::Line(console::Warning) << "Not enough memory for the Hessian of " << n << " nodes";
        return EnmStatus::OutOfMemory;
    }
    stepProgress(progress);
    console::Line() << "Constructing Hessian matrix from " << amountOfSprings << " springs";

    const double gamma = springConstant;
    double* h = hessian.get();
    // Spring directions from the coordinates as read (double precision); the blocks do not
    // depend on the length unit.
    const double* xyz = nodeCoordinates.data();
    for (int32_t i = 0; i < n; ++i) {
        const Atom* node = atomArray[static_cast<std::size_t>(i)];
        const double* pi = xyz + 3 * static_cast<std::size_t>(i);
        double diag[3][3] = {};
        const int32_t count = node->getAmountOfConnectedAtoms();
        for (int32_t e = 0; e < count; ++e) {
            const Atom* other = node->getConnectedAtom(e);
            const int32_t j = other->getMyPositionInOriginalList();
            if (j == i) continue;
            const double* pj = xyz + 3 * static_cast<std::size_t>(j);
            const double d[3] = {pi[0] - pj[0], pi[1] - pj[1], pi[2] - pj[2]};
            const double s = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
            for (int a = 0; a < 3; ++a) {
                double* row = h + (3 * static_cast<std::size_t>(i) + a) * dim + 3 * static_cast<std::size_t>(j);
                for (int b = 0; b < 3; ++b) {
                    const double v = gamma * d[a] * d[b] / s;
                    row[b] = -v;
                    diag[a][b] += v;
                }
            }
        }
        for (int a = 0; a < 3; ++a) {
            double* row = h + (3 * static_cast<std::size_t>(i) + a) * dim + 3 * static_cast<std::size_t>(i);
            for (int b = 0; b < 3; ++b) row[b] = diag[a][b];
        }
        stepProgress(progress);
    }
    return EnmStatus::Ok;
}

EnmStatus ElasticNetworkModel::calculateEigen(Progress* progress)
{
    if (amountOfAtoms < 3) return EnmStatus::TooFewNodes;
    if (!hessian) return EnmStatus::NotReady;
    eigenComputed = true;
    const auto start = std::chrono::steady_clock::now();

    // Whatever a previous solve left goes first: a failed solve must not leave it looking current.
    eigenvectorsT = nullptr;
    eigenBuffer.reset();
    eigenvalues.assign(static_cast<std::size_t>(threeN) + 1, 0.0);
    double* values = eigenvalues.data() + 1;
    EigenSolution solution;
    switch (eigenSolver) {
    case EigenSolver::Lapack: solution = solveStaged(hessian, threeN, values, progress); break;
    case EigenSolver::LapackDC: solution = solveWithDriver(hessian, threeN, values, true); break;
    case EigenSolver::LapackMRRR: solution = solveWithDriver(hessian, threeN, values, false); break;
    case EigenSolver::Reference: solution = solveReference(hessian, threeN, values, progress); break;
    }
    hessian.reset();
    if (!solution.outcome.ok()) {
        eigenComputed = false;
        eigenvalues.clear();
        const SolverOutcome& outcome = solution.outcome;
        switch (outcome.status) {
        case EnmStatus::OutOfMemory:
            console::Line(console::Warning) << "Not enough memory for the eigenvectors of " << amountOfAtoms
                                            << " nodes (" << outcome.stage << ")";
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

    finishEigenSolution(progress);
    return EnmStatus::Ok;
}

void ElasticNetworkModel::finishEigenSolution(Progress* progress)
{
    const auto dim = static_cast<std::size_t>(threeN);
    const auto modes = static_cast<std::size_t>(threeNMinusSix);
    eigenvectorsT = eigenBuffer.get() + 6 * dim;
    stepProgress(progress, static_cast<int>(dim));

    // Modes 7… keep their inverse eigenvalue; modes the network has in excess of the six
    // rigid-body ones (disconnected or floppy parts) have a zero eigenvalue and stay out.
    const double largest = std::fabs(eigenvalues[dim]);
    const double zero = kZeroModeTolerance * largest;
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
    if (extraZeroModes > 0) {
        std::ostringstream text;
        text << "The network has " << extraZeroModes << " zero-frequency modes besides the six rigid-body ones:"
             << " parts of it are disconnected or hang on too few springs. Those modes are left out of the"
             << " response. A larger cutoff Rc (now " << Rc / 10.0f << " \u00c5) joins the network.";
        console::write(console::Warning, text.str());
        userPrompts().messageBox("Elastic Network Setup Error", text.str(), MessageIcon::Warning, MessageButtons::Ok);
    }
    zeroForces();
    inverseScaledEigenvalues.assign(modes, 0.0);
    scaledEigenvalues.assign(modes, 0.0);
}

} // namespace vornax
