// Saving a whole file: every kind of target, under both umasks, as root and as an ordinary user,
// and a replacement that never leaves a half-written file.

#include "platform/WriteFiles.h"

#include "platform/UniqueFd.h"
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
#include <sstream>

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

// The old file, or a link, owned by owner; 0 or -1 with errno.
int OldFile(const fs::path& path, mode_t mode, uid_t owner)
{
    std::ofstream(path, std::ios::binary) << "old";
    return ::chown(path.c_str(), owner, owner) | ::chmod(path.c_str(), mode);
}
int Link(const fs::path& path, const char* target, uid_t owner)
{
    return ::symlink(target, path.c_str()) | ::lchown(path.c_str(), owner, owner);
}

// A kind of target: how "target" is made for a save by runner, what it is afterwards, which file
// then holds the bytes (and keeps its mode and User's ownership, or is new: 0666 less the umask,
// the runner's), and what the save gives (a stream: in place, or NotRegularFileError).
struct Kind {
    const char* name;
    std::function<int(const fs::path& target, uid_t runner)> make;
    mode_t after;
    const char* holder = nullptr;
    mode_t keptMode = 0;
    int result = 0, userResult = 0;
    bool stream = false;
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
        { "new", [](auto&, uid_t) { return 0; }, S_IFREG, "target" },
        // A drop box: the user may write and enter the folder, not list it.
        { "new in a drop box", [](auto& t, uid_t) { return ::chmod(t.parent_path().c_str(), 0333); }, S_IFREG,
            "target" },
        { "regular", [](auto& t, uid_t) { return OldFile(t, 0640, User); }, S_IFREG, "target", 0640 },
        { "read-only", [](auto& t, uid_t) { return OldFile(t, 0444, User); }, S_IFREG, "target", 0444, 0,
            EACCES },
        { "own link",
            [](auto& t, uid_t runner) {
                return OldFile(t.parent_path() / "real", 0640, User) | Link(t, "real", runner);
            },
            S_IFLNK, "real", 0640 },
        // Planted by someone else: replaced itself; the file it names ("victim") is left alone.
        { "planted link",
            [](auto& t, uid_t runner) {
                return OldFile(t.parent_path() / "victim", 0600, runner) | Link(t, "victim", Stranger);
            },
            S_IFREG, "target" },
        { "dangling link", [](auto& t, uid_t runner) { return Link(t, "missing", runner); }, S_IFREG,
            "target" },
        { "fifo", [](auto& t, uid_t) { return ::mkfifo(t.c_str(), 0666); }, S_IFIFO, nullptr, 0, 0, 0, true },
        { "char device", [](auto& t, uid_t) { return ::mknod(t.c_str(), S_IFCHR | 0666, makedev(1, 3)); },
            S_IFCHR, nullptr, 0, 0, 0, true },
        // A major number for local use: no disk is ever opened here.
        { "block device", [](auto& t, uid_t) { return ::mknod(t.c_str(), S_IFBLK | 0666, makedev(241, 0)); },
            S_IFBLK, nullptr, 0, NotRegularFileError, NotRegularFileError },
        { "socket", [](auto& t, uid_t) { return BindUnixSocket(t) ? 0 : -1; }, S_IFSOCK, nullptr, 0,
            NotRegularFileError, NotRegularFileError },
        { "folder", [](auto& t, uid_t) { return ::mkdir(t.c_str(), 0777); }, S_IFDIR, nullptr, 0, EISDIR,
            EISDIR },
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
                    const fs::path target = f / "target";
                    std::ostringstream label;
                    label << kind.name << (asUser ? " as user" : " as root") << " umask 0" << std::oct << mask
                          << (stream == platform::TStreamTarget::Refuse ? " refusing streams" : "");
                    ASSERT_EQ(::mkdir(f.c_str(), 0755) | ::chown(f.c_str(), User, User), 0);
                    const mode_t ownMask = ::umask(0); // the modes made are the modes asked for
                    const int made = kind.make(target, runner);
                    ::umask(ownMask);
                    if (made != 0 && errno == EPERM) {
                        std::cout << "[ NOT HERE ] " << label.str() << ": " << std::strerror(errno) << "\n";
                        continue;
                    }
                    ASSERT_EQ(made, 0) << label.str() << ": " << std::strerror(errno);
                    // A FIFO's reader is there before the save, as a pipeline's would be.
                    UniqueFd reader(
                        kind.after == S_IFIFO ? ::open(target.c_str(), O_RDONLY | O_NONBLOCK) : -1);
                    int expected = asUser ? kind.userResult : kind.result;
                    if (kind.stream && stream == platform::TStreamTarget::Refuse)
                        expected = NotRegularFileError;
                    EXPECT_EQ(SaveInChild(target, bytes, stream, mask, asUser), expected & 0xff)
                        << label.str();

                    struct stat info { };
                    ASSERT_EQ(::lstat(target.c_str(), &info), 0) << label.str();
                    EXPECT_EQ(info.st_mode & S_IFMT, kind.after) << label.str();
                    if (reader) {
                        char got[16];
                        const ssize_t n = ::read(reader.get(), got, sizeof got);
                        EXPECT_EQ(std::string(got, std::max<ssize_t>(n, 0)), expected == 0 ? bytes : "")
                            << label.str();
                    }
                    if (kind.holder != nullptr) {
                        ASSERT_EQ(::stat((f / kind.holder).c_str(), &info), 0) << label.str();
                        EXPECT_EQ(Read(f / kind.holder), expected == 0 ? bytes : "old") << label.str();
                        EXPECT_EQ(info.st_mode & 07777, kind.keptMode != 0 ? kind.keptMode : (0666 & ~mask))
                            << label.str();
                        const uid_t owner = kind.keptMode != 0 ? User : runner;
                        EXPECT_TRUE(info.st_uid == owner && info.st_gid == owner) << label.str();
                    }
                    EXPECT_FALSE(fs::exists(f / "missing")) << label.str() << ": a dangling link is followed";
                    for (const auto& entry : fs::directory_iterator(f))
                        EXPECT_TRUE(entry.path().filename() == "victim"
                                ? Read(entry) == "old"
                                : entry.path().filename().string()[0] != '.')
                            << label.str() << ": " << entry.path();
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
