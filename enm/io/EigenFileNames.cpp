#include "enm/io/EigenFileNames.h"

#include <cctype>
#include <string>

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

} // namespace vornax
