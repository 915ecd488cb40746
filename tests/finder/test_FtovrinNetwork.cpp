// The main window against simulated amplifiers in the private test network: discovery end to end,
// with the real worker, the real delivery to the GUI thread and the real clock.
#include "finder/Ftovrin.h"

#include "gui/GlobalForm.h"
#include "gui/ProcessEnd.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fselipaddr.h"
#include "platform/HostInfo.h"
#include "support/TestNetwork.h"
#include "tools/ampsim/Ampsim.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "support/ListViewRows.h"
#include "support/QtWait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

namespace {

constexpr int AmpCount = 3;

class FtovrinNetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (auto reason = TestNetwork::Unavailable(); !reason.empty())
            GTEST_SKIP() << reason;
        Network.emplace(AmpCount);
        ASSERT_TRUE(Network->Up()) << Network->Error();

        ampsim::Options options;
        options.Command = false;
        Simulator = std::make_unique<ampsim::Simulator>(options, ampsim::MakeAmplifiers(AmpCount));
        bool started = false;
        std::string error;
        Network->RunInAmp([&] { started = Simulator->Start(error); });
        ASSERT_TRUE(started) << error;

        // The GUI thread, and with it the worker it starts, lives on the app side from here on.
        AppSide.emplace(Network->NamespacePath(NetSide::App));
        ASSERT_TRUE(AppSide->Entered());
        Tovrin.emplace(FormTovrin);
        SelIpAddr.emplace(FormSelIpAddr);
    }

    void TearDown() override
    {
        SelIpAddr.reset();
        Tovrin.reset();
        if (Simulator)
            Simulator->Stop();
        AppSide.reset();
    }

    static QTreeView& List() { return *FormTovrin->ListView1; }

    static QStringList Row(int i)
    {
        return i >= RowCount(List())
            ? QStringList()
            : QStringList { RowText(List(), i, 0), RowText(List(), i, 1), RowText(List(), i, 2) };
    }

    // The row of one amplifier wherever it stands: rows that expired come back in reply order.
    static QStringList RowOf(const std::string& mac)
    {
        for (int i = 0; i < RowCount(List()); ++i)
            if (RowText(List(), i, 0) == QString::fromStdString(mac))
                return Row(i);
        return {};
    }

    static QStringList Expected(const ampsim::Amplifier& amp)
    {
        return { QString::fromStdString(amp.Mac), QString::fromStdString(amp.IP),
            QString::fromStdString(amp.Name) };
    }

    // Shows the window as the program does; its first activation asks for the interface.
    void ShowAndActivate()
    {
        FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk);
        FormTovrin->show();
        ASSERT_TRUE(WaitFor([&] { return FormTovrin->Worker != nullptr; }, 5000));
    }

    std::optional<TestNetwork> Network;
    std::unique_ptr<ampsim::Simulator> Simulator;
    std::optional<ScopedNamespace> AppSide;
    std::optional<GlobalForm<TFormTovrin>> Tovrin;
    std::optional<GlobalForm<TFormSelIpAddr>> SelIpAddr;
};

