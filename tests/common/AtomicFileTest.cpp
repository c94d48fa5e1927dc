// Output files written whole or not at all, and text made safe to show.
#include "common/AtomicFile.h"
#include "common/InputFile.h"
#include "common/TextParse.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

using namespace vornax;
using vornax::testing::readWholeFile;
namespace fs = std::filesystem;

namespace {

struct Folder {
    fs::path dir;
    Folder()
    {
        std::string pattern = (fs::temp_directory_path() / "vornax-atomic-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(dir); }
    /// Names in the folder, hidden ones (temporary files) included.
    std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {})); }
};

void put(const fs::path& path, const std::string& text)
{
    AtomicFile file(path);
    file.stream() << text;
    ASSERT_TRUE(file.commit()) << file.error();
}

} // namespace

TEST(AtomicFileTest, ReplacesOnlyWhenCompleteAndLeavesNoTemporaryFile)
{
    Folder f;
    const fs::path target = f.dir / "out.txt";
    put(target, "good");
    {
        AtomicFile dropped(target);
        dropped.stream() << "never committed";
    }
    EXPECT_EQ(readWholeFile(target), "good");
    EXPECT_EQ(f.entries(), 1u);

    // A file-size limit cuts the write in a child process (SIGXFSZ ignored, as a shell's trap
    // would): the commit fails and the old file is untouched.
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        AtomicFile big(target);
        big.stream() << std::string(64 * 1024, 'x');
        ::_exit(big.commit() ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(readWholeFile(target), "good");
    EXPECT_EQ(f.entries(), 1u);

    // A target reached through a symbolic link (to another folder, relative) stays a link: its
    // file gets the content, and the new file keeps the usual permissions.
    fs::create_directory(f.dir / "real");
    put(f.dir / "real" / "data.txt", "old");
    fs::create_symlink(fs::path("real") / "data.txt", f.dir / "link.txt");
    put(f.dir / "link.txt", "new");
    EXPECT_TRUE(fs::is_symlink(f.dir / "link.txt"));
    EXPECT_EQ(readWholeFile(f.dir / "real" / "data.txt"), "new");
    const mode_t mask = ::umask(022);
    put(f.dir / "link.txt", "newer");
    ::umask(mask);
    EXPECT_EQ(fs::status(f.dir / "real" / "data.txt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    fs::remove_all(f.dir / "real");
    fs::remove(f.dir / "link.txt");

    // A folder that does not exist is reported before anything is written.
    AtomicFile nowhere(f.dir / "missing" / "x");
    EXPECT_FALSE(nowhere.ok());
    EXPECT_FALSE(nowhere.commit());
    EXPECT_NE(nowhere.error().find("missing"), std::string::npos);
}

TEST(AtomicFileTest, APairIsReplacedTogetherOrNotAtAll)
{
    Folder f;
    const fs::path a = f.dir / "s.hdv", b = f.dir / "s.ppy";
    put(a, "old a");
    put(b, "old b");
    {
        AtomicFile na(a), nb(b);
        na.stream() << "new a";
        nb.stream() << "new b";
        std::string error;
        ASSERT_TRUE(AtomicFile::commitPair(na, nb, error)) << error;
    }
    EXPECT_EQ(readWholeFile(a), "new a");
    EXPECT_EQ(readWholeFile(b), "new b");

    // The second target cannot be replaced (a non-empty folder took its name): the first is
    // put back as it was.
    fs::remove(b);
    fs::create_directories(b / "inside");
    AtomicFile na(a), nb(b);
    na.stream() << "newer a";
    nb.stream() << "newer b";
    std::string error;
    EXPECT_FALSE(AtomicFile::commitPair(na, nb, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readWholeFile(a), "new a");
    EXPECT_EQ(f.entries(), 2u);
}

TEST(AtomicFileTest, DevicesAndFifosAreWrittenAsStreamsAndOtherTargetsRefused)
{
    Folder f;
    // A FIFO with a reader gets the text and stays a FIFO.
    const fs::path fifo = f.dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = readWholeFile(fifo); });
    // The reader's open waits for a writer, and ours looks for a reader without waiting:
    // try until the reader is there.
    for (int attempt = 0;; ++attempt) {
        AtomicFile out(fifo);
        if (!out.ok()) {
            ASSERT_LT(attempt, 5000) << out.error();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        EXPECT_TRUE(out.isDirect());
        out.stream() << "through the pipe";
        EXPECT_TRUE(out.commit()) << out.error();
        break;
    }
    reader.join();
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));

    // Nothing reads it now: refused at once, never a wait.
    {
        AtomicFile unread(fifo);
        EXPECT_FALSE(unread.ok());
        EXPECT_NE(unread.error().find("nothing reads"), std::string::npos) << unread.error();
    }

    // A character device of our own (the machine's /dev/null is never an output of a test).
    const fs::path device = f.dir / "null";
    if (::geteuid() == 0 && ::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
        AtomicFile out(device);
        out.stream() << "gone";
        EXPECT_TRUE(out.commit()) << out.error();
        EXPECT_TRUE(fs::is_character_file(device));
        AtomicFile pairFirst(device), pairSecond(f.dir / "second.txt");
        pairFirst.stream() << "a";
        pairSecond.stream() << "b";
        std::string error;
        EXPECT_TRUE(AtomicFile::commitPair(pairFirst, pairSecond, error)) << error;
        EXPECT_TRUE(fs::is_character_file(device));
        EXPECT_EQ(readWholeFile(f.dir / "second.txt"), "b");
    }

    // A folder and a socket keep what they are, with one line that names them.
    fs::create_directory(f.dir / "folder");
    const fs::path socketPath = f.dir / "sock";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const auto& [target, what] : {std::pair{f.dir / "folder", "a folder"}, std::pair{socketPath, "a socket"}}) {
        AtomicFile out(target);
        EXPECT_FALSE(out.ok());
        out.stream() << "x";
        EXPECT_FALSE(out.commit());
        EXPECT_NE(out.error().find(what), std::string::npos) << out.error();
        EXPECT_EQ(out.error().find('\n'), std::string::npos);
    }
    ::close(sock);
    EXPECT_TRUE(fs::is_directory(f.dir / "folder"));
    EXPECT_TRUE(fs::is_socket(socketPath));
}

