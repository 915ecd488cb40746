// The SerialPort transport on termios: the port is opened exclusively in raw mode and read without
// blocking; the loop waits in poll on the port and on the stop wake-up together.

#include "comm/SerialSettings.h"
#include "comm/WorkerTransport.h"
#include "text/Strtools.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// On termios a read may come back empty without the port having gone; only so many in a row are
// taken as its end, so that such a port cannot keep the loop spinning.
constexpr int MaxEmptyReads = 100;

std::string ErrnoText(int code)
{
    std::string text = SystemErrorText(code);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

// Raw bytes both ways: no line editing, echo, signals, translation or software flow control (the
// settings may ask for XON/XOFF again). Speed, data bits, parity, stop bits and hardware handshake
// stay as they are.
void MakeRaw(termios& settings)
{
    settings.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag |= CREAD | CLOCAL;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
}

class SerialPortTransport final : public WorkerTransport {
public:
    SerialPortTransport(UniqueFd port, std::string name)
        : FPort(std::move(port))
        , FName(std::move(name))
    {
    }

    void Run(WorkerCore& core) override;
    int Send(WorkerCore& core, const char* address, const void* data, int length) override;
    void Close() override
    {
        std::lock_guard lock(FMutex);
        FPort.reset();
    }

private:
    bool WriteAll(WorkerCore& core, const char* data, int length);

    std::mutex FMutex; // writes and Close
    UniqueFd FPort;
    const std::string FName; // the port name as the channel address gave it
};

void SerialPortTransport::Run(WorkerCore& core)
{
    const int port = FPort.get();
    char buffer[MaxChunk + 1];
    int emptyReads = 0;
    while (!core.Stopped()) {
        pollfd fds[2] = { { port, POLLIN, 0 }, { core.WakeFd(), POLLIN, 0 } };
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[0].revents & POLLNVAL) != 0)
            break;
        if (fds[1].revents != 0 || fds[0].revents == 0)
            continue;
        const ssize_t got = read(port, buffer, MaxChunk);
        if (got > 0) {
            emptyReads = 0;
            buffer[got] = '\0';
            core.NotifyReceived(FName, buffer, static_cast<int>(got));
            continue;
        }
        // A hang-up (the far side of a pseudo-terminal closing, an adapter unplugged) or a real
        // error ends the loop; an empty read alone does not.
        const bool hungUp = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
        if (got < 0 && (errno == EAGAIN || errno == EINTR) && !hungUp)
            continue;
        if (got == 0 && !hungUp && ++emptyReads < MaxEmptyReads)
            continue;
        break;
    }
    core.NotifyChannelLost(FName);
}

bool SerialPortTransport::WriteAll(WorkerCore& core, const char* data, int length)
{
    int done = 0;
    while (done < length) {
        const ssize_t wrote = write(FPort.get(), data + done, static_cast<size_t>(length - done));
        if (wrote > 0) {
            done += static_cast<int>(wrote);
            continue;
        }
        if (wrote < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The port takes no more for now: wait until it does, or until the worker is stopped.
        pollfd fds[2] = { { FPort.get(), POLLOUT, 0 }, { core.WakeFd(), POLLIN, 0 } };
        const int ready = poll(fds, 2, -1);
        if ((ready < 0 && errno != EINTR) || fds[1].revents != 0 || (fds[0].revents & POLLNVAL) != 0)
            return false;
    }
    return true;
}

// A failed write ends the channel: the owner hears OnDisconnected (on this thread, through the
// delivery) and the worker stops.
int SerialPortTransport::Send(WorkerCore& core, const char*, const void* data, int length)
{
    {
        std::lock_guard lock(FMutex);
        if (!FPort || core.Stopped())
            return -1;
        if (WriteAll(core, static_cast<const char*>(data), length))
            return length;
    }
    core.NotifyChannelLost(FName);
    core.Stop(false);
    return 0;
}

} // namespace

std::unique_ptr<WorkerTransport> OpenSerialPortTransport(const TChannelAddress& address, std::string& error)
{
    if (address.first.empty()) {
        error = "No serial port is named.";
        return nullptr;
    }
    const std::string path = SerialDevicePath(address.first);
    UniqueFd port(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!port) {
        error = "Cannot open serial port \"" + path + "\": " + ErrnoText(errno);
        return nullptr;
    }
    termios settings {};
    if (tcgetattr(port.get(), &settings) != 0) {
        error = "\"" + path + "\" is not a serial port: " + ErrnoText(errno);
        return nullptr;
    }
    // TIOCEXCL keeps other programs out (except privileged ones); the lock also keeps out every
    // other user of this program's way of opening ports.
    if (flock(port.get(), LOCK_EX | LOCK_NB) != 0 || ioctl(port.get(), TIOCEXCL) != 0) {
        error = "Serial port \"" + path + "\" is in use: " + ErrnoText(errno);
        return nullptr;
    }
    MakeRaw(settings);
    if (tcsetattr(port.get(), TCSANOW, &settings) != 0) {
        error = "Cannot set raw mode on \"" + path + "\": " + ErrnoText(errno);
        return nullptr;
    }
    // Settings that cannot be applied leave the port as it was; that is not reported.
    SerialModemLines lines;
    if (!address.second.empty() && tcgetattr(port.get(), &settings) == 0
        && ApplySerialSettings(address.second, settings, lines)) {
        tcsetattr(port.get(), TCSANOW, &settings);
        ChangeModemLines(port.get(), lines);
    }
    return std::make_unique<SerialPortTransport>(std::move(port), address.first);
}
