// Shared pieces of the fuzz harnesses: a silent console, prompts that answer every question
// with its default, and fuzz input laid out as files (the readers take paths).
#pragma once

#include "common/Console.h"
#include "common/UserPrompts.h"
#include "enm/Pipeline.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include <unistd.h>

namespace vornax::fuzz {

/// Answers OK/Yes and enters no text, without recording anything.
class QuietPrompts : public UserPrompts {
public:
    MessageAnswer messageBox(const std::string&, const std::string&, MessageIcon, MessageButtons buttons) override
    {
        return buttons == MessageButtons::Ok || buttons == MessageButtons::OkCancel ? MessageAnswer::Ok
                                                                                    : MessageAnswer::Yes;
    }
    std::optional<std::string> askText(const TextPrompt&) override { return std::nullopt; }
};

/// Once per process: console lines go nowhere, questions get their default answers.
inline void quietOnce()
{
    static const bool done = [] {
        console::setSink([](int, const std::string&) {});
        static QuietPrompts prompts;
        setUserPrompts(&prompts);
        return true;
    }();
    (void)done;
}

/// A file of this process holding given bytes; rewritten for every input.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& suffix)
    {
        const std::filesystem::path dir =
            std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        static int counter = 0;
        m_path = dir / ("vornax-fuzz-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + suffix);
    }
    ~ScratchFile()
    {
        std::error_code ec;
        std::filesystem::remove(m_path, ec);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::filesystem::path& write(std::string_view bytes)
    {
        std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return m_path;
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

/// Splits an input at its first "\n--8<--\n" (or not at all): two files' worth of bytes.
inline std::pair<std::string_view, std::string_view> splitInput(const uint8_t* data, std::size_t size)
{
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view kCut = "\n--8<--\n";
    const auto at = all.find(kCut);
    if (at == std::string_view::npos) return {all, {}};
    return {all.substr(0, at), all.substr(at + kCut.size())};
}

/// C-alpha chain of a few residues, enough for a network with non-rigid modes.
inline constexpr const char* kSmallStructure =
    "ATOM      1  CA  ALA A   1       0.000   0.000   0.000  1.00 20.00           C\n"
    "ATOM      2  CA  ALA A   2       3.800   0.000   0.000  1.00 21.00           C\n"
    "ATOM      3  CA  ALA A   3       3.800   3.800   0.000  1.00 22.00           C\n"
    "ATOM      4  CA  ALA A   4       0.000   3.800   1.500  1.00 23.00           C\n"
    "ATOM      5  CA  ALA A   5       0.500   1.200   4.900  1.00 24.00           C\n"
    "ATOM      6  CA  ALA A   6       4.100   1.900   5.400  1.00 25.00           C\n"
    "END\n";

/// Loads `file` (as `assembly` when one is named) up to the built network: it loads, or it is
/// refused with a message and keeps nothing; anything else stops the fuzzer.
inline void loadToNetwork(const std::filesystem::path& file, const AssemblyRequest& assembly = {})
{
    LoadOptions options;
    options.lastStage = LoadStage::Network;
    // The fuzzer allows 2 GiB: the readers' caps are those of a machine with 1 GiB available
    // (structure text of at most 128 MiB).
    options.machineFacts.availableMemory = [] { return uint64_t{1} << 30; };
    LoadResult load = runLoadPipeline(StructureSource::pdbFile(file, assembly), options);
    if (load.ok() != (load.network != nullptr)) __builtin_trap();
    if (!load.ok() && load.message.empty()) __builtin_trap();
}

} // namespace vornax::fuzz
