#pragma once
// Ctrl+C (SIGINT) and SIGTERM for the command-line program. Both are blocked in every thread and
// taken by one waiting thread, so no blocking call anywhere ends early with EINTR; the program asks
// Count() when it is ready to act on them.

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
    std::thread FWaiter;
};
