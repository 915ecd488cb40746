// The main window's "Save List As...", headless: its place in the context menu, Ctrl+S on the
// window, the file read back by a real CSV reader, the remembered folder and a failed save.

#include "finder/Ftovrin.h"
#include "finder/ListExport.h"

#include "gui/ErrorReportingApplication.h"
#include "gui/GlobalForm.h"
#include "gui/UserDialogs.h"
#include "platform/UniqueFd.h"
#include "support/CsvReader.h"
#include "support/QtWait.h"
#include "support/TempTree.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QSettings>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

class FtovrinSaveListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDialogs::TakeAsked();
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "tovrin", "tovrin").clear();
        Window().SuppressActivation();
    }
    void TearDown() override { UserDialogs::TakeAsked(); }

    static TFormTovrin& Window() { return *FormTovrin; }

    void MenuFile(const std::string& text)
    {
        Window().CmdsFileName = files.File("Tovrin_Cmds.txt", text);
        Window().BuildUserCommandItems();
    }
    static std::vector<std::string> MenuNames()
    {
        std::vector<std::string> names;
        for (const QAction* item : Window().PopupMenu1->actions())
            names.push_back(item->objectName().toStdString());
        return names;
    }
    static void Reply(const std::string& text)
    {
        Window().DatagramReceived("198.18.1.1:8001", text.c_str(), static_cast<int>(text.size()));
    }
    // As the user does it: Ctrl+S on the active window. Under a Wayland compositor the keyboard
    // goes where the compositor decides, whatever the program asks: there the item is chosen.
    static void PressCtrlS()
    {
        if (QGuiApplication::platformName() == "wayland") {
            Window().MenuItemSaveList->trigger();
            return;
        }
        Window().show();
        Window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
        QTest::keyClick(&Window(), Qt::Key_S, Qt::ControlModifier);
    }

    TempTree files;
    GlobalForm<TFormTovrin> FormTovrinHolder { FormTovrin };
};

TEST_F(FtovrinSaveListTest, ComesBehindTheUserItemsBeforeFindAndNothingBeforeItMoves)
{
    const std::vector<std::string> fixed { "MenuItemIpSettings", "MenuItemUpload", "N1", "MenuItemCfgTools",
        "N2", "MenuItemCopyIP" };
    const struct {
        const char* menu;
        std::vector<std::string> userItems;
    } cases[] = {
        { "", {} }, { "&Ping | ping <IP>\nWeb | http://<IP>/\n", { "MenuItemCmds0", "MenuItemCmds1" } },
        { "Web | http://<IP>/\n", { "MenuItemCmds0" } }, // built again: the old items go
    };
    for (const auto& c : cases) {
        MenuFile(c.menu);
        std::vector<std::string> expected = fixed;
        expected.insert(expected.end(), c.userItems.begin(), c.userItems.end());
        expected.push_back("N3");
        expected.push_back("MenuItemSaveList");
        expected.push_back("MenuItemFind");
        expected.push_back("MenuItemFindNext");
        EXPECT_EQ(MenuNames(), expected) << c.menu;
    }
    const QAction* save = Window().MenuItemSaveList;
    EXPECT_EQ(save->text(), "Save List As...");
    EXPECT_EQ(save->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_TRUE(Window().N3->isSeparator());
}

TEST_F(FtovrinSaveListTest, CtrlSWritesEveryRowWithoutASelection)
{
    Reply("0A1B2C 1 198.18.1.1 255.255.0.0 0.0.0.0 =HYPERLINK(\"http://x\",\"y\")");
    Reply("0A1B2D 0 198.18.1.2 255.255.0.0 0.0.0.0 B\xfchne,links");
    Reply("0A1B2E 0 198.18.1.3 255.255.0.0 198.18.0.1 @Foyer");
    QCoreApplication::processEvents(); // the view shows the new row's selection first
    Window().ListView1->clearSelection();
    ASSERT_EQ(Window().Amplifiers().SelectedRow(), -1);
    EXPECT_TRUE(Window().MenuItemSaveList->isEnabled());

    const std::string path = files.Path("site.csv");
    UserDialogs::SetNextFileName(QString::fromStdString(path));
    ASSERT_NO_FATAL_FAILURE(PressCtrlS());
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].kind, "save");

    std::string error;
    const auto rows = ReadCsvWithPython(path, error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 4u);
    EXPECT_EQ((*rows)[0],
        (std::vector<std::string> {
            "mac", "ip", "netmask", "gateway", "flag", "name", "first_seen", "last_seen" }));
    const std::vector<std::vector<std::string>> expected {
        { "0A1B2C", "198.18.1.1", "255.255.0.0", "0.0.0.0", "1", "'=HYPERLINK(\"http://x\",\"y\")" },
        { "0A1B2D", "198.18.1.2", "255.255.0.0", "0.0.0.0", "0", "B\xc3\xbchne,links" },
        { "0A1B2E", "198.18.1.3", "255.255.0.0", "198.18.0.1", "0", "'@Foyer" },
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& row = (*rows)[i + 1];
        ASSERT_EQ(row.size(), 8u);
        EXPECT_EQ(std::vector<std::string>(row.begin(), row.begin() + 6), expected[i]);
        const auto seen = Window().Amplifiers().Seen(static_cast<int>(i));
        EXPECT_EQ(row[6], IsoLocalTime(seen.First));
        EXPECT_EQ(row[7], IsoLocalTime(seen.Last));
    }
}

