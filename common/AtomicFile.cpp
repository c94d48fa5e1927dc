#include "common/AtomicFile.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

} // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : m_target(std::move(target))
{
    // A hidden name beside the target: the rename stays within one file system.
    std::string hidden(1, '.');
    hidden += m_target.filename().string();
    hidden += ".XXXXXX";
    std::string pattern = (folderOf(m_target) / hidden).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        fail("cannot create a file in the folder of " + m_target.string() + ": " + std::strerror(errno));
        return;
    }
    // mkstemp makes the file private; the target gets the usual permissions of a new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    m_temporary = name.data();
    m_stream.open(m_temporary, std::ios::binary | std::ios::trunc);
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
    std::error_code ec;
    std::filesystem::rename(m_temporary, m_target, ec);
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
    if (std::filesystem::exists(first.m_target, ec)) {
        backup = first.m_temporary;
        backup += ".old";
        std::filesystem::create_hard_link(first.m_target, backup, ec);
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
            std::filesystem::rename(backup, first.m_target, restore);
        else
            std::filesystem::remove(first.m_target, restore);
        dropBackup();
        return false;
    }
    dropBackup();
    return true;
}

} // namespace vornax
