// The project finder dialog, headless, on a real temporary drive: layout, the search as the user
// types, the clipboard, the list's pointer and menu handling, the desktop actions (recorded, not
// started) and the modal results.

#include "gotoproj/Fgotoprojdlg.h"

#include "gotoproj/DriveListing.h"
#include "gotoproj/ProjectSearch.h"
#include "gui/DesktopActions.h"
#include "gui/ProcessEnd.h"
#include "gui/UserDialogs.h"
#include "support/QtFocus.h"
#include "support/QtWait.h"
#include "support/QueuedInput.h"
#include "support/StandInDesktop.h"
#include "support/TempTree.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <tuple>
#include <utility>

namespace {

using Entries = std::vector<std::string>;

// The dialog on a share that stops answering while the test holds its lock: each look at a folder
// waits for it. The lock is given back before the dialog goes, so that its search ends.
struct GatedFinder {
    explicit GatedFinder(const std::string& driveRoot)
        : dialog(nullptr, driveRoot, Access(share))
    {
    }
    ~GatedFinder() { Open(); }
    static FolderListingCache::Access Access(std::shared_ptr<std::mutex> share)
    {
        FolderListingCache::Access access = FolderListingCache::RealAccess();
        access.Stat = [share, stat = access.Stat](const std::string& folder, struct stat& info) {
            const std::lock_guard<std::mutex> answer(*share);
            return stat(folder, info);
        };
        return access;
    }
    void Close() { share->lock(), closed = true; }
    void Open()
    {
        if (std::exchange(closed, false))
            share->unlock();
    }
    std::shared_ptr<std::mutex> share = std::make_shared<std::mutex>();
    bool closed = false;
    TFormGotoProj dialog;
};

class FgotoprojdlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(drive.Root().empty());
        drive.Folder("Produktion/2013/1395 Amp");
        drive.Folder("Produktion/2013/1396 Rack");
        drive.Folder("Produktion/2014/1412345QTRX");
        drive.Folder("Firmware/Work/1395-fw");
        drive.Folder("Firmware/Work/Tools");
        drive.Folder("Firmware/Archiv2013/1395 final");
        UserDialogs::TakeAsked();
        DesktopActions::SetRecording(true);
        DesktopActions::TakeStarted();
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override
    {
        UserDialogs::TakeAsked();
        DesktopActions::TakeStarted();
    }

