#include "ctl/Interrupts.h"

#include <atomic>
#include <csignal>

#include <pthread.h>

namespace {

std::atomic<int> interrupts { 0 };

sigset_t HandledSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1); // ends the waiter
    return set;
}

} // namespace

TInterrupts::TInterrupts()
{
    const sigset_t set = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    FWaiter = std::thread([set] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0 || signal == SIGUSR1)
                return;
            ++interrupts;
        }
    });
}

TInterrupts::~TInterrupts()
{
    pthread_kill(FWaiter.native_handle(), SIGUSR1);
    FWaiter.join();
}

int TInterrupts::Count()
{
    return interrupts.load();
}
