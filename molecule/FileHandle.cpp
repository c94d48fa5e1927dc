#include "molecule/FileHandle.h"

#include "common/Console.h"
#include "common/InputFile.h"
#include "common/SystemInfo.h"
#include "common/TextParse.h"
#include "common/UserPrompts.h"
#include "molecule/Atom.h"
#include "molecule/DataTables.h"
#include "molecule/PdbRecord.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string.h>
#include <system_error>

namespace vornax {

namespace {

constexpr const char* kPdbFileError = "PDB File Error";
constexpr int kMaxSkipReports = 10;

/// Second ':'-separated piece of a REMARK value line, trimmed ("" when there is none).
std::string valueAfterColon(std::string_view line)
{
    std::vector<std::string> pieces;
    boost::split(pieces, line, boost::is_any_of(":"), boost::token_compress_on);
    if (pieces.size() < 2) return {};
    return text::trimmed(pieces[1]);
}

/// "REMARK 200 EXPERIMENTAL DETAILS" (or 210) followed by blanks to column 80. Lines whose
/// trailing blanks were stripped by the program that wrote the file count too.
bool isDetailsStart(std::string_view line)
{
    for (std::string_view head :
         {std::string_view("REMARK 200 EXPERIMENTAL DETAILS"), std::string_view("REMARK 210 EXPERIMENTAL DETAILS")}) {
        const std::size_t at = line.find(head);
        if (at == std::string_view::npos) continue;
        const std::string_view rest = line.substr(at + head.size());
        const std::size_t padTo = 80 - head.size();
        const std::string_view pad = rest.substr(0, std::min(rest.size(), padTo));
        if (rest.size() >= padTo && text::trim(pad).empty()) return true;
        if (text::trim(rest).empty()) return true;
    }
    return false;
}

/// True when the line ends inside one of the number fields a node is read from (x, y, z,
/// occupancy, B-factor: columns 31-66): the field's last characters are missing, so the text
/// that is there reads as another number.
bool endsInsideNumberField(std::string_view line)
{
    constexpr std::pair<std::size_t, std::size_t> kFields[] = {{31, 38}, {39, 46}, {47, 54}, {55, 60}, {61, 66}};
    const std::size_t length = text::trim(line).size() == 0 ? 0 : line.find_last_not_of(" \t") + 1;
    for (auto [first, last] : kFields)
        if (length >= first && length < last) return true;
    return false;
}

bool isDetailsBlockLine(std::string_view line)
{
    return line.substr(0, 10) == "REMARK 200" || line.substr(0, 10) == "REMARK 210";
}

void addIfAbsent(std::vector<std::string>& list, std::unordered_set<std::string>& seen, std::string_view value)
{
    std::string v(value);
    if (seen.insert(v).second) list.push_back(std::move(v));
}

/// Where the records go when the reader fills no network.
class NoNetwork final : public NetworkRecordSink {
public:
    void enterPDBName(const std::string&) override {}
    void savePdBHeaderLine(const std::string&) override {}
    void addLineInfo(std::string&&) override {}
    void set_X_RAY_Temperature(float) override {}
    void set_NMR_Exp(bool) override {}
    void subtractVectorFromLocalPosition(const Vector3d&) override {}
    void recieveChainList(ChainList&) override {}
    void insertPureCoordList(std::vector<Vector3d>&) override {}
    void setTotalAmountOfAtoms(int32_t) override {}
    void setResidueData(std::vector<std::string>, std::vector<std::string>, std::vector<std::string>) override {}
};

NetworkRecordSink* noNetwork()
{
    static NoNetwork none;
    return &none;
}

/// Follows the lengths of the lines of text given piece by piece, so that a file whose line
/// grows beyond any PDB record is refused as soon as that line is seen.
class LineLengthGuard {
public:
    /// Empty while every line is short enough; otherwise why the file is refused.
    std::string operator()(std::string_view piece)
    {
        // A window of the bytes the present line may still have, and one more, must hold a
        // line end; the text goes on after the last one in it (one step for a run of short
        // lines, so that a gigabyte of line ends is checked at the speed of memory).
        for (std::size_t pos = 0; pos < piece.size();) {
            const std::size_t window = std::min(piece.size() - pos, kMaxRecordLine - m_lineLength + 1);
            const char* from = piece.data() + pos;
            const auto* last = static_cast<const char*>(::memrchr(from, '\n', window));
            if (!last) {
                m_lineLength += window;
                if (m_lineLength > kMaxRecordLine)
                    return "its line " + std::to_string(m_lineNumber) + " is longer than "
                        + std::to_string(kMaxRecordLine) + " characters: it is not a PDB structure file";
                break;
            }
            m_lineNumber += static_cast<std::size_t>(std::count(from, last + 1, '\n'));
            m_lineLength = 0;
            pos = static_cast<std::size_t>(last + 1 - piece.data());
        }
        return {};
    }

private:
    std::size_t m_lineLength = 0; ///< bytes since the last line end
    std::size_t m_lineNumber = 1;
};

/// Reads the whole of a regular file into `content`, up to the cap of structure text the
/// memory available allows (gzipped text inflated), refusing it (the returned sentence) as
/// soon as a line grows beyond any PDB record, so that a file without line ends is never held
/// whole. Long runs of blank lines are cut (see kMostBlankLinesKept).
std::string readBounded(const std::filesystem::path& path, std::string& content)
{
    const std::string why =
        readStructureText(path, structureTextCap(availablePhysicalMemory()), content, LineLengthGuard());
    if (!why.empty()) return path.string() + " cannot be used: " + why + ".";
    text::dropLongBlankRuns(content, kMostBlankLinesKept);
    return {};
}

} // namespace

FileHandle::FileHandle() : dataTables(std::make_unique<DataTables>()), elasticNetwork(noNetwork()) {}

FileHandle::~FileHandle() = default;

void FileHandle::setNetwork(NetworkRecordSink* network) { elasticNetwork = network ? network : noNetwork(); }

void FileHandle::enterResDataToELN()
{
    elasticNetwork->setResidueData(chainIDList, residueNameList, residueNumberList);
}

bool FileHandle::openFile(const std::filesystem::path& path)
{
    chainIndex = -1;
    loadError.clear();
    loadStart = std::chrono::steady_clock::now();

    std::string content;
    std::string refusal = regularFileProblem(path);
    if (refusal.empty()) refusal = readBounded(path, content);
    if (!refusal.empty()) {
        // Nothing is read from pipes and devices, nor past a line no PDB file has, nor past
        // the text a structure file may hold.
        console::line("Unable to open file");
        loadError = refusal;
        console::write(console::Warning, loadError);
        userPrompts().messageBox(kPdbFileError, loadError, MessageIcon::Warning, MessageButtons::Ok);
    } else {
        readLines(content);
        if (atomCount == 0) {
            loadError = "No atom records (ATOM or HETATM lines) were found in " + path.string()
                + ". It does not look like a PDB structure file.";
            console::write(console::Warning, loadError);
            userPrompts().messageBox(kPdbFileError, loadError, MessageIcon::Warning, MessageButtons::Ok);
        }
        finishLoad();
    }

    console::Line() << "Total Amount of atoms: " << atomCount << "Arraysize: " << atomList.size();
    loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
    console::Line() << "Time taken to load file: " << loadSeconds;
    return loadError.empty();
}

void FileHandle::readLines(std::string_view content)
{
    std::vector<std::string_view> lines;
    lines.reserve(content.size() / 81 + 1);
    for (std::size_t pos = 0; pos < content.size();) {
        std::size_t end = content.find('\n', pos);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        pos = end + 1;
    }
    if (lines.empty()) return;

    // Header: the first line, whatever it holds, and the structure code in column 63 onwards.
    const std::string_view first = lines.front();
    elasticNetwork->addLineInfo(std::string(first));
    elasticNetwork->savePdBHeaderLine(std::string(first));
    lineCounter = 1;
    // The code stands in column 63 onwards of the HEADER record, normally the first line.
    // Some files put blank lines or other records first: take the HEADER before the atoms.
    std::string_view headerLine = first;
    for (std::size_t k = 0; k < lines.size() && pdb::recordName(headerLine) != "HEADER"; ++k) {
        if (pdb::isAtomRecord(lines[k])) break;
        if (pdb::recordName(lines[k]) == "HEADER") headerLine = lines[k];
    }
    std::string code = text::trimmed(text::columnsToEnd(headerLine, 63));
    console::Line() << "Before: " << code;
    const bool hasHeader = pdb::recordName(headerLine) == "HEADER";
    if (code == "XXXX" || code.empty() || !hasHeader) {
        TextPrompt prompt{"File Data Warning", "Unable to determine PDB Code from file...",
                          "Please Enter PDB code for current protein", "Enter", true};
        if (auto entered = userPrompts().askText(prompt); entered && !entered->empty())
            code = *entered;
        else if (code.empty() || !hasHeader)
            code = "XXXX";
    }
    elasticNetwork->enterPDBName(code);
    console::line(code);
    // A file without a header starts straight with its records: the first one counts too.
    handleRecord(first, true);

    typeMissing = true;
    temperatureMissing = true;
    std::size_t i = 1;
    while (i < lines.size()) {
        const std::string_view line = lines[i++];
        if (isDetailsStart(line)) {
            elasticNetwork->savePdBHeaderLine(std::string(line));
            if (typeMissing || temperatureMissing) detailsScan(lines, i);
            continue;
        }
        handleRecord(line, false);
    }

    if (skippedRecords > kMaxSkipReports)
        console::Line(console::Warning) << "Skipped " << skippedRecords << " atom records with unreadable coordinates";
}

void FileHandle::detailsScan(const std::vector<std::string_view>& lines, std::size_t& next)
{
    while (next < lines.size() && (typeMissing || temperatureMissing)) {
        const std::string_view line = lines[next];
        // The block ends at the first line that is not part of it; that line is read as usual.
        if (!isDetailsBlockLine(line)) return;
        ++next;
        const std::string_view head = text::trim(text::columns(line, 1, 27));
        if (text::contains(head, "REMARK 200  EXPERIMENT TYPE")
            || text::contains(head, "REMARK 210  EXPERIMENT TYPE")) {
            elasticNetwork->savePdBHeaderLine(std::string(line));
            const std::string type = valueAfterColon(line);
            if (text::contains(type, "NMR")) {
                console::line("Found NMR Experiment data...");
                elasticNetwork->set_NMR_Exp(true);
                typeMissing = false;
            } else if (text::contains(type, "X-RAY DIFFRACTION")) {
                console::line("Found X-RAY DIFFRACTION Experiment data...");
                elasticNetwork->set_NMR_Exp(false);
                typeMissing = false;
            }
        } else if (text::contains(head, "REMARK 200  TEMPERATURE") || text::contains(head, "REMARK 210  TEMPERATURE")) {
            elasticNetwork->savePdBHeaderLine(std::string(line));
            const std::string value = valueAfterColon(line);
            if (text::contains(value, "NULL")) {
                console::line("NULL temp Field setting Tx to 300");
                elasticNetwork->set_X_RAY_Temperature(300.0f);
            } else if (double t = 0.0; text::parseDouble(value, t)) {
                // The network refuses absurd values; those beyond single precision are named here.
                if (std::fabs(t) > FLT_MAX) {
                    console::Line(console::Warning)
                        << "The experiment temperature " << value << " K cannot be used; 300 K is used instead.";
                    t = 300.0;
                }
                elasticNetwork->set_X_RAY_Temperature(static_cast<float>(t));
            } else {
                console::line("bad cast error in temperature derivation");
                console::Line(console::Warning)
                    << "The experiment temperature \"" << value << "\" is not a number; 300 K is used instead.";
                elasticNetwork->set_X_RAY_Temperature(300.0f);
            }
            temperatureMissing = false;
        }
    }
}

void FileHandle::handleRecord(std::string_view line, bool alreadyStored)
{
    if (pdb::isAtomRecord(line)) {
        pdb::AtomRecord record;
        if (!pdb::readAtomRecord(line, record)) {
            if (++skippedRecords <= kMaxSkipReports)
                console::Line(console::Warning)
                    << "Atom record skipped, its coordinates (columns 31-54) cannot be read: " << line;
            return;
        }
        if (!alreadyStored) {
            ++lineCounter;
            elasticNetwork->addLineInfo(std::string(line));
        }
        addAtom(line, record);
    } else if (pdb::isTerRecord(line)) {
        terminateChain(line, alreadyStored);
    }
}

void FileHandle::terminateChain(std::string_view line, bool alreadyStored)
{
    console::Line() << "chain termination" << pdb::recordName(line);
    if (!alreadyStored) {
        ++lineCounter;
        elasticNetwork->addLineInfo(std::string(line));
    }
    addIfAbsent(chainIDList, seenChainIDs, currentChainID);
    chainList.emplace_back();
    ++chainIndex;
}

void FileHandle::addAtom(std::string_view line, const pdb::AtomRecord& record)
{
    const Vector3d& position = record.position;
    const std::string& residueNumber = record.residueNumber;
    currentChainID = record.chainID;
    const std::string& residueName = record.residueName;

    const std::string element =
        line.size() >= 77 ? text::trimmed(text::columns(line, 77, 78)) : text::trimmed(text::columns(line, 14, 14));
    float rgb[3] = {0.5f, 0.5f, 0.5f};
    dataTables->findColour(element, rgb);
    float radius = 10.0f;
    dataTables->findRadius(element, radius);

    if (record.isBackbone()) {
        warnIfCut(line);
        ELNBackboneData node = pdb::backboneRecord(line, record);
        addIfAbsent(chainIDList, seenChainIDs, currentChainID);
        addIfAbsent(residueNameList, seenResidueNames, residueName);
        addIfAbsent(residueNumberList, seenResidueNumbers, residueNumber);
        pdb::appendBackboneRecord(chainList, chainIndex, std::move(node));
        // Unscaled coordinates, as read (Å).
        const double* c = record.coordinates;
        pureCoordList.emplace_back(static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]));
    }

    auto* atom = new Atom(position, Vector3d(rgb[0], rgb[1], rgb[2]), text::trimmed(text::columns(line, 13, 26)),
                          radius, atomCount, element, residueNumber, residueName, currentChainID);
    atom->init();
    atom->setImWater(::memmem(line.data(), line.size(), " HOH ", 5) != nullptr);
    atomList.push_back(atom);
    ++atomCount;
}