    // Waits until the dialog shows the result of its newest search.
    static bool Settled(const TFormGotoProj& dialog)
    {
        return WaitFor([&] { return !dialog.SearchPending(); });
    }
    static QRect RowRect(const TFormGotoProj& dialog, int row)
    {
        return dialog.ListBox1->visualRect(dialog.ListBox1->model()->index(row, 0));
    }
    static void RightClick(TFormGotoProj& dialog, QPoint at)
    {
        QTest::mouseClick(dialog.ListBox1->viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent request(QContextMenuEvent::Mouse, at, dialog.ListBox1->viewport()->mapToGlobal(at));
        QApplication::sendEvent(dialog.ListBox1->viewport(), &request);
    }
    std::string P(const std::string& relative) const { return drive.Path(relative); }

    TempTree drive { "tovrin-finder" };
};

TEST_F(FgotoprojdlgTest, LayoutCaptionsMenuAndTabOrder)
{
    TFormGotoProj dialog(nullptr, drive.Root());
    EXPECT_EQ(dialog.windowTitle(), "Projekt suchen");
    EXPECT_EQ(dialog.size(), QSize(404, 308));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(dialog.EditAmpSN->geometry(), QRect(3, 27, 252, 21));
    EXPECT_EQ(dialog.ListBox1->geometry(), QRect(3, 72, 400, 189));
    EXPECT_EQ(dialog.ButtonOk->geometry(), QRect(3, 267, 97, 33));
    EXPECT_EQ(dialog.Button2->geometry(), QRect(106, 267, 97, 33));
    EXPECT_EQ(dialog.ButtonClear->geometry(), QRect(335, 25, 68, 25));
    EXPECT_EQ(dialog.ButtonExtractAmpSnFromClipbrd->geometry(), QRect(261, 25, 68, 25));
    EXPECT_EQ(dialog.ButtonOk->text(), "&OK");
    EXPECT_TRUE(dialog.ButtonOk->isDefault());
    EXPECT_EQ(dialog.Button2->text(), "&Cancel");
    EXPECT_EQ(dialog.ButtonClear->text(), "&Clear");
    EXPECT_EQ(dialog.ButtonExtractAmpSnFromClipbrd->text(), "&Paste SN");
    const auto* search = dialog.findChild<QLabel*>("Label1");
    const auto* list = dialog.findChild<QLabel*>("Label2");
    ASSERT_TRUE(search && list);
    EXPECT_EQ(search->text(), "&Suchmuster: (z.B. \"1395\" oder \"14*QTRX\"):");
    EXPECT_EQ(search->buddy(), dialog.EditAmpSN);
    EXPECT_EQ(search->pos(), QPoint(3, 8));
    EXPECT_EQ(list->text(), "&Gefundene Verzeichnisnamen:");
    EXPECT_EQ(list->buddy(), dialog.ListBox1);
    EXPECT_EQ(list->pos(), QPoint(3, 54));

    QStringList captions;
    for (const QAction* action : dialog.PopupMenu1->actions())
        captions << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(captions,
        QStringList({ "Open &Explorer here", "Open Command &Line here", "-", "Copy &Path",
            "Copy Path in \"&Quotes\"", "Copy Project &Number (...)", "-", "Folder Properties" }));
    EXPECT_EQ(dialog.MenuItemShowFileProps->shortcut(), QKeySequence(Qt::ALT | Qt::Key_1));

    const std::vector<QWidget*> order { dialog.EditAmpSN, dialog.ListBox1, dialog.ButtonOk, dialog.Button2,
        dialog.ButtonClear, dialog.ButtonExtractAmpSnFromClipbrd };
    for (size_t i = 0; i + 1 < order.size(); ++i)
        EXPECT_EQ(NextTabStop(order[i]), order[i + 1]) << order[i]->objectName().toStdString();
}

TEST_F(FgotoprojdlgTest, ControlsFollowTheirAnchors)
{
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    dialog.resize(604, 408);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.EditAmpSN->geometry(), QRect(3, 27, 452, 21));
    EXPECT_EQ(dialog.ListBox1->geometry(), QRect(3, 72, 600, 289));
    EXPECT_EQ(dialog.ButtonOk->geometry(), QRect(3, 367, 97, 33));
    EXPECT_EQ(dialog.Button2->geometry(), QRect(106, 367, 97, 33));
    EXPECT_EQ(dialog.ButtonClear->geometry(), QRect(535, 25, 68, 25));
    EXPECT_EQ(dialog.ButtonExtractAmpSnFromClipbrd->geometry(), QRect(461, 25, 68, 25));
}

TEST_F(FgotoprojdlgTest, EveryKeystrokeAndFocusChangeSearchesAndSelectsTheFirstEntry)
{
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    dialog.EditAmpSN->setFocus();
    ASSERT_TRUE(Settled(dialog));
    QSignalSpy shown(&dialog, &TFormGotoProj::SearchShown);
    std::string typed;
    for (const char key : std::string("1395")) {
        QTest::keyClick(dialog.EditAmpSN, key);
        typed += key;
        ASSERT_TRUE(Settled(dialog)) << typed;
        EXPECT_EQ(dialog.Entries(), SearchProjectFolders(typed, drive.Root())) << typed;
    }
    EXPECT_EQ(shown.count(), 4) << "one search per character";
    const Entries expected { P("Produktion/2013/1395 Amp/"), P("Firmware/Work/1395-fw/"),
        P("Firmware/Archiv2013/1395 final/") };
    EXPECT_EQ(dialog.Entries(), expected);
    EXPECT_EQ(dialog.GetSelectedPath(), expected[0]);

    // Leaving the field and coming back each search again, with the same result.
    dialog.ListBox1->setFocus();
    ASSERT_TRUE(Settled(dialog));
    dialog.EditAmpSN->setFocus();
    ASSERT_TRUE(Settled(dialog));
    EXPECT_EQ(shown.count(), 6);
    EXPECT_EQ(dialog.Entries(), expected);

    QTest::keyClicks(dialog.EditAmpSN, "99");
    ASSERT_TRUE(Settled(dialog));
    EXPECT_TRUE(dialog.Entries().empty());
    EXPECT_EQ(dialog.GetSelectedPath(), "");
    EXPECT_EQ(dialog.GetSelectedProjectNumber(), "");
}

