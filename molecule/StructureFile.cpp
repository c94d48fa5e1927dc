// mmCIF files and biological assemblies, read with gemmi. Every atom becomes a PDB-layout record
// line, so that the atoms, nodes, stored record lines (deformed output, eigen data files) are
// made exactly as for a PDB file; the full coordinates and residue fields go beside the line,
// and a chain name longer than column 22 follows column 80 (pdb::chainNameSuffix).
#include "molecule/StructureFile.h"

#include "common/Console.h"
#include "common/InputFile.h"
#include "common/InputLimits.h"
#include "common/SystemInfo.h"
#include "common/TextParse.h"
#include "common/Units.h"
#include "common/UserPrompts.h"
#include "molecule/FileHandle.h"
#include "molecule/PdbRecord.h"

#include <gemmi/assembly.hpp>
#include <gemmi/cif.hpp>
#include <gemmi/mmcif.hpp>
#include <gemmi/pdb.hpp>
#include <gemmi/polyheur.hpp>
#include <gemmi/remarks.hpp>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace vornax {

/// One record of a structure read with gemmi: an atom line (with what its columns cannot hold)
/// or a chain terminator.
struct LibraryRecord {
    std::string line;
    std::string chainID;       ///< full chain name
    std::string residueName;   ///< right-aligned in 3, longer names whole
    std::string residueNumber; ///< right-aligned in 4, longer numbers whole
    double xyz[3] = {0.0, 0.0, 0.0};
    bool terminator = false;
};

struct LibraryStructure {
    std::string code;
    int experiment = -1; ///< 1 NMR, 0 X-ray diffraction, −1 neither named
    double temperature = NAN;
    std::vector<LibraryRecord> records;
};

namespace {

constexpr const char* kPdbFileError = "PDB File Error";

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string joined(const std::vector<std::string>& items)
{
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : ", ") + item;
    return out;
}

/// `value` in exactly `width` characters with as many decimals (up to `decimals`) as fit;
/// empty when even none fit or the value is not finite.
std::string fittedNumber(double value, int width, int decimals)
{
    if (!std::isfinite(value)) return {};
    char buffer[64];
    for (int d = decimals; d >= 0; --d) {
        const int n = std::snprintf(buffer, sizeof buffer, "%*.*f", width, d, value);
        if (n == width) return buffer;
    }
    return {};
}

std::string rightAligned(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

/// The atom name in columns 13–16: names of fewer than four characters of a one-letter
/// element start in column 14 (" CA " is a C-alpha, "CA  " calcium).
std::string atomNameColumns(const gemmi::Atom& atom)
{
    std::string name = atom.name.substr(0, 4);
    if (name.size() < 4 && std::strlen(atom.element.name()) == 1) name.insert(name.begin(), ' ');
    name.resize(4, ' ');
    return name;
}

bool isPolymerResidue(const gemmi::Residue& residue)
{
    if (residue.entity_type == gemmi::EntityType::Polymer) return true;
    return residue.entity_type == gemmi::EntityType::Unknown && residue.het_flag != 'H';
}

/// The atom line in the PDB layout; empty when a coordinate cannot be written in 8 columns.
std::string atomLine(const gemmi::Residue& residue, const gemmi::Atom& atom, int serial, const std::string& chain,
                     const gemmi::Position& p, const std::string& residueNumber)
{
    std::string line = residue.het_flag == 'H' ? "HETATM" : "ATOM  ";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%5d ", serial % 100000);
    line += buffer;
    line += atomNameColumns(atom);
    line += atom.altloc_or(' ');
    line += rightAligned(residue.name, 3).substr(0, 3);
    line += ' ';
    line += chain.empty() ? ' ' : chain.front();
    const std::string number = rightAligned(residueNumber, 4);
    line += number.substr(number.size() - 4);
    line += residue.seqid.icode == ' ' || residue.seqid.icode == '\0' ? ' ' : residue.seqid.icode;
    line += "   ";
    for (double c : {p.x, p.y, p.z}) {
        const std::string field = fittedNumber(c, 8, 3);
        if (field.empty()) return {};
        line += field;
    }
    const std::string occupancy = fittedNumber(atom.occ, 6, 2);
    line += occupancy.empty() ? std::string(6, ' ') : occupancy;
    // The B-factor is the shortest text that reads back as the stored value, as in the file.
    std::string b = fittedNumber(atom.b_iso, 6, 2);
    line += b.empty() ? std::string(6, ' ') : b;
    line += std::string(10, ' ');
    line += rightAligned(atom.element.uname(), 2).substr(0, 2);
    line += "  ";
    return line + pdb::chainNameSuffix(chain);
}

/// Refuses operators no structure can have: non-finite numbers, matrices that are singular or
/// enormous, translations beyond any molecule.
std::string operatorProblem(const gemmi::Assembly::Operator& op)
{
    const gemmi::Mat33& m = op.transform.mat;
    const gemmi::Vec3& t = op.transform.vec;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            if (!std::isfinite(m[i][j]) || std::fabs(m[i][j]) > kLargestRotationElement)
                return "its matrix holds " + text::shortNumber(m[i][j]);
        if (!std::isfinite(t.at(i)) || std::fabs(t.at(i)) > kLargestTranslation)
            return "its translation holds " + text::shortNumber(t.at(i));
    }
    const double det = m.determinant();
    if (!std::isfinite(det) || std::fabs(det) < 1.0e-6)
        return "its matrix cannot be inverted (determinant " + text::shortNumber(det) + ")";
    // A rotation keeps every distance: M·Mᵀ = I. Anything else would scale or flatten a copy.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double dot = m[i][0] * m[j][0] + m[i][1] * m[j][1] + m[i][2] * m[j][2];
            if (std::fabs(dot - (i == j ? 1.0 : 0.0)) > kRotationTolerance)
                return "its matrix is not a rotation (row " + std::to_string(i + 1) + " · row " + std::to_string(j + 1)
                    + " = " + text::shortNumber(dot) + "): it would distort the copy";
        }
    return {};
}

