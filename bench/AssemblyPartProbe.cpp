// A compact part of a biological assembly of a PDB file: one copy and the copies whose centres
// lie nearest to it, for benchmarks that load more than one copy but less than the whole
// assembly. Prints the operator ids as a --copies list on the first line of stdout, then, with the part built, its
// nodes, springs and the number of connected networks it forms at the cutoff.
//
//   assembly_part_probe FILE ASSEMBLY [--around ID] [--count N] [--rc 11]
//
// Defaults: around the assembly's first operator, 12 copies in all. A copy's centre is the mean
// position of the network nodes the copy brings; it is found from the first copy's own centre
// and the operators (an assembly of one generator, as PDB files' REMARK 350 give them).
#include "common/Console.h"
#include "enm/Pipeline.h"
#include "enm/sparse/SparseHessian.h"

#include <gemmi/gz.hpp>
#include <gemmi/pdb.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <numeric>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::cerr << "usage: assembly_part_probe FILE ASSEMBLY [--around ID] [--count N] [--rc ANGSTROM]\n";
    return 2;
}

/// Connected networks among `n` nodes joined by the springs of their Hessian's pattern.
int components(const vornax::SparseMatrixD& h, int32_t n)
{
    std::vector<int32_t> parent(static_cast<std::size_t>(n));
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&](int32_t i) {
        while (parent[static_cast<std::size_t>(i)] != i) i = parent[static_cast<std::size_t>(i)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
        return i;
    };
    int count = n;
    for (int c = 0; c < h.outerSize(); c += 3)
        for (vornax::SparseMatrixD::InnerIterator it(h, c); it; ++it) {
            const int32_t a = root(c / 3), b = root(static_cast<int32_t>(it.row() / 3));
            if (a != b) parent[static_cast<std::size_t>(a)] = b, --count;
        }
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace vornax;
    if (argc < 3) return usage();
    const std::string file = argv[1];
    AssemblyRequest request;
    request.id = argv[2];
    std::string around;
    std::size_t count = 12;
    float rc = 11.0f;
    for (int i = 3; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) return usage();
        if (flag == "--around") around = argv[++i];
        else if (flag == "--count") count = static_cast<std::size_t>(std::max(1, std::atoi(argv[++i])));
        else if (flag == "--rc") rc = std::strtof(argv[++i], nullptr);
        else return usage();
    }
    console::setSink([](int, const std::string&) {});

    // The assembly's operators, as the structure reader sees them.
    const gemmi::Assembly* assembly = nullptr;
    gemmi::Structure st;
    try {
        st = gemmi::read_pdb(gemmi::MaybeGzipped(file));
    } catch (const std::exception& e) {
        std::cerr << file << " cannot be read: " << e.what() << '\n';
        return 1;
    }
    for (const auto& a : st.assemblies)
        if (a.name == request.id) assembly = &a;
    if (!assembly || assembly->generators.size() != 1) {
        std::cerr << file << " has no assembly " << request.id << " of one generator\n";
        return 1;
    }
    const auto& operators = assembly->generators.front().operators;
    if (around.empty()) around = operators.front().name;
    const auto centreOp = std::find_if(operators.begin(), operators.end(), [&](const auto& op) { return op.name == around; });
    if (centreOp == operators.end()) {
        std::cerr << "assembly " << request.id << " has no operator " << around << '\n';
        return 1;
    }

    // The centre of copy `around`, from its own nodes.
    LoadOptions options;
    options.rc = rc;
    options.lastStage = LoadStage::Network;
    request.copies = {around};
    LoadResult one = runLoadPipeline(StructureSource::pdbFile(file, request), options);
    if (!one.ok()) {
        std::cerr << one.message << '\n';
        return 1;
    }
    const std::vector<double>& xyz = one.network->geometry().getNodeCoordinates();
    const int32_t perCopy = one.network->getAmountOfAtoms();
    gemmi::Position centre(0, 0, 0);
    for (int32_t i = 0; i < perCopy; ++i) centre += gemmi::Position(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
    centre /= perCopy;
    // Back to the untransformed chains, then out through each operator.
    const gemmi::Position base(centreOp->transform.inverse().apply(centre));
    struct Copy {
        std::string id;
        double distance;
    };
    std::vector<Copy> copies;
    for (const auto& op : operators)
        copies.push_back({op.name, op.name == around ? -1.0 : gemmi::Position(op.transform.apply(base)).dist(centre)});
    // Symmetry mates lie at equal distances up to rounding: to 0.001 Å, the first operator first.
    for (Copy& c : copies) c.distance = std::round(c.distance * 1000.0) / 1000.0;
    std::stable_sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) { return a.distance < b.distance; });
    if (count < copies.size() && copies[count].distance == copies[count - 1].distance)
        std::cerr << "copies " << copies[count - 1].id << " and " << copies[count].id << " lie equally far ("
                  << copies[count].distance << " A): the first in the assembly's order is taken\n";
    copies.resize(std::min(count, copies.size()));

    std::string list;
    request.copies.clear();
    for (const Copy& c : copies) {
        list += (list.empty() ? "" : ",") + c.id;
        request.copies.push_back(c.id);
    }
    std::cout << list << '\n';
    std::cout << "centre distances (A):";
    for (const Copy& c : copies) std::cout << ' ' << c.id << ':' << std::max(c.distance, 0.0);
    std::cout << '\n';

    LoadResult part = runLoadPipeline(StructureSource::pdbFile(file, request), options);
    if (!part.ok()) {
        std::cerr << part.message << '\n';
        return 1;
    }
    const ElasticNetworkModel& eln = *part.network;
    int64_t orderedPairs = 0;
    const SparseMatrixD h = buildSparseHessian(eln.geometry().getNodeCoordinates().data(), eln.getAmountOfAtoms(), rc, &orderedPairs);
    const int networks = components(h, eln.getAmountOfAtoms());
    std::cout << copies.size() << " copies, " << eln.getAmountOfAtoms() << " nodes, " << orderedPairs / 2
              << " springs, " << networks << (networks == 1 ? " connected network" : " separate networks") << " at Rc "
              << rc << " A\n";
    return networks == 1 ? 0 : 3;
}
