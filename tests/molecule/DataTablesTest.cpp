#include "molecule/DataTables.h"
#include "molecule/SuperAtom.h"

#include <gtest/gtest.h>

using namespace vornax;

TEST(DataTablesTest, RadiiIncludeTheHapticProbeAtBuildTime)
{
    const float saved = SuperAtom::getOrigHapticRadius();
    SuperAtom::setAllHapticRadii(25.0f); // a configured haptic radius of 2.5 Å
    DataTables tables;
    SuperAtom::setAllHapticRadii(saved);

    const auto radii = tables.getVDWRadii();
    EXPECT_EQ(radii.size(), 39u);
    EXPECT_FLOAT_EQ(radii.at("C"), 25.0f + 17.0f);
    EXPECT_FLOAT_EQ(radii.at("K"), 25.0f + 27.5f);
    EXPECT_FLOAT_EQ(radii.at("ZN"), 25.0f + 13.9f);
    // Calcium has a colour but no radius; most radius elements have no colour.
    EXPECT_EQ(radii.count("CA"), 0u);
    EXPECT_EQ(tables.getColourList().count("AG"), 0u);
    // Built tables keep their radii when the probe changes later.
    EXPECT_FLOAT_EQ(tables.getVDWRadii().at("C"), 42.0f);
    DataTables defaults;
    EXPECT_FLOAT_EQ(defaults.getVDWRadii().at("C"), saved + 17.0f);
}

TEST(DataTablesTest, ColoursAndExactLookups)
{
    DataTables tables;
    const auto colours = tables.getColourList();
    EXPECT_EQ(colours.size(), 15u);
    EXPECT_EQ(colours.at("C"), (std::vector<float>{200 / 255.0f, 200 / 255.0f, 200 / 255.0f}));
    EXPECT_EQ(colours.at("CA"), (std::vector<float>{128 / 255.0f, 128 / 255.0f, 128 / 255.0f}));
    EXPECT_EQ(colours.at("UNKNOWN"), (std::vector<float>{1.0f, 20 / 255.0f, 147 / 255.0f}));
    float rgb[3];
    EXPECT_TRUE(tables.findColour("FE", rgb));
    EXPECT_FALSE(tables.findColour("Fe", rgb));
    float r = 0;
    EXPECT_TRUE(tables.findRadius("FE", r));
    EXPECT_FALSE(tables.findRadius("Fe", r));
    EXPECT_FALSE(tables.findRadius("", r));
}