uint64_t saturatedSum(uint64_t a, uint64_t b)
{
    uint64_t r = 0;
    return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}

uint64_t saturatedProduct(uint64_t a, uint64_t b)
{
    uint64_t r = 0;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

/// The number of operator names gemmi makes of the operator expression `expr` (up to its
/// first ')', the items between commas, "a-b" the whole numbers a to b), counted without
/// making them; empty text when it can be read at all.
std::string countOperatorNames(const std::string& expr, uint64_t& count)
{
    count = 0;
    std::size_t start = 0, close = std::string::npos;
    if (!expr.empty() && expr[0] == '(') {
        start = 1;
        close = expr.find(')');
    }
    // A whole number as gemmi reads it: blanks, then digits, the rest ignored.
    auto number = [&](std::size_t at, uint64_t& value) {
        while (at < expr.size() && std::isspace(static_cast<unsigned char>(expr[at]))) ++at;
        value = 0;
        for (; at < expr.size() && expr[at] >= '0' && expr[at] <= '9'; ++at) {
            value = value * 10 + static_cast<uint64_t>(expr[at] - '0');
            if (value > static_cast<uint64_t>(kLargestOperatorNumber)) return false;
        }
        return true;
    };
    while (true) {
        const std::size_t sep = std::min(expr.find(',', start), close);
        const std::size_t minus = expr.find('-', start);
        if (minus < sep) {
            uint64_t first = 0, last = 0;
            if (!number(start, first) || !number(minus + 1, last))
                return "its operator expression '" + expr + "' numbers an operator beyond "
                    + std::to_string(kLargestOperatorNumber);
            if (last >= first) count = saturatedSum(count, last - first + 1);
        } else {
            count = saturatedSum(count, 1);
        }
        if (sep == close || sep >= expr.size()) break;
        start = sep + 1;
    }
    return {};
}

/// Refuses assembly tables that would cost more to read than any structure needs, before
/// gemmi reads them: operator expressions that expand to more operators than an assembly may
/// have copies, or more name comparisons than kMostAssemblyComparisons.
std::string assemblyTablesProblem(gemmi::cif::Block& block)
{
    std::unordered_map<std::string, uint64_t> assemblies; // id → rows of _pdbx_struct_assembly
    uint64_t assemblyRows = 0, generatorRows = 0, operatorRows = 0, propertyRows = 0, expanded = 0;
    for (const auto row : block.find("_pdbx_struct_assembly.", {"id"})) {
        ++assemblies[row.str(0)];
        ++assemblyRows;
    }
    for (const auto row : block.find("_pdbx_struct_oper_list.", {"id"})) (void)row, ++operatorRows;
    for (const auto row : block.find("_pdbx_struct_assembly_prop.", {"biol_id"})) (void)row, ++propertyRows;
    for (const auto row : block.find("_pdbx_struct_assembly_gen.", {"assembly_id", "oper_expression"})) {
        ++generatorRows;
        const std::string id = row.str(0), expr = row.str(1);
        uint64_t count = 0;
        if (std::string why = countOperatorNames(expr, count); !why.empty()) return "assembly " + id + ": " + why;
        const auto found = assemblies.find(id);
        count = saturatedProduct(count, found == assemblies.end() ? 0 : found->second);
        if (count > kMostAssemblyOperators)
            return "the operator expression '" + expr + "' of assembly " + id + " expands to "
                + (count == UINT64_MAX ? std::string("too many") : std::to_string(count))
                + " operators, more than the " + std::to_string(kMostAssemblyOperators) + " a file may have";
        expanded = saturatedSum(expanded, count);
    }
    if (expanded > kMostAssemblyOperators)
        return "its operator expressions expand to " + std::to_string(expanded) + " operators in all, more than the "
            + std::to_string(kMostAssemblyOperators) + " a file may have";
    const uint64_t comparisons = saturatedSum(saturatedProduct(assemblyRows, saturatedSum(generatorRows, propertyRows)),
                                              saturatedProduct(expanded, operatorRows));
    if (comparisons > kMostAssemblyComparisons)
        return "its assembly tables are too large to read (" + std::to_string(assemblyRows) + " assemblies, "
            + std::to_string(generatorRows) + " generator rows, " + std::to_string(expanded) + " operators out of "
            + std::to_string(operatorRows) + ")";
    return {};
}

/// mmCIF checks gemmi leaves to its caller: the atom table's columns.
std::string checkMmcifBlock(gemmi::cif::Block& block)
{
    if (!block.find_mmcif_category("_atom_site.").ok()) return "it has no _atom_site table (no atoms)";
    std::vector<std::string> missing;
    for (const char* tag : {"id", "type_symbol", "label_asym_id", "Cartn_x", "Cartn_y", "Cartn_z", "occupancy",
                            "B_iso_or_equiv", "auth_seq_id"})
        if (!block.find_values(std::string("_atom_site.") + tag)) missing.push_back(std::string("_atom_site.") + tag);
    if (!block.find_values("_atom_site.label_atom_id") && !block.find_values("_atom_site.auth_atom_id"))
        missing.push_back("_atom_site.label_atom_id");
    if (!block.find_values("_atom_site.label_comp_id") && !block.find_values("_atom_site.auth_comp_id"))
        missing.push_back("_atom_site.label_comp_id");
    if (!missing.empty()) return "its atom table lacks " + joined(missing);
    return {};
}

/// The assembly tables of `block` made ready for gemmi: without an assembly asked for, none is
/// read; with one, only its own operator expressions are expanded, once they are known to be
/// of a size worth reading, and every operator they name must be listed (gemmi drops the
/// others).
std::string prepareAssemblyTables(gemmi::cif::Block& block, const AssemblyRequest& request)
{
    if (!request.wanted()) {
        block.find_mmcif_category("_pdbx_struct_assembly_gen.").erase();
        return {};
    }
    if (std::string why = assemblyTablesProblem(block); !why.empty()) return why;
    std::unordered_set<std::string> known;
    for (const auto row : block.find("_pdbx_struct_oper_list.", {"id"})) known.insert(row.str(0));
    for (auto row : block.find("_pdbx_struct_assembly_gen.", {"assembly_id", "oper_expression"})) {
        if (row.str(0) != request.id) {
            row[1] = "?"; // names no operator: gemmi expands nothing for it
            continue;
        }
        for (const std::string& name : gemmi::impl::parse_operation_expr(row.str(1))) {
            if (name.empty())
                return "assembly " + request.id + " has an empty operator id in its operator expression '" + row.str(1)
                    + "'";
            if (!known.count(name))
                return "assembly " + request.id + " uses operator " + name + ", which _pdbx_struct_oper_list does not list";
        }
    }
    return {};
}

/// The ids of an assembly's operators, in order, each once.
std::vector<std::string> operatorIds(const gemmi::Assembly& assembly)
{
    std::vector<std::string> ids;
    std::unordered_set<std::string> seen;
    for (const auto& gen : assembly.generators)
        for (const auto& op : gen.operators)
            if (seen.insert(op.name).second) ids.push_back(op.name);
    return ids;
}

/// Refuses an assembly whose atoms × copies need more memory than is available, before it is
/// built: every atom through the reader, every C-alpha as a node of the network.
std::string assemblyMemory(const gemmi::Model& model, const gemmi::Assembly& assembly, uint64_t available)
{
    struct Count {
        uint64_t atoms = 0, nodes = 0;
    };
    // Counted once by chain name (REMARK 350) and by label_asym_id (mmCIF), then per generator.
    std::unordered_map<std::string, Count> byChain, bySubchain;
    for (const gemmi::Chain& chain : model.chains)
        for (const gemmi::Residue& residue : chain.residues)
            for (Count* c : {&byChain[chain.name], &bySubchain[residue.subchain]}) {
                c->atoms += residue.atoms.size();
                for (const gemmi::Atom& atom : residue.atoms) c->nodes += atom.name == "CA";
            }
    Count all;
    for (const auto& gen : assembly.generators) {
        const bool byName = !gen.chains.empty();
        for (const std::string& name : byName ? gen.chains : gen.subchains) {
            const auto& counts = byName ? byChain : bySubchain;
            const auto found = counts.find(name);
            if (found == counts.end()) continue;
            all.atoms = saturatedSum(all.atoms, saturatedProduct(found->second.atoms, gen.operators.size()));
            all.nodes = saturatedSum(all.nodes, saturatedProduct(found->second.nodes, gen.operators.size()));
        }
    }
    return assemblyMemoryProblem(all.atoms, all.nodes, available);
}

/// The assembly asked for, its copies narrowed to the ones asked for; empty text when usable.
std::string pickAssembly(const gemmi::Structure& st, const AssemblyRequest& request, gemmi::Assembly& picked)
{
    const gemmi::Assembly* found = nullptr;
    std::vector<std::string> ids;
    for (const auto& a : st.assemblies) {
        ids.push_back(a.name);
        if (a.name == request.id) found = &a;
    }
    if (!found)
        return "it describes no assembly " + request.id
            + (ids.empty() ? " (it describes no assemblies at all)" : " (it describes " + joined(ids) + ")");
    picked = *found;
    std::size_t copies = 0;
    for (const auto& gen : picked.generators)
        for (const auto& op : gen.operators) {
            if (const std::string why = operatorProblem(op); !why.empty())
                return "operator " + op.name + " of assembly " + request.id + " cannot be used: " + why;
            ++copies;
        }
    if (copies == 0) return "assembly " + request.id + " has no operators";
    if (copies > kMostCopies) return "assembly " + request.id + " has more than " + std::to_string(kMostCopies) + " copies";
    if (request.copies.empty()) return {};
    const std::vector<std::string> all = operatorIds(picked);
    const std::unordered_set<std::string> known(all.begin(), all.end());
    for (const std::string& id : request.copies)
        if (!known.count(id))
            return "assembly " + request.id + " has no operator " + id + " (its operators: " + joined(all) + ")";
    const std::unordered_set<std::string> kept(request.copies.begin(), request.copies.end());
    for (auto& gen : picked.generators) {
        auto& ops = gen.operators;
        ops.erase(std::remove_if(ops.begin(), ops.end(),
                                 [&](const gemmi::Assembly::Operator& op) { return !kept.count(op.name); }),
                  ops.end());
    }
    return {};
}

/// An atom already present at one place (0.001 Å) with the same name, residue and
/// alternate location: a copy an operator put onto an existing one.
struct PlacedAtom {
    int64_t q[3];
    std::size_t identity;
    bool operator==(const PlacedAtom& o) const
    {
        return q[0] == o.q[0] && q[1] == o.q[1] && q[2] == o.q[2] && identity == o.identity;
    }
};
struct PlacedAtomHash {
    std::size_t operator()(const PlacedAtom& a) const
    {
        // splitmix64 finalizer over the mixed fields: quantized positions are small integers
        // that a plain combination would crowd into few buckets.
        uint64_t h = a.identity;
        for (int64_t v : a.q) {
            h ^= static_cast<uint64_t>(v) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
            h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
            h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
            h ^= h >> 31;
        }
        return static_cast<std::size_t>(h);
    }
};

/// Turns a model into records; empty text when every atom could be written.
std::string modelRecords(const gemmi::Model& model, bool dropCopies, LibraryStructure& out)
{
    std::unordered_set<PlacedAtom, PlacedAtomHash> placed;
    std::size_t atoms = 0;
    for (const gemmi::Chain& chain : model.chains)
        for (const gemmi::Residue& residue : chain.residues) atoms += residue.atoms.size();
    if (dropCopies) placed.reserve(atoms);
    out.records.reserve(out.records.size() + atoms + model.chains.size());
    int serial = 0;
    std::size_t dropped = 0;
    for (const gemmi::Chain& chain : model.chains) {
        bool polymerAtoms = false, terminated = false;
        auto terminate = [&] {
            LibraryRecord ter;
            ter.terminator = true;
            ter.chainID = chain.name;
            ter.line = "TER   ";
            out.records.push_back(std::move(ter));
            terminated = true;
        };
        for (const gemmi::Residue& residue : chain.residues) {
            const bool polymer = isPolymerResidue(residue);
            if (!polymer && polymerAtoms && !terminated) terminate();
            const std::string number = residue.seqid.num.has_value() ? std::to_string(*residue.seqid.num) : "";
            for (const gemmi::Atom& atom : residue.atoms) {
                const gemmi::Position& p = atom.pos;
                if (dropCopies) {
                    PlacedAtom key{{std::llround(p.x * 1000.0), std::llround(p.y * 1000.0), std::llround(p.z * 1000.0)},
                                   std::hash<std::string>()(atom.name + '/' + residue.name + '/' + atom.altloc_or(' '))};
                    if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && !placed.insert(key).second) {
                        ++dropped;
                        continue;
                    }
                }
                LibraryRecord record;
                record.line = atomLine(residue, atom, ++serial, chain.name, p, number);
                constexpr double kLargestModelable = FLT_MAX / units::kModelUnitsPerAngstrom;
                if (record.line.empty() || std::fabs(p.x) > kLargestModelable || std::fabs(p.y) > kLargestModelable
                    || std::fabs(p.z) > kLargestModelable)
                    return "atom " + atom.name + " of " + residue.name + " " + number + " in chain " + chain.name
                        + " lies at (" + std::to_string(p.x) + ", " + std::to_string(p.y) + ", " + std::to_string(p.z)
                        + "), which is no usable position";
                record.chainID = chain.name;
                record.residueName = rightAligned(residue.name, 3);
                record.residueNumber = rightAligned(number, 4);
                record.xyz[0] = p.x;
                record.xyz[1] = p.y;
                record.xyz[2] = p.z;
                if (polymer && !terminated) polymerAtoms = true;
                out.records.push_back(std::move(record));
            }
        }
        if (polymerAtoms && !terminated) terminate();
    }
    if (dropped > 0)
        console::Line() << "Assembly copies that fall on atoms already present are left out: " << dropped << " atoms";
    return {};
}

