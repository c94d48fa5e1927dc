#include "enm/NodeMaps.h"

#include "common/Units.h"
#include "enm/Calibration.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/NetworkMaps.h"
#include "molecule/Atom.h"

#include <algorithm>
#include <cmath>

namespace vornax {

namespace {

/// The modes of the current selection (0-based), among `count` held.
std::vector<int32_t> selectedModes(const ElasticNetworkModel& network, int32_t count)
{
    std::vector<int32_t> modes;
    switch (network.getModeSelectState()) {
    case 0: {
        const std::array<int32_t, 20> list = network.getModeArray();
        for (int32_t k = 0; k < network.getAmountSelected() && k < 20; ++k)
            if (list[static_cast<std::size_t>(k)] < count) modes.push_back(list[static_cast<std::size_t>(k)]);
        break;
    }
    case 1:
        for (int32_t k = 0; k < std::min(network.getAmountSelected(), count); ++k) modes.push_back(k);
        break;
    default:
        for (int32_t k = 0; k < std::min(network.getTotalMaxModes(), count); ++k) modes.push_back(k);
    }
    return modes;
}

void setRange(NodeMap& map)
{
    bool any = false;
    for (const double v : map.values) {
        if (!std::isfinite(v)) continue;
        map.low = any ? std::min(map.low, v) : v;
        map.high = any ? std::max(map.high, v) : v;
        any = true;
    }
}

} // namespace

const char* colourByName(ColourBy by)
{
    switch (by) {
    case ColourBy::None: return "None";
    case ColourBy::Displacement: return "Displacement";
    case ColourBy::Fluctuation: return "Fluctuation (all modes)";
    case ColourBy::SelectedFluctuation: return "Fluctuation (selected modes)";
    case ColourBy::BFactor: return "B-factors";
    case ColourBy::Effectiveness: return "Response effectiveness";
    case ColourBy::Sensitivity: return "Response sensitivity";
    case ColourBy::ModeShape: return "Mode shape";
    }
    return "";
}

double NodeMap::fraction(double value) const
{
    if (!std::isfinite(value)) return 0.0;
    if (!(high > low)) return 0.5;
    return std::clamp((value - low) / (high - low), 0.0, 1.0);
}

std::optional<NodeMap> nodeMap(const ElasticNetworkModel& network, ColourBy by, int32_t mode, std::string& why)
{
    NodeMap map;
    map.by = by;
    const int32_t n = network.getAmountOfAtoms();
    if (by == ColourBy::None || n <= 0 || !network.deformation().hasNodeAtoms()) {
        why = by == ColourBy::None ? "" : "no structure is loaded";
        return std::nullopt;
    }
    // The displacement and the B-factors need no modes (and the displacement is made again
    // every frame while it is shown).
    const bool needsModes = by != ColourBy::Displacement && by != ColourBy::BFactor;
    const HeldModes held = needsModes ? heldModes(network) : HeldModes{};
    if (needsModes && held.rows.count == 0) {
        why = "the structure's modes are not held";
        return std::nullopt;
    }
    map.values.assign(static_cast<std::size_t>(n), 0.0);
    switch (by) {
    case ColourBy::None: break;
    case ColourBy::Displacement:
        map.title = "Displacement (Å)";
        for (int32_t i = 0; i < n; ++i)
            map.values[static_cast<std::size_t>(i)] =
                network.deformation().getDeformedPosition(i).euclideanDistance(network.getAtom(i)->getMyLocalPosition())
                / units::kModelUnitsPerAngstrom;
        break;
    case ColourBy::Fluctuation:
    case ColourBy::SelectedFluctuation: {
        const std::vector<int32_t> modes =
            by == ColourBy::Fluctuation ? allModes(held.rows) : selectedModes(network, held.rows.count);
        const double kT = thermalEnergy(network.geometry().getTemperature());
        ModeRows calibrated = held.rows;
        calibrated.inverse = held.inverseStiffness;
        map.values = squareFluctuations(calibrated, modes);
        for (double& v : map.values) v *= kT;
        map.title = std::string(by == ColourBy::Fluctuation ? "Fluctuation" : "Fluctuation, selected modes")
            + (held.rows.sparse && by == ColourBy::Fluctuation ? ", lowest modes" : "") + " (Å²)";
        break;
    }
    case ColourBy::BFactor:
        map.title = "B-factor (Å²)";
        for (int32_t i = 0; i < n; ++i) map.values[static_cast<std::size_t>(i)] = network.getAtom(i)->getMyBFactor();
        break;
    case ColourBy::Effectiveness:
    case ColourBy::Sensitivity: {
        const std::optional<PerturbResponse> prs = networkResponse(network, why);
        if (!prs) return std::nullopt;
        map.values = by == ColourBy::Effectiveness ? prs->effectiveness : prs->sensitivity;
        map.title = by == ColourBy::Effectiveness ? "Effectiveness" : "Sensitivity";
        break;
    }
    case ColourBy::ModeShape: {
        if (mode < 0 || mode >= held.rows.count) {
            why = "mode " + std::to_string(mode + 1) + " is not held";
            return std::nullopt;
        }
        const double* v = held.rows.rows + static_cast<std::size_t>(mode) * static_cast<std::size_t>(held.rows.dim);
        for (std::size_t i = 0; i < map.values.size(); ++i) map.values[i] = std::sqrt(nodePartSquared(v, i));
        map.title = "Mode " + std::to_string(mode + 1) + " amplitude";
        break;
    }
    }
    setRange(map);
    return map;
}

bool NodeColouring::choose(ColourBy by, int32_t mode, const ElasticNetworkModel& network, std::string& why)
{
    if (by == ColourBy::None) {
        clear();
        return true;
    }
    std::optional<NodeMap> map = nodeMap(network, by, mode, why);
    if (!map) return false;
    m_map = std::move(map);
    m_mode = mode;
    m_positionsVersion = network.deformation().positionsVersion();
    ++m_version;
    return true;
}

void NodeColouring::show(NodeMap map)
{
    setRange(map);
    m_map = std::move(map);
    ++m_version;
}

void NodeColouring::clear()
{
    if (!m_map) return;
    m_map.reset();
    ++m_version;
}

void NodeColouring::refresh(const ElasticNetworkModel& network)
{
    if (!m_map || m_map->by != ColourBy::Displacement) return;
    // Nothing to do until the simulation step publishes new positions.
    const uint64_t published = network.deformation().positionsVersion();
    if (published == m_positionsVersion) return;
    m_positionsVersion = published;
    std::string why;
    std::optional<NodeMap> map = nodeMap(network, ColourBy::Displacement, m_mode, why);
    if (!map) return;
    if (map->values != m_map->values) {
        m_map = std::move(map);
        ++m_version;
    }
}

} // namespace vornax
