// The eigen data files: the main file (.hdv: record lines, cutoff, force scaling, inverse
// scaled eigenvalues and every non-rigid eigenvector) and the response-matrix file (.ppy: Y).
//
// Main file, little-endian, no padding:
//   int32 lineCount; float32 Rc (Å);
//   lineCount × (int32 length, length bytes);
//   float64 newtonToKcal; float64 S;
//   (3N − 6) × float64 inverse scaled eigenvalues, mode 7 first;
//   (3N − 6) × 3N × float64 Vᵀ, one row per mode, coordinates node-major.
// N is not stored: it is the number of node records among the lines. A file is only trusted
// when its length is exactly what its lines imply; the .ppy file must hold exactly 9N² values.
// Its numbers are then tried against the network its own lines and Rc rebuild: the lowest
// modes must be that network's normal modes, and the eigenvalues and K of physical size.
//
// A network solved by the sparse path has only its lowest k modes. Its main file is a variant
// that a reader of the layout above refuses (a negative line count) and this reader knows:
//   int32 −1; char[8] "VXSPARSE"; int32 version (1);
//   int32 lineCount; float32 Rc (Å); lineCount × (int32 length, length bytes);
//   float64 newtonToKcal; float64 S; float64 K; float64 Σinv; float64 its bound (0: exact);
//   int32 k; k × float64 eigenvalues (unit springs); k × float64 inverse scaled eigenvalues;
//   k × 3N × float64 the modes, one row per mode.
// No .ppy goes with it: all-mode responses come from the factorisation, rebuilt on reading.
#include "enm/io/EigenDataFiles.h"

#include "enm/ModeBudget.h"
#include "enm/ModeSet.h"
#include "enm/NetworkGeometry.h"

#include "common/AtomicFile.h"
#include "common/Console.h"
#include "common/InputFile.h"
#include "common/LittleEndian.h"
#include "common/Progress.h"
#include "common/TextParse.h"
#include "common/UserPrompts.h"
#include "enm/sparse/SparseHessian.h"
#include "enm/io/EigenFileNames.h"
#include "enm/sparse/SparseNetworkSolver.h"
#include "molecule/PdbRecord.h"

#include <cblas.h>

#include <cmath>
#include <iomanip>
#include <optional>
#include <sstream>
#include <system_error>

