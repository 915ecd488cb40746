// The exported functions used as another Qt program uses them: tovrin_gui is loaded with dlopen,
// both functions are found with dlsym, and the real dialogs are answered by typing into them.

#include "gotoproj/TovrinGotoProj.h"
#include "support/QtWait.h"
#include "support/QueuedInput.h"
#include "support/TempTree.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <functional>
#include <memory>

namespace {

using GotoProjFn = decltype(&ShowGotoProjFormModal);
using InputQueryFn = decltype(&ShowInputQuery);

struct Library {
    void* handle = dlopen(TOVRIN_GUI_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    GotoProjFn gotoProj
        = handle ? reinterpret_cast<GotoProjFn>(dlsym(handle, "ShowGotoProjFormModal")) : nullptr;
    InputQueryFn inputQuery
        = handle ? reinterpret_cast<InputQueryFn>(dlsym(handle, "ShowInputQuery")) : nullptr;
};

Library& Loaded()
{
    static Library library; // stays loaded: Qt keeps references into it until the program ends
    return library;
}

// Runs answer on the modal dialog once it is shown; false when none was shown in time.
void WhenModal(std::function<void(QWidget&)> answer)
{
    auto* timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, waited] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr && ++*waited < 250)
            return;
        timer->stop();
        timer->deleteLater();
        if (modal != nullptr)
            answer(*modal);
    });
    timer->start(20);
}

class GotoProjExportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(Loaded().handle, nullptr) << dlerror();
        ASSERT_NE(Loaded().gotoProj, nullptr);
        ASSERT_NE(Loaded().inputQuery, nullptr);
        ASSERT_FALSE(drive.Root().empty());
        drive.Folder("Produktion/2014/1412345QTRX");
        drive.Folder("Produktion/2013/1395 Amp");
        qputenv("TOVRIN_PROJECT_DRIVE", QByteArray::fromStdString(drive.Root()));
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override { qunsetenv("TOVRIN_PROJECT_DRIVE"); }

    static void TypeAndConfirm(QWidget& dialog, const QString& text, bool ok)
    {
        auto* edit = dialog.findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, ok ? Qt::Key_Return : Qt::Key_Escape);
    }
    // Confirms the finder once its list shows entries.
    static void OkWhenFound(QWidget& dialog)
    {
        auto* list = dialog.findChild<QListView*>("ListBox1");
        ASSERT_NE(list, nullptr);
        ASSERT_TRUE(WaitFor([&] { return list->model()->rowCount() > 0; }));
        QTest::mouseClick(dialog.findChild<QPushButton*>("ButtonOk"), Qt::LeftButton);
    }

    TempTree drive { "tovrin-exports" };
};

TEST_F(GotoProjExportsTest, InputQueryCutsToTheBufferAndKeepsTextOnCancel)
{
    char value[8 + 4];
    std::memset(value, '#', sizeof value);
    std::strcpy(value, "old");
    WhenModal([](QWidget& dialog) { TypeAndConfirm(dialog, "0123456789", true); });
    EXPECT_EQ(Loaded().inputQuery("Caption", "Prompt:", value, 8), 1);
    EXPECT_EQ(std::string(value, 8), std::string("0123456\0", 8));
    EXPECT_EQ(std::string(value + 8, 4), "####") << "nothing written past size";

    char kept[16] = "abc";
    WhenModal([](QWidget& dialog) { TypeAndConfirm(dialog, "changed", false); });
    EXPECT_EQ(Loaded().inputQuery("Caption", "Prompt:", kept, sizeof kept), 0);
    EXPECT_STREQ(kept, "abc");

    // The initial text is the buffer's, read no further than size.
    char unterminated[4] = { 'w', 'x', 'y', 'z' };
    QString shownText;
    WhenModal([&](QWidget& dialog) {
        shownText = dialog.findChild<QLineEdit*>()->text();
        TypeAndConfirm(dialog, "", false);
    });
    EXPECT_EQ(Loaded().inputQuery("Caption", "Prompt:", unterminated, 4), 0);
    EXPECT_EQ(shownText, "wxyz");
    EXPECT_EQ(std::string(unterminated, 4), std::string("wxy\0", 4));
}

TEST_F(GotoProjExportsTest, InputQueryWithoutRoomWritesNothing)
{
    char sentinel[4] = { 's', 's', 's', 's' };
    for (const int size : { 0, -5 }) {
        WhenModal([](QWidget& dialog) { TypeAndConfirm(dialog, "typed", true); });
        EXPECT_EQ(Loaded().inputQuery("Caption", "Prompt:", sentinel, size), 1);
        EXPECT_EQ(std::string(sentinel, 4), "ssss") << size;
    }
    WhenModal([](QWidget& dialog) { TypeAndConfirm(dialog, "typed", true); });
    EXPECT_EQ(Loaded().inputQuery(nullptr, nullptr, nullptr, 8), 1);
}

TEST_F(GotoProjExportsTest, FinderOkFillsBothBuffersCutToTheirSize)
{
    char number[32];
    char path[512];
    std::memset(number, '#', sizeof number);
    std::memset(path, '#', sizeof path);
    WhenModal(OkWhenFound);
    EXPECT_EQ(Loaded().gotoProj(nullptr, "1412345", number, sizeof number, path, sizeof path), 1);
    EXPECT_STREQ(number, "1412345QTRX");
    EXPECT_EQ(std::string(path), drive.Path("Produktion/2014/1412345QTRX/"));
    EXPECT_EQ(path[sizeof path - 1], '\0') << "zero bytes up to the end";

    char small[8 + 2];
    std::memset(small, '#', sizeof small);
    WhenModal(OkWhenFound);
    EXPECT_EQ(Loaded().gotoProj(nullptr, "1412345", small, 8, nullptr, 100), 1);
    EXPECT_EQ(std::string(small, sizeof small), std::string("1412345\0##", 10));

    char untouched[4] = { 'u', 'u', 'u', 'u' };
    WhenModal(OkWhenFound);
    EXPECT_EQ(Loaded().gotoProj(nullptr, "1412345", untouched, 0, untouched, -1), 1);
    EXPECT_EQ(std::string(untouched, 4), "uuuu");
}

