// Output files that are either written whole or not touched: the content goes to a temporary
// file in the target's folder, which replaces the target only once every byte is on disk.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace vornax {

/// One output file. Write through stream(), then commit(); a file that is never committed
/// (or whose writing failed) leaves the target as it was and its temporary file is removed.
/// A target that is a symbolic link keeps being one: the file it names gets the content.
/// A target that is a character device or a FIFO (/dev/null, /dev/stdout, a pipe) is written
/// directly, as a stream: renaming over it would put a regular file in its place. Directories,
/// sockets and block devices are refused.
class AtomicFile {
public:
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// The temporary file could be created; false also after any failed write.
    bool ok() const { return m_open && m_stream.good(); }
    std::ostream& stream() { return m_stream; }
    const std::filesystem::path& target() const { return m_target; }
    /// Why the last step failed, as a sentence naming the target.
    const std::string& error() const { return m_error; }

    /// Flushes, syncs and closes the temporary file, then renames it over the target.
    bool commit();
    /// Removes the temporary file; the target stays as it was.
    void discard();
    /// Written straight to the target (a character device or a FIFO).
    bool isDirect() const { return m_direct; }

    /// Replaces both targets, or neither: both files are completed and synced first, and when
    /// the second rename fails the first target is put back.
    static bool commitPair(AtomicFile& first, AtomicFile& second, std::string& error);

private:
    enum class TargetKind { File, Stream, Refused };
    /// How `target` is written; a refusal sets error().
    TargetKind kindOf(const std::filesystem::path& target);
    void openDirect();
    /// Flush, sync and close the temporary file. False (with error()) when any byte is missing.
    bool finish();
    bool fail(const std::string& why);

    std::filesystem::path m_target;
    std::filesystem::path m_destination; ///< the target, through its symbolic links
    std::filesystem::path m_temporary;
    std::ofstream m_stream;
    std::string m_error;
    bool m_open = false;
    bool m_finished = false;
    bool m_direct = false; ///< written straight to a device or FIFO, without a temporary file
};

} // namespace vornax
