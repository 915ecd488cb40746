// The main window's IP settings flow, up to a simulated amplifier in the private test network:
// the dialog filled from the selected row, the datagram sent on Yes only, the warning for
// addresses that cannot work, and the notice whether the change took effect.

#include "finder/Ftovrin.h"

#include "gui/GlobalForm.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fipsettings.h"
#include "ipsettings/Fselipaddr.h"
#include "platform/HostInfo.h"
#include "support/TestNetwork.h"
#include "tools/ampsim/Ampsim.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "support/ListViewRows.h"
#include "support/QtWait.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>

namespace {

// The whole process lives in the app side of the private network (entered in main), so the
// window's discovery never reaches a real interface.
std::unique_ptr<TestNetwork> Network;
std::string NoNetworkReason;

#define REQUIRE_PRIVATE_NETWORK()                                                                            \
    if (!NoNetworkReason.empty())                                                                            \
    GTEST_SKIP() << NoNetworkReason

using Step = std::function<void(TFormIpSettings&)>;

// Plays the user's part in the modal IP settings dialog: one step per showing. A showing without a
// step is cancelled and counted, so a wrong flow fails instead of hanging.
class DialogScript : public QObject {
public:
    explicit DialogScript(TFormIpSettings& dialog)
        : dialog(dialog)
    {
        dialog.installEventFilter(this);
    }
    ~DialogScript() override { dialog.removeEventFilter(this); }
    void Then(Step step) { steps.push_back(std::move(step)); }
    int Shown = 0;
    int Unexpected = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &dialog && event->type() == QEvent::Show) {
            ++Shown;
            Step step;
            if (!steps.empty()) {
                step = std::move(steps.front());
                steps.pop_front();
            }
            QTimer::singleShot(0, &dialog, [this, step] {
                if (step) {
                    step(dialog);
                } else {
                    ++Unexpected;
                    dialog.reject();
                }
            });
        }
        return false;
    }

private:
    TFormIpSettings& dialog;
    std::deque<Step> steps;
};

Step Enter(const QString& ip, const QString& netmask, const QString& gateway)
{
    return [=](TFormIpSettings& dialog) {
        dialog.EditIP->setText(ip);
        dialog.EditNM->setText(netmask);
        dialog.EditGW->setText(gateway);
        dialog.findChild<QPushButton*>("ButtonOK")->click();
    };
}

class FtovrinSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDialogs::TakeAsked();
        FormSelIpAddr->SetAddressSource(
            [] { return std::vector<std::string> { TestNetwork::AppAddress() }; });
    }
    void TearDown() override
    {
        UserDialogs::TakeAsked();
        if (Simulator)
            Simulator->Stop();
    }

    static TFormTovrin& Window() { return *FormTovrin; }
    static QTreeView& List() { return *Window().ListView1; }
    static QString Status() { return Window().LabelStatus->text(); }

    void Reply(const std::string& text)
    {
        Window().DatagramReceived("198.18.1.1:8001", text.c_str(), static_cast<int>(text.size()));
    }

    // One simulated amplifier in the amplifier side, and the window's worker in the app side.
    void StartAmplifierAndDiscovery(const std::function<void(ampsim::Amplifier&)>& change = {})
    {
        ampsim::Options options;
        options.Command = false;
        options.RebootMs = 3000; // longer than the list keeps a silent row
        auto amps = ampsim::MakeAmplifiers(1, TestNetwork::AmpAddress(0), "255.255.0.0", { "Stage" });
        if (change)
            change(amps[0]);
        Mac = amps[0].Mac;
        Simulator = std::make_unique<ampsim::Simulator>(options, amps);
        bool started = false;
        std::string error;
        Network->RunInAmp([&] { started = Simulator->Start(error); });
        ASSERT_TRUE(started) << error;

        FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk);
        Window().FormActivate();
        ASSERT_TRUE(Window().Worker);
        Window().show();
        ASSERT_TRUE(WaitFor([] { return RowCount(List()) == 1; }, 10000)) << "amplifier not discovered";
        PickRow(List(), 0);
    }

    std::unique_ptr<ampsim::Simulator> Simulator;
    std::string Mac;
    GlobalForm<TFormTovrin> FormTovrinHolder { FormTovrin };
    GlobalForm<TFormIpSettings> FormIpSettingsHolder { FormIpSettings };
    GlobalForm<TFormSelIpAddr> FormSelIpAddrHolder { FormSelIpAddr };
};

TEST_F(FtovrinSettingsTest, IpSettingsIsTheFirstAndDefaultMenuItem)
{
    auto* item = Window().findChild<QAction*>("MenuItemIpSettings");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "IP-&Settings...");
    EXPECT_EQ(Window().PopupMenu1->actions().value(0), item);
    EXPECT_EQ(Window().PopupMenu1->defaultAction(), item);
}

