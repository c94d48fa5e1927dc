#include "enm/io/StandardFileLoader.h"

#include "common/InputFile.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "common/TextParse.h"
#include "common/UserPrompts.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/io/TextEigenInput.h"

#include <cmath>
#include <sstream>
#include <string_view>

namespace vornax {

namespace {

/// `line` split at single blanks (consecutive blanks give empty tokens), without a line end.
std::vector<std::string_view> splitAtBlanks(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    std::vector<std::string_view> tokens;
    std::size_t pos = 0;
    while (true) {
        const std::size_t blank = line.find(' ', pos);
        tokens.push_back(line.substr(pos, blank == std::string_view::npos ? std::string_view::npos : blank - pos));
        if (blank == std::string_view::npos) break;
        pos = blank + 1;
    }
    return tokens;
}

using text::NumberError;

NumberError toDouble(std::string_view token, double& out) { return text::readNumber(token, out); }

} // namespace

bool StandardFileLoader::openStream(const std::string& filename)
{
    stream.close();
    stream.clear();
    eigenvalues.clear();
    eigenvectors.clear();
    badTokens = 0;
    // A pipe or device would block or never end: only regular files are opened.
    if (!regularFileProblem(filename).empty()) return false;
    stream.open(filename);
    return stream.is_open();
}

void StandardFileLoader::openFile()
{
    if (!stream.is_open()) return;
    std::string line;
    if (!std::getline(stream, line)) return;
    const auto tokens = splitAtBlanks(line);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (text::trim(tokens[i]).empty()) continue;
        double v = 0.0;
        if (toDouble(tokens[i], v) == NumberError::None) {
            eigenvalues.push_back(v);
        } else {
            ++badTokens;
            console::Line(console::Warning) << "error found when reading an eigen value i: " << i;
        }
    }
}

void StandardFileLoader::inputAmountToRead(int32_t maxModes, int32_t /*totalModes*/)
{
    if (!stream.is_open()) return;
    std::string line;
    int32_t read = 0;
    while (read < maxModes && std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        ++read;
        const auto tokens = splitAtBlanks(line);
        std::vector<double> vector;
        vector.reserve(tokens.size());
        for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
            double v = 0.0;
            if (toDouble(tokens[i], v) == NumberError::None) {
                vector.push_back(v);
            } else {
                ++badTokens;
                console::Line(console::Warning) << "error found when reading eigenvector " << read << " value " << i;
            }
        }
        eigenvectors.push_back(std::move(vector));
    }
}

void StandardFileLoader::closeStream() { stream.close(); }

std::vector<double> parseEigenvalueText(const std::string& textIn, int32_t* skipped)
{
    std::vector<double> values;
    int32_t bad = 0;
    std::size_t pos = 0;
    const std::string_view all(textIn);
    while (pos < all.size()) {
        const std::size_t end = all.find_first_of(" \t\r\n", pos);
        const std::string_view token =
            all.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? all.size() : end + 1;
        if (token.empty()) continue;
        double v = 0.0;
        const NumberError error = toDouble(token, v);
        if (error == NumberError::None) {
            values.push_back(v);
        } else {
            // An Empty piece holds only control characters: nothing there to convert.
            ++bad;
            console::line(text::numberErrorMessage(error));
        }
    }
    if (skipped) *skipped = bad;
    return values;
}

// ---- The network side of text input -----------------------------------------------------------

bool TextEigenInput::insertEigenValue(double val, int32_t index)
{
    if (m_modes.elNemoInput) val /= 10.0;
    if (index < 0 || index >= m_geometry.get3NMinus6() || m_modes.inverseEigenvalues.size() != static_cast<std::size_t>(m_geometry.get3NMinus6())
        || m_modes.eigenvalues.size() < static_cast<std::size_t>(m_geometry.get3NMinus6()) + 7) {
        console::Line(console::Warning) << "Eigenvalue " << val << " for mode " << index + 7
                                        << " is beyond the modes of the network and is ignored";
        return false;
    }
    const auto i = static_cast<std::size_t>(index);
    m_modes.eigenvalues[i + 7] = val;
    if (!(val > 0.0) || !std::isfinite(val)) {
        // 1/λ would be infinite or negative: the mode takes no part in any response.
        console::Line(console::Warning) << "Eigenvalue " << val << " of mode " << index + 7
                                        << " is not positive; that mode is left out";
        m_modes.inverseEigenvalues[i] = 0.0;
        m_modes.eigenvalues[i + 7] = 0.0;
        ++refusedEigenvalues;
        return false;
    }
    m_modes.inverseEigenvalues[i] = 1.0 / val;
    return true;
}

