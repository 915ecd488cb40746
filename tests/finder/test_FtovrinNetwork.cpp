// The main window against simulated amplifiers in the private test network: discovery end to end,
// with the real worker, the real delivery to the GUI thread and the real clock.
#include "finder/Ftovrin.h"

#include "gui/GlobalForm.h"
#include "ipsettings/Fselipaddr.h"
#include "platform/HostInfo.h"
#include "support/TestNetwork.h"
#include "tools/ampsim/Ampsim.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "support/QtWait.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

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

    static QTreeWidget& List() { return *FormTovrin->ListView1; }

    static QStringList Row(int i)
    {
        const auto* item = List().topLevelItem(i);
        return item == nullptr ? QStringList() : QStringList { item->text(0), item->text(1), item->text(2) };
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
    ShowAndActivate();
    ASSERT_TRUE(WaitFor([&] { return List().topLevelItemCount() == AmpCount; }, 5000)) << List().topLevelItemCount();
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
    ASSERT_TRUE(WaitFor([&] { return Row(1).value(2) == QString("Renamed"); }, 3000)) << Row(1).value(2).toStdString();
    EXPECT_EQ(List().topLevelItemCount(), AmpCount);

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
    EXPECT_GE(silentFor, 1900u);
    EXPECT_LE(silentFor, 3000u);
    EXPECT_EQ(List().topLevelItemCount(), AmpCount - 1);
    EXPECT_EQ(Row(0).value(0), QString::fromStdString(Simulator->Amp(1).Mac));

    // It answers again: a new row at the end, selected.
    Simulator->Modify(0, [](ampsim::Amplifier& amp) { amp.Silent = false; });
    ASSERT_TRUE(WaitFor([&] { return List().topLevelItemCount() == AmpCount; }, 3000)) << List().topLevelItemCount();
    EXPECT_EQ(Row(AmpCount - 1).value(0), QString::fromStdString(mac));
    EXPECT_EQ(FormTovrin->Amplifiers().SelectedRow(), AmpCount - 1);
}

TEST_F(FtovrinNetworkTest, HiddenWindowSendsNoHelloAndKeepsItsRows)
{
    ShowAndActivate();
    ASSERT_TRUE(WaitFor([&] { return List().topLevelItemCount() == AmpCount; }, 5000)) << List().topLevelItemCount();
    for (int i = 0; i < AmpCount; ++i)
        Simulator->Modify(static_cast<size_t>(i), [](ampsim::Amplifier& amp) { amp.Silent = true; });

    FormTovrin->hide();
    QTest::qWait(100); // a hello already on its way may still arrive
    const auto hellos = Simulator->HellosReceived();
    QTest::qWait(3000);
    EXPECT_EQ(Simulator->HellosReceived(), hellos);
    EXPECT_EQ(List().topLevelItemCount(), AmpCount) << "no expiry while hidden";

    FormTovrin->show();
    ASSERT_TRUE(WaitFor([&] { return Simulator->HellosReceived() > hellos; }, 3000));
    ASSERT_TRUE(WaitFor([&] { return List().topLevelItemCount() == 0; }, 3000)) << List().topLevelItemCount();
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

    ShowAndActivate();
    ASSERT_TRUE(WaitFor([&] { return List().topLevelItemCount() == 400; }, 5000)) << List().topLevelItemCount();
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
    return RUN_ALL_TESTS();
}