TEST_F(FtovrinNetworkTest, AmplifiersAppearRefreshAndDisappearAfterFallingSilent)
{
    FormTovrin->CountReturningRows();
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate());
    ASSERT_TRUE(WaitFor([&] { return RowCount(List()) == AmpCount; }, 5000)) << RowCount(List());
    for (int i = 0; i < AmpCount; ++i)
        EXPECT_EQ(Row(i), Expected(Simulator->Amp(static_cast<size_t>(i))));
    EXPECT_EQ(FormTovrin->Amplifiers().SelectedRow(), AmpCount - 1) << "the newest amplifier is selected";

    // The hello went out from the chosen interface to the discovery port, exactly as specified.
    bool helloSeen = false;
    for (const auto& datagram : Simulator->Received())
        helloSeen
            = helloSeen || (datagram.Text == "0 1 A" && datagram.From == TestNetwork::AppAddress() + ":8001");
    EXPECT_TRUE(helloSeen);

    Simulator->Modify(1, [](ampsim::Amplifier& amp) { amp.Name = "Renamed"; });
    ASSERT_TRUE(WaitFor([&] { return Row(1).value(2) == QString("Renamed"); }, 3000))
        << Row(1).value(2).toStdString();
    EXPECT_EQ(RowCount(List()), AmpCount);

    // Amplifier 0 falls silent: its row goes between 2000 and 2500 ms after its last reply.
    const std::string mac = Simulator->Amp(0).Mac;
    Simulator->Modify(0, [](ampsim::Amplifier& amp) { amp.Silent = true; });
    uint32_t lastSeen = 0;
    uint32_t goneAt = 0;
    const uint32_t start = platform::TickCount();
    while (platform::TickCount() - start < 10000) {
        const int row = FormTovrin->Amplifiers().Find(mac);
        if (row < 0) {
            goneAt = platform::TickCount();
            break;
        }
        lastSeen = FormTovrin->Amplifiers().Row(row).LastSeen;
        QTest::qWait(5);
    }
    ASSERT_NE(goneAt, 0u) << "the silent amplifier was never removed";
    const uint32_t silentFor = goneAt - lastSeen;
    std::printf("row removed %u ms after the last reply\n", static_cast<unsigned>(silentFor));
    // Never before 2000 ms of silence, however fast or slow the machine. At which hello tick
    // after that it goes is checked on a clock the test sets (SilentRowsExpireAtTheHelloTick...):
    // here, on the real clock, a busy machine may only make it later.
    EXPECT_GT(silentFor, 2000u);
    EXPECT_EQ(RowCount(List()), AmpCount - 1);
    EXPECT_EQ(Row(0).value(0), QString::fromStdString(Simulator->Amp(1).Mac));

    // It answers again: a new row at the end, selected.
    Simulator->Modify(0, [](ampsim::Amplifier& amp) { amp.Silent = false; });
    ASSERT_TRUE(WaitFor([&] { return RowCount(List()) == AmpCount; }, 3000)) << RowCount(List());
    EXPECT_EQ(Row(AmpCount - 1).value(0), QString::fromStdString(mac));
    EXPECT_EQ(FormTovrin->Amplifiers().SelectedRow(), AmpCount - 1);
    // The tally a benchmark reads at the end tells of the row that left and came back.
    const std::string tally = FormTovrin->DiscoveryTallyText();
    EXPECT_NE(tally.find(" 4 rows added, 1 removed, 1 came back, 3 listed"), std::string::npos) << tally;
}

TEST_F(FtovrinNetworkTest, HiddenWindowSendsNoHelloAndKeepsItsRows)
{
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate());
    ASSERT_TRUE(WaitFor([&] { return RowCount(List()) == AmpCount; }, 5000)) << RowCount(List());
    for (int i = 0; i < AmpCount; ++i)
        Simulator->Modify(static_cast<size_t>(i), [](ampsim::Amplifier& amp) { amp.Silent = true; });

    FormTovrin->hide();
    QTest::qWait(100); // a hello already on its way may still arrive
    const auto hellos = Simulator->HellosReceived();
    QTest::qWait(3000);
    EXPECT_EQ(Simulator->HellosReceived(), hellos);
    EXPECT_EQ(RowCount(List()), AmpCount) << "no expiry while hidden";

    FormTovrin->show();
    ASSERT_TRUE(WaitFor([&] { return Simulator->HellosReceived() > hellos; }, 3000));
    ASSERT_TRUE(WaitFor([&] { return RowCount(List()) == 0; }, 3000)) << RowCount(List());
}

TEST_F(FtovrinNetworkTest, FirstHelloGoesOutAsSoonAsDiscoveryStarts)
{
    FormTovrin->SuppressActivation();
    FormTovrin->show();
    FormTovrin->TimerHello->stop(); // only the hello of the start itself can go out
    FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk);
    FormTovrin->FormActivate();
    ASSERT_TRUE(FormTovrin->Worker);
    EXPECT_TRUE(ampsim::Simulator::WaitUntil([&] { return Simulator->HellosReceived() == 1; }, 3000));
    ASSERT_TRUE(WaitFor([&] { return RowCount(List()) == AmpCount; }, 3000));
    EXPECT_TRUE(FormTovrin->TimerHello->isActive()) << "the cadence goes on from the first hello";
}

