// Eigen data given as text: a plain-text eigen file (StandardFileLoader.cpp) or ElNemo mode
// files with the eigenvalues from the eigenvalue dialog (ElnemoImport.cpp). Either fills the
// network's modes in place of a solve.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vornax {

class Deformation;
class EigenDataFiles;
class ModeSet;
class NetworkGeometry;

class TextEigenInput {
public:
    TextEigenInput(NetworkGeometry& geometry, ModeSet& modes, Deformation& deformation, EigenDataFiles& files)
        : m_geometry(geometry), m_modes(modes), m_deformation(deformation), m_files(files)
    {
    }
    TextEigenInput(const TextEigenInput&) = delete;
    TextEigenInput& operator=(const TextEigenInput&) = delete;

    /// Makes the arrays ready for ElNemo modes: no modes kept, eigenvalues zero.
    void setupBlankArrays();
    /// Eigenvalue of non-rigid mode `index` (0 = mode 7); divided by 10 for ElNemo input.
    /// False (mode left out) for a value that is not positive or an index out of range.
    bool insertEigenValue(double val, int32_t index);
    void insertEigenVector(int32_t row, int32_t col, double value);
    /// Counts (and reports) the non-rigid eigenvalues beyond the `given` ones, and those refused.
    void reportMissingEigenvalues(int32_t given);
    void clearRefusedEigenvalues() { refusedEigenvalues = 0; }
    /// Reads one ElNemo mode file; false (file skipped, message given) when it does not fit.
    bool calculateEigenFromElnemo(const std::string& fileName);
    std::vector<int32_t> getElNemoModes() const { return elNemoModes; }
    /// Moves the ElNemo vectors into modeVectors (row m − 7 for mode m).
    void setupSelectedELNemoModes();
    /// Scales `vector` to unit Euclidean length (left as it is when all zero).
    static void normaliseEigenVectors(std::vector<double>& vector);
    /// Enters the eigenvalue dialog's values (rigid-body ones first), calibrates and zeroes the
    /// modes beyond those entered.
    void finishElnemoImport(const std::vector<double>& dialogValues, float averageHapticForce);
    /// Eigenvalues the last text or dialog input did not give (set to 0) and those refused.
    int32_t getMissingEigenvalues() const { return missingEigenvalues; }
    int32_t getRefusedEigenvalues() const { return refusedEigenvalues; }

private:
    NetworkGeometry& m_geometry;
    ModeSet& m_modes;
    Deformation& m_deformation;
    EigenDataFiles& m_files;
    int32_t missingEigenvalues = 0;
    int32_t refusedEigenvalues = 0;
    std::vector<int32_t> elNemoModes;
    std::vector<std::vector<double>> elNemoVectors; ///< one per entry of elNemoModes
};

} // namespace vornax