/// Reads `path` with gemmi into `st`, the file's text held once and inflated at most to the
/// cap the memory available allows. mmCIF assembly tables are read as `request` needs them,
/// or all of them (`listing`); an NMR temperature goes to `temperature`. The text says why the
/// file cannot be used.
std::string readWithGemmi(const std::filesystem::path& path, const AssemblyRequest& request, bool listing,
                          uint64_t available, gemmi::Structure& st, double& temperature)
{
    std::string text;
    if (std::string why = readStructureText(path, structureTextCap(available), text); !why.empty()) return why;
    const uint64_t textBytes = text.size();
    try {
        if (isMmcifPath(path)) {
            gemmi::cif::Document doc = gemmi::cif::read_memory(text.data(), text.size(), path.c_str());
            std::string().swap(text);
            if (doc.blocks.empty()) return "it holds no data block";
            gemmi::cif::Block& block = doc.blocks.front();
            std::string why = listing ? assemblyTablesProblem(block) : checkMmcifBlock(block);
            if (why.empty() && !listing) why = prepareAssemblyTables(block, request);
            if (!why.empty()) return why;
            // NMR structures give their temperature with the sample conditions.
            if (const std::string* t = block.find_value("_pdbx_nmr_exptl_sample_conditions.temperature"))
                if (double k = 0.0; !gemmi::cif::is_null(*t) && text::parseDouble(gemmi::cif::as_string(*t), k))
                    temperature = k;
            st = gemmi::make_structure(std::move(doc));
        } else {
            // gemmi's PDB reader spends some 80 ns on every line, whatever it holds: a
            // gigabyte of line ends took minutes.
            text::dropLongBlankRuns(text, kMostBlankLinesKept);
            st = gemmi::read_pdb_from_memory(text.data(), text.size(), path.string());
            std::string().swap(text);
            // REMARK 200 and 230: the experiment and its temperature, as the PDB reader has them.
            gemmi::read_metadata_from_remarks(st);
        }
        gemmi::add_entity_types(st, false);
    } catch (const std::bad_alloc&) {
        return "there is not enough memory to read its " + memorySize(textBytes) + " of text (" + memorySize(available)
            + " of memory is available)";
    } catch (const std::exception& e) {
        return std::string("it cannot be read: ") + e.what();
    }
    return {};
}

