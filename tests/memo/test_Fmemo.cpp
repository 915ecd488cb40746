// The text editor dialog, headless: layout and anchors, modal results, keys in the memo, files
// loaded and saved byte for byte through the real editor, the shared file names, the Ctrl path
// through the project finder, file errors and the clipboard commands.

#include "memo/Fmemo.h"

#include "gotoproj/Fgotoprojdlg.h"
#include "gui/GlobalForm.h"
#include "gui/KeyboardState.h"
#include "gui/UserDialogs.h"
#include "platform/UniqueFd.h"
#include "support/QtFocus.h"
#include "support/QtWait.h"
#include "support/SmallDisk.h"
#include "support/TempTree.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

class FmemoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(files.Root().empty());
        UserDialogs::TakeAsked();
        SetControlKeyHeldForTest(false);
    }
    void TearDown() override
    {
        SetControlKeyHeldForTest(std::nullopt);
        UserDialogs::TakeAsked();
    }

    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static QString Q(const std::string& path) { return QString::fromStdString(path); }

    TempTree files { "tovrin-memo" };
    GlobalForm<TFormMemo> memoHolder { FormMemo };
    TFormMemo& memo = *FormMemo;
};

TEST_F(FmemoTest, LayoutMenuAndTabOrder)
{
    EXPECT_EQ(memo.windowTitle(), "Edit");
    EXPECT_TRUE(memo.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(memo.windowFlags() & Qt::WindowMinimizeButtonHint);
    memo.show();
    const QWidget* client = memo.Memo1->parentWidget();
    EXPECT_EQ(client->size(), QSize(590, 440));
    EXPECT_EQ(memo.Memo1->geometry(), QRect(8, 0, 574, 396));
    EXPECT_EQ(memo.ButtonOk->geometry(), QRect(8, 402, 89, 30));
    EXPECT_EQ(memo.ButtonCancel->geometry(), QRect(103, 402, 89, 30));
    EXPECT_EQ(memo.ButtonOk->text(), "&OK");
    EXPECT_TRUE(memo.ButtonOk->isDefault());
    EXPECT_EQ(memo.ButtonCancel->text(), "&Cancel");
    EXPECT_FALSE(memo.Memo1->tabChangesFocus());
    EXPECT_EQ(memo.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(NextTabStop(memo.Memo1), memo.ButtonOk);
    EXPECT_EQ(NextTabStop(memo.ButtonOk), memo.ButtonCancel);

    const QList<QAction*> menus = memo.MainMenu1->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "&Edit");
    EXPECT_EQ(menus[0]->menu()->actions(), (QList<QAction*> { memo.Open1, memo.Saveas1 }));
    EXPECT_EQ(menus[1]->menu()->actions(), (QList<QAction*> { memo.Copyall1, memo.Pasteover1, memo.Clear1 }));
    const std::pair<QAction*, const char*> items[] = { { memo.Open1, "&Open...|Ctrl+O" },
        { memo.Saveas1, "&Save as...|Ctrl+S" }, { memo.Copyall1, "Copy &all|Ctrl+W" },
        { memo.Pasteover1, "&Paste over|Ctrl+P" }, { memo.Clear1, "&Clear|Ctrl+Q" } };
    for (const auto& [action, expected] : items)
        EXPECT_EQ(action->text() + "|" + action->shortcut().toString(), expected);

    memo.resize(memo.width() + 100, memo.height() + 50);
    QApplication::processEvents();
    EXPECT_EQ(memo.Memo1->geometry(), QRect(8, 0, 674, 446));
    EXPECT_EQ(memo.ButtonOk->geometry(), QRect(8, 452, 89, 30));
    EXPECT_EQ(memo.ButtonCancel->geometry(), QRect(103, 452, 89, 30));
    EXPECT_EQ(memo.focusWidget(), memo.Memo1) << "the memo has the focus when the window opens";
    memo.hide();
}

TEST_F(FmemoTest, ModalResultsOkAndCancelAndKeysInTheMemo)
{
    const auto run = [&](const std::function<void()>& act) {
        memo.open();
        EXPECT_TRUE(WaitFor([&] { return memo.isVisible(); }));
        act();
        EXPECT_TRUE(WaitFor([&] { return !memo.isVisible(); }));
        return memo.result();
    };
    EXPECT_EQ(run([&] { QTest::mouseClick(memo.ButtonOk, Qt::LeftButton); }), 1);
    EXPECT_EQ(run([&] { QTest::mouseClick(memo.ButtonCancel, Qt::LeftButton); }), 2);
    EXPECT_EQ(run([&] { QTest::keyClick(memo.Memo1, Qt::Key_Escape); }), 2);
    EXPECT_EQ(run([&] { memo.close(); }), 2);

    memo.SetText("");
    memo.open();
    memo.Memo1->setFocus();
    QTest::keyClicks(memo.Memo1, "a");
    QTest::keyClick(memo.Memo1, Qt::Key_Tab);
    QTest::keyClick(memo.Memo1, Qt::Key_Return);
    QTest::keyClicks(memo.Memo1, "b");
    EXPECT_TRUE(memo.isVisible()) << "Enter in the memo does not press OK";
    EXPECT_EQ(memo.focusWidget(), memo.Memo1) << "Tab in the memo does not move the focus";
    EXPECT_EQ(memo.Text(), "a\t\r\nb");
    memo.reject();
}

// What a load shows and a save writes, through the real editor widget.
TEST_F(FmemoTest, FilesComeBackByteForByte)
{
    struct Case {
        std::string file, saved;
    };
    const Case cases[] = {
        { "# menu\r\nping | ping <IP>", "# menu\r\nping | ping <IP>" },
        { "a\r\n\r\n", "a\r\n\r\n" },
        { "lf\nonly\rcr", "lf\r\nonly\r\ncr" },
        { "utf-8 \xC3\xBC\xC2\xA0nbsp\r\n\xEF\xBB\xBF"
          "bom \xE2\x80\xA8 \xF0\x9F\x94\x8A",
            "" },
        { "latin-1 \xFC\xA0\x80\xFF", "" },
        { std::string("nul \0 byte\r\n\t", 13), "" },
        { "para \xE2\x80\xA9 sep \xC3\xBC", "" },
        { "\xEF\xBB\xBF"
          "a",
            "" },
        { "\xEF\xBB\xBF"
          "bom\r\n",
            "" },
        { "\xEF\xBB\xBF\xFC latin-1 after a mark", "" },
        { "", "" },
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string in = files.File("in" + std::to_string(n) + ".txt", c.file);
        const std::string out = files.Path("out" + std::to_string(n++) + ".txt");
        int error = -1;
        ASSERT_TRUE(memo.LoadFromFile(in, error));
        ASSERT_TRUE(memo.SaveToFile(out, error));
        EXPECT_EQ(Read(out), c.saved.empty() ? c.file : c.saved) << c.file;
    }
    memo.SetText("x\xFC");
    EXPECT_EQ(memo.Memo1->toPlainText(), QString::fromUtf8("x\xC3\xBC"));
    memo.Memo1->setPlainText(memo.Memo1->toPlainText() + QString::fromUtf8("\xE2\x82\xAC"));
    EXPECT_EQ(memo.Text(), "x\xC3\xBC\xE2\x82\xAC") << "a character beyond Latin-1 makes it UTF-8";
}

TEST_F(FmemoTest, OpenAndSaveAsShareTheirFileNames)
{
    const std::string first = files.File("first.txt", "first\r\ntext");
    const std::string second = files.Path("second.txt");
    files.File("second.txt", "to be overwritten without a question");

    UserDialogs::SetNextFileName(Q(first));
    memo.Open1Click();
    EXPECT_EQ(memo.Text(), "first\r\ntext");
    UserDialogs::SetNextFileName(Q(second));
    memo.Saveas1Click();
    EXPECT_EQ(Read(second), "first\r\ntext");
    UserDialogs::SetNextFileName({});
    memo.Open1Click();

    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 3);
    EXPECT_EQ(asked[0].kind, "open");
    EXPECT_EQ(asked[1].kind, "save");
    EXPECT_EQ(asked[1].value, Q(first)) << "Save as proposes the file just opened";
    EXPECT_EQ(asked[2].kind, "open");
    EXPECT_EQ(asked[2].value, Q(second)) << "Open proposes the file just saved";
}

