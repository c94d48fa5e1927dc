// What the view can colour the nodes by: one number a node, with its name, unit and range.
//
//     NodeColouring colouring;
//     std::string why;
//     if (!colouring.choose(ColourBy::Fluctuation, 0, network, why)) tell(why);
//     every frame: colouring.refresh(network);   // the displacement follows the pull
//     const NodeMap* map = colouring.map();      // null for ColourBy::None
//
// Definitions: the displacement is |x_i − x_i⁰| (Å) of the deformation shown; the fluctuation
// is kT Σ_k |v_k,i|² / (K λ_k) (Å², calibrated; every held mode, or the modes selected); the
// B-factors are the file's (Å²); effectiveness and sensitivity are those of the
// perturbation-response map (NetworkMaps.h, every held mode; not on the sparse path); the mode
// shape is |v_k,i| of one mode (unitless, the vector having length 1).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornax {

class ElasticNetworkModel;

enum class ColourBy {
    None,
    Displacement,
    Fluctuation,
    SelectedFluctuation,
    BFactor,
    Effectiveness,
    Sensitivity,
    ModeShape
};

/// The choices in the order the page lists them, and their names.
inline constexpr ColourBy kColourChoices[] = {
    ColourBy::None,    ColourBy::Displacement,  ColourBy::Fluctuation, ColourBy::SelectedFluctuation,
    ColourBy::BFactor, ColourBy::Effectiveness, ColourBy::Sensitivity, ColourBy::ModeShape};
const char* colourByName(ColourBy by);

struct NodeMap {
    ColourBy by = ColourBy::None;
    std::vector<double> values; ///< one a node
    std::string title;          ///< what the legend says, with the unit
    double low = 0.0, high = 0.0;
    /// Where `value` lies between low and high, 0 to 1 (0.5 when they are equal).
    double fraction(double value) const;
};

/// The map of `by` on `network`; nothing, with `why`, when the network cannot give it. `mode` is
/// the mode of ColourBy::ModeShape (0 = the lowest non-rigid one).
std::optional<NodeMap> nodeMap(const ElasticNetworkModel& network, ColourBy by, int32_t mode, std::string& why);

/// The choice the view shows, kept up to date.
class NodeColouring {
public:
    /// False, the choice left as it was, with `why`, when `network` cannot give the map.
    bool choose(ColourBy by, int32_t mode, const ElasticNetworkModel& network, std::string& why);
    void clear();
    /// A map made elsewhere (such as one node's row of the response map).
    void show(NodeMap map);
    /// The maps that change while pulling are made again.
    void refresh(const ElasticNetworkModel& network);
    const NodeMap* map() const { return m_map ? &*m_map : nullptr; }
    ColourBy choice() const { return m_map ? m_map->by : ColourBy::None; }
    /// Counts the changes of map, range or values (for whoever draws it).
    uint64_t version() const { return m_version; }

private:
    std::optional<NodeMap> m_map;
    int32_t m_mode = 0;
    uint64_t m_version = 0;
    uint64_t m_positionsVersion = 0; ///< of the deformation's positions the displacement map shows
};

} // namespace vornax
