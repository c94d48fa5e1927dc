#include "enm/io/EigenFileNames.h"

#include <algorithm>
#include <cctype>

namespace vornax {

namespace {

std::string lowerExtension(const std::filesystem::path& file)
{
    std::string ext = file.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

} // namespace

bool isMainEigenDataFile(const std::filesystem::path& file) { return lowerExtension(file) == ".hdv"; }

bool isResponseMatrixFile(const std::filesystem::path& file) { return lowerExtension(file) == ".ppy"; }

bool hasMainEigenDataFile(const std::vector<std::string>& names)
{
    return std::any_of(names.begin(), names.end(), [](const std::string& name) { return isMainEigenDataFile(name); });
}

} // namespace vornax