TEST_F(FmemoTest, ControlHeldAsksTheProjectFinderFirst)
{
    GlobalForm<TFormGotoProj> finderHolder { FormGotoProj };
    const std::string project = files.Folder("Produktion/2013/1395 Amp") + "/";
    const std::string file = files.File("Produktion/2013/1395 Amp/menu.txt", "from the project");
    SetControlKeyHeldForTest(true);

    FormGotoProj->SetNextAnswer(TFormGotoProj::ModalCancel);
    memo.Open1Click();
    EXPECT_TRUE(UserDialogs::TakeAsked().isEmpty()) << "a cancelled finder shows no file dialog";

    FormGotoProj->SetNextAnswer(TFormGotoProj::ModalOk, project);
    UserDialogs::SetNextFileName(Q(file));
    memo.Open1Click();
    auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].value, Q(project));
    EXPECT_EQ(memo.Text(), "from the project");

    // The save dialog starts in the folder found, proposing the name of the file it knows.
    FormGotoProj->SetNextAnswer(TFormGotoProj::ModalOk, files.Folder("Firmware/Work") + "/");
    UserDialogs::SetNextFileName({});
    memo.Saveas1Click();
    asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].kind, "save");
    EXPECT_EQ(asked[0].value, Q(files.Path("Firmware/Work/menu.txt")));

    // Without Ctrl the finder is not asked: its queued answer stays unused.
    SetControlKeyHeldForTest(false);
    UserDialogs::SetNextFileName({});
    memo.Open1Click();
    asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].value, Q(file));
}