void TextEigenInput::insertEigenVector(int32_t row, int32_t col, double value)
{
    if (!m_modes.ownedModeVectors || row < 0 || row >= m_modes.totalMaxModes || col < 0 || col >= m_geometry.get3N()) return;
    m_modes.ownedModeVectors[static_cast<std::size_t>(row) * static_cast<std::size_t>(m_geometry.get3N()) + static_cast<std::size_t>(col)] =
        value;
}

void TextEigenInput::reportMissingEigenvalues(int32_t given)
{
    missingEigenvalues = std::max(0, m_geometry.get3NMinus6() - given);
    if (missingEigenvalues > 0)
        console::Line(console::Warning) << missingEigenvalues << " of the " << m_geometry.get3NMinus6()
                                        << " non-rigid eigenvalues were not given; they are set to 0 and their"
                                           " modes take no part in the response";
    if (refusedEigenvalues > 0)
        console::Line(console::Warning) << refusedEigenvalues
                                        << " eigenvalues were zero or negative; their modes are left out";
}

bool ElasticNetworkModel::loadStandardEigenFile(const std::string& fileName, float averageHapticForce,
                                                Progress* progress)
{
    m_files.clearEigenFileError();
    if (m_geometry.get3NMinus6() <= 0) return m_files.refuseEigenFile("Build the network before its eigen data are read.");
    StandardFileLoader loader;
    if (!loader.openStream(fileName)) return m_files.refuseEigenFile("The eigen file " + fileName + " cannot be opened.");
    loader.openFile();
    // Read and check the whole file before anything of the network changes.
    loader.inputAmountToRead(m_geometry.get3NMinus6(), m_geometry.get3NMinus6());
    loader.closeStream();
    const std::vector<double> values = loader.getEigenVals();
    const std::vector<std::vector<double>> vectors = loader.getEigenVectors();
    if (values.empty()) return m_files.refuseEigenFile("The eigen file " + fileName + " has no eigenvalues on its first line.");
    if (vectors.empty()) return m_files.refuseEigenFile("The eigen file " + fileName + " has no eigenvectors.");
    for (std::size_t k = 0; k < vectors.size(); ++k) {
        if (vectors[k].size() != static_cast<std::size_t>(m_geometry.get3N())) {
            std::ostringstream text;
            text << "The eigen file " << fileName << " does not fit this structure: eigenvector " << k + 1 << " has "
                 << vectors[k].size() << " values, the network has " << m_geometry.get3N()
                 << " coordinates (the last value of every line is not read).";
            return m_files.refuseEigenFile(text.str());
        }
    }

    m_text.clearRefusedEigenvalues();
    getMaxPossibleModesStandardFile(progress);
    if (!isSetup()) return m_files.refuseEigenFile("No modes of " + fileName + " fit in memory.");
    const int32_t given =
        static_cast<int32_t>(std::min<std::size_t>(values.size(), static_cast<std::size_t>(m_geometry.get3NMinus6())));
    for (int32_t i = 0; i < given; ++i) m_text.insertEigenValue(values[static_cast<std::size_t>(i)], i);
    if (values.size() > static_cast<std::size_t>(m_geometry.get3NMinus6()))
        console::Line(console::Warning) << "The eigen file gives " << values.size() << " eigenvalues; the network has "
                                        << m_geometry.get3NMinus6() << " non-rigid modes, the rest are ignored";
    m_text.reportMissingEigenvalues(given);
    calculateForceScaler(averageHapticForce, true);
    console::Line() << "Amount of Vectors: " << vectors.size() << " length of first vector: " << vectors.front().size();
    // Modes without a vector in the file stay zero rows.
    const auto rows = std::min<std::size_t>(vectors.size(), static_cast<std::size_t>(m_modes.totalMaxModes));
    for (std::size_t r = 0; r < rows; ++r)
        for (int32_t c = 0; c < m_geometry.get3N(); ++c)
            m_text.insertEigenVector(static_cast<int32_t>(r), c, vectors[r][static_cast<std::size_t>(c)]);
    if (vectors.size() < static_cast<std::size_t>(m_modes.totalMaxModes)) {
        console::Line(console::Warning) << "The eigen file has " << vectors.size() << " eigenvectors for "
                                        << m_modes.totalMaxModes << " kept modes; the others take no part in the response";
        for (std::size_t k = vectors.size(); k < m_modes.inverseScaledEigenvalues.size(); ++k)
            m_modes.inverseScaledEigenvalues[k] = 0.0;
    }
    return true;
}

} // namespace vornax
