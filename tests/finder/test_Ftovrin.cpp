#include "finder/Ftovrin.h"

#include "gui/ErrorReportingApplication.h"
#include "gui/GlobalForm.h"
#include "gui/GuiDelivery.h"
#include "gui/ProcessEnd.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fselipaddr.h"
#include "support/TestNetwork.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeView>

#include "support/ListViewRows.h"
#include "support/QtWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

namespace {

// Tests that start a worker run only inside the private test network, which this whole process
// enters before the first test: a worker's hello can then never reach a real interface.
std::string NoNetworkReason;

constexpr uint32_t NearWrap = 0xFFFFFFFFu - 1200u;

class FtovrinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDialogs::TakeAsked();
        FormSelIpAddr->SetAddressSource([] { return std::vector<std::string> { "198.18.0.1" }; });
        Window().SetClock([this] { return Now; });
    }
    void TearDown() override { UserDialogs::TakeAsked(); }

    static TFormTovrin& Window() { return *FormTovrin; }
    static QTreeView& List() { return *Window().ListView1; }

    void Reply(const std::string& text)
    {
        // The worker hands over the bytes followed by a zero byte.
        Window().DatagramReceived("198.18.1.1:8001", text.c_str(), static_cast<int>(text.size()));
    }

    static std::vector<std::string> Rows()
    {
        std::vector<std::string> rows;
        for (int i = 0; i < RowCount(List()); ++i)
            rows.push_back((RowText(List(), i, 0) + " " + RowText(List(), i, 1) + " " + RowText(List(), i, 2))
                               .toStdString());
        return rows;
    }

    // The view shows the list's selection once the event loop has turned.
    static int ViewSelectedRow()
    {
        QCoreApplication::processEvents();
        return SelectedRow(List());
    }

    uint32_t Now = NearWrap;
    GlobalForm<TFormTovrin> FormTovrinHolder { FormTovrin };
    GlobalForm<TFormSelIpAddr> FormSelIpAddrHolder { FormSelIpAddr };
};

#define REQUIRE_PRIVATE_NETWORK()                                                                            \
    if (!NoNetworkReason.empty())                                                                            \
    GTEST_SKIP() << NoNetworkReason

TEST_F(FtovrinTest, WindowHasItsCaptionsListAndTimer)
{
    EXPECT_EQ(Window().windowTitle(), "Select Amplifier");
    EXPECT_EQ(Window().minimumSize(), QSize(390, 225));
    EXPECT_EQ(Window().maximumSize(), QSize(390, 225));
    EXPECT_FALSE(Window().windowIcon().isNull());
    EXPECT_FALSE(Window().windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(Window().windowFlags() & Qt::WindowMaximizeButtonHint);

    ASSERT_EQ(List().model()->columnCount(), 3);
    EXPECT_EQ(List().model()->headerData(0, Qt::Horizontal), "MAC-Suffix");
    EXPECT_EQ(List().model()->headerData(1, Qt::Horizontal), "IP-Address");
    EXPECT_EQ(List().model()->headerData(2, Qt::Horizontal), "Name");
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(List().columnWidth(c), 120);
    EXPECT_EQ(List().selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_FALSE(List().isSortingEnabled());
    EXPECT_FALSE(List().header()->sectionsClickable());

    auto* timer = Window().findChild<QTimer*>("TimerHello");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 500);
    EXPECT_TRUE(timer->isActive());

    auto* copy = Window().findChild<QAction*>("MenuItemCopyIP");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text(), "Copy IP-Address");
    EXPECT_EQ(copy->shortcut(), QKeySequence("Ctrl+I"));
    EXPECT_TRUE(Window().PopupMenu1->actions().contains(copy));
}

