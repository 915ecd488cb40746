// The main window's context menu and keys, headless: an item acts on the amplifier its menu opened
// on while replies go on arriving, an amplifier gone meanwhile is reported and left alone, Return
// on a row, shortcuts in turn with keys a screen reader's bridge holds back, and what is spoken.

#include "finder/Ftovrin.h"

#include "gui/Announcer.h"
#include "gui/ErrorReportingApplication.h"
#include "gui/GlobalForm.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fipsettings.h"
#include "ipsettings/Fselipaddr.h"
#include "support/ListViewRows.h"
#include "support/QtWait.h"
#include "support/TestNetwork.h"
#include "upload/Fupload.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Failures show the texts.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

std::string NoNetworkReason;

// Closes a modal dialog as soon as it shows, noting what it showed.
class CloseOnShow : public QObject {
public:
    CloseOnShow(QDialog& dialog, std::function<QString(QDialog&)> note)
        : FDialog(dialog)
        , FNote(std::move(note))
    {
        dialog.installEventFilter(this);
    }
    ~CloseOnShow() override { FDialog.removeEventFilter(this); }
    QStringList Seen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &FDialog && event->type() == QEvent::Show) {
            Seen << FNote(FDialog);
            QTimer::singleShot(0, &FDialog, [this] { FDialog.reject(); });
        }
        return false;
    }

private:
    QDialog& FDialog;
    std::function<QString(QDialog&)> FNote;
};

// Holds back every key event, as the desktop's accessibility bridge does while it asks the screen
// reader about each key, and hands them on in order when told.
class HeldKeys : public QObject {
public:
    HeldKeys() { qApp->installEventFilter(this); }
    ~HeldKeys() override { qApp->removeEventFilter(this); }
    void Release()
    {
        FReleasing = true;
        for (auto& [target, event] : FHeld) {
            if (target)
                QCoreApplication::sendEvent(target, event.get());
        }
        FHeld.clear();
        FReleasing = false;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (FReleasing || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
            return false;
        FHeld.emplace_back(QPointer<QObject>(watched), std::unique_ptr<QEvent>(event->clone()));
        return true;
    }

private:
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> FHeld;
    bool FReleasing = false;
};

class FtovrinMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDialogs::TakeAsked();
        FormSelIpAddr->SetAddressSource([] { return std::vector<std::string> { TestNetwork::AppAddress() }; });
        Window().SetClock([this] { return Now; });
        QGuiApplication::clipboard()->setText("before");
    }
    void TearDown() override
    {
        Window().PopupMenu1->hide();
        UserDialogs::TakeAsked();
    }

    static TFormTovrin& Window() { return *FormTovrin; }
    static QTreeView& List() { return *Window().ListView1; }
    static QMenu& Menu() { return *Window().PopupMenu1; }

    static void Reply(const std::string& text)
    {
        Window().DatagramReceived("198.18.1.1:8001", text.c_str(), static_cast<int>(text.size()));
    }
    static void Amps()
    {
        Reply("0A1B2C 0 198.18.1.51 255.255.0.0 0.0.0.0 Stage-Left"); // 0
        Reply("0A1B2D 0 198.18.1.52 255.255.0.0 0.0.0.0 Foyer"); // 1
        QCoreApplication::processEvents();
    }
    static void ShowActive()
    {
        Window().SuppressActivation();
        Window().show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
        List().setFocus();
        // Notices wait a moment after the window came to the front.
        QTest::qWait(TAnnouncer::AfterActivationMs + 50);
    }
    // The menu by the Menu key on the list, at the current row.
    static void OpenMenu()
    {
        QTest::keyClick(&List(), Qt::Key_Menu);
        ASSERT_TRUE(WaitFor([] { return Menu().isVisible(); }, 3000));
    }
    // The user moves to the item and presses Return: the menu closes, then the item runs.
    static void Choose(QAction* item)
    {
        Menu().setActiveAction(item);
        QTest::keyClick(&Menu(), Qt::Key_Return);
        QCoreApplication::processEvents();
    }

    uint32_t Now = 1000;
    GlobalForm<TFormTovrin> FormTovrinHolder { FormTovrin };
    GlobalForm<TFormSelIpAddr> FormSelIpAddrHolder { FormSelIpAddr };
    GlobalForm<TFormIpSettings> FormIpSettingsHolder { FormIpSettings };
    GlobalForm<TFormUpload> FormUploadHolder { FormUpload };
};

QString IpSettingsShown(QDialog& dialog)
{
    auto& settings = static_cast<TFormIpSettings&>(dialog);
    return settings.EditMac->text() + " " + settings.EditIP->text() + " | " + settings.accessibleDescription();
}

QString UploadShown(QDialog&)
{
    return FormUpload->EditIP->text();
}