TEST_F(GotoProjExportsTest, FinderOkWhileTheSearchRunsGivesTheFolderForTheFieldsText)
{
    drive.FoldersWithoutDigits({ "Produktion/2013", "Firmware/Work" }, 500);
    drive.Folder("Produktion/2013/1390 Other");
    struct Case {
        const char* pattern;
        int shownRows; // waited for before the burst of keys and Enter
        const char* typed;
        const char* number;
        const char* path;
    };
    const Case cases[] = {
        { "139", 2, "5", "1395", "Produktion/2013/1395 Amp/" },
        { nullptr, 0, "1395", "1395", "Produktion/2013/1395 Amp/" }, // the first look into a year folder
        { "1412345", 1, "\b\b\b\b\b\b\b1390", "1390", "Produktion/2013/1390 Other/" },
    };
    for (int round = 0; round < 5; ++round)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.pattern ? c.pattern : "(null)") + " + " + c.typed);
            WhenModal([&](QWidget& dialog) {
                auto* list = dialog.findChild<QListView*>("ListBox1");
                auto* edit = dialog.findChild<QLineEdit*>("EditAmpSN");
                EXPECT_TRUE(WaitFor([&] { return list->model()->rowCount() >= c.shownRows; }));
                QTest::keyClicks(edit, c.typed);
                QTest::keyClick(edit, Qt::Key_Return);
            });
            char number[32] = "unset";
            char path[512] = "unset";
            ASSERT_EQ(Loaded().gotoProj(nullptr, c.pattern, number, sizeof number, path, sizeof path), 1);
            EXPECT_STREQ(number, c.number);
            EXPECT_EQ(std::string(path), drive.Path(c.path));
        }
}

// A caller may delete the owner window from a timer while OK waits for a search: the dialog goes
// with it, and the call answers Cancel without touching the buffers. Whether OK has to wait depends
// on how soon the first look into the year folder ends: tried until it did.
TEST_F(GotoProjExportsTest, FinderWhoseOwnerIsDeletedDuringTheWaitAnswersCancel)
{
    drive.FoldersWithoutDigits({ "Produktion/2013", "Firmware/Work" }, 500);
    auto owner = std::make_unique<QWidget>();
    for (int round = 0; round < 20 && owner != nullptr; ++round) {
        QTimer deleter;
        QObject::connect(&deleter, &QTimer::timeout, [&] {
            if (QApplication::overrideCursor() != nullptr) // the wait's
                owner.reset();
        });
        WhenModal([&](QWidget& dialog) {
            QTest::keyClicks(dialog.findChild<QLineEdit*>("EditAmpSN"), "1395");
            QueuedInput::Type(dialog, "\r"); // taken by the event loop, where the wait runs
            deleter.start(0);
        });
        char number[16] = "before";
        const int result = Loaded().gotoProj(owner.get(), nullptr, number, sizeof number, nullptr, 0);
        EXPECT_EQ(result, owner != nullptr ? 1 : 2);
        EXPECT_STREQ(number, owner != nullptr ? "1395" : "before");
    }
    EXPECT_EQ(owner, nullptr) << "OK never had to wait";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(GotoProjExportsTest, FinderCancelLeavesTheBuffersAlone)
{
    char number[16] = "before";
    char path[16] = "before";
    WhenModal([](QWidget& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_EQ(Loaded().gotoProj(nullptr, "1395", number, sizeof number, path, sizeof path), 2);
    EXPECT_STREQ(number, "before");
    EXPECT_STREQ(path, "before");
}

TEST_F(GotoProjExportsTest, FinderWithoutPatternSearchesTheClipboardNumber)
{
    QGuiApplication::clipboard()->setText("Serial: 14 12345QTRX-B");
    char path[256] = {};
    QString field;
    WhenModal([&](QWidget& dialog) {
        field = dialog.findChild<QLineEdit*>("EditAmpSN")->text();
        OkWhenFound(dialog);
    });
    EXPECT_EQ(Loaded().gotoProj(nullptr, nullptr, nullptr, 0, path, sizeof path), 1);
    EXPECT_EQ(field, "1412345QTRX");
    EXPECT_EQ(std::string(path), drive.Path("Produktion/2014/1412345QTRX/"));

    // A pattern given: the clipboard is not read, even when the pattern finds nothing.
    WhenModal([&](QWidget& dialog) {
        field = dialog.findChild<QLineEdit*>("EditAmpSN")->text();
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(Loaded().gotoProj(nullptr, "777777", nullptr, 0, nullptr, 0), 2);
    EXPECT_EQ(field, "777777");
}

TEST_F(GotoProjExportsTest, FinderIsCentredOnItsOwner)
{
    QWidget owner;
    owner.setGeometry(100, 100, 600, 500);
    owner.show();
    QPoint centre;
    WhenModal([&](QWidget& dialog) {
        centre = dialog.frameGeometry().center();
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(Loaded().gotoProj(&owner, "1395", nullptr, 0, nullptr, 0), 2);
    EXPECT_LE((centre - owner.frameGeometry().center()).manhattanLength(), 4);
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