void FileHandle::warnIfCut(std::string_view line)
{
    if (cutRecordReported || !endsInsideNumberField(line)) return;
    cutRecordReported = true;
    console::Line(console::Warning) << "A node record ends inside its coordinate or B-factor columns (31-66), so "
                                       "its numbers are read from what is left (the first such line): "
                                    << line;
}

void FileHandle::finishLoad()
{
    const Vector3d midPoint = getMidPoint();
    const bool anyAtoms = atomCount > 0;
    if (typeMissing) {
        // A file with no atoms at all has already been reported; no need for the defaults' boxes.
        if (anyAtoms)
            userPrompts().messageBox(kPdbFileError,
                                     "Experiment type unable to be determined from PDB File. "
                                     "Defaulting to X-RAY DIFFRACTION Experiment data...",
                                     MessageIcon::Warning, MessageButtons::Ok);
        elasticNetwork->set_NMR_Exp(false);
    }
    if (temperatureMissing) {
        if (anyAtoms)
            userPrompts().messageBox(kPdbFileError,
                                     "Experiment temperature unable to be determined from PDB File. "
                                     "Defaulting temperature to 300K...",
                                     MessageIcon::Warning, MessageButtons::Ok);
        elasticNetwork->set_X_RAY_Temperature(300.0f);
    }

    console::line("doing calculations in the ELN class");
    elasticNetwork->subtractVectorFromLocalPosition(midPoint);
    console::line("Inserting ChainList");
    ChainList chains = chainList;
    elasticNetwork->recieveChainList(chains);
    std::vector<Vector3d> coords = pureCoordList;
    elasticNetwork->insertPureCoordList(coords);
    elasticNetwork->setTotalAmountOfAtoms(lineCounter);
}

