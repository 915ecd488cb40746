#pragma once
// Ctrl+C (SIGINT), SIGTERM and a hang-up (SIGHUP) for the command-line program. They are blocked in
// every thread and read by one waiting thread (through a signalfd), so no blocking call anywhere
// ends early with EINTR; the program asks Count() when it is ready to act on them. The waiting
// thread is ended through an eventfd of its own, never by a signal, so no signal from outside can
// end it. SIGUSR1, SIGUSR2, SIGALRM and SIGPIPE are ignored (a write to a closed pipe or socket
// fails with EPIPE instead); SIGHUP stays ignored when the program was started ignoring it (nohup).

#include "platform/UniqueFd.h"

#include <thread>

class TInterrupts {
public:
    // Make it before any other thread starts: threads inherit the blocked signals.
    TInterrupts();
    ~TInterrupts();
    TInterrupts(const TInterrupts&) = delete;
    TInterrupts& operator=(const TInterrupts&) = delete;

    // How many interrupts arrived so far.
    static int Count();

private:
    UniqueFd FSignals; // signalfd of the handled signals
    UniqueFd FStop; // eventfd: written once to end the waiter
    std::thread FWaiter;
};
