// Saving a whole file: every kind of target, under both umasks, as root and as an ordinary user,
// and a replacement that never leaves a half-written file.

#include "platform/WriteFiles.h"

#include "support/TempTree.h"
#include "support/TestSockets.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The ordinary user the table runs as (nobody), and someone else who plants links.
constexpr uid_t User = 65534;
constexpr uid_t Stranger = 4242;

// ReplaceFileBytes in a child with the umask and, for the user, the user's ids, so that neither
// touches this process; the result's low byte, as an exit status carries it.
int SaveInChild(
    const fs::path& path, const std::string& bytes, platform::TStreamTarget stream, mode_t mask, bool asUser)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::umask(mask);
        if (asUser
            && (::setgroups(0, nullptr) != 0 || ::setresgid(User, User, User) != 0
                || ::setresuid(User, User, User) != 0))
            ::_exit(200);
        ::_exit(platform::ReplaceFileBytes(path.string(), bytes, stream) & 0xff);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1000;
    return WEXITSTATUS(status);
}

bool Make(const char* what, int result)
{
    if (result != 0)
        ADD_FAILURE() << what << ": " << std::strerror(errno);
    return result == 0;
}

bool MakeFile(const fs::path& path, const std::string& bytes, mode_t mode, uid_t owner)
{
    std::ofstream(path, std::ios::binary) << bytes;
    return Make("chown", ::chown(path.c_str(), owner, owner)) && Make("chmod", ::chmod(path.c_str(), mode));
}

bool MakeLink(const fs::path& path, const std::string& target, uid_t owner)
{
    return Make("symlink", ::symlink(target.c_str(), path.c_str()))
        && Make("lchown", ::lchown(path.c_str(), owner, owner));
}

struct Kind {
    std::string name;
    // Makes "target" (and whatever it leads to) in folder for a save by runner; false: not here.
    std::function<bool(const fs::path& folder, uid_t runner)> make;
    mode_t typeAfter; // what "target" is afterwards
    std::string written; // the file that holds the new bytes afterwards, "" for none to read
    mode_t keptMode = 0; // the mode it keeps, owned by User still; 0: a new file of the runner's
    bool stream = false; // a FIFO or a character device: written in place, or refused for a window
    int result = 0; // when not a stream
    int userResult = 0; // the same for the ordinary user
};

class WriteFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(tree.Root().empty()); }

    TempTree tree { "tovrin-write" };
    fs::path folder { tree.Root() };
};

