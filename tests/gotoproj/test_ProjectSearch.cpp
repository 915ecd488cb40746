// The folder search on real temporary trees, the wildcard rule, the project number rule and the
// listing cache.

#include "gotoproj/DriveListing.h"
#include "gotoproj/ProjectSearch.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>
#include <utility>

namespace {

using Entries = std::vector<std::string>;
using namespace std::chrono_literals;

// A clock for the listing cache that moves only when told.
struct TestClock {
    FolderListingCache::Clock::time_point now {};
    void Advance(std::chrono::milliseconds by) { now += by; }
    FolderListingCache::Access Access()
    {
        FolderListingCache::Access access = FolderListingCache::RealAccess();
        access.Now = [this] { return now; };
        return access;
    }
};

class ProjectSearchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(drive.Root().empty()); }
    std::string P(const std::string& relative) const { return drive.Path(relative); }
    TempTree drive { "tovrin-drive" };
};

TEST(ExtractProjectNumber, Table)
{
    const std::pair<const char*, const char*> cases[] = {
        { "SN: 14 12345QTRX-B", "1412345QTRX" }, { "1395", "1395" }, { "12345-678", "12345678" },
        { "P:\\Firmware\\Work\\1412345QTRX\\", "" }, { "P:\\Firmware\\Work\\1412345QTRX_A\\", "1412345QTRX" },
        { "P:\\Produktion\\2013\\1395 Test\\", "" }, { "/mnt/p/Firmware/Work/1412345QTRX/", "" },
        { "/mnt/p/Firmware/Work/1412345QTRX_A/", "1412345QTRX" }, { "/mnt/p/Produktion/2013/1395 Amp/", "" },
        { "", "" }, { "123456\xC3\xA4X", "123456" }, // bytes above 127 are not letters
        { "12/345678", "345678" }, { "123456QTRX", "123456QTRX" }, // letters count from the sixth digit on
        { "12345QTRX", "12345" }, // not after the fifth
    };
    for (const auto& [text, number] : cases)
        EXPECT_EQ(ExtractProjectNumber(text), number) << text;
}

TEST(ExtractProjectNumber, FoundFolderReadsNumberWithoutFinalSeparator)
{
    EXPECT_EQ(ProjectNumberOfPath("/mnt/p/Firmware/Work/1412345QTRX/"), "1412345QTRX");
    EXPECT_EQ(ProjectNumberOfPath("/mnt/p/Firmware/Work/1412345QTRX_A/"), "1412345QTRX");
    EXPECT_EQ(ProjectNumberOfPath("/mnt/p/Produktion/2013/1395 Amp/"), "1395");
    EXPECT_EQ(ProjectNumberOfPath(""), "");
}

TEST(WildcardMatch, Table)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        { "1395 Amp", "*1395*", true },
        { "1395", "*1395*", true },
        { "x1395", "*1395", true },
        { "1396", "*1395*", false },
        { "1412345qtrx", "*14*QTRX*", true },
        { "14QT", "*14*QTRX*", false },
        { "QTRX 14", "*14*QTRX*", false },
        { "abc", "a?c", true },
        { "ac", "a?c", false },
        { "a\xC3\xA4"
          "c",
            "a?c", true }, // "?" is one character, also when it takes two bytes
        { "anything", "**", true },
        { "", "**", true },
        { ".", "**", true },
        { "aXbXc", "*x*C", true },
        { "mississippi", "*sip*", true },
        { "mississippi", "*sis?p*", false },
    };
    for (const auto& [name, mask, matches] : cases)
        EXPECT_EQ(WildcardMatch(name, mask), matches) << name << " / " << mask;
}

TEST(ProjectSearchMasks, FolderPerAreaAndTrimmedPattern)
{
    const auto masks = ProjectSearchMasks(" \t1395\r\n", "/mnt/p/");
    const char* folders[] = { "/mnt/p/Produktion/2013/", "/mnt/p/Produktion/1913/", "/mnt/p/Firmware/Work/",
        "/mnt/p/Firmware/Archiv2013/", "/mnt/p/Firmware/Archiv1913/" };
    for (size_t i = 0; i < masks.size(); ++i) {
        EXPECT_EQ(masks[i].folder, folders[i]);
        EXPECT_EQ(masks[i].nameMask, "*1395*");
    }
    EXPECT_EQ(ProjectSearchMasks("7", "/d")[0].folder, "/d/Produktion/207/");
    EXPECT_EQ(ProjectSearchMasks("  ", "/d")[3].folder, "/d/Firmware/Archiv20/");
    EXPECT_EQ(ProjectSearchMasks("  ", "/d")[2].nameMask, "**");
}

TEST(ProjectDriveRoot, EnvironmentOrDefault)
{
    unsetenv("TOVRIN_PROJECT_DRIVE");
    EXPECT_EQ(ProjectDriveRoot(), "/mnt/p");
    setenv("TOVRIN_PROJECT_DRIVE", "/srv/share", 1);
    EXPECT_EQ(ProjectDriveRoot(), "/srv/share");
    setenv("TOVRIN_PROJECT_DRIVE", "", 1);
    EXPECT_EQ(ProjectDriveRoot(), "/mnt/p");
    unsetenv("TOVRIN_PROJECT_DRIVE");
}