// Stage-Left is current when the menu opens; a new amplifier answers and takes the selection while
// it is open; each item still acts on Stage-Left.
TEST_F(FtovrinMenuTest, AnItemActsOnTheRowTheMenuOpenedOnAfterANewAmplifierTookTheSelection)
{
    Amps();
    ShowActive();
    PickRow(List(), 0);
    CloseOnShow ipSettings(*FormIpSettings, IpSettingsShown);
    CloseOnShow upload(*FormUpload, UploadShown);
    const struct {
        QAction* item;
        std::function<QString()> result;
        QString expected;
    } cases[] = {
        { Window().MenuItemCopyIP, [] { return QGuiApplication::clipboard()->text(); }, "198.18.1.51" },
        { Window().MenuItemIpSettings, [&] { return ipSettings.Seen.value(0); },
            "0A1B2C 198.18.1.51 | Amplifier 0A1B2C 198.18.1.51 Stage-Left" },
        { Window().MenuItemUpload, [&] { return upload.Seen.value(0); }, "198.18.1.51" },
    };
    int newcomer = 0;
    for (const auto& step : cases) {
        SCOPED_TRACE(step.item->objectName().toStdString());
        PickRow(List(), 0);
        OpenMenu();
        EXPECT_EQ(Menu().activeAction(), Window().MenuItemIpSettings) << "the menu starts on its first item";
        ++newcomer;
        Reply("NEW00" + std::to_string(newcomer) + " 0 198.18.1.9" + std::to_string(newcomer) + " 255.255.0.0 0.0.0.0 New");
        ASSERT_TRUE(WaitFor([] { return SelectedRow(List()) == Window().Amplifiers().Count() - 1; }, 3000));
        Choose(step.item);
        EXPECT_EQ(step.result(), step.expected);
        EXPECT_EQ(Window().Amplifiers().SelectedRow(), Window().Amplifiers().Count() - 1)
            << "the new amplifier keeps the selection";
    }
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_TRUE(asked.isEmpty()) << asked.first().text.toStdString();

    // With the menu closed again, Ctrl+I copies the selected row: the new amplifier's.
    QTest::keyClick(&List(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "198.18.1.93");
}

TEST_F(FtovrinMenuTest, AnItemWhoseAmplifierWentAwayDoesNothingAndSaysSo)
{
    if (!NoNetworkReason.empty())
        GTEST_SKIP() << NoNetworkReason;
    FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk);
    Window().FormActivate();
    ASSERT_TRUE(Window().Worker);
    Amps();
    ShowActive();
    CloseOnShow ipSettings(*FormIpSettings, IpSettingsShown);
    for (QAction* item : { Window().MenuItemCopyIP, Window().MenuItemIpSettings }) {
        SCOPED_TRACE(item->objectName().toStdString());
        Reply("0A1B2D 0 198.18.1.52 255.255.0.0 0.0.0.0 Foyer");
        PickRow(List(), Window().Amplifiers().Find("0A1B2C"));
        OpenMenu();
        for (int tick = 0; tick < 5; ++tick) { // Stage-Left falls silent; Foyer answers and stays
            Now += 500;
            Reply("0A1B2D 0 198.18.1.52 255.255.0.0 0.0.0.0 Foyer");
            Window().TimerHelloTimer();
        }
        ASSERT_EQ(Window().Amplifiers().Find("0A1B2C"), -1);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents(); // the view follows, then the notice goes out
        EXPECT_EQ(Window().Announcer->Last(), "0A1B2C 198.18.1.51 Stage-Left went away");
        Choose(item);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
        EXPECT_TRUE(ipSettings.Seen.isEmpty());
        const QString said = "0A1B2C 198.18.1.51 Stage-Left went away before the operation started; nothing was done.";
        EXPECT_EQ(Window().LabelStatus->text(), said);
        QCoreApplication::processEvents();
        EXPECT_EQ(Window().Announcer->Last(), said);
        Reply("0A1B2C 0 198.18.1.51 255.255.0.0 0.0.0.0 Stage-Left"); // back for the next step
        QTest::qWait(10); // its notice goes out
    }
}

// Each item's key binding as a screen reader splits it: access key, key path, accelerator.
TEST_F(FtovrinMenuTest, MenuItemsGiveTheirShortcutAsTheSpokenAccelerator)
{
    QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(&Menu());
    ASSERT_NE(menu, nullptr);
    const auto binding = [&](QAction* item) {
        QAccessibleInterface* read = menu->child(static_cast<int>(Menu().actions().indexOf(item)));
        if (read == nullptr || read->actionInterface() == nullptr)
            return QString("(none)");
        return read->text(QAccessible::Name) + " | "
            + read->actionInterface()->keyBindingsForAction(QAccessibleActionInterface::pressAction()).join(';');
    };
    EXPECT_EQ(binding(Window().MenuItemCopyIP), "Copy IP-Address | ;;Ctrl+I");
    EXPECT_EQ(binding(Window().MenuItemFindNext), "Find Next | ;;F3");
    EXPECT_EQ(binding(Window().MenuItemSaveList), "Save List As... | ;;Ctrl+S");
}

