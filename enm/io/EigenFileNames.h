// Which eigen data file a name is: the one rule for telling them apart, by extension in any case.
#pragma once

#include <filesystem>

namespace vornax {

/// A main eigen data file (.hdv).
bool isMainEigenDataFile(const std::filesystem::path& file);
/// A response matrix file (.ppy).
bool isResponseMatrixFile(const std::filesystem::path& file);

} // namespace vornax
