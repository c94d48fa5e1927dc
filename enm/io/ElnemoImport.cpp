// Modes from the ElNemo normal-mode service: one PDB-format file per mode, the structure
// displaced along the mode, and the eigenvalues pasted into the eigenvalue dialog.
#include "enm/io/TextEigenInput.h"

#include "enm/Deformation.h"
#include "enm/ModeSet.h"
#include "enm/NetworkGeometry.h"
#include "enm/io/EigenDataFiles.h"

#include "common/Console.h"
#include "common/InputFile.h"
#include "common/TextParse.h"
#include "common/UserPrompts.h"
#include "molecule/PdbRecord.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace vornax {

void TextEigenInput::setupBlankArrays()
{
    m_modes.totalMaxModes = -1;
    m_modes.elNemoInput = true;
    m_modes.loadResult = -3;
    m_modes.readingStandardData = true;
    refusedEigenvalues = 0;
    missingEigenvalues = 0;
    elNemoModes.clear();
    elNemoVectors.clear();
    m_modes.inverseEigenvalues.assign(static_cast<std::size_t>(std::max(m_geometry.get3NMinus6(), 0)), 0.0);
    m_modes.eigenvalues.assign(static_cast<std::size_t>(std::max(m_geometry.get3N(), 0)) + 1, 0.0);
}

namespace {

/// The mode number of the header line ("REMARK MODE" in the first 11 characters, the number in
/// columns 16-17), reading up to it; -1 when there is none.
int readElnemoModeNumber(std::istream& in)
{
    std::string line;
    while (std::getline(in, line)) {
        if (!text::contains(text::trim(std::string_view(line).substr(0, std::min<std::size_t>(line.size(), 11))),
                            "REMARK MODE"))
            continue;
        double m = 0.0;
        if (text::parseDouble(text::columns(line, 16, 17), m) && m == std::floor(m)) return static_cast<int>(m);
        console::line("bad cast error in calculateEigen from ELN ");
    }
    return -1;
}

/// The coordinate records, in node order, up to the end of the model: each node's reference
/// position (`reference`, Å, 3 a node) minus the record's goes into `vector` (as many nodes as
/// it holds). The number of coordinate records read.
std::size_t readElnemoDisplacements(std::istream& in, const std::vector<double>& reference, std::vector<double>& vector)
{
    const std::size_t n = vector.size() / 3;
    std::size_t atoms = 0;
    bool started = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string_view rec = pdb::recordName(line);
        if (!started) {
            if (!text::contains(rec, "ATOM")) continue;
            started = true;
        }
        if (rec == "END" || rec == "ENDMDL") break;
        if (!pdb::isAtomRecord(line)) continue;
        for (int c = 0; c < 3 && atoms < n; ++c) {
            double v = 0.0;
            const std::size_t first = 31 + 8 * static_cast<std::size_t>(c);
            const std::size_t at = 3 * atoms + static_cast<std::size_t>(c);
            if (text::parseDouble(text::columns(line, first, first + 7), v))
                vector[at] = reference[at] - v;
            else
                console::line("bad cast error ");
        }
        ++atoms;
    }
    return atoms;
}

/// Keeps `vector` as the mode numbered `index`, replacing one read before for that mode.
void keepMode(std::vector<int32_t>& modes, std::vector<std::vector<double>>& vectors, int32_t index,
              std::vector<double>&& vector)
{
    bool replaced = false;
    for (std::size_t k = 0; k < modes.size(); ++k)
        if (modes[k] == index) {
            vectors[k] = vector;
            replaced = true;
        }
    if (!replaced) {
        modes.push_back(index);
        vectors.push_back(std::move(vector));
    }
}

} // namespace

void TextEigenInput::normaliseEigenVectors(std::vector<double>& vector)
{
    double sum = 0.0;
    for (double v : vector) sum += v * v;
    if (!(sum > 0.0) || !std::isfinite(sum)) return;
    const double scale = 1.0 / std::sqrt(sum);
    for (double& v : vector) v *= scale;
}