TEST(PathParts, ExtensionKeyAndFolderPart)
{
    EXPECT_EQ(ExtensionKey("/mnt/p/Firmware/Work/1395.v2/"), "");
    EXPECT_EQ(ExtensionKey("/mnt/p/Work.d/readme.TXT"), ".txt");
    EXPECT_EQ(ExtensionKey("/mnt/p/Work.d/readme"), "");
    EXPECT_EQ(FolderPart("/mnt/p/Firmware/Work/1395/"), "/mnt/p/Firmware/Work/1395/");
    EXPECT_EQ(FolderPart("/mnt/p/a.txt"), "/mnt/p/");
}

TEST_F(ProjectSearchTest, AreasInMaskOrderFoldersOnlyOneLevel)
{
    drive.Folder("Produktion/2013/1395 Amp");
    drive.Folder("Produktion/2013/1396 Other");
    drive.Folder("Produktion/2013/Deep/1395 Nested");
    drive.File("Produktion/2013/1395 notes.txt");
    drive.Folder("Produktion/1913/x1395");
    drive.Folder("Firmware/Work/AMP1395");
    drive.Folder("Firmware/Archiv2013/1395-final");
    drive.Folder("Firmware/Archiv1913/old1395");
    drive.Folder("Firmware/Archiv2014/1395-wrong-year");

    const Entries found = SearchProjectFolders("1395", drive.Root());
    const Entries expected
        = { P("Produktion/2013/1395 Amp/"), P("Produktion/1913/x1395/"), P("Firmware/Work/AMP1395/"),
              P("Firmware/Archiv2013/1395-final/"), P("Firmware/Archiv1913/old1395/") };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(SearchProjectFolders("1395", drive.Root()), expected)
        << "the same search twice gives the same list";
    EXPECT_EQ(SearchProjectFolders("1395", drive.Root() + "/"), expected);
}

TEST_F(ProjectSearchTest, WildcardsCaseAndShortPatterns)
{
    drive.Folder("Produktion/2014/1412345QTRX");
    drive.Folder("Produktion/2014/1499 qtrx amp");
    drive.Folder("Produktion/2014/QTRX14");
    drive.Folder("Firmware/Work/7-Tool");
    drive.Folder("Produktion/207/7-reached");

    Entries found = SearchProjectFolders("14*QTRX", drive.Root());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (Entries { P("Produktion/2014/1412345QTRX/"), P("Produktion/2014/1499 qtrx amp/") }));
    // One character: YY is that character, so the year folder is "207".
    EXPECT_EQ(SearchProjectFolders("7", drive.Root()),
        (Entries { P("Produktion/207/7-reached/"), P("Firmware/Work/7-Tool/") }));
    EXPECT_TRUE(SearchProjectFolders("9999", drive.Root()).empty());
}

TEST_F(ProjectSearchTest, EmptyPatternListsEverythingInWorkFolderIncludingDotEntries)
{
    drive.Folder("Firmware/Work/A");
    drive.Folder("Firmware/Work/B");
    drive.File("Firmware/Work/file");
    Entries found = SearchProjectFolders(" \t ", drive.Root());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found,
        (Entries {
            P("Firmware/Work/../"), P("Firmware/Work/./"), P("Firmware/Work/A/"), P("Firmware/Work/B/") }));
}

TEST_F(ProjectSearchTest, LinksToFoldersCountMissingAndUnreadableFoldersGiveNothing)
{
    const std::string elsewhere = drive.Folder("elsewhere/1395 linked");
    drive.Link("Firmware/Work/1395 link", elsewhere);
    drive.Link("Firmware/Work/1395 dangling", drive.Path("nowhere"));
    drive.File("elsewhere/1395 file");
    drive.Link("Firmware/Work/1395 filelink", drive.Path("elsewhere/1395 file"));
    // The production folder for 2013 is a file: not readable as a folder.
    drive.File("Produktion/2013", "x");
    drive.Folder("Firmware/Archiv2013/1395");
    if (geteuid() != 0) {
        drive.Folder("Produktion/1913/1395 hidden");
        chmod(P("Produktion/1913").c_str(), 0);
    }
    EXPECT_EQ(SearchProjectFolders("1395", drive.Root()),
        (Entries { P("Firmware/Work/1395 link/"), P("Firmware/Archiv2013/1395/") }));
    EXPECT_TRUE(SearchProjectFolders("1395", drive.Path("no such drive")).empty());
}

