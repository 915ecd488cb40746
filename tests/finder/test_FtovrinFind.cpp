// Find and Find Next in the main window, headless: which row each search selects, what the user is
// told when nothing matches, the proposed text, and the shortcuts pressed on the focused list.

#include "finder/Ftovrin.h"

#include "gui/ErrorReportingApplication.h"
#include "gui/GlobalForm.h"
#include "gui/UserDialogs.h"
#include "support/ListViewRows.h"
#include "support/QtWait.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

class FtovrinFindTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDialogs::TakeAsked();
        Window().SuppressActivation();
        Window().SetClock([] { return 1000u; });
    }
    void TearDown() override { UserDialogs::TakeAsked(); }

    static TFormTovrin& Window() { return *FormTovrin; }
    static QTreeView& List() { return *Window().ListView1; }

    static void Reply(const std::string& text)
    {
        Window().DatagramReceived("198.18.1.1:8001", text.c_str(), static_cast<int>(text.size()));
    }
    static void Amps()
    {
        Reply("0A1B2C 0 198.18.1.1 255.255.0.0 0.0.0.0 Stage-Left"); // 0
        Reply("0A1B2D 0 198.18.1.2 255.255.0.0 0.0.0.0 Foyer"); // 1
        Reply("FFEE01 0 198.18.7.30 255.255.0.0 0.0.0.0 stage-right"); // 2
        Reply("FFEE02 0 198.18.1.4 255.255.0.0 0.0.0.0 B\xFChne"); // 3, Latin-1
        QCoreApplication::processEvents();
    }
    // The user's choice of a row, as a click makes it.
    static void Pick(int row)
    {
        if (row < 0)
            List().clearSelection();
        else
            PickRow(List(), row);
        ASSERT_EQ(Window().Amplifiers().SelectedRow(), row);
    }
    // The row the window's list and its view have selected; -1 when they disagree.
    static int Selected()
    {
        QCoreApplication::processEvents();
        const int row = Window().Amplifiers().SelectedRow();
        return SelectedRow(List()) == row ? row : -2;
    }
    static QString Status() { return Window().LabelStatus->text(); }

    GlobalForm<TFormTovrin> FormTovrinHolder { FormTovrin };
};

// Each step: the row picked first (-1: none, -2: leave as it is), Find with a text or Find Next,
// then the row selected and whether the notice of nothing found is shown.
TEST_F(FtovrinFindTest, FindAndFindNextSelectTheNextMatchingRowAndWrap)
{
    Amps();
    const struct {
        int pick;
        std::optional<std::string> find; // nullopt: Find Next
        int selected;
        bool notFound;
    } steps[] = {
        { 0, "STAGE", 2, false }, // name, without case, after the selected row
        { -2, std::nullopt, 0, false }, // F3 wraps at the end
        { -2, std::nullopt, 2, false },
        { -1, "1b2d", 1, false }, // MAC suffix; no selection: from the first row
        { 3, "198.18.1.", 0, false }, // IP address, wrapping
        { 1, "nowhere", 1, true }, // nothing: the selection stays
        { -2, std::nullopt, 1, true }, { -2, "b\xC3\x9Chne", 3, false }, // "bÜhne" for the Latin-1 name
        { 2, "Foyer", 1, false }, { -2, std::nullopt, 1, false }, // the only match: the selected row again
        { 0, "1.*", 0, true }, // plain text, no pattern
    };
    for (const auto& step : steps) {
        const std::string what = step.find ? "Find " + *step.find : "Find Next";
        if (step.pick != -2) {
            ASSERT_NO_FATAL_FAILURE(Pick(step.pick)) << what;
        }
        if (step.find) {
            UserDialogs::SetNextInput(*step.find);
            Window().MenuItemFind->trigger();
        } else {
            Window().MenuItemFindNext->trigger();
        }
        EXPECT_EQ(Selected(), step.selected) << what;
        EXPECT_EQ(
            Status().startsWith("No amplifier's MAC suffix, IP address or name contains"), step.notFound)
            << what << ": " << Status().toStdString();
    }
    EXPECT_EQ(Status(), "No amplifier's MAC suffix, IP address or name contains \"1.*\".");
}

