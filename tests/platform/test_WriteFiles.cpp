// Saving a whole file: every kind of target, under several umasks, as root and as an ordinary user;
// a save that keeps who may read the file (ACL, attributes, other names, owner) whichever way it
// goes; and a save that never leaves a half-written file.

#include "platform/WriteFiles.h"

#include "platform/UniqueFd.h"
#include "support/SmallDisk.h"
#include "support/TempTree.h"
#include "support/TestSockets.h"

#include <gtest/gtest.h>

#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/acl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
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

int SetAcl(const fs::path& path, acl_type_t type, const char* text)
{
    acl_t acl = ::acl_from_text(text);
    const int result = acl != nullptr ? ::acl_set_file(path.c_str(), type, acl) : -1;
    ::acl_free(acl);
    return result;
}

// Who may read a file and which file it is: mode, owner, group, names, ACL, extended attributes.
std::string Access(const fs::path& path)
{
    struct stat info { };
    ::stat(path.c_str(), &info);
    acl_t acl = ::acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    char* text = ::acl_to_any_text(acl, nullptr, ',', 0);
    std::ostringstream out;
    out << std::oct << info.st_mode << std::dec << " " << info.st_uid << ":" << info.st_gid << " "
        << info.st_nlink << " names " << (text != nullptr ? text : "?");
    ::acl_free(text);
    ::acl_free(acl);
    char names[4096], value[256];
    const ssize_t size = ::listxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        const ssize_t n = ::getxattr(path.c_str(), names + at, value, sizeof value);
        out << " " << (names + at) << "=" << std::string(value, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
    return out.str();
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

TEST_F(WriteFilesTest, EveryKindOfTargetUnderEachUmaskAsRootAndAsAUser)
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
        // 0666 less the umask differs from a fixed 0644 or 0600 under the last three.
        for (const mode_t mask : { 022, 077, 002, 027, 0 }) {
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

// An old file of the user's with something that decides who may read it, made as root: the save
// keeps it, whether it replaces the file or writes it in place.
struct Trait {
    const char* name;
    std::function<int(const fs::path& file)> make;
};

TEST_F(WriteFilesTest, EveryKindOfFileKeepsWhoMayReadItAsRootAndAsAUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "owners and other users' files need root";
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    const Trait traits[] = {
        { "an ACL", [](auto& f) { return SetAcl(f, ACL_TYPE_ACCESS, "u::rw,u:4242:rw,g::r,m::rw,o::-"); } },
        { "an attribute", [](auto& f) { return ::setxattr(f.c_str(), "user.tag", "keep", 4, 0); } },
        { "a second name", [](auto& f) { return ::link(f.c_str(), (f.parent_path() / "second").c_str()); } },
        { "a folder only root may write", [](auto& f) { return ::chown(f.parent_path().c_str(), 0, 0); } },
        { "someone else's in a sticky folder",
            [](auto& f) {
                return ::chown(f.parent_path().c_str(), 0, 0) | ::chmod(f.parent_path().c_str(), 01777)
                    | ::chown(f.c_str(), Stranger, Stranger) | ::chmod(f.c_str(), 0666);
            } },
        { "a group the user is not in", [](auto& f) { return ::chown(f.c_str(), User, Stranger); } },
        { "a folder with a default ACL",
            [](auto& f) {
                return SetAcl(f.parent_path(), ACL_TYPE_DEFAULT, "u::rwx,u:4242:rwx,g::rx,m::rwx,o::rx");
            } },
        { "an attribute the user may not read",
            [](auto& f) {
                return ::setxattr(f.c_str(), "user.tag", "keep", 4, 0) | ::chmod(f.c_str(), 0220);
            } },
    };
    const std::string bytes("new\r\n\0", 6);
    int row = 0;
    for (const Trait& trait : traits) {
        for (const bool viaLink : { false, true }) {
            for (const bool asUser : { false, true }) {
                const std::string label = std::string(trait.name) + (viaLink ? " through a link" : "")
                    + (asUser ? " as user" : " as root");
                const fs::path f = folder / ("keeps" + std::to_string(row++));
                const fs::path holder = f / (viaLink ? "real" : "target");
                ASSERT_EQ(::mkdir(f.c_str(), 0755) | ::chown(f.c_str(), User, User), 0);
                ASSERT_EQ(OldFile(holder, 0660, User), 0);
                if (viaLink) {
                    ASSERT_EQ(Link(f / "target", "real", asUser ? User : 0), 0);
                }
                ASSERT_EQ(trait.make(holder), 0) << label << ": " << std::strerror(errno);
                const std::string before = Access(holder);

                EXPECT_EQ(SaveInChild(f / "target", bytes, platform::TStreamTarget::Refuse, 022, asUser), 0)
                    << label;
                EXPECT_EQ(Access(holder), before) << label;
                for (const auto& entry : fs::directory_iterator(f)) {
                    EXPECT_NE(entry.path().filename().string()[0], '.') << label << ": " << entry.path();
                    if (!entry.is_symlink()) {
                        EXPECT_EQ(Read(entry), bytes) << label << ": " << entry.path();
                    }
                }
                EXPECT_EQ(fs::is_symlink(f / "target"), viaLink) << label;
            }
        }
    }
}

// Written in place, a save the disk cannot take leaves the old bytes whole, and a shorter one is
// cut to its size.
TEST_F(WriteFilesTest, InPlaceAFullDiskKeepsTheOldBytes)
{
    const fs::path disk = folder / "disk";
    ASSERT_TRUE(fs::create_directory(disk));
    const SmallDisk small(disk, "64k");
    if (!small.Refused().empty())
        GTEST_SKIP() << small.Refused();
    const std::string old = "the old text, longer than the new";
    std::ofstream(disk / "a", std::ios::binary) << old;
    ASSERT_EQ(::link((disk / "a").c_str(), (disk / "b").c_str()), 0) << "two names: written in place";

    EXPECT_EQ(platform::ReplaceFileBytes(
                  (disk / "a").string(), std::string(200000, 'x'), platform::TStreamTarget::Refuse),
        ENOSPC);
    EXPECT_EQ(Read(disk / "b"), old);
    EXPECT_EQ(platform::ReplaceFileBytes((disk / "a").string(), "new", platform::TStreamTarget::Refuse), 0);
    EXPECT_EQ(Read(disk / "b"), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(disk), {}), 2);
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