/// Reads `path` with gemmi into `out`; the text says why it cannot be used.
std::string readLibraryStructure(const std::filesystem::path& path, const AssemblyRequest& request,
                                 uint64_t available, LibraryStructure& out)
{
    gemmi::Structure st;
    if (std::string why = readWithGemmi(path, request, false, available, st, out.temperature); !why.empty())
        return why;
    if (st.models.empty()) return "it holds no atoms";

    out.code = text::trimmed(st.get_info("_entry.id"));
    if (out.code.empty()) out.code = text::trimmed(st.name);
    for (const auto& experiment : st.meta.experiments) {
        if (text::contains(experiment.method, "NMR")) out.experiment = 1;
        else if (text::contains(experiment.method, "X-RAY DIFFRACTION")) out.experiment = 0;
        if (out.experiment >= 0) break;
    }
    // A PDB file's EXPDTA (the method when no REMARK names it).
    if (out.experiment < 0) {
        const std::string method = st.get_info("_exptl.method");
        if (text::contains(method, "NMR")) out.experiment = 1;
        else if (text::contains(method, "X-RAY DIFFRACTION")) out.experiment = 0;
    }
    for (const auto& crystal : st.meta.crystals)
        for (const auto& diffraction : crystal.diffractions)
            if (std::isnan(out.temperature) && std::isfinite(diffraction.temperature)) out.temperature = diffraction.temperature;

    if (!request.wanted()) {
        for (const gemmi::Model& model : st.models)
            if (std::string why = modelRecords(model, false, out); !why.empty()) return why;
        return {};
    }
    gemmi::Assembly assembly(request.id);
    if (std::string why = pickAssembly(st, request, assembly); !why.empty()) return why;
    if (std::string why = assemblyMemory(st.models.front(), assembly, available); !why.empty()) return why;
    gemmi::Model built(st.models.front().name);
    try {
        built = gemmi::make_assembly(assembly, st.models.front(), gemmi::HowToNameCopiedChain::AddNumber, nullptr);
    } catch (const std::bad_alloc&) {
        return "there is not enough memory to build assembly " + request.id + " (" + memorySize(available)
            + " of memory is available)";
    } catch (const std::exception& e) {
        return "assembly " + request.id + " cannot be built: " + e.what();
    }
    st.models.clear();
    return modelRecords(built, true, out);
}