// The program side's adapter is pulled out and plugged in again: a new interface under the same
// name and address. Discovery says that it stopped and goes on by itself when it is back.
TEST_F(FtovrinNetworkTest, DiscoveryStopsWhenTheInterfaceGoesAndRunsAgainWhenItIsBack)
{
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate());
    ASSERT_TRUE(WaitFor([&] { return RowCount(List()) == AmpCount; }, 5000));
    const QLabel* status = FormTovrin->LabelStatus;

    ASSERT_TRUE(Network->Unplug()) << Network->Error();
    ASSERT_TRUE(WaitFor([&] { return status->text().startsWith("Discovery stopped: "); }, 3000))
        << status->text().toStdString();
    EXPECT_EQ(status->text(), "Discovery stopped: the interface tvapp (198.18.0.1) is gone.");
    EXPECT_FALSE(FormTovrin->Worker);
    // Without a worker rows do not expire; a change made meanwhile shows once it runs again.
    Simulator->Modify(0, [](ampsim::Amplifier& amp) { amp.Name = "Replugged"; });
    QTest::qWait(1000);
    const std::string mac = Simulator->Amp(0).Mac;
    EXPECT_NE(RowOf(mac).value(2), QString("Replugged"));

    ASSERT_TRUE(Network->Plug()) << Network->Error();
    ASSERT_TRUE(WaitFor([&] { return RowOf(mac).value(2) == QString("Replugged"); }, 5000))
        << status->text().toStdString();
    EXPECT_EQ(status->text(), "Discovery runs again on tvapp (198.18.0.1).");
    EXPECT_TRUE(FormTovrin->Worker);
    EXPECT_TRUE(UserDialogs::TakeAsked().isEmpty()) << "the user is not asked again";
}

// The window thread stands still while the amplifiers go on answering; by the injected clock 5 s
// pass. Their replies wait in the socket meanwhile, so no row may expire on account of the stall.
TEST_F(FtovrinNetworkTest, RowsOutliveAStalledWindowThread)
{
    uint32_t skipped = 0;
    FormTovrin->SetClock([&] { return platform::TickCount() + skipped; });
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate());
    ASSERT_TRUE(WaitFor([&] { return RowCount(List()) == AmpCount; }, 5000));
    QTest::qWait(1000);
    const auto order = [&] {
        QStringList macs;
        for (int i = 0; i < RowCount(List()); ++i)
            macs << RowText(List(), i, 0);
        return macs;
    };
    const QStringList before = order();

    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    skipped += 5000;
    int least = AmpCount;
    const uint32_t start = platform::TickCount();
    while (platform::TickCount() - start < 2000) {
        least = std::min(least, RowCount(List()));
        QTest::qWait(5);
    }
    EXPECT_EQ(least, AmpCount) << "a row expired because the window thread stood still";
    EXPECT_EQ(order(), before) << "rows removed and added again";
}

// Many amplifiers keep the worker delivering while the window goes away: no hang, nothing touched
// after destruction (the sanitizer builds check the latter).
TEST_F(FtovrinNetworkTest, WindowClosesCleanlyWhileRepliesArrive)
{
    Simulator->Stop();
    ampsim::Options options;
    options.Command = false;
    Simulator = std::make_unique<ampsim::Simulator>(options, ampsim::MakeAmplifiers(400));
    bool started = false;
    std::string error;
    Network->RunInAmp([&] { started = Simulator->Start(error); });
    ASSERT_TRUE(started) << error;

    ASSERT_NO_FATAL_FAILURE(ShowAndActivate());
    ASSERT_TRUE(WaitFor([&] { return RowCount(List()) == 400; }, 5000)) << RowCount(List());
    const uint64_t replies = Simulator->RepliesSent();
    ASSERT_TRUE(WaitFor([&] { return Simulator->RepliesSent() > replies; }, 2000));
    // Closing the main window ends the loop, as in the program.
    QTimer::singleShot(600, FormTovrin, [] { FormTovrin->close(); });
    EXPECT_EQ(QApplication::exec(), 0);
    SelIpAddr.reset();
    Tovrin.reset();
    EXPECT_EQ(FormTovrin, nullptr);
    QTest::qWait(200); // deliveries that were on their way find no window
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return EndBeforeWindowSystemTeardown(RUN_ALL_TESTS());
}