TEST_F(FmemoTest, ShortcutsRunTheirCommandsAndCtrlOAsksTheFinder)
{
    GlobalForm<TFormGotoProj> finderHolder { FormGotoProj };
    memo.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&memo));
    memo.SetText("text");
    QTest::keyClick(memo.Memo1, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(memo.Text(), "") << "Ctrl+Q clears";

    QSignalSpy opened(memo.Open1, &QAction::triggered);
    SetControlKeyHeldForTest(true);
    FormGotoProj->SetNextAnswer(TFormGotoProj::ModalCancel);
    QTest::keyClick(memo.Memo1, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(opened.count(), 1);
    EXPECT_TRUE(UserDialogs::TakeAsked().isEmpty()) << "the finder was cancelled: no file dialog";
    memo.hide();
}

TEST_F(FmemoTest, FileErrorsNameTheFileAndChangeNothing)
{
    const std::string known = files.File("known.txt", "known");
    UserDialogs::SetNextFileName(Q(known));
    memo.Open1Click();
    memo.SetText("kept text");
    UserDialogs::TakeAsked();

    const std::string missing = files.Path("missing.txt");
    UserDialogs::SetNextFileName(Q(missing));
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    memo.Open1Click();
    EXPECT_EQ(memo.Text(), "kept text");
    EXPECT_EQ(memo.SaveDialog1.FileName, Q(known));
    auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1].kind, "error");
    EXPECT_EQ(asked[1].caption, "Error");
    EXPECT_EQ(asked[1].text, "Cannot open file \"" + Q(missing) + "\". No such file or directory");

    const std::string unwritable = files.Path("no/such/folder/out.txt");
    UserDialogs::SetNextFileName(Q(unwritable));
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    memo.Saveas1Click();
    EXPECT_EQ(memo.OpenDialog1.FileName, Q(missing));
    asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1].text, "Cannot create file \"" + Q(unwritable) + "\". No such file or directory");

    // No regular file, or one too large to edit: refused at once (a FIFO or a device would hold the
    // window for ever), with the reason.
    const std::string fifo = files.Path("fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = files.File("huge.txt");
    std::filesystem::resize_file(huge, uint64_t(4) << 30);
    const std::pair<std::string, QString> refused[] = {
        { files.Root(), "Is a directory" },
        { fifo, "Not a regular file" },
        { "/dev/zero", "Not a regular file" },
        { huge, "File too large (the editor opens files of up to 16 MiB)" },
    };
    for (const auto& [path, reason] : refused) {
        UserDialogs::SetNextFileName(Q(path));
        UserDialogs::SetNextAnswer(QMessageBox::Ok);
        memo.Open1Click();
        asked = UserDialogs::TakeAsked();
        ASSERT_EQ(asked.size(), 2);
        EXPECT_EQ(asked[1].text, "Cannot open file \"" + Q(path) + "\". " + reason);
        EXPECT_EQ(memo.Text(), "kept text");
    }
    // A reader is there, so that a save that is not refused ends (and fails here) at once rather
    // than wait for one.
    UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(reader);
    UserDialogs::SetNextFileName(Q(fifo));
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    memo.Saveas1Click();
    asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1].text, "Cannot create file \"" + Q(fifo) + "\". Not a regular file");
    char got = 0;
    EXPECT_LE(::read(reader.get(), &got, 1), 0) << "nothing written into the pipe";
}

// A save that does not fit leaves the old file byte for byte and says why: a small tmpfs of this
// process's own mount namespace stands in for a full disk.
TEST_F(FmemoTest, ASaveOnAFullDiskKeepsTheOldFile)
{
    const std::string disk = files.Folder("disk");
    const SmallDisk small(disk, "64k");
    if (!small.Refused().empty())
        GTEST_SKIP() << small.Refused();
    const std::string old = "# the old menu\r\nLatin-1 \xFC\r\nping | ping <IP>";
    const std::string file = disk + "/menu.txt";
    std::ofstream(file, std::ios::binary) << old;
    ASSERT_EQ(Read(file), old);

    memo.SetText(std::string(200000, 'x'));
    UserDialogs::SetNextFileName(Q(file));
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    memo.Saveas1Click();
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1].text.toStdString(), "Cannot create file \"" + file + "\". No space left on device");
    const std::string now = Read(file);
    EXPECT_TRUE(now == old) << "the old file is " << now.size() << " bytes now: " << now.substr(0, 40);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk), {}), 1) << "no temporary file left";
}

TEST_F(FmemoTest, CopyAllPasteOverAndClear)
{
    memo.SetText("one\r\ntwo");
    QTextCursor cursor = memo.Memo1->textCursor();
    cursor.setPosition(1);
    cursor.setPosition(2, QTextCursor::KeepAnchor);
    memo.Memo1->setTextCursor(cursor);
    memo.Copyall1Click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "one\ntwo");

    QGuiApplication::clipboard()->setText("pasted\r\nlines");
    memo.Pasteover1Click();
    EXPECT_EQ(memo.Text(), "pasted\r\nlines");

    auto* image = new QMimeData;
    image->setImageData(QImage(4, 4, QImage::Format_RGB32));
    QGuiApplication::clipboard()->setMimeData(image);
    memo.Pasteover1Click();
    EXPECT_EQ(memo.Text(), "");

    memo.SetText("x");
    memo.Clear1Click();
    EXPECT_EQ(memo.Text(), "");
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