/// The chains of a model that hold polymer residues: by author chain name (REMARK 350) and by
/// label_asym_id (mmCIF).
struct PolymerChains {
    std::unordered_set<std::string> names, subchains;
    explicit PolymerChains(const gemmi::Model& model)
    {
        for (const gemmi::Chain& chain : model.chains)
            for (const gemmi::Residue& residue : chain.residues)
                if (residue.entity_type == gemmi::EntityType::Polymer) {
                    names.insert(chain.name);
                    subchains.insert(residue.subchain);
                }
    }
    /// Whether `gen` names every one of them.
    bool coveredBy(const gemmi::Assembly::Gen& gen) const
    {
        const bool byName = !gen.chains.empty();
        const std::vector<std::string>& named = byName ? gen.chains : gen.subchains;
        const std::unordered_set<std::string> listed(named.begin(), named.end());
        const auto& wanted = byName ? names : subchains;
        return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& n) { return listed.count(n) > 0; });
    }
};

bool isIdentity(const gemmi::Transform& t)
{
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(t.vec.at(i)) > 1.0e-4) return false;
        for (int j = 0; j < 3; ++j)
            if (std::fabs(t.mat[i][j] - (i == j ? 1.0 : 0.0)) > 1.0e-5) return false;
    }
    return true;
}