TEST_F(FgotoprojdlgTest, ClickThatMovesTheFocusKeepsItsChoiceAfterTheSearchItStarted)
{
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.EditAmpSN->setFocus();
    QTest::keyClicks(dialog.EditAmpSN, "1395");
    ASSERT_TRUE(Settled(dialog));
    QSignalSpy shown(&dialog, &TFormGotoProj::SearchShown);
    QTest::mouseClick(dialog.ListBox1->viewport(), Qt::LeftButton, {}, RowRect(dialog, 2).center());
    ASSERT_TRUE(dialog.ListBox1->hasFocus());
    ASSERT_TRUE(Settled(dialog));
    EXPECT_EQ(shown.count(), 1) << "leaving the field searched again";
    EXPECT_EQ(dialog.GetSelectedPath(), P("Firmware/Archiv2013/1395 final/"));

    // Coming back to the field searches again and, as after every search, selects the first entry.
    dialog.EditAmpSN->setFocus();
    ASSERT_TRUE(Settled(dialog));
    EXPECT_EQ(shown.count(), 2);
    EXPECT_EQ(dialog.GetSelectedPath(), P("Produktion/2013/1395 Amp/"));

    // A menu opening over the field or another window becoming active does not leave it.
    for (const Qt::FocusReason reason : { Qt::PopupFocusReason, Qt::ActiveWindowFocusReason }) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(dialog.EditAmpSN, &out);
        EXPECT_FALSE(dialog.SearchPending()) << reason;
    }
}

TEST_F(FgotoprojdlgTest, TypingFastShowsOnlyTheNewestResult)
{
    for (int i = 0; i < 300; ++i)
        drive.Folder("Produktion/2013/13" + std::to_string(90000 + i));
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    QTest::keyClicks(dialog.EditAmpSN, "13900");
    QTest::keyClicks(dialog.EditAmpSN, "1");
    ASSERT_TRUE(Settled(dialog));
    EXPECT_EQ(dialog.Entries(), SearchProjectFolders("139001", drive.Root()));
    EXPECT_EQ(dialog.Entries().size(), 10u) << "1390010 to 1390019";
}

TEST_F(FgotoprojdlgTest, ActivationPastesFromTheClipboardOnlyIntoAnEmptyField)
{
    QGuiApplication::clipboard()->setText("SN: 14 12345QTRX-B");
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    EXPECT_EQ(dialog.EditAmpSN->text(), "1412345QTRX");
    ASSERT_TRUE(Settled(dialog));
    EXPECT_EQ(dialog.Entries(), Entries { P("Produktion/2014/1412345QTRX/") });
    dialog.hide();

    QGuiApplication::clipboard()->setText("1395");
    dialog.show();
    EXPECT_EQ(dialog.EditAmpSN->text(), "1412345QTRX") << "a field with text is kept";

    QTest::mouseClick(dialog.ButtonExtractAmpSnFromClipbrd, Qt::LeftButton);
    EXPECT_EQ(dialog.EditAmpSN->text(), "1395");
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(dialog.ButtonExtractAmpSnFromClipbrd, Qt::LeftButton);
    EXPECT_EQ(dialog.EditAmpSN->text(), "") << "no text on the clipboard gives an empty pattern";
}

TEST_F(FgotoprojdlgTest, ClearSearchesWithTheEmptyPattern)
{
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    dialog.EditAmpSN->setText("1395");
    ASSERT_TRUE(Settled(dialog));
    QTest::mouseClick(dialog.ButtonClear, Qt::LeftButton);
    EXPECT_EQ(dialog.EditAmpSN->text(), "");
    ASSERT_TRUE(Settled(dialog));
    EXPECT_EQ(dialog.Entries(), SearchProjectFolders("", drive.Root()));
    EXPECT_GE(dialog.Entries().size(), 2u) << "the work folder's folders";
}

