#include "ctl/Interrupts.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

std::atomic<int> interrupts { 0 };

bool IsIgnored(int signal)
{
    struct sigaction current { };
    return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void Ignore(int signal)
{
    struct sigaction ignore { };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(signal, &ignore, nullptr);
}

sigset_t HandledSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (!IsIgnored(SIGHUP))
        sigaddset(&set, SIGHUP); // the terminal went away: end as on Ctrl+C
    return set;
}

// Reads every pending signal from the signalfd; each one counts.
void TakeSignals(int signals)
{
    signalfd_siginfo info {};
    while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        ++interrupts;
}

} // namespace

TInterrupts::TInterrupts()
{
    for (const int signal : { SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE })
        Ignore(signal);
    const sigset_t set = HandledSignals();
    FStop.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!FStop)
        return; // the signals keep their default action: Ctrl+C still ends the program
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    FSignals.reset(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!FSignals) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    FWaiter = std::thread([signals = FSignals.get(), stop = FStop.get()] {
        for (;;) {
            pollfd waits[] = { { signals, POLLIN, 0 }, { stop, POLLIN, 0 } };
            if (poll(waits, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (waits[0].revents != 0)
                TakeSignals(signals);
            if (waits[1].revents != 0)
                return;
        }
    });
}

TInterrupts::~TInterrupts()
{
    if (!FWaiter.joinable())
        return;
    const uint64_t one = 1;
    while (write(FStop.get(), &one, sizeof one) < 0 && errno == EINTR) { }
    FWaiter.join();
}

int TInterrupts::Count()
{
    return interrupts.load();
}
