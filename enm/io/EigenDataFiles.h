// The eigen data files of one network: the main file (.hdv: the stored record lines, Rc, S and
// the modes, dense or of the sparse variant) and the response-matrix file (.ppy: Y). Written
// from the geometry and the modes once computed; read back to rebuild both without a solve.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace vornax {

class ModeBudget;
class ModeSet;
class NetworkGeometry;
class Progress;

class EigenDataFiles {
public:
    EigenDataFiles(NetworkGeometry& geometry, ModeSet& modes, const ModeBudget& budget)
        : m_geometry(geometry), m_modes(modes), m_budget(budget)
    {
    }
    EigenDataFiles(const EigenDataFiles&) = delete;
    EigenDataFiles& operator=(const EigenDataFiles&) = delete;

    /// <stdPath>/<pdbName>.hdv and .ppy.
    void setFileNames(const std::filesystem::path& stdPath);
    const std::string& getMainFileName() const { return mainFileName; }
    const std::string& getYFileName() const { return yFileName; }
    /// The file names of `other` (the same structure, solved apart) as these files' own.
    void takeFileNames(const EigenDataFiles& other)
    {
        mainFileName = other.mainFileName;
        yFileName = other.yFileName;
    }
    /// Writes the main eigen data file and, when Y is held, the response-matrix file. Both
    /// replace the files of those names together once complete, or neither does.
    bool writeEigenDataToNewFile();
    /// Fields 1-7 to `fout` and, when `yOut` is given and Y is held, Y to `yOut`.
    bool writeEigenDataToStream(std::ostream& fout, std::ostream* yOut);
    /// Checks the main eigen data file whole, then rebuilds the node records from its lines and
    /// leaves it open at the force scaling. Refuses (nothing changed) a file of another layout.
    bool inputMainFile(const std::string& fileName);
    /// Names the response-matrix file to read with the main one. A sparse main file brings its
    /// own responses: the name is then set aside with a console warning (true, no Y).
    bool inputYFile(const std::string& eigenVecFileName);
    /// The main eigen data file read by inputMainFile is of the sparse variant.
    bool mainFileIsSparse() const;
    /// Picks the .hdv and .ppy files out of the names the user chose; refuses a set without .hdv.
    bool inputEigenDataFiles(const std::vector<std::string>& fileNames);
    /// Reads S, the inverse scaled eigenvalues, the kept modes and (held) Y; run by the budget.
    bool readEigenDataFromOldFile(Progress* progress);
    /// Reads the modes of a sparse main file; run by the budget.
    bool readSparseEigenData();
    /// The message of the last refused eigen data file (empty when none was refused).
    const std::string& getEigenFileError() const { return eigenFileError; }
    void clearEigenFileError() { eigenFileError.clear(); }
    /// Keeps `text` as the message of a refused eigen data file and tells the user; false.
    bool refuseEigenFile(const std::string& text);

private:
    bool inputSparseMainFile(std::istream& in, uint64_t size, const std::string& fileName);

    NetworkGeometry& m_geometry;
    ModeSet& m_modes;
    const ModeBudget& m_budget;
    std::string mainFileName;
    std::string yFileName;
    std::ifstream mainFileStream;
    int32_t mainFileNodes = 0; ///< N of the checked main file
    std::string eigenFileError;
};

} // namespace vornax
