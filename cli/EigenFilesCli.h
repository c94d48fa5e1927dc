// The eigen data files in vornax-enm: `modes --out DIR` writes them, `load` reads them back
// through the mode budget, and `response` takes a main eigen data file in place of a PDB file.
#pragma once

#include "cli/CliSupport.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace vornax {
class ElasticNetworkModel;
}

#include "enm/Pipeline.h" // isMainEigenDataFile, isResponseMatrixFile

namespace vornax::cli {

class SolvedNetwork;

/// Makes sure <dir> exists as a folder for `modes --out`. Throws CliFailure.
void checkEigenFolder(const std::filesystem::path& dir);

/// The answer a run gives to the engine's "Data Required" question (hold Y or not); every
/// other message is handled as UnattendedPrompts does.
class EigenFilePrompts : public UnattendedPrompts {
public:
    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                             MessageButtons buttons) override;
    void setHoldY(bool hold) { m_holdY = hold; }

private:
    bool m_holdY = true;
};

struct LoadArguments {
    std::vector<std::string> files;
    std::string json = "-";
    bool withoutY = false;
    bool verbose = false;
};

/// The `load` subcommand and its help.
CLI::App* addLoadCommand(CLI::App& app, LoadArguments& args);
/// --ppy and --without-y for a command that accepts a main eigen data file as FILE.
void addEigenFileOptions(CLI::App* command, std::string& ppy, bool& withoutY);
/// --assembly ID and --copies LIST for a command that reads a structure file (checkedAssembly).
void addAssemblyOptions(CLI::App* command, std::string& assembly, std::string& copies);

/// The `load` report. Throws CliFailure.
nlohmann::ordered_json loadReport(const LoadArguments& args);

} // namespace vornax::cli
