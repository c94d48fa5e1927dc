// Which eigen data file a name is: the one rule for telling them apart, by extension in any case.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vornax {

/// A main eigen data file (.hdv).
bool isMainEigenDataFile(const std::filesystem::path& file);
/// A response matrix file (.ppy).
bool isResponseMatrixFile(const std::filesystem::path& file);
/// True when a main eigen data file is among `names` (without one, nothing can be loaded).
bool hasMainEigenDataFile(const std::vector<std::string>& names);

} // namespace vornax
