// Checks made before an input file is read: only regular files are read (a FIFO would block,
// a device such as /dev/zero never ends), and text lines have a bounded length.
#pragma once

#include <filesystem>
#include <istream>
#include <string>

namespace vornax {

/// Longest text line any of the program's input formats needs (PDB records are 80 characters;
/// stylus scripts and eigenvalue lists are read by other means).
inline constexpr std::size_t kMaxRecordLine = 4096;

/// Empty when `path` names a regular file (after symbolic links); otherwise a sentence
/// saying why it is not read.
std::string regularFileProblem(const std::filesystem::path& path);

enum class LineRead { Line, End, TooLong };
/// Reads one line of at most `maxLength` bytes (without its '\n'; a final '\r' is removed).
/// A longer line is not stored: TooLong, with the stream left inside it.
LineRead readBoundedLine(std::istream& in, std::string& line, std::size_t maxLength);

} // namespace vornax
