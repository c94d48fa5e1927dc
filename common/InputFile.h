// Checks made before an input file is read: only regular files are read (a FIFO would block,
// a device such as /dev/zero never ends), and text lines have a bounded length.
#pragma once

#include "common/InputLimits.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <string>
#include <string_view>

namespace vornax {

/// Empty when `path` names a regular file (after symbolic links); otherwise a sentence
/// saying why it is not read.
std::string regularFileProblem(const std::filesystem::path& path);

enum class LineRead { Line, End, TooLong };
/// Reads one line of at most `maxLength` bytes (without its '\n'; a final '\r' is removed).
/// A longer line is not stored: TooLong, with the stream left inside it.
LineRead readBoundedLine(std::istream& in, std::string& line, std::size_t maxLength);

/// The most structure text held whole with `availableMemory` bytes of memory available (0 when
/// unknown): see kMostStructureText.
std::uint64_t structureTextCap(std::uint64_t availableMemory);

/// Looks at each piece of text as it is read; a clause about the file ("its line 3 is …")
/// stops the reading, empty text lets it go on.
using TextPieceCheck = std::function<std::string(std::string_view piece)>;

/// Reads the whole of the file `path` (a regular file: see regularFileProblem) into `text`.
/// Gzip data (known by its first two bytes, of any number of members) is inflated piece by
/// piece, and reading stops as soon as the text would pass `cap` bytes or `check` refuses a
/// piece. Empty when read; otherwise why not, as a clause about the file ("it inflates to
/// more than 64 MiB of text, …"; too large, cut short, damaged), and `text` is left empty.
std::string readStructureText(const std::filesystem::path& path, std::uint64_t cap, std::string& text,
                              const TextPieceCheck& check = {});

} // namespace vornax