TEST_F(FtovrinSettingsTest, DialogIsFilledFromTheSelectedRowAndTheDhcpBoxIsLeftAlone)
{
    Window().SuppressActivation();
    Reply("0A1B2C 0 198.18.1.1 255.255.0.0 198.18.0.254 Stage");
    Reply("0A1B2D 0 198.18.1.2 255.255.255.0 0.0.0.0 Foyer");
    PickRow(List(), 0);

    DialogScript script(*FormIpSettings);
    QStringList shown;
    bool dhcpAtSecondOpening = false;
    script.Then([&](TFormIpSettings& dialog) {
        shown << dialog.EditMac->text() << dialog.EditName->text() << dialog.EditIP->text()
              << dialog.EditNM->text() << dialog.EditGW->text();
        UserDialogs::SetNextAnswer(QMessageBox::Ok); // the DHCP warning
        dialog.CheckBoxDhcp->setChecked(true);
        dialog.reject();
    });
    Window().MenuItemIpSettings->trigger();
    EXPECT_EQ(shown, QStringList({ "0A1B2C", "Stage", "198.18.1.1", "255.255.0.0", "198.18.0.254" }));
    auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1) << "Cancel asks nothing more";
    EXPECT_EQ(asked[0].kind, "warning");

    // A double click on the other row opens its settings, the box still as it was left.
    script.Then([&](TFormIpSettings& dialog) {
        shown = { dialog.EditMac->text(), dialog.EditIP->text() };
        dhcpAtSecondOpening = dialog.CheckBoxDhcp->isChecked();
        dialog.reject();
    });
    Window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
    const QRect row = RowRect(List(), 1);
    QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(shown, QStringList({ "0A1B2D", "198.18.1.2" }));
    EXPECT_TRUE(dhcpAtSecondOpening);

    // Without a selected row nothing opens.
    List().clearSelection();
    Window().MenuItemIpSettingsClick();
    EXPECT_EQ(script.Shown, 2);
    EXPECT_EQ(script.Unexpected, 0);
}

TEST_F(FtovrinSettingsTest, DoubtfulAddressesWarnByFieldAndGoBackToTheDialogWithTheTextsKept)
{
    Window().SuppressActivation();
    Reply("0A1B2C 0 198.18.1.1 255.255.0.0 0.0.0.0 Stage");
    PickRow(List(), 0);

    DialogScript script(*FormIpSettings);
    QString ipAtReturn;
    script.Then(Enter("198.18.1.", "255.255.0.0", "0.0.0.0"));
    script.Then([&](TFormIpSettings& dialog) {
        ipAtReturn = dialog.EditIP->text();
        Enter("198.18.1.60", "255.255.0.0", "")(dialog);
    });
    UserDialogs::SetNextAnswer(QMessageBox::No); // back to the dialog
    UserDialogs::SetNextAnswer(QMessageBox::No); // do not apply
    Window().MenuItemIpSettingsClick();

    EXPECT_EQ(ipAtReturn, "198.18.1.");
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0].kind, "warning");
    EXPECT_TRUE(asked[0].text.contains("IP Address \"198.18.1.\"")) << asked[0].text.toStdString();
    EXPECT_FALSE(asked[0].text.contains("Netmask"));
    EXPECT_EQ(asked[1].kind, "question") << "an empty gateway is fine";
    EXPECT_EQ(asked[1].text, "Apply settings? (Target will reboot, stand by)");

    // With DHCP the address fields are not sent, so they are not checked either.
    script.Then([](TFormIpSettings& dialog) {
        UserDialogs::SetNextAnswer(QMessageBox::Ok); // the DHCP warning
        dialog.CheckBoxDhcp->setChecked(true);
        UserDialogs::SetNextAnswer(QMessageBox::No);
        Enter("rubbish", "", "")(dialog);
    });
    Window().MenuItemIpSettingsClick();
    const auto dhcpAsked = UserDialogs::TakeAsked();
    ASSERT_EQ(dhcpAsked.size(), 2);
    EXPECT_EQ(dhcpAsked[1].kind, "question");
    EXPECT_EQ(script.Unexpected, 0);
}

TEST_F(FtovrinSettingsTest, WithoutADiscoveryChannelTheUserIsToldThatNothingWasSent)
{
    Window().SuppressActivation();
    Reply("0A1B2C 0 198.18.1.1 255.255.0.0 0.0.0.0 Stage");
    DialogScript script(*FormIpSettings);
    script.Then(Enter("198.18.1.60", "255.255.0.0", "0.0.0.0"));
    UserDialogs::SetNextAnswer(QMessageBox::Yes);
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    Window().MenuItemIpSettingsClick();
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1].kind, "error");
    EXPECT_TRUE(asked[1].text.contains("not sent")) << asked[1].text.toStdString();
    EXPECT_TRUE(Status().isEmpty()) << "nothing to watch";
}