TEST_F(FtovrinSaveListTest, TheDialogStartsInTheFolderOfTheLastSaveAndAFailureSaysWhy)
{
    Reply("0A1B2C 1 198.18.1.1 255.255.0.0 0.0.0.0 Stage");
    const std::string first = files.Folder("first");
    const std::string second = files.Folder("second");
    const std::string fifo = files.Path("second/list.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // With a reader there, a save into the pipe that is not refused fails here at once rather than
    // wait for one.
    UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(reader);
    const struct {
        std::string chosen; // empty: cancelled
        std::string proposed;
        std::string error; // the message box, if any
    } steps[] = {
        { first + "/a.csv", QDir::homePath().toStdString() + "/amplifiers.csv", "" },
        { "", first + "/amplifiers.csv", "" }, // a cancelled dialog changes nothing
        { second + "/b.csv", first + "/amplifiers.csv", "" },
        // A failed save changes nothing either.
        { second + "/missing/c.csv", second + "/amplifiers.csv",
            "Cannot save file \"" + second + "/missing/c.csv\". No such file or directory" },
        { second, second + "/amplifiers.csv", "Cannot save file \"" + second + "\". Is a directory" },
        // The window does not wait for a pipe's reader, nor writes into a device.
        { fifo, second + "/amplifiers.csv", "Cannot save file \"" + fifo + "\". Not a regular file" },
        { "", second + "/amplifiers.csv", "" },
    };
    for (const auto& step : steps) {
        UserDialogs::SetNextFileName(QString::fromStdString(step.chosen));
        if (!step.error.empty())
            UserDialogs::SetNextAnswer(QMessageBox::Ok);
        Window().MenuItemSaveList->trigger();
        const auto asked = UserDialogs::TakeAsked();
        ASSERT_EQ(asked.size(), step.error.empty() ? 1 : 2) << step.chosen;
        EXPECT_EQ(asked[0].value.toStdString(), step.proposed) << step.chosen;
        if (!step.error.empty()) {
            EXPECT_EQ(asked[1].text.toStdString(), step.error);
        }
    }
    struct stat info { };
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the FIFO stays";
    char got = 0;
    EXPECT_LE(::read(reader.get(), &got, 1), 0) << "nothing written into the pipe";
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    // The remembered folder goes to a settings file of this run, not to the user's.
    TempTree config("tovrin-config");
    ::setenv("XDG_CONFIG_HOME", config.Root().c_str(), 1);
    ErrorReportingApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