bool TextEigenInput::calculateEigenFromElnemo(const std::string& fileName)
{
    m_modes.elNemoInput = true;
    m_files.clearEigenFileError();
    const auto n = static_cast<std::size_t>(std::max(m_geometry.getAmountOfAtoms(), 0));
    if (n < 3 || m_geometry.getNodeCoordinates().size() != 3 * n)
        return m_files.refuseEigenFile("Build the network before ElNemo modes are read; " + fileName + " was skipped.");
    if (const std::string problem = regularFileProblem(fileName); !problem.empty())
        return m_files.refuseEigenFile("The ElNemo mode file cannot be read: " + problem + " It was skipped.");
    std::ifstream in(fileName);
    if (!in) return m_files.refuseEigenFile("The ElNemo mode file " + fileName + " cannot be opened; it was skipped.");

    const int mode = readElnemoModeNumber(in);
    if (mode < 0)
        return m_files.refuseEigenFile("The ElNemo mode file " + fileName
                               + " has no \"REMARK MODE\" line with a mode number;"
                                 " it was skipped.");
    if (mode < 7 || mode - 7 >= m_geometry.get3NMinus6()) {
        std::ostringstream text;
        text << "The ElNemo mode file " << fileName << " is for mode " << mode << "; this network has modes 7 to "
             << m_geometry.get3NMinus6() + 6 << ". The file was skipped.";
        return m_files.refuseEigenFile(text.str());
    }

    std::vector<double> vector(3 * n, 0.0);
    const std::size_t atoms = readElnemoDisplacements(in, m_geometry.getNodeCoordinates(), vector);
    if (atoms != n) {
        std::ostringstream text;
        text << "The ElNemo mode file " << fileName << " has " << atoms << " atoms; the network has " << n
             << " nodes. The file was skipped.";
        return m_files.refuseEigenFile(text.str());
    }

    normaliseEigenVectors(vector);
    const int32_t index = mode - 6;
    console::Line() << "Mode: " << index;
    keepMode(elNemoModes, elNemoVectors, index, std::move(vector));
    m_modes.totalMaxModes = std::max(m_modes.totalMaxModes, index);
    return true;
}

void TextEigenInput::setupSelectedELNemoModes()
{
    const ModeChangeToken token = m_deformation.beginModeChange();
    m_deformation.zeroForces();
    console::Line() << "total modes in ELN: " << m_modes.totalMaxModes;
    if (m_modes.totalMaxModes <= 0 || m_geometry.get3N() <= 0) {
        m_modes.modesReady.store(false, std::memory_order_release);
        return;
    }
    const auto dim = static_cast<std::size_t>(m_geometry.get3N());
    const auto kept = static_cast<std::size_t>(m_modes.totalMaxModes);
    DoubleBuffer rows = allocateZeroedDoubles(kept * dim);
    if (!rows) {
        m_files.refuseEigenFile("Not enough memory for the ElNemo modes.");
        return;
    }
    for (std::size_t k = 0; k < elNemoModes.size(); ++k) {
        const auto row = static_cast<std::size_t>(elNemoModes[k] - 1); // mode m goes to row m − 7
        std::copy(elNemoVectors[k].begin(), elNemoVectors[k].end(), rows.get() + row * dim);
    }
    m_modes.ownedModeVectors = std::move(rows);
    m_modes.modeVectors = m_modes.ownedModeVectors.get();
    m_modes.modeAmplitudes.assign(kept, 0.0);
    m_modes.inverseScaledEigenvalues.assign(static_cast<std::size_t>(m_geometry.get3NMinus6()), 0.0);
    // Until the user chooses, every imported mode takes part.
    m_modes.modeSelectState = 2;
    m_modes.amountSelected = m_modes.totalMaxModes;
    m_modes.useAllModesFlag.store(false, std::memory_order_release);
    m_modes.modesReady.store(true, std::memory_order_release);
    m_modes.setupCompleteFlag = true;
}

void TextEigenInput::finishElnemoImport(const std::vector<double>& dialogValues, float averageHapticForce)
{
    refusedEigenvalues = 0;
    const auto count = static_cast<int32_t>(dialogValues.size());
    // The first six values are the rigid-body modes.
    for (int32_t k = 6; k < count; ++k) insertEigenValue(dialogValues[static_cast<std::size_t>(k)], k - 6);
    reportMissingEigenvalues(std::max(0, std::min(count - 6, m_geometry.get3NMinus6())));
    setupSelectedELNemoModes();
    m_modes.calculateForceScaler(m_geometry, averageHapticForce, true);
    m_modes.finalize_inv_HDK(count);
    for (int32_t m : elNemoModes)
        if (m - 1 < static_cast<int32_t>(m_modes.inverseEigenvalues.size())
            && m_modes.inverseEigenvalues[static_cast<std::size_t>(m - 1)] == 0.0)
            console::Line(console::Warning)
                << "Mode " << m + 6 << " was read but has no eigenvalue; it takes no part in the response";
    // calculateForceScaler makes no Y for imported modes; it must not leave the flag behind.
    m_modes.loadResult = -3;
}

} // namespace vornax