TEST_F(FtovrinSettingsTest, AppliedAddressReachesTheAmplifierWhichRebootsAndReappearsAndTheChangeIsConfirmed)
{
    REQUIRE_PRIVATE_NETWORK();
    ASSERT_NO_FATAL_FAILURE(StartAmplifierAndDiscovery());
    DialogScript script(*FormIpSettings);
    script.Then(Enter("198.18.1.50", "255.255.0.0", "198.18.0.1"));
    UserDialogs::SetNextAnswer(QMessageBox::Yes);
    Window().MenuItemIpSettingsClick();

    const std::string expected = Mac + " 5 0 198.18.1.50 255.255.0.0 198.18.0.1";
    ASSERT_TRUE(WaitFor([&] { return !Simulator->SettingsReceived(0).empty(); }, 5000));
    EXPECT_EQ(Simulator->SettingsReceived(0), std::vector<std::string> { expected });
    EXPECT_TRUE(Status().contains("waiting") && Status().contains(QString::fromStdString(Mac)))
        << Status().toStdString();

    EXPECT_TRUE(WaitFor([] { return RowCount(List()) == 0; }, 10000)) << "silent while rebooting";
    ASSERT_TRUE(WaitFor([] { return RowCount(List()) == 1; }, 10000)) << "back after the reboot";
    EXPECT_EQ(RowText(List(), 0, 1), "198.18.1.50");
    ASSERT_TRUE(WaitFor([] { return Status().contains("took effect"); }, 5000)) << Status().toStdString();
    EXPECT_TRUE(Status().contains("198.18.1.50")) << Status().toStdString();
    EXPECT_EQ(script.Unexpected, 0);
}

TEST_F(FtovrinSettingsTest, DhcpIsConfirmedWhenTheAmplifierAnswersAgainAfterItsReboot)
{
    REQUIRE_PRIVATE_NETWORK();
    ASSERT_NO_FATAL_FAILURE(
        StartAmplifierAndDiscovery([](ampsim::Amplifier& amp) { amp.LeaseIP = "198.18.1.77"; }));
    DialogScript script(*FormIpSettings);
    script.Then([](TFormIpSettings& dialog) {
        UserDialogs::SetNextAnswer(QMessageBox::Ok); // the DHCP warning
        dialog.CheckBoxDhcp->setChecked(true);
        UserDialogs::SetNextAnswer(QMessageBox::Yes); // apply
        dialog.accept();
    });
    Window().MenuItemIpSettingsClick();

    ASSERT_TRUE(WaitFor([&] { return !Simulator->SettingsReceived(0).empty(); }, 5000));
    EXPECT_EQ(Simulator->SettingsReceived(0), std::vector<std::string> { Mac + " 5 1" });
    ASSERT_TRUE(WaitFor([] { return Status().contains("took effect"); }, 15000)) << Status().toStdString();
    EXPECT_TRUE(Status().contains("DHCP at 198.18.1.77")) << Status().toStdString();
}

TEST_F(FtovrinSettingsTest, AnsweringNoSendsNothing)
{
    REQUIRE_PRIVATE_NETWORK();
    ASSERT_NO_FATAL_FAILURE(StartAmplifierAndDiscovery());
    DialogScript script(*FormIpSettings);
    script.Then(Enter("198.18.1.50", "255.255.0.0", "0.0.0.0"));
    UserDialogs::SetNextAnswer(QMessageBox::No);
    const QString statusBefore = Status();
    Window().MenuItemIpSettingsClick();

    QTest::qWait(1500); // hellos go on meanwhile; any settings datagram would have arrived
    EXPECT_TRUE(Simulator->SettingsReceived(0).empty());
    for (const auto& datagram : Simulator->Received())
        EXPECT_EQ(datagram.Text, ampsim::Hello);
    EXPECT_EQ(Status(), statusBefore);
    EXPECT_EQ(RowText(List(), 0, 1), QString::fromStdString(TestNetwork::AmpAddress(0)));
}