TEST_F(ProjectSearchTest, CachedSearchEqualsPlainSearchAndRereadsOnlyChangedFolders)
{
    for (int i = 0; i < 30; ++i) {
        drive.Folder("Produktion/2013/13" + std::to_string(9500 + i) + " Amp");
        drive.Folder("Firmware/Work/13" + std::to_string(9500 + i) + "QT");
    }
    drive.Link("Firmware/Work/139599 link", drive.Folder("elsewhere/target"));

    TestClock clock;
    FolderListingCache cache(clock.Access());
    Entries found;
    ASSERT_TRUE(SearchProjectFolders("1395", drive.Root(), cache, found));
    clock.Advance(3s); // the stamps have stood: the next read is trusted
    for (const char* pattern : { "1", "13", "139", "1395", "13951", "1*QT", "" }) {
        ASSERT_TRUE(SearchProjectFolders(pattern, drive.Root(), cache, found));
        EXPECT_EQ(found, SearchProjectFolders(pattern, drive.Root())) << pattern;
    }
    const size_t reads = cache.Reads();
    EXPECT_EQ(reads, 4u) << "each existing folder read when first seen and once more when settled";

    // A new folder changes its parent's time stamp: that folder alone is read again.
    drive.Folder("Firmware/Work/139600 New");
    ASSERT_TRUE(SearchProjectFolders("1396", drive.Root(), cache, found));
    EXPECT_EQ(found, (Entries { P("Firmware/Work/139600 New/") }));
    EXPECT_EQ(cache.Reads(), reads + 1);

    // A link whose target goes away stops counting although its folder did not change.
    std::filesystem::remove(P("elsewhere/target"));
    ASSERT_TRUE(SearchProjectFolders("139599", drive.Root(), cache, found));
    EXPECT_EQ(found, SearchProjectFolders("139599", drive.Root()));
    EXPECT_TRUE(found.empty());

    // A folder that disappears gives nothing; a search asked to stop returns false.
    std::filesystem::remove_all(P("Produktion/2013"));
    ASSERT_TRUE(SearchProjectFolders("1395", drive.Root(), cache, found));
    EXPECT_EQ(found, SearchProjectFolders("1395", drive.Root()));
    EXPECT_FALSE(SearchProjectFolders("1395", drive.Root(), cache, found, [] { return true; }));
}

// A listing is kept once the folder's stamps have stood the settle time by our clock (the
// server's need not agree), and read again when the folder is another, has changed, or its
// listing was cut short by an error.
TEST_F(ProjectSearchTest, ListingIsReadAgainUntilSettledAndWhenTheFolderIsAnotherOrChanged)
{
    drive.Folder("Firmware/Work/139501");
    const std::string folder = drive.Path("Firmware/Work/");
    using Change = void (*)(struct stat&);
    struct Case {
        const char* what;
        long stampAgeSeconds; // by the server's clock
        std::chrono::milliseconds betweenLooks;
        Change beforeThirdLook;
        bool firstReadsCutShort;
        size_t reads; // after three looks
    };
    const Case cases[] = {
        { "changed just now", 0, 0ms, nullptr, false, 3 },
        { "old by a server clock behind ours", 3600, 0ms, nullptr, false, 3 },
        { "young by a server clock ahead of ours", -3600, 2000ms, nullptr, false, 2 },
        { "not settled at the second look", 3600, 1999ms, nullptr, false, 3 },
        { "settled and unchanged", 0, 2000ms, nullptr, false, 2 },
        { "another folder with the same stamps", 0, 2000ms, [](struct stat& s) { ++s.st_ino; }, false, 3 },
        { "on another device", 0, 2000ms, [](struct stat& s) { ++s.st_dev; }, false, 3 },
        { "modified", 0, 2000ms, [](struct stat& s) { s.st_mtim.tv_nsec ^= 1; }, false, 3 },
        { "status changed", 0, 2000ms, [](struct stat& s) { s.st_ctim.tv_nsec ^= 1; }, false, 3 },
        { "cut short by an error", 0, 2000ms, nullptr, true, 3 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const timespec stamps[2]
            = { { time(nullptr) - c.stampAgeSeconds, 0 }, { time(nullptr) - c.stampAgeSeconds, 0 } };
        ASSERT_EQ(utimensat(AT_FDCWD, folder.c_str(), stamps, 0), 0);
        TestClock clock;
        int looks = 0;
        FolderListingCache::Access access = clock.Access();
        access.Stat = [&](const std::string& path, struct stat& info) {
            const bool found = stat(path.c_str(), &info) == 0;
            if (++looks == 3 && c.beforeThirdLook != nullptr)
                c.beforeThirdLook(info);
            return found;
        };
        access.Read = [&](const std::string& path, std::vector<FolderEntry>& entries) {
            const FolderRead read = ReadFolderEntries(path, entries);
            if (!c.firstReadsCutShort || looks > 2)
                return read;
            entries.resize(1); // the share dropped after the first entry
            return FolderRead::CutShort;
        };
        FolderListingCache cache(access);
        const std::vector<FolderEntry>* entries = cache.Entries(folder);
        ASSERT_NE(entries, nullptr);
        EXPECT_EQ(entries->size(), c.firstReadsCutShort ? 1u : 3u) << "what was read is listed";
        clock.Advance(c.betweenLooks);
        ASSERT_NE(cache.Entries(folder), nullptr);
        clock.Advance(c.betweenLooks);
        ASSERT_NE(cache.Entries(folder), nullptr);
        EXPECT_EQ(cache.Reads(), c.reads);
    }
}

} // namespace