TEST(TextSafety, ControlBytesAndBrokenUtf8AreShownAsEscapes)
{
    EXPECT_EQ(text::printable("plain ASCII, \xc3\xa5ngstr\xc3\xb6m \xe2\x84\xab"),
              "plain ASCII, \xc3\xa5ngstr\xc3\xb6m \xe2\x84\xab");
    EXPECT_EQ(text::printable("\x1b[2Jx\xff\xc3"), "\\x1b[2Jx\\xff\\xc3");
    EXPECT_EQ(text::printable("a\nb\tc", "\n"), "a\nb\\x09c");
    EXPECT_EQ(text::printable("\xed\xa0\x80"), "\\xed\\xa0\\x80"); // a UTF-16 surrogate is not UTF-8
    EXPECT_TRUE(text::isAlphanumeric("1CRN"));
    for (const char* code : {"", "../x", "/tmp/x", "1 A", "1\xff"}) EXPECT_FALSE(text::isAlphanumeric(code)) << code;
}

TEST(TextSafety, LinesAreReadUpToABound)
{
    std::istringstream in("short\r\n" + std::string(50, 'x') + "\nlast");
    std::string line;
    EXPECT_EQ(readBoundedLine(in, line, 10), LineRead::Line);
    EXPECT_EQ(line, "short");
    EXPECT_EQ(readBoundedLine(in, line, 10), LineRead::TooLong);
    std::istringstream tail("last");
    EXPECT_EQ(readBoundedLine(tail, line, 10), LineRead::Line);
    EXPECT_EQ(line, "last");
    EXPECT_EQ(readBoundedLine(tail, line, 10), LineRead::End);
}