TEST_F(FtovrinSettingsTest, SettingsTheAmplifierRefusesEndInTheTimeOutNoticeWithWhatItReports)
{
    REQUIRE_PRIVATE_NETWORK();
    ASSERT_NO_FATAL_FAILURE(StartAmplifierAndDiscovery());
    Window().SettingsWatchLimitMs = 3000;
    DialogScript script(*FormIpSettings);
    script.Then(Enter("198.18.1.300", "255.255.0.0", "0.0.0.0"));
    UserDialogs::SetNextAnswer(QMessageBox::Yes); // send anyway
    UserDialogs::SetNextAnswer(QMessageBox::Yes); // apply
    Window().MenuItemIpSettingsClick();
    ASSERT_EQ(UserDialogs::TakeAsked().size(), 2);

    ASSERT_TRUE(WaitFor([&] { return !Simulator->SettingsReceived(0).empty(); }, 5000));
    EXPECT_EQ(Simulator->SettingsReceived(0).front(), Mac + " 5 0 198.18.1.300 255.255.0.0 0.0.0.0");
    ASSERT_TRUE(WaitFor([] { return Status().contains("not confirmed"); }, 10000)) << Status().toStdString();
    EXPECT_TRUE(Status().contains("3 s")) << Status().toStdString();
    EXPECT_TRUE(Status().contains("last reported " + QString::fromStdString(TestNetwork::AmpAddress(0))))
        << Status().toStdString();
    EXPECT_EQ(RowCount(List()), 1) << "the amplifier never went away";
}

// Any host can answer the hello with markup and bytes that are not UTF-8 in its fields. They are
// shown literally, and the settings datagram names the amplifier by the bytes its replies carry.
TEST_F(FtovrinSettingsTest, MarkupAndForeignBytesAreShownLiterallyAndSentBackUnchanged)
{
    REQUIRE_PRIVATE_NETWORK();
    ASSERT_NO_FATAL_FAILURE(StartAmplifierAndDiscovery());
    const std::string mac = "<h1>x</h1>\xE9";
    const std::string name = "<img\xFFsrc=x>";
    const std::string netmask = "<b>m\xE9</b>";
    Reply(mac + " 0 198.18.1.9 " + netmask + " 0.0.0.0 " + name);
    ASSERT_EQ(RowCount(List()), 2);
    EXPECT_EQ(RowText(List(), 1, 0), QString::fromLatin1("<h1>x</h1>\xE9"));
    EXPECT_EQ(RowText(List(), 1, 2), QString::fromLatin1("<img\xFFsrc=x>"));
    PickRow(List(), 1);

    DialogScript script(*FormIpSettings);
    QStringList shown;
    script.Then([&](TFormIpSettings& dialog) {
        shown << dialog.EditMac->text() << dialog.EditName->text() << dialog.EditNM->text();
        dialog.accept(); // the texts as the amplifier reported them
    });
    UserDialogs::SetNextAnswer(QMessageBox::Yes); // the doubtful netmask: send anyway
    UserDialogs::SetNextAnswer(QMessageBox::Yes); // apply
    Window().MenuItemIpSettingsClick();
    EXPECT_EQ(shown,
        QStringList({ QString::fromLatin1("<h1>x</h1>\xE9"), QString::fromLatin1("<img\xFFsrc=x>"),
            QString::fromLatin1("<b>m\xE9</b>") }));

    const std::string expected = mac + " 5 0 198.18.1.9 " + netmask + " 0.0.0.0";
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const auto& datagram : Simulator->Received())
                if (datagram.Text == expected)
                    return true;
            return false;
        },
        3000))
        << "the settings datagram does not carry the reply's bytes";

    const QLabel* status = Window().LabelStatus;
    EXPECT_EQ(status->textFormat(), Qt::PlainText);
    EXPECT_TRUE(status->text().startsWith(QString::fromLatin1("Settings sent to <h1>x</h1>\xE9;")))
        << status->text().toStdString();
    EXPECT_TRUE(status->toolTip().contains("&lt;h1&gt;x&lt;/h1&gt;")) << status->toolTip().toStdString();
    EXPECT_EQ(script.Unexpected, 0);
}

// Right after Yes the program hears its own settings datagram, "<mac> 5 0 <ip> <netmask>
// <gateway>", which has six fields; it must not refresh the row.
TEST_F(FtovrinSettingsTest, TheOwnSettingsDatagramIsNoReply)
{
    REQUIRE_PRIVATE_NETWORK();
    ASSERT_NO_FATAL_FAILURE(StartAmplifierAndDiscovery());
    const QStringList before { RowText(List(), 0, 1), RowText(List(), 0, 2) };
    DialogScript script(*FormIpSettings);
    script.Then(Enter("198.18.1.50", "255.255.0.0", "198.18.0.1"));
    UserDialogs::SetNextAnswer(QMessageBox::Yes);
    Window().MenuItemIpSettingsClick();
    ASSERT_TRUE(WaitFor([&] { return !Simulator->SettingsReceived(0).empty(); }, 5000));
    // The amplifier now reboots, silent; until its row expires it shows what it said last.
    const uint32_t start = platform::TickCount();
    while (platform::TickCount() - start < 1500 && RowCount(List()) == 1) {
        ASSERT_EQ(QStringList({ RowText(List(), 0, 1), RowText(List(), 0, 2) }), before);
        QTest::qWait(5);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    Network = TestNetwork::EnterAppSideOfNew(1, NoNetworkReason);
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    Network.reset();
    return result;
}