TEST_F(FtovrinTest, RepliesAddAndRefreshRowsAndANewAmplifierIsSelected)
{
    Reply("0A1B2C 1 198.18.1.1 255.255.0.0 0.0.0.0 Stage");
    Reply("0A1B2D 0 198.18.1.2 255.255.0.0 0.0.0.0 Foyer");
    Reply("0 1 A"); // the own hello, heard back
    Reply("0A1B2E 0 198.18.1.3 255.255.0.0 0.0.0.0"); // five fields
    EXPECT_EQ(Rows(), (std::vector<std::string> { "0A1B2C 198.18.1.1 Stage", "0A1B2D 198.18.1.2 Foyer" }));
    EXPECT_EQ(ViewSelectedRow(), 1);
    EXPECT_FALSE(List().model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());

    // The user picks the first row; a refresh keeps that choice, a new amplifier takes it.
    PickRow(List(), 0);
    TTovrinData selected;
    ASSERT_TRUE(Window().GetSelected(selected));
    EXPECT_EQ(selected.MacKey, "0A1B2C");
    Reply("0A1B2D 0 198.18.1.20 255.255.0.0 0.0.0.0 Foyer-2");
    EXPECT_EQ(Rows()[1], "0A1B2D 198.18.1.20 Foyer-2");
    EXPECT_EQ(ViewSelectedRow(), 0);

    Reply("0A1B2F 1 198.18.1.4 255.255.0.0 0.0.0.0 Bar extra words");
    EXPECT_EQ(Rows().size(), 3u);
    EXPECT_EQ(Rows()[2], "0A1B2F 198.18.1.4 Bar");
    EXPECT_EQ(ViewSelectedRow(), 2);
    ASSERT_TRUE(Window().GetSelected(selected));
    EXPECT_EQ(selected.IP, "198.18.1.4");
    EXPECT_EQ(selected.LastSeen, Now);
}

TEST_F(FtovrinTest, SilentRowsExpireAtTheHelloTickAcrossTheTickWrap)
{
    REQUIRE_PRIVATE_NETWORK();
    FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk);
    Window().FormActivate();
    ASSERT_TRUE(Window().Worker);
    Window().show();

    for (const char* mac : { "A1", "A2", "A3", "A4", "A5" })
        Reply(std::string(mac) + " 0 198.18.1.9 255.255.0.0 0.0.0.0 N");
    Now += 1500; // past the wrap of the 32-bit tick
    Reply("A1 0 198.18.1.9 255.255.0.0 0.0.0.0 N");
    Reply("A5 0 198.18.1.9 255.255.0.0 0.0.0.0 N");
    PickRow(List(), 2); // A3, one of the silent ones

    Now += 500; // A2..A4 exactly 2000 ms old: not yet
    Window().TimerHelloTimer();
    EXPECT_EQ(Rows().size(), 5u);
    Now += 1;
    Window().TimerHelloTimer();
    EXPECT_EQ(Rows(), (std::vector<std::string> { "A1 198.18.1.9 N", "A5 198.18.1.9 N" }));
    EXPECT_EQ(ViewSelectedRow(), -1);
    TTovrinData selected;
    EXPECT_FALSE(Window().GetSelected(selected));
}

// A long list (a flood of junk replies) reaches the view in batches; the view still ends up with
// the list's rows in order and the newest selected, and many rows expiring at once leave the right
// ones.
TEST_F(FtovrinTest, LongListsReachTheViewInBatchesInOrder)
{
    REQUIRE_PRIVATE_NETWORK();
    Window().SuppressActivation();
    Window().show();
    FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk);
    Window().FormActivate();
    ASSERT_TRUE(Window().Worker);
    const auto mac = [](int i) { return "M" + std::to_string(10000 + i); };
    constexpr int Count = 1500;
    for (int i = 0; i < Count; ++i)
        Reply(mac(i) + " 0 198.18.1.9 255.255.0.0 0.0.0.0 N" + std::to_string(i));
    ASSERT_TRUE(WaitFor([] { return RowCount(List()) == Count; }, 3000)) << RowCount(List());
    ASSERT_TRUE(WaitFor([] { return ViewSelectedRow() == Count - 1; }, 3000));

    // Half the rows expire, every other one: the rows in view stay in view.
    List().scrollTo(List().model()->index(600, 0), QAbstractItemView::PositionAtTop);
    QCoreApplication::processEvents();
    const auto topRow = [] { return RowText(List(), List().indexAt(QPoint(0, 0)).row(), 0); };
    ASSERT_EQ(topRow(), QString::fromStdString(mac(600)));
    Now += 1500;
    for (int i = 0; i < Count; i += 2)
        Reply(mac(i) + " 0 198.18.1.9 255.255.0.0 0.0.0.0 N" + std::to_string(i));
    Now += 501;
    Window().TimerHelloTimer();
    QCoreApplication::processEvents();
    EXPECT_EQ(topRow(), QString::fromStdString(mac(600)));
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), static_cast<size_t>(Count / 2));
    for (int i = 0; i < Count / 2; ++i)
        ASSERT_EQ(rows[static_cast<size_t>(i)], mac(2 * i) + " 198.18.1.9 N" + std::to_string(2 * i));
    EXPECT_EQ(ViewSelectedRow(), -1) << "the selected newest row was an odd one";
}

