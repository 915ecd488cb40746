#pragma once
// Amplifiers that come and go, as on a stage being rigged: every period some fall silent for a
// while and come back, a share of them with another address or name. For soak tests of the
// programs that follow the list for a long time.

#include "tools/ampsim/Ampsim.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace ampsim {

struct ChurnOptions {
    int PeriodMs = 0; // 0: no churn
    size_t PerPeriod = 10; // amplifiers silenced each period
    int SilentMs = 3000; // how long each stays silent
    int ChangePercent = 20; // of those coming back: share with a new address or a new name
    uint64_t Seed = 1;
};

class Churner {
public:
    Churner(Simulator& simulator, ChurnOptions options);
    ~Churner();
    Churner(const Churner&) = delete;
    Churner& operator=(const Churner&) = delete;

    void Start();
    void Stop();
    uint64_t Silenced() const { return FSilenced; }
    uint64_t Changed() const { return FChanged; }

private:
    void Loop();
    uint64_t Random();

    Simulator& FSimulator;
    ChurnOptions FOptions;
    uint64_t FState;
    std::mutex FMutex;
    std::condition_variable FWake;
    bool FStopping = false;
    std::thread FThread;
    std::atomic<uint64_t> FSilenced { 0 };
    std::atomic<uint64_t> FChanged { 0 };
};

// A changed address or name for a returning amplifier: the address moves between its own and one
// in 198.19.0.0/16 (never on the test network's links), the name gains or loses "-moved".
std::string ChurnedAddress(const std::string& ip);
std::string ChurnedName(const std::string& name);

} // namespace ampsim
