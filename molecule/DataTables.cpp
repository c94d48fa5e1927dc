#include "molecule/DataTables.h"

#include "molecule/SuperAtom.h"

namespace vornax {

DataTables::DataTables()
{
    create_CPK_ColourList();
    create_VanDerWaals_AtomicRadii();
}

void DataTables::create_CPK_ColourList()
{
    auto rgb = [](int r, int g, int b) { return std::vector<float>{r / 255.0f, g / 255.0f, b / 255.0f}; };
    colourList = {
        {"C", rgb(200, 200, 200)}, {"O", rgb(240, 0, 0)},      {"H", rgb(255, 255, 255)},
        {"N", rgb(143, 143, 255)}, {"S", rgb(255, 200, 50)},   {"P", rgb(255, 165, 0)},
        {"CL", rgb(0, 255, 0)},    {"BR", rgb(165, 42, 42)},   {"ZN", rgb(165, 42, 42)},
        {"NA", rgb(0, 0, 255)},    {"FE", rgb(255, 165, 0)},   {"F", rgb(255, 165, 0)},
        {"MG", rgb(42, 128, 42)},  {"CA", rgb(128, 128, 128)}, {"UNKNOWN", rgb(255, 20, 147)},
    };
}

void DataTables::create_VanDerWaals_AtomicRadii()
{
    // Ten times the van der Waals radius in Å.
    static const std::pair<const char*, float> kRadii[] = {
        {"AG", 17.2f}, {"AR", 18.8f}, {"AS", 18.5f}, {"AU", 16.6f}, {"BR", 18.5f}, {"C", 17.0f},  {"CD", 15.8f},
        {"CL", 17.5f}, {"CU", 14.0f}, {"F", 14.7f},  {"FE", 14.7f}, {"GA", 18.7f}, {"H", 12.0f},  {"HE", 14.0f},
        {"HG", 15.5f}, {"I", 19.8f},  {"IN", 19.3f}, {"K", 27.5f},  {"KR", 20.2f}, {"LI", 18.2f}, {"MG", 17.3f},
        {"N", 15.5f},  {"NA", 22.7f}, {"NE", 15.4f}, {"NI", 16.3f}, {"O", 15.2f},  {"PB", 20.2f}, {"PD", 16.3f},
        {"PT", 17.2f}, {"S", 18.0f},  {"SE", 19.0f}, {"SI", 21.0f}, {"SN", 21.7f}, {"TE", 20.6f}, {"TL", 19.6f},
        {"U", 18.6f},  {"XE", 21.6f}, {"ZN", 13.9f}, {"P", 18.0f},
    };
    const float probe = SuperAtom::getOrigHapticRadius();
    vdwRadii.clear();
    for (const auto& [symbol, r] : kRadii) vdwRadii.emplace(symbol, probe + r);
}

bool DataTables::findColour(const std::string& element, float rgb[3]) const
{
    const auto it = colourList.find(element);
    if (it == colourList.end() || it->second.size() < 3) return false;
    rgb[0] = it->second[0];
    rgb[1] = it->second[1];
    rgb[2] = it->second[2];
    return true;
}

bool DataTables::findRadius(const std::string& element, float& radius) const
{
    const auto it = vdwRadii.find(element);
    if (it == vdwRadii.end()) return false;
    radius = it->second;
    return true;
}

} // namespace vornax