TEST_F(FtovrinTest, NoExpiryWithoutWorker)
{
    Reply("B1 0 198.18.1.9 255.255.0.0 0.0.0.0 N");
    Now += 10000;
    Window().SuppressActivation();
    Window().show();
    Window().TimerHelloTimer();
    EXPECT_EQ(Rows().size(), 1u) << "no worker";
}

TEST_F(FtovrinTest, NoExpiryWhileHidden)
{
    REQUIRE_PRIVATE_NETWORK();
    Reply("B1 0 198.18.1.9 255.255.0.0 0.0.0.0 N");
    Window().SuppressActivation();
    FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk);
    Window().FormActivate();
    ASSERT_TRUE(Window().Worker);
    for (int tick = 0; tick < 20; ++tick) { // ticks on time, 10 s in all
        Now += 500;
        Window().TimerHelloTimer();
    }
    EXPECT_EQ(Rows().size(), 1u) << "hidden";
    Window().show();
    Now += 500;
    Window().TimerHelloTimer();
    EXPECT_EQ(Rows().size(), 0u);
}

TEST_F(FtovrinTest, CopyIpAddressPutsTheSelectedAddressOnTheClipboard)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("before");
    Reply("C1 0 198.18.1.7 255.255.0.0 0.0.0.0 One");
    Reply("C2 0 198.18.1.8 255.255.0.0 0.0.0.0 Two");
    ASSERT_EQ(ViewSelectedRow(), 1);
    List().clearSelection();
    Window().MenuItemCopyIP->trigger();
    EXPECT_EQ(clipboard->text(), "before") << "no row selected";

    PickRow(List(), 0);
    Window().SuppressActivation();
    Window().show();
    if (QGuiApplication::platformName() == "wayland") {
        // The compositor decides which window has the keyboard: the Wayland clipboard is checked
        // through the menu choice.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
        Window().MenuItemCopyIP->trigger();
    } else {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
        QTest::keyClick(&List(), Qt::Key_I, Qt::ControlModifier);
    }
    EXPECT_EQ(clipboard->text(), "198.18.1.7");
    EXPECT_EQ(Window().Selected.MacKey, "C1");
}

TEST_F(FtovrinTest, ChannelThatCannotOpenIsReportedWithAddressAndReason)
{
    REQUIRE_PRIVATE_NETWORK();
    // 192.0.2.1 is owned by no interface here, so it cannot be bound.
    FormSelIpAddr->SetAddressSource([] { return std::vector<std::string> { "198.18.0.1", "192.0.2.1" }; });
    FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk, 1);
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    Window().FormActivate();
    EXPECT_FALSE(Window().Worker);
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].kind, "error");
    EXPECT_TRUE(asked[0].text.contains("\"udp:192.0.2.1:8001\"")) << asked[0].text.toStdString();
    EXPECT_TRUE(asked[0].text.contains("bind")) << asked[0].text.toStdString();
}