TEST_F(FtovrinFindTest, FindProposesTheLastTextAndCancelOrEmptyFindNothing)
{
    Amps();
    ASSERT_NO_FATAL_FAILURE(Pick(0));
    UserDialogs::SetNextInput("foyer");
    Window().MenuItemFindNext->trigger(); // no text yet: Find Next asks for one
    EXPECT_EQ(Selected(), 1);
    UserDialogs::SetNextInput(std::nullopt); // Cancel
    Window().MenuItemFind->trigger();
    UserDialogs::SetNextInput("");
    Window().MenuItemFind->trigger();
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(Status(), "");

    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 3);
    const QStringList proposed { asked[0].value, asked[1].value, asked[2].value };
    EXPECT_EQ(proposed, QStringList({ "", "foyer", "foyer" }));
    EXPECT_EQ(asked[1].kind, "input");
    EXPECT_EQ(asked[1].caption, "Find");
    EXPECT_EQ(asked[1].text, "MAC suffix, IP address or name contains:");
}

// The notice of nothing found is taken back by the next search that finds, not by others.
TEST_F(FtovrinFindTest, AFoundRowTakesBackOnlyTheNoticeOfNothingFound)
{
    Amps();
    UserDialogs::SetNextInput("nowhere");
    Window().MenuItemFind->trigger();
    ASSERT_FALSE(Status().isEmpty());
    UserDialogs::SetNextInput("Foyer");
    Window().MenuItemFind->trigger();
    EXPECT_EQ(Status(), "");
    Window().LabelStatus->setText("Discovery runs again on tvapp (198.18.0.1).");
    Window().MenuItemFindNext->trigger();
    EXPECT_EQ(Status(), "Discovery runs again on tvapp (198.18.0.1).");
}

// Among more rows than the view shows at once (and more than reach it row by row), the found row
// is selected and scrolled into view; so is a new amplifier, which takes the selection.
TEST_F(FtovrinFindTest, TheFoundRowIsScrolledIntoViewInALongList)
{
    Window().show();
    for (int i = 0; i < 1500; ++i)
        Reply("M" + std::to_string(10000 + i) + " 0 198.18.1.9 255.255.0.0 0.0.0.0 N" + std::to_string(i));
    UserDialogs::SetNextInput("n1499");
    Window().MenuItemFind->trigger();
    ASSERT_EQ(Selected(), 1499);
    ASSERT_TRUE(WaitFor([] { return RowCount(List()) == 1500; }, 3000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(List().viewport()->rect().contains(RowRect(List(), 1499))) << "the found row is shown";

    List().scrollToTop();
    UserDialogs::SetNextInput("N7");
    Window().MenuItemFind->trigger(); // wraps to N7
    EXPECT_EQ(Selected(), 7);
    EXPECT_TRUE(List().viewport()->rect().contains(RowRect(List(), 7)));
    Reply("NEW1 0 198.18.1.10 255.255.0.0 0.0.0.0 New");
    ASSERT_TRUE(WaitFor([] { return Selected() == 1500; }, 3000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(List().viewport()->rect().contains(RowRect(List(), 1500))) << "the selected row is kept in view";
}

TEST_F(FtovrinFindTest, CtrlFAndF3WorkOnTheFocusedListWithNoMenuOpen)
{
    Amps();
    Window().show();
    Window().activateWindow();
    if (!QTest::qWaitForWindowActive(&Window()))
        GTEST_FAIL() << "the window did not become active";
    List().setFocus();
    if (!WaitFor([] { return List().hasFocus(); }, 3000))
        GTEST_FAIL() << "the list did not get the keyboard focus";
    ASSERT_FALSE(Window().PopupMenu1->isVisible());
    ASSERT_NO_FATAL_FAILURE(Pick(0));

    UserDialogs::SetNextInput("stage");
    QTest::keyClick(&List(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(Selected(), 2);
    QTest::keyClick(&List(), Qt::Key_F3);
    EXPECT_EQ(Selected(), 0);
    EXPECT_EQ(UserDialogs::TakeAsked().size(), 1) << "F3 with a text asks nothing";
    EXPECT_EQ(Window().MenuItemFind->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    EXPECT_EQ(Window().MenuItemFind->text(), "Find...");
    EXPECT_EQ(Window().MenuItemFindNext->shortcut(), QKeySequence(Qt::Key_F3));
    EXPECT_EQ(Window().MenuItemFindNext->text(), "Find Next");
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    ErrorReportingApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
