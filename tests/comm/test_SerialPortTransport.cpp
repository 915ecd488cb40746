// The serial transport on pseudo-terminal pairs: the worker opens the terminal side as its port,
// the test plays the device on the other side.

#include "comm/Recvthread.h"
#include "comm/SerialSettings.h"
#include "platform/UniqueFd.h"
#include "support/WorkerRecorder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Writes all bytes to a non-blocking fd within the hang limit.
bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    const auto limit = std::chrono::steady_clock::now() + WorkerHangLimit;
    while (done < bytes.size() && std::chrono::steady_clock::now() < limit) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote > 0)
            done += static_cast<size_t>(wrote);
        else
            std::this_thread::sleep_for(1ms);
    }
    return done == bytes.size();
}

// Reads until count bytes came or the hang limit passed.
std::string ReadBytes(int fd, size_t count)
{
    std::string got;
    const auto limit = std::chrono::steady_clock::now() + WorkerHangLimit;
    while (got.size() < count && std::chrono::steady_clock::now() < limit) {
        pollfd readable { fd, POLLIN, 0 };
        if (poll(&readable, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

class SerialPortWorker : public ::testing::Test {
protected:
    void SetUp() override
    {
        int master = -1;
        int terminal = -1;
        ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
        device.reset(master);
        side.reset(terminal);
        name = ttyname(side.get());
        ASSERT_NE(fcntl(device.get(), F_SETFL, O_NONBLOCK), -1);
        worker = TRecvThread::Create();
        recorder.Bind(*worker);
        worker->SetDelivery(owner.Delivery());
    }
    void TearDown() override { EXPECT_TRUE(StopAndRelease(owner, worker)); }

    // The port's settings as the terminal side has them now.
    termios PortSettings() const
    {
        termios settings {};
        tcgetattr(side.get(), &settings);
        return settings;
    }

    OwnerLoop owner;
    Recorder recorder;
    UniqueFd device; // the far side: what the port is connected to
    UniqueFd side; // the terminal side, held only to read its settings
    std::string name;
    std::shared_ptr<TRecvThread> worker;
};

TEST_F(SerialPortWorker, OpensInRawModeAndAppliesEitherModeSyntax)
{
    const struct {
        std::string settings;
        speed_t speed;
        bool twoStopBits;
    } cases[] = {
        { "9600,n,8,1", B9600, false }, { "baud=19200 parity=N data=8 stop=2", B19200, true },
        { "", B2400, true }, // no settings: the port keeps its own
        { "9600,q,8,1", B2400, true }, // not a mode text: the same
    };
    for (const auto& c : cases) {
        termios before = PortSettings();
        cfsetospeed(&before, B2400);
        cfsetispeed(&before, B2400);
        before.c_cflag |= CSTOPB;
        ASSERT_EQ(tcsetattr(side.get(), TCSANOW, &before), 0);

        auto port = TRecvThread::Create();
        std::string error;
        ASSERT_TRUE(port->Open("com:" + name + (c.settings.empty() ? "" : ":" + c.settings), error)) << error;
        EXPECT_EQ(port->Transport(), TRecvThread::SerialPort);
        const termios now = PortSettings();
        EXPECT_EQ(cfgetospeed(&now), c.speed) << c.settings;
        EXPECT_EQ((now.c_cflag & CSTOPB) != 0, c.twoStopBits) << c.settings;
        EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ISIG), 0u) << c.settings;
        EXPECT_EQ(now.c_iflag & (ICRNL | IXON), 0u) << c.settings;
        EXPECT_EQ(now.c_oflag & OPOST, 0u) << c.settings;
    }
}

TEST_F(SerialPortWorker, TellsItsNameOnOpenAndIsOpenedOnlyOnce)
{
    ASSERT_TRUE(worker->Open("serial:" + name + ":9600,n,8,1"));
    auto events = recorder.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, 'C');
    EXPECT_EQ(events[0].peer, name);
    EXPECT_EQ(events[0].thread, std::this_thread::get_id());

    auto second = TRecvThread::Create();
    std::string error;
    EXPECT_FALSE(second->Open("com:" + name, error));
    EXPECT_EQ(error.rfind("Serial port \"" + name + "\" is in use: ", 0), 0u) << error;
}

TEST_F(SerialPortWorker, CarriesEveryByteBothWaysAndABurstWholeAndInOrder)
{
    ASSERT_TRUE(worker->Open("com:" + name + ":115200,n,8,1"));
    worker->Start();
    const std::string awkward("\x00\xff\x11\x13\r\n\x03\x04 end", 11);
    EXPECT_EQ(worker->Send(nullptr, awkward.data(), static_cast<int>(awkward.size())), 11);
    EXPECT_EQ(ReadBytes(device.get(), awkward.size()), awkward);

    std::string burst = awkward;
    for (int i = 0; burst.size() < 5000; ++i)
        burst += static_cast<char>(i * 7);
    ASSERT_TRUE(WriteAll(device.get(), burst));
    const auto limit = std::chrono::steady_clock::now() + WorkerHangLimit;
    while (recorder.ReceivedFrom(name).size() < burst.size() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(recorder.ReceivedFrom(name), burst);
    for (const WorkerEvent& e : recorder.Events()) {
        if (e.kind != 'R')
            continue;
        EXPECT_LE(e.data.size(), 1023u);
        EXPECT_TRUE(e.terminated);
        EXPECT_EQ(e.thread, owner.Id());
    }
}

TEST_F(SerialPortWorker, FarSideClosingEndsTheWorkerWithOneDisconnect)
{
    ASSERT_TRUE(worker->Open("com:" + name));
    worker->Start();
    ASSERT_TRUE(WriteAll(device.get(), "last words"));
    ASSERT_TRUE(recorder.WaitFor(1, 'R'));
    device.reset();
    ASSERT_TRUE(recorder.WaitFor(1, 'D'));
    std::weak_ptr<TRecvThread> watch = worker;
    worker.reset();
    EXPECT_TRUE(WaitReleased(watch));
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].data, "last words");
    EXPECT_EQ(events[2].kind, 'D');
    EXPECT_EQ(events[2].peer, name);
    EXPECT_EQ(events[2].thread, owner.Id());
}

