#include "common/AtomicFile.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace vornax {

namespace {

bool syncFile(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

/// The folder holding `path` ("." for a bare name).
std::filesystem::path folderOf(const std::filesystem::path& path)
{
    const std::filesystem::path parent = path.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

/// Where a write to `path` lands: through symbolic links (up to 40 of them) to the file they
/// name, so that a link stays a link and its file gets the new content.
std::filesystem::path followLinks(const std::filesystem::path& path)
{
    std::filesystem::path current = path;
    std::error_code ec;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(current, ec); ++hops) {
        const std::filesystem::path next = std::filesystem::read_symlink(current, ec);
        if (ec) break;
        current = next.is_absolute() ? next : folderOf(current) / next;
    }
    return current;
}

/// The process's file mode mask, read without changing it (Linux); otherwise set and restored.
mode_t currentUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : m_target(std::move(target)), m_destination(followLinks(m_target))
{
    switch (kindOf(m_target)) {
    case TargetKind::Stream:
        openDirect();
        return;
    case TargetKind::Refused:
        return;
    case TargetKind::File:
        break;
    }
    // A hidden name beside the target: the rename stays within one file system.
    std::string hidden(1, '.');
    hidden += m_destination.filename().string();
    hidden += ".XXXXXX";
    std::string pattern = (folderOf(m_destination) / hidden).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        fail("cannot create a file in the folder of " + m_target.string() + ": " + std::strerror(errno));
        return;
    }
    // mkstemp makes the file private; the target gets the usual permissions of a new file.
    ::fchmod(fd, 0666 & ~currentUmask());
    ::close(fd);
    m_temporary = name.data();
    m_stream.open(m_temporary, std::ios::binary | std::ios::trunc);
    m_open = m_stream.is_open();
    if (!m_open) fail("cannot write " + m_target.string());
}

AtomicFile::TargetKind AtomicFile::kindOf(const std::filesystem::path& target)
{
    struct stat status{};
    if (::stat(target.c_str(), &status) != 0) return TargetKind::File; // a new file
    if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode)) return TargetKind::Stream;
    // The process's own streams by name (/dev/stdout, /dev/fd/N, /proc/self/fd/N) stay streams
    // even when the shell sent them to a file: the shell's descriptor is what gets the text.
    const std::string name = target.string();
    if (name.rfind("/dev/std", 0) == 0 || name.rfind("/dev/fd/", 0) == 0 || name.rfind("/proc/", 0) == 0)
        return TargetKind::Stream;
    if (S_ISREG(status.st_mode)) return TargetKind::File;
    const char* what = S_ISDIR(status.st_mode)  ? "a folder"
                       : S_ISSOCK(status.st_mode) ? "a socket"
                       : S_ISBLK(status.st_mode)  ? "a block device"
                                                  : "not a regular file";
    m_error = "cannot write " + name + ": it is " + what + ", not a file";
    return TargetKind::Refused;
}

void AtomicFile::openDirect()
{
    m_direct = true;
    // A FIFO nobody reads would hold the open forever: look for a reader without waiting, and
    // keep that end open while the stream opens (so its open cannot wait either).
    const int probe = ::open(m_target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) {
        fail(errno == ENXIO ? "cannot write " + m_target.string() + ": nothing reads from it"
                            : "cannot write " + m_target.string() + ": " + std::strerror(errno));
        return;
    }
    m_stream.open(m_target, std::ios::binary | std::ios::out);
    ::close(probe);
    m_open = m_stream.is_open();
    if (!m_open) fail("cannot write " + m_target.string());
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::fail(const std::string& why)
{
    if (m_error.empty()) m_error = why;
    return false;
}

bool AtomicFile::finish()
{
    if (!m_open) return fail("cannot write " + m_target.string());
    if (m_finished) return true;
    m_stream.flush();
    const bool written = m_stream.good();
    m_stream.close();
    if (!written || m_stream.fail())
        return fail("writing " + m_target.string() + " failed (disk full, file size limit or write error)");
    if (m_direct) {
        m_finished = true;
        return true;
    }
    if (!syncFile(m_temporary)) return fail("writing " + m_target.string() + " failed: it could not be synced to disk");
    m_finished = true;
    return true;
}

bool AtomicFile::commit()
{
    if (!finish()) {
        discard();
        return false;
    }
    if (m_direct) {
        m_open = false;
        return true;
    }
    std::error_code ec;
    std::filesystem::rename(m_temporary, m_destination, ec);
    if (ec) {
        discard();
        return fail("cannot replace " + m_target.string() + ": " + ec.message());
    }
    m_temporary.clear();
    m_open = false;
    return true;
}

void AtomicFile::discard()
{
    if (m_stream.is_open()) m_stream.close();
    m_open = false;
    if (!m_temporary.empty()) {
        std::error_code ec;
        std::filesystem::remove(m_temporary, ec);
        m_temporary.clear();
    }
}

bool AtomicFile::commitPair(AtomicFile& first, AtomicFile& second, std::string& error)
{
    if (!first.finish() || !second.finish()) {
        error = !first.error().empty() ? first.error() : second.error();
        first.discard();
        second.discard();
        return false;
    }
    // Keep the first target under another name until the second one is in place.
    std::error_code ec;
    std::filesystem::path backup;
    if (!first.m_direct && std::filesystem::exists(first.m_destination, ec)) {
        backup = first.m_temporary;
        backup += ".old";
        std::filesystem::create_hard_link(first.m_destination, backup, ec);
        if (ec) {
            error = "cannot replace " + first.m_target.string() + ": " + ec.message();
            first.discard();
            second.discard();
            return false;
        }
    }
    auto dropBackup = [&] {
        if (!backup.empty()) std::filesystem::remove(backup, ec);
    };
    if (!first.commit()) {
        error = first.error();
        second.discard();
        dropBackup();
        return false;
    }
    if (!second.commit()) {
        error = second.error();
        // Put the first target back as it was (or remove it when there was none).
        std::error_code restore;
        if (!backup.empty())
            std::filesystem::rename(backup, first.m_destination, restore);
        else if (!first.m_direct)
            std::filesystem::remove(first.m_destination, restore);
        dropBackup();
        return false;
    }
    dropBackup();
    return true;
}

} // namespace vornax