TEST_F(FtovrinTest, ActivationAsksOnceAndCancelBindsToAnyAddress)
{
    REQUIRE_PRIVATE_NETWORK();
    int asked = 0;
    FormSelIpAddr->SetAddressSource([&] {
        ++asked;
        return std::vector<std::string> { "198.18.0.1" };
    });
    FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalCancel);
    Window().show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    ASSERT_TRUE(WaitFor([&] { return Window().Worker != nullptr; }));
    EXPECT_EQ(Window().Worker->LocalPort(), 8001);
    EXPECT_TRUE(UserDialogs::TakeAsked().isEmpty());

    // Activated again after a hide and a show: no second question, the same worker.
    const auto* worker = Window().Worker.get();
    FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk); // answered, should it be asked again
    Window().hide();
    Window().show();
    QTest::qWait(50);
    Window().activateWindow();
    QTest::qWait(50);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Window().Worker.get(), worker);
}

TEST(ErrorReportingApplication, AnExceptionFromAHandlerIsShownAndTheProgramGoesOn)
{
    UserDialogs::TakeAsked();
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    UserDialogs::SetNextAnswer(QMessageBox::Ok);
    bool after = false;
    QTimer::singleShot(0, [] {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
    });
    QTimer::singleShot(0, [] { throw 42; });
    QTimer::singleShot(5, [&] { after = true; });
    ASSERT_TRUE(WaitFor([&] { return after; }, 3000)) << "the events after the exception still run";
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0].kind, "error");
    EXPECT_TRUE(asked[0].text.startsWith("thread: ")) << asked[0].text.toStdString();
    EXPECT_EQ(asked[1].kind, "error");
    EXPECT_EQ(asked[1].text, "") << "any other exception: an empty message";
}

class GuiDeliveryTest : public ::testing::Test { };

TEST_F(GuiDeliveryTest, WorkerCallRunsOnTheGuiThreadAndWaitsForIt)
{
    GuiDelivery delivery;
    const auto deliver = delivery.Function();
    QThread* ranOn = nullptr;
    bool sawResult = false;
    std::atomic<bool> returned { false };
    std::thread worker([&] {
        int result = 0;
        deliver([&] {
            ranOn = QThread::currentThread();
            result = 42;
        });
        sawResult = result == 42;
        returned = true;
    });
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }, 10000));
    worker.join();
    EXPECT_EQ(ranOn, QThread::currentThread());
    EXPECT_TRUE(sawResult);

    bool ranAtOnce = false;
    deliver([&] { ranAtOnce = true; });
    EXPECT_TRUE(ranAtOnce) << "a call from the GUI thread itself runs at once";
}

TEST_F(GuiDeliveryTest, ClosingReleasesAWaitingWorkerWithoutRunningItsCall)
{
    auto delivery = std::make_unique<GuiDelivery>();
    const auto deliver = delivery->Function();
    std::atomic<bool> ran { false };
    std::thread worker([&] { deliver([&] { ran = true; }); });
    // The GUI thread does not serve events here, so the call can only be waiting or not yet posted.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    delivery.reset();
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);

    std::thread late([&] { deliver([&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(ran) << "after closing, deliveries return at once";
}

TEST_F(GuiDeliveryTest, PostedCallsRunOnTheGuiThreadInOrderAndNotOnceClosed)
{
    auto delivery = std::make_unique<GuiDelivery>();
    const auto post = delivery->Posting();
    std::vector<int> order;
    std::vector<QThread*> threads;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            post([&, i] {
                order.push_back(i);
                threads.push_back(QThread::currentThread());
            });
    });
    worker.join();
    EXPECT_TRUE(order.empty()) << "posting does not wait for the call";
    ASSERT_TRUE(WaitFor([&] { return order.size() == 3; }, 10000));
    EXPECT_EQ(order, (std::vector<int> { 0, 1, 2 }));
    for (QThread* thread : threads)
        EXPECT_EQ(thread, QThread::currentThread());

    post([&] { order.push_back(3); });
    delivery.reset();
    post([&] { order.push_back(4); });
    QCoreApplication::processEvents();
    EXPECT_EQ(order.size(), 3u) << "calls posted before and after closing are dropped";
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    auto network = TestNetwork::EnterAppSideOfNew(0, NoNetworkReason);
    ErrorReportingApplication application(argc, argv);
    return EndBeforeWindowSystemTeardown(RUN_ALL_TESTS(), [&] { network.reset(); });
}