TEST_F(FgotoprojdlgTest, RightClickSelectsAndOpensTheMenuOnlyOnAnItem)
{
    drive.Folder("Firmware/Work/1412345QTRX");
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    dialog.EditAmpSN->setText("14");
    ASSERT_TRUE(Settled(dialog));
    const Entries entries = dialog.Entries();
    ASSERT_EQ(entries.size(), 2u);

    RightClick(dialog, RowRect(dialog, 1).center());
    EXPECT_EQ(dialog.GetSelectedPath(), entries[1]);
    ASSERT_TRUE(WaitFor([&] { return dialog.PopupMenu1->isVisible(); }));
    EXPECT_EQ(dialog.MenuItemCopyAmpSN->text(), "Copy Project &Number (1412345QTRX)");
    dialog.PopupMenu1->close();

    RightClick(dialog, QPoint(10, RowRect(dialog, 1).bottom() + 30));
    EXPECT_EQ(dialog.GetSelectedPath(), "");
    QTest::qWait(50);
    EXPECT_FALSE(dialog.PopupMenu1->isVisible());
}

TEST_F(FgotoprojdlgTest, MenuActionsCopyAndStartWithTheSelectedFolder)
{
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    dialog.EditAmpSN->setText("1412345");
    ASSERT_TRUE(Settled(dialog));
    const std::string path = P("Produktion/2014/1412345QTRX/");
    ASSERT_EQ(dialog.GetSelectedPath(), path);

    dialog.MenuItemCopyText->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), path);
    dialog.MenuItemCopyTextQ->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "\"" + path + "\"");
    dialog.MenuItemCopyAmpSN->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "1412345QTRX") << "read without the final separator";
    EXPECT_EQ(dialog.GetSelectedProjectNumber(), "1412345QTRX");

    TempTree bin { "tovrin-bin" };
    const std::string terminal = bin.File("konsole", "#!/bin/sh\n");
    chmod(terminal.c_str(), 0755);
    qputenv("TERMINAL", QByteArray::fromStdString(terminal));
    dialog.MenuItemOpenExplorer->trigger();
    dialog.MenuItemOpenCmdLine->trigger();
    QTest::keyClick(&dialog, Qt::Key_1, Qt::AltModifier);
    qunsetenv("TERMINAL");
    const auto started = DesktopActions::TakeStarted();
    ASSERT_EQ(started.size(), 3);
    EXPECT_EQ(started[0].action, "open");
    EXPECT_EQ(started[0].folder.toStdString(), path);
    EXPECT_EQ(started[1].action, "terminal");
    EXPECT_EQ(started[1].program.toStdString(), terminal);
    EXPECT_EQ(started[1].arguments, QStringList({ "--workdir", QString::fromStdString(path) }));
    EXPECT_EQ(started[1].folder.toStdString(), path);
    EXPECT_EQ(started[2].action, "properties") << "Alt+1";
    EXPECT_EQ(started[2].folder.toStdString(), path);

    // With nothing selected every action does nothing.
    dialog.EditAmpSN->setText("none such");
    ASSERT_TRUE(Settled(dialog));
    QGuiApplication::clipboard()->setText("kept");
    for (QAction* action : dialog.PopupMenu1->actions())
        action->trigger();
    EXPECT_TRUE(DesktopActions::TakeStarted().isEmpty());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept");
}

TEST_F(FgotoprojdlgTest, NoTerminalProgramIsReportedInAMessageBox)
{
    TempTree empty { "tovrin-nopath" };
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(empty.Root()));
    qunsetenv("TERMINAL");
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.EditAmpSN->setText("1395");
    ASSERT_TRUE(Settled(dialog));
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    dialog.MenuItemOpenCmdLine->trigger();
    qputenv("PATH", path);
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].kind, "error");
    EXPECT_TRUE(asked[0].text.contains("No terminal program"));
    EXPECT_TRUE(DesktopActions::TakeStarted().isEmpty());
}

