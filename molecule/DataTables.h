// Per-element display colour (CPK) and sphere radius (van der Waals plus the haptic probe).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vornax {

class DataTables {
public:
    /// Builds both tables; radii include the current class-wide origHapticRadius.
    DataTables();
    virtual ~DataTables() = default;

    /// Element symbol (upper case, exact) → RGB 0..1.
    std::map<std::string, std::vector<float>> getColourList() const { return colourList; }
    /// Element symbol (upper case, exact) → radius in model units (0.1 Å), probe included.
    std::map<std::string, float> getVDWRadii() const { return vdwRadii; }

    /// Look-ups without copying the maps; false when the element has no entry.
    bool findColour(const std::string& element, float rgb[3]) const;
    bool findRadius(const std::string& element, float& radius) const;

private:
    void create_CPK_ColourList();
    void create_VanDerWaals_AtomicRadii();

    std::map<std::string, std::vector<float>> colourList;
    std::map<std::string, float> vdwRadii;
};

} // namespace vornax