namespace vornax {

namespace {

constexpr const char* kSetupError = "Elastic Network Setup Error";
constexpr int32_t kSparseMarker = -1;
constexpr char kSparseMagic[8] = {'V', 'X', 'S', 'P', 'A', 'R', 'S', 'E'};
constexpr int32_t kSparseVersion = 1;

/// Nodes the network makes of stored record lines: atom records with readable coordinates
/// that are C-alpha or phosphorus atoms.
int64_t countNodeRecords(const std::vector<std::string>& lines)
{
    int64_t n = 0;
    double xyz[3];
    for (const auto& line : lines)
        if (pdb::isAtomRecord(line) && pdb::readCoordinates(line, xyz)
            && (pdb::isCAlphaRecord(line) || pdb::isPhosphorusRecord(line)))
            ++n;
    return n;
}

/// Bytes of fields 4–7 for a network of `n` nodes (exact; no overflow for any int64 n ≥ 3
/// that a real file could describe, and saturated otherwise).
uint64_t eigenSectionBytes(int64_t n)
{
    const unsigned __int128 threeN = 3 * static_cast<unsigned __int128>(n);
    const unsigned __int128 modes = threeN - 6;
    const unsigned __int128 bytes = 16 + 8 * modes + 8 * modes * threeN;
    return bytes > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(bytes);
}

bool allFinite(const double* values, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

/// Whether Y = V·diag(w)·Vᵀ holds for the stored modes, tried on the lowest few: Y·v_k must be
/// w_k·v_k. The files carry no identity of their own, so this is what tells a response matrix
/// of another structure of the same size, or of this structure at another cutoff, from the
/// right one. The residual is measured against the largest w (the norm of Y): rounding in Y
/// (sums of 3N products) and the eigenvectors' departure from orthonormality are both of the
/// order 3N·ε ≈ 3·10⁻¹² relative at 5000 nodes, while a foreign Y misses by a sizeable
/// fraction of its norm, so 10⁻⁶ leaves room on both sides.
bool yFitsModes(const double* y, const double* rows, const std::vector<double>& w, std::size_t dim, std::size_t kept,
                std::string& why)
{
    constexpr std::size_t kModesTried = 3;
    constexpr double kTolerance = 1e-6;
    double scale = 0.0;
    for (double v : w) scale = std::max(scale, v);
    if (!(scale > 0.0)) return true; // nothing to compare with: an uncalibrated structure
    std::vector<double> yv(dim);
    for (std::size_t k = 0; k < std::min(kept, kModesTried); ++k) {
        const double* v = rows + k * dim;
        cblas_dgemv(CblasRowMajor, CblasNoTrans, static_cast<int>(dim), static_cast<int>(dim), 1.0, y,
                    static_cast<int>(dim), v, 1, 0.0, yv.data(), 1);
        double residual = 0.0;
        for (std::size_t i = 0; i < dim; ++i) {
            const double d = yv[i] - w[k] * v[i];
            residual += d * d;
        }
        residual = std::sqrt(residual);
        if (!(residual <= kTolerance * scale)) {
            std::ostringstream text;
            text << "Y applied to mode " << k + 1 << " of the eigen data file gives a vector that differs from its"
                 << " inverse scaled eigenvalue times the mode by " << residual / scale
                 << " of the largest inverse scaled eigenvalue (at most " << kTolerance
                 << " is expected): the two files come from different structures or cutoffs.";
            why = text.str();
            return false;
        }
    }
    return true;
}

/// The largest cutoff (Å) the program builds networks with; a stored one beyond it joins
/// every node to every other and is no file of ours.
constexpr float kLargestStoredRc = 1000.0f;

bool storedCutoffUsable(float rc) { return std::isfinite(rc) && rc > 0.0f && rc <= kLargestStoredRc; }

std::string cutoffRefusal(float rc)
{
    std::ostringstream text;
    text << ": its cutoff Rc of " << std::setprecision(6) << rc << " \u00c5 is not a number from 0 to "
         << kLargestStoredRc << " \u00c5.";
    return text.str();
}

/// Spring constants (kcal/mol/Å²) a calibration can give: K = kT·Σinv / (3/(8π²)·ΣB) ranges
/// over about 1e-6 (B-factors near the 9999.99 Å² the field holds, at 1 K) to 1e6 (B-factors
/// of 0.01 Å² at 10000 K); the unit K of an uncalibrated structure lies between.
constexpr double kSmallestSpringConstant = 1e-9;
constexpr double kLargestSpringConstant = 1e9;

bool springConstantUsable(double k) { return k >= kSmallestSpringConstant && k <= kLargestSpringConstant; }

/// How the lowest stored modes fit the network the file's own records and cutoff build.
struct ModeFit {
    std::string problem;           ///< empty when they fit
    std::vector<double> quotients; ///< vᵀHv of each mode tried
    double norm = 0.0;             ///< the Hessian's largest absolute row sum (≥ every eigenvalue)
};

/// Tries the lowest few of the `count` stored modes (rows of `dim`) on the unit-spring Hessian
/// of the `n` nodes at `xyz` with cutoff `rc`: each must be an eigenvector, ‖Hv − λv‖ within
/// 1e-6 of ‖H‖ (λ the stored eigenvalue, or vᵀHv when `values` is null), and they must be
/// orthonormal to 1e-6. The solvers leave residuals near 1e-12 of ‖H‖ (1e-10 relative for
/// the sparse path's Lanczos) and modes orthonormal to rounding; modes stored in single
/// precision would still be within 1e-7. Modes of another network, or of other coordinates
/// or another cutoff, miss by a sizeable fraction of ‖H‖. A few sparse products: cheap beside
/// reading the modes.
ModeFit fitModesToNetwork(const double* xyz, int32_t n, double rc, const double* rows, std::size_t dim,
                          std::size_t count, const double* values)
{
    constexpr std::size_t kModesTried = 4;
    constexpr double kTolerance = 1e-6;
    ModeFit fit;
    const SparseMatrixD h = buildSparseHessian(xyz, n, rc, nullptr, HessianTriangle::Lower);
    std::vector<double> rowSums(dim, 0.0);
    for (int c = 0; c < h.outerSize(); ++c)
        for (SparseMatrixD::InnerIterator it(h, c); it; ++it) {
            rowSums[static_cast<std::size_t>(it.row())] += std::fabs(it.value());
            if (it.row() != it.col()) rowSums[static_cast<std::size_t>(it.col())] += std::fabs(it.value());
        }
    for (double r : rowSums) fit.norm = std::max(fit.norm, r);
    const std::size_t tried = std::min(count, kModesTried);
    const auto mode = [&](std::size_t k) {
        return Eigen::Map<const Eigen::VectorXd>(rows + k * dim, static_cast<Eigen::Index>(dim));
    };
    for (std::size_t k = 0; k < tried; ++k) {
        const Eigen::VectorXd hv = h.selfadjointView<Eigen::Lower>() * mode(k);
        const double quotient = mode(k).dot(hv);
        const double lambda = values ? values[k] : quotient;
        const double residual = (hv - lambda * mode(k)).norm();
        fit.quotients.push_back(quotient);
        if (!(residual <= kTolerance * fit.norm)) {
            std::ostringstream text;
            text << "its mode " << k + 7 << " is not a normal mode of the network its own records and cutoff build"
                 << " (‖Hv − λv‖ is " << std::setprecision(3) << residual / fit.norm << " of ‖H‖, at most "
                 << kTolerance << " is expected)";
            fit.problem = text.str();
            return fit;
        }
        for (std::size_t j = 0; j < k; ++j)
            if (const double overlap = mode(j).dot(mode(k)); !(std::fabs(overlap) <= kTolerance)) {
                std::ostringstream text;
                text << "its modes " << j + 7 << " and " << k + 7 << " are not orthogonal (their product is "
                     << std::setprecision(3) << overlap << ")";
                fit.problem = text.str();
                return fit;
            }
    }
    return fit;
}

uint64_t fileSize(const std::string& name, bool& ok)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(name, ec);
    ok = !ec;
    return ok ? static_cast<uint64_t>(size) : 0;
}

/// Fields 4-7 of a dense main eigen data file, as far as the mode budget keeps its modes.
struct DenseEigenFields {
    double newtonToKcal = 0.0;
    double forceScaler = 0.0;
    std::vector<double> inverse; ///< 3N − 6 inverse scaled eigenvalues
    DoubleBuffer rows;           ///< the first `kept` rows of Vᵀ, 3N each
};

/// Reads the force scaling, the inverse scaled eigenvalues and `kept` of the `modes` rows of
/// Vᵀ. Why they cannot be read, or "".
std::string readDenseFields(std::istream& in, std::size_t dim, std::size_t modes, std::size_t kept,
                            const std::string& file, DenseEigenFields& f)
{
    f.inverse.assign(modes, 0.0);
    f.rows = allocateBulkDoubles(kept * dim);
    if (kept > 0 && !f.rows) return "Not enough memory to read the modes of " + file + ".";
    console::Line() << "reading " << kept << " modes...";
    const bool ok = le::read(in, f.newtonToKcal) && le::read(in, f.forceScaler)
        && le::read(in, f.inverse.data(), modes) && le::read(in, f.rows.get(), kept * dim);
    if (!ok) return "The eigen data file " + file + " ended early while it was read.";
    return {};
}

/// The first of `count` eigenvectors (3N values each, at `rows`; the first is kept mode
/// `first`) that is not of unit length as the solver leaves it (to within rounding, about
/// 3N·1e-16), as a refusal; "" when none is.
std::string unitLengthProblem(const double* rows, std::size_t dim, std::size_t count, const std::string& file,
                              std::size_t first = 0)
{
    for (std::size_t k = 0; k < count; ++k) {
        const double* v = rows + k * dim;
        double length2 = 0.0;
        for (std::size_t c = 0; c < dim; ++c) length2 += v[c] * v[c];
        if (!(std::fabs(length2 - 1.0) <= 1e-6))
            return "The eigen data file " + file + " holds an eigenvector (mode " + std::to_string(first + k + 7)
                + ") that is not of unit length.";
    }
    return {};
}

/// The numbers themselves: finite, in range, and every eigenvector of unit length. Why not, or "".
std::string checkDenseNumbers(const DenseEigenFields& f, std::size_t dim, std::size_t kept, const std::string& file)
{
    // Far beyond anything a network gives, and low enough that a response (a sum of 3N
    // products of unit-vector components, a compliance and a force) stays a finite number.
    constexpr double kLargest = 1e100;
    const double ntk = f.newtonToKcal, s = f.forceScaler;
    bool sane = std::isfinite(ntk) && ntk > 0.0 && std::isfinite(s) && s >= 0.0 && ntk * s <= kLargest;
    for (double v : f.inverse) sane = sane && std::isfinite(v) && v >= 0.0 && v <= kLargest;
    if (!sane) return "The eigen data file " + file + " holds force scaling or eigenvalues that are not usable numbers.";
    for (std::size_t k = 0; k < kept; ++k) {
        const double* v = f.rows.get() + k * dim;
        if (!allFinite(v, dim))
            return "The eigen data file " + file + " holds eigenvectors with values that are not finite numbers.";
        if (std::string problem = unitLengthProblem(v, dim, 1, file, k); !problem.empty()) return problem;
    }
    return {};
}

/// Fields of the sparse variant after its record lines: force scaling, K, Σinv with its bound,
/// the lowest k modes' eigenvalues, inverse scaled eigenvalues and vectors.
struct SparseEigenFields {
    double newtonToKcal = 0.0, forceScaler = 0.0, K = 0.0;
    std::unique_ptr<TraceEstimate> trace = std::make_unique<TraceEstimate>();
    int32_t k = 0;
    std::vector<double> values, inverse;
    DoubleBuffer rows;
};

/// Reads them from `offset` on, for a network of `dim` coordinates and `modes` non-rigid
/// modes. Why they cannot be read, or "".
std::string readSparseFields(std::istream& in, uint64_t offset, std::size_t dim, int32_t modes,
                             const std::string& file, SparseEigenFields& f)
{
    in.seekg(static_cast<std::streamoff>(offset));
    bool ok = le::read(in, f.newtonToKcal) && le::read(in, f.forceScaler) && le::read(in, f.K)
        && le::read(in, f.trace->value) && le::read(in, f.trace->bound) && le::read(in, f.k) && f.k >= 1
        && f.k <= modes;
    const auto kept = static_cast<std::size_t>(std::max(f.k, 0));
    f.values.assign(kept, 0.0);
    f.inverse.assign(kept, 0.0);
    if (ok) f.rows = allocateBulkDoubles(kept * dim);
    if (ok && !f.rows) return "Not enough memory to read the modes of " + file + ".";
    ok = ok && le::read(in, f.values.data(), kept) && le::read(in, f.inverse.data(), kept)
        && le::read(in, f.rows.get(), kept * dim);
    if (!ok) return "The eigen data file " + file + " ended early while it was read.";
    return {};
}

/// Finite numbers in range, eigenvalues ascending, eigenvectors of unit length. Why not, or "".
std::string checkSparseNumbers(const SparseEigenFields& f, std::size_t dim, const std::string& file)
{
    constexpr double kLargest = 1e100;
    const double ntk = f.newtonToKcal, s = f.forceScaler, K = f.K;
    bool sane = std::isfinite(ntk) && ntk > 0.0 && std::isfinite(s) && s >= 0.0 && ntk * s <= kLargest
        && std::isfinite(K) && K >= 0.0 && std::isfinite(f.trace->value) && f.trace->value >= 0.0
        && std::isfinite(f.trace->bound) && f.trace->bound >= 0.0;
    const std::vector<double>& values = f.values;
    for (std::size_t m = 0; m < values.size(); ++m)
        sane = sane && std::isfinite(values[m]) && std::isfinite(f.inverse[m]) && f.inverse[m] >= 0.0
            && f.inverse[m] <= kLargest && (m == 0 || values[m] >= values[m - 1]);
    if (!sane) return "The eigen data file " + file + " holds force scaling or eigenvalues that are not usable numbers.";
    return unitLengthProblem(f.rows.get(), dim, values.size(), file);
}

/// The lowest modes against the network the records rebuild (`n` nodes at `xyz`, cutoff `rc`
/// Å); every stored eigenvalue within the Hessian's bounds (0 to its largest row sum); K within
/// what a calibration gives; and the inverse scaled eigenvalues 1/(λ·K), or 0 for a zero mode,
/// as the calibration wrote them. Why not, or "".
std::string checkSparseFit(const SparseEigenFields& f, const double* xyz, int32_t n, double rc, std::size_t dim,
                           const std::string& file)
{
    const std::vector<double>& values = f.values;
    const std::size_t kept = values.size();
    const ModeFit fit = fitModesToNetwork(xyz, n, rc, f.rows.get(), dim, kept, values.data());
    const std::string notThis = "The eigen data file " + file + " does not fit its structure: ";
    if (!fit.problem.empty()) return notThis + fit.problem + ".";
    constexpr double kRelative = 1e-6;
    std::ostringstream text;
    text << notThis << std::setprecision(3);
    for (std::size_t m = 0; m < kept; ++m)
        if (!(values[m] >= -kRelative * fit.norm && values[m] <= (1.0 + kRelative) * fit.norm)) {
            text << "its eigenvalue " << values[m] << " of mode " << m + 7 << " lies outside the network's spectrum (0 to "
                 << fit.norm << ").";
            return text.str();
        }
    if (!(f.forceScaler > 0.0)) return {};
    if (!springConstantUsable(f.K)) {
        text << "its spring constant " << f.K << " kcal/mol/\u00c5\u00b2 is outside " << kSmallestSpringConstant
             << " to " << kLargestSpringConstant << ".";
        return text.str();
    }
    const double zero = ModeSet::kZeroModeTolerance * std::fabs(values.back());
    for (std::size_t m = 0; m < kept; ++m) {
        const double expected = values[m] > zero ? 1.0 / (values[m] * f.K) : 0.0;
        if (!(std::fabs(f.inverse[m] - expected) <= kRelative * expected)) {
            text << "the inverse scaled eigenvalue " << f.inverse[m] << " of mode " << m + 7
                 << " is not 1/(eigenvalue \u00d7 K) = " << expected << ".";
            return text.str();
        }
    }
    return {};
}

/// The factorisation all-mode responses need, rebuilt from the stored nodes and calibrated as
/// stored; null when responses go through the stored modes alone (an uncalibrated file, or a
/// network that cannot be factorised or hangs loose: it was solved with its extra zero modes,
/// which the file does not hold).
std::unique_ptr<SparseNetworkSolver> rebuildFactorisation(const SparseEigenFields& f, const double* xyz, int32_t n,
                                                          double rc)
{
    if (!(f.forceScaler > 0.0 && f.K > 0.0)) return nullptr;
    auto solver = std::make_unique<SparseNetworkSolver>(xyz, n, rc);
    const char* without = nullptr; // why the responses go through the stored modes alone
    if (solver->factorise() != EnmStatus::Ok) {
        without = "could not be factorised";
    } else if (solver->shifted()) {
        without = "hangs loose";
    } else {
        Calibration stored;
        stored.K = f.K;
        stored.S = f.forceScaler;
        stored.sumInverse = f.trace->value;
        stored.calibrated = true;
        solver->useCalibration(stored);
        // A damaged network may factorise and still answer nothing finite.
        if (!solver->responseColumns(0).allFinite()) without = "could not be factorised";
    }
    if (!without) return solver;
    console::Line() << "the stored network " << without << ": responses go through its stored modes";
    return nullptr;
}

/// The lowest modes against the network the records rebuild (`n` nodes at `xyz`, cutoff `rc`
/// Å), and the one spring constant they imply: the inverse scaled eigenvalue of mode k is
/// 1/(λ_k·K). Why they do not fit, or "".
std::string checkModesFitNetwork(const DenseEigenFields& f, const double* xyz, int32_t n, double rc,
                                 std::size_t dim, std::size_t kept, const std::string& file)
{
    if (kept == 0) return {};
    const ModeFit fit = fitModesToNetwork(xyz, n, rc, f.rows.get(), dim, kept, nullptr);
    if (!fit.problem.empty()) return "The eigen data file " + file + " does not fit its structure: " + fit.problem + ".";
    std::optional<double> firstK;
    for (std::size_t k = 0; k < fit.quotients.size(); ++k) {
        if (f.inverse[k] == 0.0) continue; // a zero mode: no route goes through it
        const double K = 1.0 / (f.inverse[k] * fit.quotients[k]);
        if (!firstK) firstK = K;
        // One K to 1e-4: vᵀHv of a mode barely above zero holds rounding of 1e-16 of ‖H‖.
        if (springConstantUsable(K) && std::fabs(K / *firstK - 1.0) <= 1e-4) continue;
        std::ostringstream text;
        text << "The eigen data file " << file << " holds inverse scaled eigenvalues that give a"
             << " spring constant of " << std::setprecision(3) << K << " kcal/mol/\u00c5\u00b2 for mode " << k + 7;
        if (springConstantUsable(K))
            text << " and " << *firstK << " for a lower one: they are not of one network.";
        else
            text << ", outside " << kSmallestSpringConstant << " to " << kLargestSpringConstant << ".";
        return text.str();
    }
    return {};
}

/// What reading a response matrix file gave.
enum class YRead { Held, Unreadable, NotFinite };

/// Y (3N × 3N) from `file`, whole or not at all.
YRead readResponseMatrix(const std::string& file, std::size_t dim, DoubleBuffer& y)
{
    bool sized = false;
    const uint64_t size = fileSize(file, sized);
    std::ifstream yin(file, std::ios::binary);
    y = allocateBulkDoubles(dim * dim);
    if (!sized || size != 8 * dim * dim || !yin || !y || !le::read(yin, y.get(), dim * dim)) {
        y.reset();
        return YRead::Unreadable;
    }
    return allFinite(y.get(), dim * dim) ? YRead::Held : YRead::NotFinite;
}

} // namespace

bool EigenDataFiles::refuseEigenFile(const std::string& text)
{
    eigenFileError = text;
    console::write(console::Warning, text);
    userPrompts().messageBox(kSetupError, text, MessageIcon::Error, MessageButtons::Ok);
    return false;
}

// ---- Names ------------------------------------------------------------------------------------

void EigenDataFiles::setFileNames(const std::filesystem::path& stdPath)
{
    // The structure code comes from the file: only letters and digits may name files, so that
    // a code such as "../x" or "/tmp/x" cannot place them outside the chosen folder.
    std::string code = m_geometry.getPDBName();
    if (!text::isAlphanumeric(code)) {
        console::Line(console::Warning) << "The structure code \"" << text::printable(code)
                                        << "\" cannot name a file (only letters and digits can); the eigen data"
                                           " files are named XXXX instead.";
        code = "XXXX";
    }
    const std::filesystem::path base = stdPath / code;
    yFileName = std::filesystem::path(base).concat(".ppy").string();
    mainFileName = std::filesystem::path(base).concat(".hdv").string();
    console::Line() << "Filename for saved eigenData: " << mainFileName;
    console::Line() << "Filename for saved PP matrix: " << yFileName;
}

// ---- Writing ----------------------------------------------------------------------------------

bool EigenDataFiles::writeEigenDataToNewFile()
{
    eigenFileError.clear();
    // Both files go to temporary files beside the targets and replace them together once
    // complete: a failed write leaves the files that were there before as they were.
    AtomicFile mainFile(mainFileName);
    if (!mainFile.ok())
        return refuseEigenFile("The eigen data file " + mainFileName + " cannot be created: " + mainFile.error());
    std::optional<AtomicFile> yFile;
    if (m_modes.yMatrix) {
        yFile.emplace(yFileName);
        if (!yFile->ok())
            return refuseEigenFile("The response matrix file " + yFileName + " cannot be created: " + yFile->error());
    }
    if (!writeEigenDataToStream(mainFile.stream(), yFile ? &yFile->stream() : nullptr)) return false;
    const std::string kept = " The files that were there before are unchanged.";
    if (yFile) {
        std::string error;
        if (!AtomicFile::commitPair(mainFile, *yFile, error))
            return refuseEigenFile("Writing the eigen data files " + mainFileName + " and " + yFileName
                                   + " failed: " + error + "." + kept);
        return true;
    }
    if (!mainFile.commit())
        return refuseEigenFile("Writing the eigen data file " + mainFileName + " failed: " + mainFile.error() + "."
                               + kept);
    // No Y (not calibrated, or not enough memory): an older file of that name must not be
    // taken for this structure's.
    std::error_code ec;
    std::filesystem::remove(yFileName, ec);
    return true;
}

bool EigenDataFiles::writeEigenDataToStream(std::ostream& fout, std::ostream* yOut)
{
    const auto dim = static_cast<std::size_t>(std::max(m_geometry.get3N(), 0));
    const auto modes = static_cast<std::size_t>(std::max(m_geometry.get3NMinus6(), 0));
    const bool sparse = m_modes.sparseModeCount > 0;
    if (!sparse && (!m_modes.eigenvectorsT || modes == 0 || m_modes.inverseScaledEigenvalues.size() != modes))
        return refuseEigenFile("There are no computed normal modes of " + m_geometry.getPDBName() + " to save.");
    const std::size_t lineCount = m_geometry.storedLineCount();
    const std::vector<std::string> lines(m_geometry.getPdbLines().begin(), m_geometry.getPdbLines().begin() + static_cast<std::ptrdiff_t>(lineCount));
    // A reader rebuilds N from these lines: a file it would rebuild differently is not written.
    if (countNodeRecords(lines) != m_geometry.getAmountOfAtoms()) {
        std::ostringstream text;
        text << "The eigen data of " << m_geometry.getPDBName() << " cannot be saved: its stored record lines give "
             << countNodeRecords(lines) << " nodes, the network has " << m_geometry.getAmountOfAtoms() << ".";
        return refuseEigenFile(text.str());
    }

    // The cutoff is stored in Å, as entered.
    const float rcStored = m_geometry.getRc();
    bool ok = !sparse
        || (le::write(fout, kSparseMarker) && fout.write(kSparseMagic, sizeof kSparseMagic)
            && le::write(fout, kSparseVersion));
    ok = ok && le::write(fout, static_cast<int32_t>(lineCount)) && le::write(fout, rcStored);
    for (const auto& line : lines) {
        if (!ok) break;
        ok = le::write(fout, static_cast<int32_t>(line.size()))
            && fout.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
    // An uncalibrated structure (NMR) has no force scaler: S is stored as 0.
    ok = ok && le::write(fout, m_modes.newtonToKcal) && le::write(fout, m_modes.forceScaler.load());
    if (sparse) {
        const auto k = static_cast<std::size_t>(m_modes.sparseModeCount);
        const TraceEstimate& trace = m_modes.getSumInverseEstimate();
        ok = ok && le::write(fout, m_modes.springConstant) && le::write(fout, trace.value) && le::write(fout, trace.bound)
            && le::write(fout, m_modes.sparseModeCount) && le::write(fout, m_modes.eigenvalues.data() + 7, k)
            && le::write(fout, m_modes.inverseScaledEigenvalues.data(), k) && le::write(fout, m_modes.modeVectors, k * dim);
    } else {
        ok = ok && le::write(fout, m_modes.inverseScaledEigenvalues.data(), modes)
            && le::write(fout, m_modes.eigenvectorsT, modes * dim);
    }
    if (!ok || fout.fail()) return refuseEigenFile("Writing the eigen data file " + mainFileName + " failed.");
    if (yOut && m_modes.yMatrix && !(le::write(*yOut, m_modes.yMatrix.get(), dim * dim) && yOut->good()))
        return refuseEigenFile("Writing the response matrix file " + yFileName + " failed.");
    return true;
}

// ---- Reading ----------------------------------------------------------------------------------

bool EigenDataFiles::inputMainFile(const std::string& fileName)
{
    eigenFileError.clear();
    if (!m_geometry.getBackboneList().empty() || !m_geometry.getPdbLines().empty())
        return refuseEigenFile("A structure is already loaded into this network; " + fileName + " was not read.");
    if (const std::string problem = regularFileProblem(fileName); !problem.empty())
        return refuseEigenFile("The eigen data file cannot be read: " + problem);
    bool sized = false;
    const uint64_t size = fileSize(fileName, sized);
    std::ifstream in(fileName, std::ios::binary);
    if (!sized || !in) return refuseEigenFile("The eigen data file " + fileName + " cannot be opened.");

    if (int32_t marker = 0; size >= 4 && le::read(in, marker) && marker == kSparseMarker)
        return inputSparseMainFile(in, size, fileName);
    in.clear();
    in.seekg(0);
    int32_t lineCount = 0;
    float rc = 0.0f;
    std::vector<std::string> lines;
    const std::string notOurs = fileName + " is not a main eigen data file (.hdv)";
    if (!m_geometry.readStoredLines(in, size, lineCount, rc, lines))
        return refuseEigenFile(notOurs + ": its record lines do not fit in the file.");
    if (!storedCutoffUsable(rc)) return refuseEigenFile(notOurs + cutoffRefusal(rc));
    const int64_t n = countNodeRecords(lines);
    if (n < 3) return refuseEigenFile(notOurs + ": its record lines hold fewer than 3 network nodes.");
    const auto header = static_cast<uint64_t>(in.tellg());
    const uint64_t expected = header + eigenSectionBytes(n);
    if (expected < header || size != expected) {
        std::ostringstream text;
        text << "The eigen data file " << fileName << " does not belong to the structure it describes: its " << n
             << " nodes need " << expected << " bytes, the file has " << size << " bytes ("
             << (size < expected ? "truncated" : "data beyond the end") << ").";
        return refuseEigenFile(text.str());
    }

    // Checked: commit.
    m_geometry.processStoredLines(std::move(lines), lineCount, rc);
    mainFileName = fileName;
    mainFileNodes = static_cast<int32_t>(n);
    mainFileStream = std::move(in);
    return true;
}

bool EigenDataFiles::inputYFile(const std::string& eigenVecFileName)
{
    console::Line() << "Y: " << eigenVecFileName;
    if (mainFileIsSparse()) {
        console::write(console::Warning,
                       "The sparse eigen data file " + mainFileName
                           + " brings its own responses (the factorisation is rebuilt from its"
                             " records): the response matrix file "
                           + eigenVecFileName + " is not read.");
        return true;
    }
    if (const std::string problem = regularFileProblem(eigenVecFileName); !problem.empty())
        return refuseEigenFile("The response matrix file cannot be read: " + problem);
    bool sized = false;
    const uint64_t size = fileSize(eigenVecFileName, sized);
    if (!sized) return refuseEigenFile("The response matrix file " + eigenVecFileName + " cannot be opened.");
    const int64_t n = mainFileNodes > 0 ? mainFileNodes : m_geometry.getAmountOfAtoms();
    if (n > 0 && size != 72 * static_cast<uint64_t>(n) * static_cast<uint64_t>(n)) {
        std::ostringstream text;
        text << "The response matrix file " << eigenVecFileName << " does not belong to this structure: " << n
             << " nodes need " << 72 * static_cast<uint64_t>(n) * static_cast<uint64_t>(n) << " bytes, the file has "
             << size << ".";
        return refuseEigenFile(text.str());
    }
    yFileName = eigenVecFileName;
    m_modes.yMatrixAvailable = true;
    return true;
}

bool EigenDataFiles::mainFileIsSparse() const { return m_modes.sparseFileModesOffset > 0; }

bool EigenDataFiles::inputEigenDataFiles(const std::vector<std::string>& fileNames)
{
    std::string hdv, ppy;
    for (const auto& name : fileNames) {
        if (isMainEigenDataFile(name))
            hdv = name;
        else if (isResponseMatrixFile(name))
            ppy = name;
    }
    if (hdv.empty()) {
        eigenFileError = "File Input Error, the HDV file is missing.";
        userPrompts().messageBox(kSetupError, eigenFileError, MessageIcon::Error, MessageButtons::Ok);
        return false;
    }
    if (!inputMainFile(hdv)) return false;
    // A response matrix that does not fit is refused; the modes still load without it.
    if (!ppy.empty()) inputYFile(ppy);
    return true;
}

bool EigenDataFiles::readEigenDataFromOldFile(Progress* progress)
{
    console::line("READING DATA");
    stepProgress(progress);
    const auto dim = static_cast<std::size_t>(std::max(m_geometry.get3N(), 0));
    const auto modes = static_cast<std::size_t>(std::max(m_geometry.get3NMinus6(), 0));
    const auto kept = static_cast<std::size_t>(std::clamp(m_modes.totalMaxModes, 0, m_geometry.get3NMinus6()));

    // Y from the modes when it was asked for and none is held or named.
    auto yFromModes = [&]() {
        console::line("here runing mode 2");
        if (m_modes.forceScaler > 0.0 && kept == modes && m_modes.checkAvailableMemForY(m_geometry, m_budget)) {
            m_modes.eigenvectorsT = m_modes.modeVectors;
            m_modes.yMatrixAvailable = m_modes.calculateY(m_geometry) == EnmStatus::Ok;
        }
        if (!m_modes.yMatrix) m_modes.loadResult = -3;
    };

    if (m_modes.eigenComputed) {
        // The file was written from these very arrays: its first totalMaxModes rows of Vᵀ are
        // the leading rows in memory, so the modes are used where they are.
        console::line("calculation has taken place so clearing up old memory");
        m_modes.ownedModeVectors.reset();
        m_modes.modeVectors = m_modes.eigenvectorsT;
        if (m_modes.loadResult == -2 && !m_modes.yMatrix) yFromModes();
        if (m_modes.loadResult == -3 && m_modes.yMatrix) {
            m_modes.yMatrix.reset();
            m_modes.yMatrixAvailable = false;
        }
        return true;
    }

    if (!mainFileStream.is_open() || mainFileNodes != m_geometry.getAmountOfAtoms())
        return refuseEigenFile("No checked main eigen data file is open for " + m_geometry.getPDBName() + ".");
    console::Line() << "loading: " << mainFileName;
    DenseEigenFields read;
    std::string problem = readDenseFields(mainFileStream, dim, modes, kept, mainFileName, read);
    mainFileStream.close();
    if (problem.empty()) problem = checkDenseNumbers(read, dim, kept, mainFileName);
    if (problem.empty())
        problem = checkModesFitNetwork(read, m_geometry.getNodeCoordinates().data(), m_geometry.getAmountOfAtoms(), m_geometry.getRcAngstrom(), dim, kept,
                                       mainFileName);
    if (!problem.empty()) return refuseEigenFile(problem);

    DoubleBuffer y;
    if (m_modes.loadResult == -2 && m_modes.yMatrixAvailable) {
        console::Line() << "loading PP matrix: " << yFileName;
        switch (readResponseMatrix(yFileName, dim, y)) {
        case YRead::Unreadable:
            m_modes.yMatrixAvailable = false;
            refuseEigenFile("The response matrix file " + yFileName
                            + " cannot be read whole; responses go through the modes.");
            break;
        case YRead::NotFinite:
            return refuseEigenFile("The response matrix file " + yFileName + " holds values that are not finite numbers.");
        case YRead::Held:
            if (std::string why; !yFitsModes(y.get(), read.rows.get(), read.inverse, dim, kept, why))
                return refuseEigenFile("The response matrix file " + yFileName + " does not belong to " + mainFileName
                                       + ": " + why);
        }
    }

    // Everything read: commit.
    m_modes.newtonToKcal = read.newtonToKcal;
    m_modes.forceScaler = read.forceScaler;
    m_modes.inverseScaledEigenvalues = std::move(read.inverse);
    m_modes.ownedModeVectors = std::move(read.rows);
    m_modes.modeVectors = m_modes.ownedModeVectors.get();
    m_modes.yMatrix = std::move(y);
    if (m_modes.loadResult == -2 && !m_modes.yMatrix) yFromModes();
    if (m_modes.loadResult == -3) m_modes.yMatrixAvailable = false;
    // S is 0 for a structure that was never calibrated: forces are then not applied.
    m_modes.setupCompleteFlag = m_modes.forceScaler.load() > 0.0 && std::isfinite(m_modes.forceScaler.load());
    return true;
}

// ---- The sparse variant -------------------------------------------------------------------------

bool EigenDataFiles::inputSparseMainFile(std::istream& in, uint64_t size, const std::string& fileName)
{
    const std::string notOurs = fileName + " is not a sparse eigen data file";
    char magic[sizeof kSparseMagic] = {};
    int32_t version = 0;
    if (!in.read(magic, sizeof magic) || !std::equal(magic, magic + sizeof magic, kSparseMagic))
        return refuseEigenFile(fileName + " is not a main eigen data file (.hdv): it starts with a negative line count.");
    if (!le::read(in, version) || version != kSparseVersion)
        return refuseEigenFile(notOurs + " of a version this program reads (version " + std::to_string(version)
                               + "; this program reads version " + std::to_string(kSparseVersion) + ").");
    const uint64_t start = 16;
    int32_t lineCount = 0;
    float rc = 0.0f;
    std::vector<std::string> lines;
    if (size < start || !m_geometry.readStoredLines(in, size - start, lineCount, rc, lines))
        return refuseEigenFile(notOurs + ": its record lines do not fit in the file.");
    if (!storedCutoffUsable(rc)) return refuseEigenFile(notOurs + cutoffRefusal(rc));
    const int64_t n = countNodeRecords(lines);
    if (n < 3) return refuseEigenFile(notOurs + ": its record lines hold fewer than 3 network nodes.");
    const auto header = static_cast<uint64_t>(in.tellg());
    double fields[5] = {};
    int32_t k = 0;
    if (!le::read(in, fields, 5) || !le::read(in, k))
        return refuseEigenFile("The eigen data file " + fileName + " ends before its modes.");
    const unsigned __int128 dim = 3 * static_cast<unsigned __int128>(n);
    const unsigned __int128 expected = header + 44 + 16 * static_cast<unsigned __int128>(std::max(k, 0))
        + 8 * static_cast<unsigned __int128>(std::max(k, 0)) * dim;
    if (k < 1 || static_cast<unsigned __int128>(k) > dim - 6 || expected != size) {
        std::ostringstream text;
        text << "The eigen data file " << fileName << " does not belong to the structure it describes: " << k
             << " modes of its " << n << " nodes do not make the " << size << " bytes of the file.";
        return refuseEigenFile(text.str());
    }
    m_geometry.processStoredLines(std::move(lines), lineCount, rc);
    mainFileName = fileName;
    mainFileNodes = static_cast<int32_t>(n);
    m_modes.sparseFileModesOffset = header;
    mainFileStream = std::ifstream(fileName, std::ios::binary);
    mainFileStream.seekg(static_cast<std::streamoff>(header));
    return true;
}

bool EigenDataFiles::readSparseEigenData()
{
    const uint64_t offset = m_modes.sparseFileModesOffset;
    m_modes.sparseFileModesOffset = 0;
    if (!mainFileStream.is_open() || mainFileNodes != m_geometry.getAmountOfAtoms())
        return refuseEigenFile("No checked main eigen data file is open for " + m_geometry.getPDBName() + ".");
    const auto dim = static_cast<std::size_t>(m_geometry.get3N());
    SparseEigenFields read;
    std::string problem = readSparseFields(mainFileStream, offset, dim, m_geometry.get3NMinus6(), mainFileName, read);
    mainFileStream.close();
    if (problem.empty()) problem = checkSparseNumbers(read, dim, mainFileName);
    if (problem.empty())
        problem = checkSparseFit(read, m_geometry.getNodeCoordinates().data(), m_geometry.getAmountOfAtoms(), m_geometry.getRcAngstrom(), dim, mainFileName);
    if (!problem.empty()) return refuseEigenFile(problem);
    std::unique_ptr<SparseNetworkSolver> solver =
        rebuildFactorisation(read, m_geometry.getNodeCoordinates().data(), m_geometry.getAmountOfAtoms(), m_geometry.getRcAngstrom());

    // Everything read: commit.
    const double K = read.K, s = read.forceScaler;
    m_modes.keepLowestModes(m_geometry, read.values, read.rows.get(), read.k);
    m_modes.newtonToKcal = read.newtonToKcal;
    m_modes.forceScaler = s;
    m_modes.springConstant = K;
    m_modes.calibration = Calibration();
    m_modes.calibration.K = K;
    m_modes.calibration.S = s;
    m_modes.calibration.sumInverse = read.trace->value;
    m_modes.calibration.calibrated = s > 0.0;
    read.trace->exact = read.trace->bound == 0.0;
    m_modes.sparseTrace = std::move(read.trace);
    m_modes.inverseScaledEigenvalues.assign(static_cast<std::size_t>(m_geometry.get3NMinus6()), 0.0);
    std::copy(read.inverse.begin(), read.inverse.end(), m_modes.inverseScaledEigenvalues.begin());
    m_modes.scaledEigenvalues.assign(static_cast<std::size_t>(m_geometry.get3NMinus6()), 0.0);
    for (std::size_t m = 0; m < read.values.size(); ++m) m_modes.scaledEigenvalues[m] = read.values[m] * K;
    m_modes.sparseSolver = std::move(solver);
    m_modes.sparseAllModes = m_modes.sparseSolver != nullptr;
    m_modes.setupCompleteFlag = m_modes.forceScaler.load() > 0.0 && std::isfinite(m_modes.forceScaler.load());
    return true;
}

} // namespace vornax
