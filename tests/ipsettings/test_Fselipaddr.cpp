#include "ipsettings/Fselipaddr.h"

#include "gui/ProcessEnd.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Addresses = std::vector<std::string>;

QStringList Items(const TFormSelIpAddr& dialog)
{
    QStringList items;
    for (int i = 0; i < dialog.ComboBoxLocalAddrs->count(); ++i)
        items << dialog.ComboBoxLocalAddrs->itemText(i);
    return items;
}

// Runs while the dialog's modal loop is running: checks it is shown, then acts like the user.
void WhenShown(TFormSelIpAddr& dialog, std::function<void()> act, bool& wasShown)
{
    QTimer::singleShot(0, &dialog, [&dialog, act = std::move(act), &wasShown] {
        wasShown = dialog.isVisible();
        act();
    });
}

TEST(Fselipaddr, WithoutARealChoiceTheWindowStaysClosedUnlessAlwaysAsked)
{
    TFormSelIpAddr dialog;
    dialog.SetAddressSource([] { return Addresses { "10.1.2.3" }; });
    EXPECT_EQ(dialog.SelectLocalInterface(false), TFormSelIpAddr::ModalOk);
    EXPECT_EQ(dialog.SelectedAddress(), "10.1.2.3");
    EXPECT_FALSE(dialog.isVisible());

    dialog.SetAddressSource([] { return Addresses {}; });
    EXPECT_EQ(dialog.SelectLocalInterface(false), TFormSelIpAddr::ModalOk);
    EXPECT_EQ(dialog.SelectedAddress(), "");

    // Asked always: the one address is offered, preselected, and OK takes it.
    dialog.SetAddressSource([] { return Addresses { "10.1.2.3" }; });
    bool shown = false;
    WhenShown(
        dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Return); }, shown);
    EXPECT_EQ(dialog.SelectLocalInterface(true), TFormSelIpAddr::ModalOk);
    EXPECT_TRUE(shown);
    EXPECT_EQ(dialog.SelectedAddress(), "10.1.2.3");
}

TEST(Fselipaddr, TheUserPicksAnotherAddressOrCancels)
{
    TFormSelIpAddr dialog;
    EXPECT_EQ(dialog.windowTitle(), "Select Local Interface");
    EXPECT_EQ(dialog.findChild<QLabel*>("Label1")->text(), "Local Interface Address:");
    EXPECT_FALSE(dialog.ComboBoxLocalAddrs->isEditable());
    dialog.SetAddressSource([] { return Addresses { "192.168.1.20", "10.0.0.5", "192.168.1.20" }; });

    bool shown = false;
    WhenShown(
        dialog,
        [&] {
            EXPECT_EQ(Items(dialog), (QStringList { "192.168.1.20", "10.0.0.5", "192.168.1.20" }));
            EXPECT_EQ(dialog.ComboBoxLocalAddrs->currentIndex(), 0);
            dialog.ComboBoxLocalAddrs->setCurrentIndex(1);
            QTest::mouseClick(dialog.findChild<QPushButton*>("ButtonOK"), Qt::LeftButton);
        },
        shown);
    EXPECT_EQ(dialog.SelectLocalInterface(false), TFormSelIpAddr::ModalOk);
    EXPECT_TRUE(shown);
    EXPECT_EQ(dialog.SelectedAddress(), "10.0.0.5");

    WhenShown(
        dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }, shown);
    EXPECT_EQ(dialog.SelectLocalInterface(false), TFormSelIpAddr::ModalCancel);

    WhenShown(
        dialog, [&] { QTest::mouseClick(dialog.findChild<QPushButton*>("ButtonCancel"), Qt::LeftButton); },
        shown);
    EXPECT_EQ(dialog.SelectLocalInterface(true), TFormSelIpAddr::ModalCancel);
}

TEST(Fselipaddr, EveryCallListsTheAddressesOfThatMoment)
{
    TFormSelIpAddr dialog;
    Addresses now = { "10.0.0.1", "10.0.0.2" };
    dialog.SetAddressSource([&] { return now; });
    dialog.SetNextAnswer(TFormSelIpAddr::ModalOk, 1);
    EXPECT_EQ(dialog.SelectLocalInterface(true), TFormSelIpAddr::ModalOk);
    EXPECT_EQ(dialog.SelectedAddress(), "10.0.0.2");

    now = { "172.16.0.9" };
    dialog.SetNextAnswer(TFormSelIpAddr::ModalOk);
    EXPECT_EQ(dialog.SelectLocalInterface(true), TFormSelIpAddr::ModalOk);
    EXPECT_EQ(Items(dialog), QStringList { "172.16.0.9" });
    EXPECT_EQ(dialog.SelectedAddress(), "172.16.0.9");

    // With nothing to choose from the window still opens when asked; OK gives the empty text.
    now = {};
    dialog.SetNextAnswer(TFormSelIpAddr::ModalOk);
    EXPECT_EQ(dialog.SelectLocalInterface(true), TFormSelIpAddr::ModalOk);
    EXPECT_EQ(dialog.SelectedAddress(), "");
}

// A screen reader takes the closed box's value from its text: the address shown, whole, and the
// label stays the box's label.
TEST(Fselipaddr, TheChoiceReadsItsShownAddressAsText)
{
    TFormSelIpAddr dialog;
    dialog.SetAddressSource([] { return Addresses { "198.18.0.1", "10.0.0.23" }; });
    dialog.SetNextAnswer(TFormSelIpAddr::ModalOk, 1);
    ASSERT_EQ(dialog.SelectLocalInterface(true), TFormSelIpAddr::ModalOk);
    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(dialog.ComboBoxLocalAddrs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->role(), QAccessible::ComboBox);
    QAccessibleTextInterface* text = box->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->characterCount(), 9);
    EXPECT_EQ(text->text(0, text->characterCount()), "10.0.0.23");
    EXPECT_EQ(box->text(QAccessible::Value), "10.0.0.23");
    const auto labels = box->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_TRUE(labels.first().first->text(QAccessible::Name).startsWith("Local Interface Address")) << labels.first().first->text(QAccessible::Name).toStdString();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return EndBeforeWindowSystemTeardown(RUN_ALL_TESTS());
}
