// Writes a PDB file as mmCIF with gemmi's own writer, for the reader tests' pairs of the same
// entry in both formats (tests/data/cif).
//
//   pdb_to_mmcif IN.pdb OUT.cif
#define GEMMI_WRITE_IMPLEMENTATION
#include <gemmi/gz.hpp>
#include <gemmi/pdb.hpp>
#include <gemmi/polyheur.hpp>
#include <gemmi/to_cif.hpp>
#include <gemmi/to_mmcif.hpp>

#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: pdb_to_mmcif IN.pdb OUT.cif\n";
        return 2;
    }
    try {
        gemmi::Structure st = gemmi::read_pdb(gemmi::MaybeGzipped(argv[1]));
        gemmi::setup_entities(st);
        std::ofstream out(argv[2]);
        gemmi::cif::write_cif_to_stream(out, gemmi::make_mmcif_document(st), gemmi::cif::Style::Pdbx);
        if (!out) throw std::runtime_error(std::string("cannot write ") + argv[2]);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
