// The run-time data folders (Shaders, Textures, Video, Help, TutorialFiles) sit beside the
// executable; $VORNAX_DATA_DIR, when set, names another folder that holds them.
#pragma once

#include <filesystem>
#include <string>

namespace vornax {

/// `relative` (for example "Shaders/PhongMultiLight.vert") under the data folder.
std::filesystem::path runtimeDataPath(const std::string& relative);

} // namespace vornax
