// Plain-text eigen files and the text of the eigenvalue dialog.
//
// A plain-text eigen file holds the eigenvalues of the non-rigid modes on its first line,
// mode 7 first, separated by single blanks; every following non-empty line is one eigenvector
// (3N values, node-major) separated by single blanks and ended by a final token (normally a
// trailing blank) that is not part of the vector.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace vornax {

class StandardFileLoader {
public:
    /// Opens `filename` as text; false when it cannot be opened.
    bool openStream(const std::string& filename);
    /// Reads the eigenvalue line. Tokens that are not numbers are skipped with a console message.
    void openFile();
    /// Reads eigenvector lines until `maxModes` non-empty lines have been read (or the file
    /// ends). Every token of a line except the last becomes one value. `totalModes` is unused.
    void inputAmountToRead(int32_t maxModes, int32_t totalModes);
    std::vector<double> getEigenVals() const { return eigenvalues; }
    std::vector<std::vector<double>> getEigenVectors() const { return eigenvectors; }
    void closeStream();
    /// Tokens of the file that could not be read as numbers.
    int32_t getBadTokens() const { return badTokens; }

private:
    std::vector<double> eigenvalues;
    std::vector<std::vector<double>> eigenvectors;
    std::ifstream stream;
    int32_t badTokens = 0;
};

/// The values of the eigenvalue dialog's text: split at blanks and line breaks, empty tokens
/// skipped, each other token read as a number. A token that is not a number is skipped with
/// one of the dialog's console messages and counted in `*skipped` when given.
std::vector<double> parseEigenvalueText(const std::string& text, int32_t* skipped = nullptr);

} // namespace vornax