TEST_F(FgotoprojdlgTest, FolderAndTerminalReallyStartWithThePathAsOneArgument)
{
    StandInDesktop desktop;
    setenv("PATH", desktop.Bin.c_str(), 1); // only the stand-ins can start
    const std::string opener = desktop.CopyProgram("xdg-open");
    const std::string terminal = desktop.CopyProgram("konsole");
    qputenv("TERMINAL", "konsole");
    drive.Folder("Produktion/2015/1501 $(touch X) a;b");
    DesktopActions::SetRecording(false);
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.EditAmpSN->setText("1501");
    ASSERT_TRUE(Settled(dialog));
    const std::string folder = P("Produktion/2015/1501 $(touch X) a;b/");
    ASSERT_EQ(dialog.GetSelectedPath(), folder);
    dialog.MenuItemOpenExplorer->trigger();
    dialog.MenuItemOpenCmdLine->trigger();
    std::vector<std::vector<std::string>> given;
    for (const RecordedRun& run : desktop.Runs(2))
        given.push_back(run.Args);
    std::sort(given.begin(), given.end());
    EXPECT_EQ(given,
        (std::vector<std::vector<std::string>> {
            { terminal, "--workdir", folder }, { "xdg-open", folder } }));
    EXPECT_TRUE(UserDialogs::TakeAsked().isEmpty());

    // Without the opener an error box says why.
    std::filesystem::remove(opener);
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    dialog.MenuItemOpenExplorer->trigger();
    qunsetenv("TERMINAL");
    DesktopActions::SetRecording(true);
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].kind, "error");
    EXPECT_EQ(asked[0].caption, "Open Explorer here");
    EXPECT_TRUE(asked[0].text.contains("xdg-open")) << asked[0].text.toStdString();
    EXPECT_FALSE(std::filesystem::exists(desktop.Folder + "/X"));
}

TEST_F(FgotoprojdlgTest, DoubleClickClosesWithOkAlsoBelowTheLastItem)
{
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    dialog.EditAmpSN->setText("1395");
    ASSERT_TRUE(Settled(dialog));
    const QPoint second = RowRect(dialog, 1).center();
    QTest::mouseClick(dialog.ListBox1->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(dialog.ListBox1->viewport(), Qt::LeftButton, {}, second);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), TFormGotoProj::ModalOk);
    EXPECT_EQ(dialog.GetSelectedPath(), P("Firmware/Work/1395-fw/"));

    dialog.show();
    ASSERT_TRUE(Settled(dialog));
    const QPoint below(10, RowRect(dialog, 2).bottom() + 30);
    QTest::mouseClick(dialog.ListBox1->viewport(), Qt::LeftButton, {}, below);
    QTest::mouseDClick(dialog.ListBox1->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(dialog.result(), TFormGotoProj::ModalOk);
    EXPECT_EQ(dialog.GetSelectedPath(), "");

    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), TFormGotoProj::ModalCancel);
}

// A scanner types a number and Enter in one burst: OK, Enter and a double click act on the
// search for the field's text as it is then, not on the list still shown.
TEST_F(FgotoprojdlgTest, ChoosingWhileTheSearchRunsActsOnTheFieldsText)
{
    drive.Folder("Produktion/2013/1390 Other");
    drive.Folder("Produktion/2013/1395 Wanted");
    drive.FoldersWithoutDigits({ "Produktion/2013", "Firmware/Work" }, 500);
    const std::array<const char*, 3> bursts[] = {
        // shown (settled), typed, the first entry for the field's text
        { "139", "5 Wanted", "Produktion/2013/1395 Wanted/" },
        { "", "1395 W", "Produktion/2013/1395 Wanted/" }, // the first look into a year folder
        { "1395 W", "\b\b\b0", "Produktion/2013/1390 Other/" }, // "139" and "0"
        { "1395 Wanted", "9", "" }, // nothing found: no folder chosen
    };
    TFormGotoProj dialog(nullptr, drive.Root());
    for (int round = 0; round < 3; ++round)
        for (const auto& [shown, typed, chosen] : bursts)
            for (const int way : { 0, 1, 2 }) { // Enter, a click on OK, a double click
                SCOPED_TRACE(std::string(shown) + " + " + typed + ", way " + std::to_string(way));
                dialog.show();
                QApplication::setActiveWindow(&dialog);
                dialog.EditAmpSN->setFocus();
                dialog.EditAmpSN->setText(shown);
                ASSERT_TRUE(Settled(dialog));
                QTest::keyClicks(dialog.EditAmpSN, typed);
                if (way == 0)
                    QTest::keyClick(dialog.EditAmpSN, Qt::Key_Return);
                else if (way == 1)
                    QTest::mouseClick(dialog.ButtonOk, Qt::LeftButton);
                else
                    QTest::mouseDClick(dialog.ListBox1->viewport(), Qt::LeftButton, {}, QPoint(30, 10));
                EXPECT_FALSE(dialog.isVisible());
                EXPECT_EQ(dialog.result(), TFormGotoProj::ModalOk);
                EXPECT_EQ(dialog.GetSelectedPath(), *chosen ? P(chosen) : "");
                EXPECT_EQ(QApplication::overrideCursor(), nullptr);
            }
}