std::string lettersAndDigits(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (text::isAlphanumeric(std::string_view(&c, 1))) out += c;
    return out;
}

/// Eight hexadecimal digits of the FNV-1a hash of `text`.
std::string shortHash(const std::string& text)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : text) h = (h ^ c) * 16777619u;
    char buffer[9];
    std::snprintf(buffer, sizeof buffer, "%08x", h);
    return buffer;
}

/// A whole number without sign or leading zero ("0" itself is one).
bool isPlainNumber(const std::string& id, long& value)
{
    if (id.empty() || id.size() > 9 || (id.size() > 1 && id.front() == '0')) return false;
    for (char c : id)
        if (c < '0' || c > '9') return false;
    value = std::stol(id);
    return true;
}

} // namespace

std::optional<std::vector<AssemblyInfo>> listAssemblies(const std::filesystem::path& path, std::string& error)
{
    error = regularFileProblem(path);
    if (!error.empty()) return std::nullopt;
    gemmi::Structure st;
    double temperature = NAN;
    error = readWithGemmi(path, {}, true, availablePhysicalMemory(), st, temperature);
    if (!error.empty()) {
        error = path.string() + " cannot be used: " + error + ".";
        return std::nullopt;
    }
    std::vector<AssemblyInfo> list;
    const std::optional<PolymerChains> polymer =
        st.models.empty() ? std::nullopt : std::optional<PolymerChains>(st.models.front());
    for (const gemmi::Assembly& a : st.assemblies) {
        AssemblyInfo info;
        info.id = a.name;
        info.details = text::trimmed(a.oligomeric_details);
        info.operators = operatorIds(a);
        bool identityOnly = true, everyChain = !st.models.empty();
        for (const auto& gen : a.generators) {
            for (const auto& op : gen.operators) identityOnly = identityOnly && isIdentity(op.transform);
            everyChain = everyChain && !gen.operators.empty() && polymer->coveredBy(gen);
        }
        info.sameAsFile = identityOnly && everyChain && info.operators.size() == 1;
        list.push_back(std::move(info));
    }
    return list;
}