// A terminal in canonical mode hands over an end-of-file character as an empty read; the port has
// not gone, so what comes after it still arrives.
TEST_F(SerialPortWorker, EmptyReadWithoutHangUpKeepsTheChannel)
{
    ASSERT_TRUE(worker->Open("com:" + name));
    termios canonical = PortSettings();
    canonical.c_lflag |= ICANON;
    canonical.c_cc[VEOF] = 4;
    ASSERT_EQ(tcsetattr(side.get(), TCSANOW, &canonical), 0);
    worker->Start();
    ASSERT_TRUE(WriteAll(device.get(), "\x04"));
    ASSERT_TRUE(WriteAll(device.get(), "after\n"));
    ASSERT_TRUE(recorder.WaitFor(1, 'R'));
    EXPECT_EQ(recorder.ReceivedFrom(name), "after\n");
    EXPECT_EQ(recorder.CountOf('D'), 0u);
}

TEST_F(SerialPortWorker, SettingsRaiseAndDropTheModemLines)
{
    struct Call {
        unsigned long request;
        int lines;
        bool operator==(const Call&) const = default;
    };
    const struct {
        std::string settings;
        std::vector<Call> calls;
    } cases[] = {
        { "baud=9600 dtr=on rts=off", { { TIOCMBIS, TIOCM_DTR }, { TIOCMBIC, TIOCM_RTS } } },
        { "baud=9600 dtr=off rts=on", { { TIOCMBIS, TIOCM_RTS }, { TIOCMBIC, TIOCM_DTR } } },
        { "dtr=on rts=on", { { TIOCMBIS, TIOCM_DTR | TIOCM_RTS } } }, { "9600,n,8,1", {} },
        { "dtr=maybe", {} }, // no mode text: nothing is changed
    };
    for (const auto& c : cases) {
        std::vector<Call> calls;
        SetModemLineIoctl([&](int, unsigned long request, int lines) {
            calls.push_back({ request, lines });
            return 0;
        });
        auto port = TRecvThread::Create();
        EXPECT_TRUE(port->Open("com:" + name + ":" + c.settings)) << c.settings;
        SetModemLineIoctl({});
        EXPECT_TRUE(calls == c.calls) << c.settings << ": " << calls.size() << " calls";
    }
}

TEST_F(SerialPortWorker, FailedWriteStopsTheWorkerAndReturnsZero)
{
    ASSERT_TRUE(worker->Open("com:" + name));
    device.reset();
    owner.RunAndWait([&] { EXPECT_EQ(worker->SendText(nullptr, "lost"), 0); });
    EXPECT_EQ(recorder.CountOf('D'), 1u);
    EXPECT_EQ(worker->SendText(nullptr, "again"), -1) << "a stopped worker sends nothing";
    worker->Start();
    std::weak_ptr<TRecvThread> watch = worker;
    worker.reset();
    EXPECT_TRUE(WaitReleased(watch));
    EXPECT_EQ(recorder.CountOf('D'), 1u);
}

TEST_F(SerialPortWorker, StopWhileIdleEndsItWithoutFurtherNotifications)
{
    ASSERT_TRUE(worker->Open("com:" + name));
    worker->Start();
    EXPECT_TRUE(StopAndRelease(owner, worker));
    ASSERT_TRUE(WriteAll(device.get(), "too late"));
    std::this_thread::sleep_for(50ms);
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, 'C');
}

TEST_F(SerialPortWorker, ThousandOpenStopCyclesLeaveNoFd)
{
    EXPECT_EQ(FdsLeftAfterOpenStopCycles("com:" + name, 1000, true), 0);
}

} // namespace