TEST_F(FtovrinMenuTest, ReturnOnARowOpensTheIpSettingsAsADoubleClickDoes)
{
    Amps();
    ShowActive();
    CloseOnShow ipSettings(*FormIpSettings, IpSettingsShown);
    PickRow(List(), 0);
    QTest::keyClick(&List(), Qt::Key_Return);
    List().clearSelection();
    QTest::keyClick(&List(), Qt::Key_Enter, Qt::KeypadModifier); // nothing selected: nothing opens
    ASSERT_EQ(ipSettings.Seen.size(), 1);
    EXPECT_TRUE(ipSettings.Seen[0].startsWith("0A1B2C 198.18.1.51 |")) << ipSettings.Seen[0].toStdString();
}

// Down then Ctrl+I, typed faster than the bridge hands keys on: the copy is of the row Down went to.
TEST_F(FtovrinMenuTest, ShortcutsActInTurnWithTheKeysTypedBeforeThem)
{
    Amps();
    ShowActive();
    PickRow(List(), 0);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } keys[] = { { Qt::Key_Down, Qt::NoModifier }, { Qt::Key_I, Qt::ControlModifier } };
    {
        HeldKeys bridge;
        for (const auto& key : keys)
            QTest::keyClick(&List(), key.key, key.modifiers);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "before") << "nothing acts before its turn";
        bridge.Release();
    }
    EXPECT_EQ(Window().Amplifiers().SelectedRow(), 1);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "198.18.1.52");
}

// What the screen reader is given beside the focus: the status line as a status bar, and each
// notice as the name of a notification object, shown with it (offscreen, Qt delivers no
// accessibility events: the real bus is the screen reader test's part).
TEST_F(FtovrinMenuTest, StatusNoticesConfirmationsAndListChangesAreAnnounced)
{
    Amps();
    ShowActive();
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(Window().LabelStatus);
    QAccessibleInterface* notice = QAccessible::queryAccessibleInterface(Window().Announcer);
    ASSERT_TRUE(status != nullptr && notice != nullptr);
    EXPECT_EQ(status->role(), QAccessible::StatusBar);
    EXPECT_EQ(notice->role(), QAccessible::Notification);
    // Notices go out at the next turn of the event loop.
    const auto spoken = [notice] {
        QCoreApplication::processEvents();
        return notice->text(QAccessible::Name).toStdString();
    };

    UserDialogs::SetNextInput("zzz");
    QTest::keyClick(&List(), Qt::Key_F, Qt::ControlModifier);
    const QString notFound = "No amplifier's MAC suffix, IP address or name contains \"zzz\".";
    EXPECT_EQ(status->text(QAccessible::Name), notFound);
    EXPECT_EQ(spoken(), notFound.toStdString());

    PickRow(List(), 1);
    QTest::keyClick(&List(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(spoken(), "Copied 198.18.1.52");
    UserDialogs::SetNextInput("stage");
    QTest::keyClick(&List(), Qt::Key_F, Qt::ControlModifier); // from Foyer round to Stage-Left
    EXPECT_EQ(spoken(), "Search continued from the first row");
    QTest::keyClick(&List(), Qt::Key_F3); // Stage-Left to Stage-Left: round again
    EXPECT_EQ(spoken(), "Search continued from the first row");
    Window().Announcer->Announce("-");
    PickRow(List(), 0);
    Reply("0A1B2C 0 198.18.1.51 255.255.0.0 0.0.0.0 Stage-Left");
    UserDialogs::SetNextInput("foyer");
    QTest::keyClick(&List(), Qt::Key_F, Qt::ControlModifier); // forward, no wrap
    EXPECT_EQ(spoken(), "-") << "a row found further down is just read";

    for (int i = 0; i < 20; ++i) // a burst: one notice, of the one selected last
        Reply("0A1B3" + std::to_string(10 + i) + " 0 198.18.1." + std::to_string(60 + i) + " 255.255.0.0 0.0.0.0 B" + std::to_string(i));
    EXPECT_EQ(notice->text(QAccessible::Name), "-");
    EXPECT_EQ(spoken(), "0A1B329 198.18.1.79 B19 appeared, selected");
    EXPECT_TRUE(List().hasFocus()) << "announcing leaves the focus where it was";
    EXPECT_TRUE(List().viewport()->rect().contains(RowRect(List(), 21))) << "the selected row is in view";

    // Notices of one turn go out as one: the later would cut the earlier short.
    Window().Announcer->Announce("Change took effect");
    Window().Announcer->Announce("B19 went away");
    EXPECT_EQ(spoken(), "Change took effect\nB19 went away");

    // A notice given while another window is in front waits for the window's return, and comes a
    // moment after it (what the screen reader says on the return would cut it short).
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    Window().Announcer->Announce("saved");
    EXPECT_EQ(spoken(), "Change took effect\nB19 went away");
    EXPECT_EQ(Window().Announcer->Waiting(), "saved");
    QApplication::setActiveWindow(&Window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    EXPECT_EQ(spoken(), "Change took effect\nB19 went away") << "not at once";
    EXPECT_TRUE(WaitFor([&] { return spoken() == "saved"; }, 3000));
    EXPECT_TRUE(Window().Announcer->Waiting().isEmpty());
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    const auto network = TestNetwork::EnterAppSideOfNew(0, NoNetworkReason);
    ErrorReportingApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