Vector3d FileHandle::getMidPoint()
{
    console::Line() << "LINE MAX: " << atomCount;
    return centreOfAtoms(atomList);
}

Vector3d centreOfAtoms(const std::vector<Atom*>& atoms)
{
    if (atoms.empty()) return {};
    double sx = 0.0, sy = 0.0, sz = 0.0;
    for (const Atom* a : atoms) {
        const Vector3d p = a->getMyLocalPosition();
        sx += p.x;
        sy += p.y;
        sz += p.z;
    }
    const double n = static_cast<double>(atoms.size());
    return Vector3d(static_cast<float>(sx / n), static_cast<float>(sy / n), static_cast<float>(sz / n));
}

Vector3d FileHandle::findMinCoord() const
{
    if (atomList.empty()) return Vector3d(-0.1f, -0.1f, -0.1f);
    Vector3d m(FLT_MAX, FLT_MAX, FLT_MAX);
    for (const Atom* a : atomList) {
        const Vector3d p = a->getMyLocalPosition();
        const float r = a->getRadius();
        for (int k = 0; k < 3; ++k) m[k] = std::min(m[k], p[k] - r);
    }
    return m - Vector3d(0.1f, 0.1f, 0.1f);
}

Vector3d FileHandle::findMaxCoord() const { return maxCoordOfAtoms(atomList); }

Vector3d maxCoordOfAtoms(const std::vector<Atom*>& atoms)
{
    if (atoms.empty()) return Vector3d(0.1f, 0.1f, 0.1f);
    Vector3d m(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (const Atom* a : atoms) {
        const Vector3d p = a->getMyLocalPosition();
        const float r = a->getRadius();
        for (int k = 0; k < 3; ++k) m[k] = std::max(m[k], p[k] - r);
    }
    return m + Vector3d(0.1f, 0.1f, 0.1f);
}

void deleteAtoms(std::vector<Atom*>& atoms)
{
    for (Atom* a : atoms) delete a;
    atoms.clear();
}

} // namespace vornax