TEST_F(WriteFilesTest, EveryKindOfTargetUnderBothUmasksAsRootAndAsAUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "owners and devices need root";
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0) << "the user reaches the folders below";
    const Kind kinds[] = {
        { "new", [](auto&, uid_t) { return true; }, S_IFREG, "target" },
        { "regular", [](auto& f, uid_t) { return MakeFile(f / "target", "old", 0640, User); }, S_IFREG,
            "target", 0640 },
        { "read-only", [](auto& f, uid_t) { return MakeFile(f / "target", "old", 0444, User); }, S_IFREG,
            "target", 0444, false, 0, EACCES },
        { "own link",
            [](auto& f, uid_t runner) {
                return MakeFile(f / "real", "old", 0640, User) && MakeLink(f / "target", "real", runner);
            },
            S_IFLNK, "real", 0640 },
        // Planted by someone else: replaced itself, the file it names is left alone.
        { "planted link",
            [](auto& f, uid_t runner) {
                return MakeFile(f / "victim", "old", 0600, runner)
                    && MakeLink(f / "target", "victim", Stranger);
            },
            S_IFREG, "target" },
        { "dangling link", [](auto& f, uid_t runner) { return MakeLink(f / "target", "missing", runner); },
            S_IFREG, "target" },
        { "fifo", [](auto& f, uid_t) { return Make("mkfifo", ::mkfifo((f / "target").c_str(), 0666)); },
            S_IFIFO, "", 0, true },
        { "char device",
            [](auto& f, uid_t) {
                return ::mknod((f / "target").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
            },
            S_IFCHR, "", 0, true },
        // A major number for local use, so that no disk is ever opened here.
        { "block device",
            [](auto& f, uid_t) {
                return ::mknod((f / "target").c_str(), S_IFBLK | 0666, makedev(241, 0)) == 0;
            },
            S_IFBLK, "", 0, false, NotRegularFileError, NotRegularFileError },
        { "socket", [](auto& f, uid_t) { return Make("bind", BindUnixSocket(f / "target") ? 0 : -1); },
            S_IFSOCK, "", 0, false, NotRegularFileError, NotRegularFileError },
        { "folder", [](auto& f, uid_t) { return Make("mkdir", ::mkdir((f / "target").c_str(), 0777)); },
            S_IFDIR, "", 0, false, EISDIR, EISDIR },
    };
    const std::string bytes("new\r\n\0\xff", 7);
    int row = 0;
    for (const Kind& kind : kinds) {
        for (const mode_t mask : { 022, 077 }) {
            for (const bool asUser : { false, true }) {
                for (const auto stream :
                    { platform::TStreamTarget::WriteInPlace, platform::TStreamTarget::Refuse }) {
                    const uid_t runner = asUser ? User : 0;
                    const fs::path f = folder / std::to_string(row++);
                    const std::string label = kind.name + (asUser ? " as user" : " as root")
                        + (mask == 022 ? " umask 022" : " umask 077")
                        + (stream == platform::TStreamTarget::Refuse ? " refusing streams" : "");
                    ASSERT_EQ(::mkdir(f.c_str(), 0755), 0);
                    ASSERT_EQ(::chown(f.c_str(), User, User), 0);
                    const mode_t ownMask = ::umask(0); // the modes made are the modes asked for
                    const bool made = kind.make(f, runner);
                    ::umask(ownMask);
                    if (!made) {
                        ASSERT_FALSE(HasFailure()) << label;
                        std::cout << "[ NOT HERE ] " << label << ": " << std::strerror(errno) << "\n";
                        continue;
                    }
                    // A FIFO's reader is there before the save, as a pipeline's would be.
                    int reader = -1;
                    if (kind.typeAfter == S_IFIFO)
                        reader = ::open((f / "target").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                    int expected = asUser ? kind.userResult : kind.result;
                    if (kind.stream && stream == platform::TStreamTarget::Refuse)
                        expected = NotRegularFileError;
                    EXPECT_EQ(SaveInChild(f / "target", bytes, stream, mask, asUser), expected & 0xff)
                        << label;

                    struct stat after { };
                    ASSERT_EQ(::lstat((f / "target").c_str(), &after), 0) << label;
                    EXPECT_EQ(after.st_mode & S_IFMT, kind.typeAfter) << label;
                    if (reader >= 0) {
                        char got[16] = {};
                        const ssize_t n = ::read(reader, got, sizeof got);
                        EXPECT_EQ(std::string(got, n > 0 ? n : 0), expected == 0 ? bytes : "") << label;
                        ::close(reader);
                    }
                    if (!kind.written.empty()) {
                        const fs::path written = f / kind.written;
                        struct stat info { };
                        ASSERT_EQ(::stat(written.c_str(), &info), 0) << label;
                        EXPECT_EQ(Read(written), expected == 0 ? bytes : "old") << label;
                        const mode_t mode = kind.keptMode != 0 ? kind.keptMode : (0666 & ~mask);
                        const uid_t owner = kind.keptMode != 0 ? User : runner;
                        EXPECT_EQ(info.st_mode & 07777, mode) << label;
                        EXPECT_EQ(info.st_uid, owner) << label;
                        EXPECT_EQ(info.st_gid, owner) << label;
                    }
                    if (kind.name == "planted link") {
                        EXPECT_EQ(Read(f / "victim"), "old") << label;
                    }
                    EXPECT_FALSE(fs::exists(f / "missing")) << label << ": a dangling link is not followed";
                    for (const auto& entry : fs::directory_iterator(f))
                        EXPECT_NE(entry.path().filename().string()[0], '.') << label << ": " << entry.path();
                }
            }
        }
    }
}

TEST_F(WriteFilesTest, ANameWithoutAFolderAndAMissingFolder)
{
    EXPECT_EQ(
        platform::ReplaceFileBytes((folder / "missing" / "f").string(), "x", platform::TStreamTarget::Refuse),
        ENOENT);
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    EXPECT_EQ(platform::ReplaceFileBytes("bare.txt", "bare", platform::TStreamTarget::Refuse), 0);
    fs::current_path(before);
    EXPECT_EQ(Read(folder / "bare.txt"), "bare");
}

// A write that fails half-way (here: the file size limit) leaves the old file whole and no
// temporary file behind. Run in a child, whose limit cannot affect the tests.
TEST_F(WriteFilesTest, FailedReplaceLeavesTheOldFileWhole)
{
    const fs::path file = folder / "menu.txt";
    std::ofstream(file) << "the old menu";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit { 4, 4 };
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(platform::ReplaceFileBytes(
            file.string(), std::string(100000, 'x'), platform::TStreamTarget::Refuse));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), EFBIG);
    EXPECT_EQ(Read(file), "the old menu");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
}

} // namespace