// What comes after Enter in the same burst arrives while OK waits: it must not outlive the wait,
// handled later by the hidden dialog or the window opened next. The share answers once all that
// was queued before the marker has been taken.
TEST_F(FgotoprojdlgTest, InputDuringTheWaitCancelsOrIsDropped)
{
    using namespace QueuedInput;
    const int Ok = TFormGotoProj::ModalOk, Cancel = TFormGotoProj::ModalCancel;
    const std::tuple<const char*, std::function<void(TFormGotoProj&)>, int> rows[] = {
        { "Escape and a key", [](TFormGotoProj& d) { Type(d, "\x1bx"); }, Cancel },
        { "keys and Enter", [](TFormGotoProj& d) { Type(d, "xyz\r"); }, Ok },
        { "a click on Cancel", [](TFormGotoProj& d) { Click(*d.Button2); }, Cancel },
        { "a close request", [](TFormGotoProj& d) { CloseRequest(d); }, Cancel },
        { "a double click in the list", [](TFormGotoProj& d) { Click(*d.ListBox1->viewport(), 2); }, Ok },
    };
    for (const auto& [after, queue, result] : rows) {
        SCOPED_TRACE(after);
        GatedFinder finder(drive.Root());
        TFormGotoProj& dialog = finder.dialog;
        dialog.show();
        dialog.EditAmpSN->setFocus();
        dialog.EditAmpSN->setText("139");
        ASSERT_TRUE(Settled(dialog));
        QSignalSpy finished(&dialog, &QDialog::finished);
        finder.Close();
        Type(dialog, "5\r");
        queue(dialog);
        AfterQueued([&finder] { finder.Open(); });
        ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible() && !Pending(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(finished.count(), 1) << "the dialog ended once";
        EXPECT_EQ(finished.value(0).value(0).toInt(), result) << "what the caller is told";
        EXPECT_EQ(dialog.result(), result);
        EXPECT_EQ(dialog.EditAmpSN->text().toStdString(), "1395") << "nothing typed after Enter arrived";
        if (result == Ok) {
            EXPECT_EQ(dialog.GetSelectedPath(), P("Produktion/2013/1395 Amp/"));
        }
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

// When the share does not answer in SearchWaitLimitMs the dialog stays open and says so; OK may
// be pressed again.
TEST_F(FgotoprojdlgTest, OkThatGaveUpWaitingSaysSoAndMayBePressedAgain)
{
    GatedFinder finder(drive.Root());
    TFormGotoProj& dialog = finder.dialog;
    dialog.show();
    dialog.EditAmpSN->setText("139");
    ASSERT_TRUE(Settled(dialog));
    finder.Close();
    QTest::keyClicks(dialog.EditAmpSN, "5\r");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.LabelSearchRunning->text().toStdString(),
        "The search is still running. Press OK again to wait for it.");
    EXPECT_EQ(dialog.LabelSearchRunning->textFormat(), Qt::PlainText);
    finder.Open();
    QTest::mouseClick(dialog.ButtonOk, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), TFormGotoProj::ModalOk);
    EXPECT_EQ(dialog.GetSelectedPath(), P("Produktion/2013/1395 Amp/"));
    EXPECT_EQ(dialog.LabelSearchRunning->text(), "") << "the search has ended";
}

TEST_F(FgotoprojdlgTest, ExecAnswersAQueuedResult)
{
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.SetNextAnswer(TFormGotoProj::ModalOk, P("Firmware/Work/Tools/"));
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetSelectedPath(), P("Firmware/Work/Tools/"));
    dialog.SetNextAnswer(TFormGotoProj::ModalCancel);
    EXPECT_EQ(dialog.exec(), 2);
}

TEST_F(FgotoprojdlgTest, FoldersShareOneCachedIconKey)
{
    TFormGotoProj dialog(nullptr, drive.Root());
    dialog.show();
    dialog.EditAmpSN->setText("1395");
    ASSERT_TRUE(Settled(dialog));
    dialog.grab();
    ASSERT_EQ(dialog.IconCache.size(), 1u);
    EXPECT_EQ(dialog.IconCache.count(""), 1u);
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return EndBeforeWindowSystemTeardown(RUN_ALL_TESTS());
}
