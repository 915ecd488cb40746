// Writing whole files: a plain write, and a replacement that never leaves a half-written file.

#include "platform/WriteFiles.h"

#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class WriteFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(tree.Root().empty()); }

    static std::string Read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempTree tree { "tovrin-write" };
    fs::path folder { tree.Root() };
};

TEST_F(WriteFilesTest, WriteAndReplaceGiveExactlyTheBytes)
{
    const std::string bytes("a\r\nb\0\xff", 6);
    const fs::path file = folder / "f.txt";
    EXPECT_EQ(platform::WriteFileBytes(file.string(), "longer old text"), 0);
    EXPECT_EQ(platform::WriteFileBytes(file.string(), bytes), 0);
    EXPECT_EQ(Read(file), bytes);
    EXPECT_EQ(platform::ReplaceFileBytes(file.string(), "new"), 0);
    EXPECT_EQ(Read(file), "new");
    EXPECT_EQ(platform::WriteFileBytes((folder / "missing" / "f").string(), "x"), ENOENT);
    EXPECT_EQ(platform::ReplaceFileBytes((folder / "missing" / "f").string(), "x"), ENOENT);
    EXPECT_EQ(platform::ReplaceFileBytes(folder.string(), "x"), EISDIR);
    // A FIFO nobody reads fails at once rather than waiting for a reader.
    const fs::path fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(platform::WriteFileBytes(fifo.string(), "x"), ENXIO);
}

TEST_F(WriteFilesTest, ReplaceKeepsPermissionsAndLinks)
{
    const fs::path file = folder / "real.txt";
    const fs::path link = folder / "link.txt";
    std::ofstream(file) << "old";
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    fs::create_symlink(file.filename(), link);
    ASSERT_EQ(platform::ReplaceFileBytes(link.string(), "new"), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read(file), "new");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2);
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
        _exit(platform::ReplaceFileBytes(file.string(), std::string(100000, 'x')));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), EFBIG);
    EXPECT_EQ(Read(file), "the old menu");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
}

} // namespace