std::string assemblyRequestProblem(const std::filesystem::path& path, const AssemblyRequest& request)
{
    if (!request.wanted()) return {};
    std::string error;
    const std::optional<std::vector<AssemblyInfo>> described = listAssemblies(path, error);
    if (!described) return error;
    const auto found =
        std::find_if(described->begin(), described->end(), [&](const AssemblyInfo& a) { return a.id == request.id; });
    if (found == described->end()) {
        std::vector<std::string> ids;
        for (const AssemblyInfo& a : *described) ids.push_back(a.id);
        return path.string() + " describes no assembly " + request.id
            + (ids.empty() ? " (it describes none)" : " (it describes " + joined(ids) + ")");
    }
    for (const std::string& id : request.copies)
        if (std::find(found->operators.begin(), found->operators.end(), id) == found->operators.end())
            return "assembly " + request.id + " has no operator " + id + " (it has " + std::to_string(found->copies())
                + ")";
    return {};
}

std::string assemblyMemoryProblem(uint64_t atoms, uint64_t nodes, uint64_t available)
{
    const uint64_t need =
        saturatedSum(saturatedProduct(atoms, kAssemblyBytesPerAtom), saturatedProduct(nodes, kNetworkBytesPerNode));
    if (available == 0 || need <= available) return {};
    return "its " + std::to_string(atoms) + " atoms (" + std::to_string(nodes) + " nodes) need about "
        + memorySize(need) + " of memory to be read into a network, and " + memorySize(available) + " is available";
}

std::string assemblyNetworkName(const std::string& code, const AssemblyRequest& request)
{
    if (!request.wanted()) return code;
    std::string name = lettersAndDigits(code);
    if (name.empty()) name = "XXXX";
    name += "A" + (text::isAlphanumeric(request.id) ? request.id : "h" + shortHash(request.id));
    if (request.copies.empty()) return name;
    // Whole numbers as runs ("5to7" for three or more in a row, separated by "x"), in the order
    // asked for: the order of the copies is the order of the nodes.
    std::string list;
    bool numbers = true;
    std::vector<long> values;
    for (const std::string& id : request.copies) {
        long v = 0;
        numbers = numbers && isPlainNumber(id, v);
        values.push_back(v);
    }
    for (std::size_t i = 0; numbers && i < values.size();) {
        std::size_t j = i;
        while (j + 1 < values.size() && values[j + 1] == values[j] + 1) ++j;
        if (!list.empty()) list += "x";
        if (j >= i + 2) {
            list += std::to_string(values[i]) + "to" + std::to_string(values[j]);
            i = j + 1;
        } else {
            list += std::to_string(values[i]);
            ++i;
        }
    }
    constexpr std::size_t kLongest = 32;
    if (!numbers || list.size() > kLongest)
        list = std::to_string(request.copies.size()) + "h" + shortHash(joined(request.copies));
    return name + "C" + list;
}

bool isMmcifPath(const std::filesystem::path& path)
{
    std::string name = lower(path.filename().string());
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) name.resize(name.size() - 3);
    for (const char* ext : {".cif", ".mmcif"}) {
        const std::size_t n = std::strlen(ext);
        if (name.size() > n && name.compare(name.size() - n, n, ext) == 0) return true;
    }
    return false;
}

std::optional<std::vector<std::string>> parseCopyList(std::string_view text, std::string& error)
{
    std::vector<std::string> ids;
    std::set<std::string> seen;
    auto add = [&](std::string id) {
        if (!seen.insert(id).second) {
            error = "copy " + id + " is listed twice";
            return false;
        }
        ids.push_back(std::move(id));
        return ids.size() <= kMostCopies || (error = "more than " + std::to_string(kMostCopies) + " copies", false);
    };
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t comma = std::min(text.find(',', pos), text.size());
        const std::string item = text::trimmed(text.substr(pos, comma - pos));
        pos = comma + 1;
        if (item.empty()) {
            error = "an empty copy id in '" + std::string(text) + "'";
            return std::nullopt;
        }
        const std::size_t dash = item.find('-', 1);
        long first = 0, last = 0;
        const char* b = item.data();
        const bool range = dash != std::string::npos
            && std::from_chars(b, b + dash, first).ptr == b + dash
            && std::from_chars(b + dash + 1, b + item.size(), last).ptr == b + item.size();
        if (!range) {
            if (!add(item)) return std::nullopt;
            continue;
        }
        if (last < first || static_cast<unsigned long>(last - first) >= kMostCopies) {
            error = "the range " + item + " is reversed or too long";
            return std::nullopt;
        }
        // Counted from the first, so that a range ending at the largest number stops there.
        for (long k = 0; k <= last - first; ++k)
            if (!add(std::to_string(first + k))) return std::nullopt;
    }
    return ids;
}

bool FileHandle::openStructure(const std::filesystem::path& path, const AssemblyRequest& assembly,
                               const std::function<uint64_t()>& availableMemory)
{
    if (!isMmcifPath(path) && !assembly.wanted()) return openFile(path);
    chainIndex = -1;
    loadError.clear();
    loadStart = std::chrono::steady_clock::now();

    LibraryStructure structure;
    std::string why = regularFileProblem(path);
    if (why.empty()) {
        why = readLibraryStructure(path, assembly, availableMemory ? availableMemory() : availablePhysicalMemory(),
                                   structure);
        if (why.empty() && structure.records.empty()) why = "it holds no atoms";
        // The network of an assembly has a name of its own, so that its eigen data files do
        // not take the place of the file's own.
        if (why.empty() && assembly.wanted())
            structure.code = assemblyNetworkName(structure.code.empty() ? "XXXX" : structure.code, assembly);
        if (!why.empty()) why = path.string() + " cannot be used: " + why + ".";
    }
    if (!why.empty()) {
        // Refused whole: no atom, node or record line of it is kept.
        console::line("Unable to open file");
        loadError = why;
        console::write(console::Warning, loadError);
        userPrompts().messageBox(kPdbFileError, loadError, MessageIcon::Warning, MessageButtons::Ok);
    } else {
        takeLibraryStructure(structure);
    }
    console::Line() << "Total Amount of atoms: " << atomCount << "Arraysize: " << atomList.size();
    loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
    console::Line() << "Time taken to load file: " << loadSeconds;
    return loadError.empty();
}

void FileHandle::takeLibraryStructure(LibraryStructure& structure)
{
    std::string code = structure.code.empty() ? "XXXX" : structure.code;
    // The header line carries the code in column 63, as a PDB HEADER does.
    std::string header = "HEADER";
    header.resize(62, ' ');
    header += code;
    elasticNetwork->addLineInfo(std::string(header));
    elasticNetwork->savePdBHeaderLine(header);
    lineCounter = 1;
    console::Line() << "Before: " << code;
    elasticNetwork->enterPDBName(code);
    console::line(code);

    typeMissing = structure.experiment < 0;
    if (structure.experiment == 1) console::line("Found NMR Experiment data...");
    if (structure.experiment == 0) console::line("Found X-RAY DIFFRACTION Experiment data...");
    if (!typeMissing) elasticNetwork->set_NMR_Exp(structure.experiment == 1);
    temperatureMissing = !std::isfinite(structure.temperature);
    if (!temperatureMissing) {
        if (std::fabs(structure.temperature) > FLT_MAX) {
            console::Line(console::Warning) << "The experiment temperature " << structure.temperature
                                            << " K cannot be used; 300 K is used instead.";
            structure.temperature = 300.0;
        }
        elasticNetwork->set_X_RAY_Temperature(static_cast<float>(structure.temperature));
    }

    atomList.reserve(structure.records.size());
    for (LibraryRecord& r : structure.records) {
        if (r.terminator) {
            terminateChain(r.line, false);
            continue;
        }
        pdb::AtomRecord record;
        if (!pdb::readAtomRecord(r.line, record)) continue; // never: the line was written to be read
        std::copy(std::begin(r.xyz), std::end(r.xyz), record.coordinates);
        record.position = units::toModel(
            Vector3d(static_cast<float>(r.xyz[0]), static_cast<float>(r.xyz[1]), static_cast<float>(r.xyz[2])));
        record.chainID = std::move(r.chainID);
        record.residueName = std::move(r.residueName);
        record.residueNumber = std::move(r.residueNumber);
        ++lineCounter;
        elasticNetwork->addLineInfo(std::string(r.line));
        addAtom(r.line, record);
        std::string().swap(r.line);
    }
    finishLoad();
}

} // namespace vornax
