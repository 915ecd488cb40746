#include "tools/ampsim/Churn.h"

#include <chrono>
#include <utility>
#include <vector>

namespace ampsim {

std::string ChurnedAddress(const std::string& ip)
{
    if (ip.rfind("198.18.", 0) == 0)
        return "198.19." + ip.substr(7);
    if (ip.rfind("198.19.", 0) == 0)
        return "198.18." + ip.substr(7);
    return ip;
}

std::string ChurnedName(const std::string& name)
{
    const std::string suffix = "-moved";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        return name.substr(0, name.size() - suffix.size());
    return name + suffix;
}

Churner::Churner(Simulator& simulator, ChurnOptions options)
    : FSimulator(simulator)
    , FOptions(options)
    , FState(options.Seed * 0x9e3779b97f4a7c15ull + 1)
{
}

Churner::~Churner()
{
    Stop();
}

void Churner::Start()
{
    if (FOptions.PeriodMs > 0 && FSimulator.Count() > 0 && !FThread.joinable())
        FThread = std::thread([this] { Loop(); });
}

void Churner::Stop()
{
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
}

uint64_t Churner::Random()
{
    // xorshift64*: repeatable from the seed, good enough to pick amplifiers.
    FState ^= FState >> 12;
    FState ^= FState << 25;
    FState ^= FState >> 27;
    return FState * 2685821657736338717ull;
}

void Churner::Loop()
{
    using Clock = std::chrono::steady_clock;
    std::vector<std::pair<size_t, Clock::time_point>> silent;
    std::vector<bool> isSilent(FSimulator.Count(), false);
    auto next = Clock::now();
    std::unique_lock lock(FMutex);
    while (!FStopping) {
        next += std::chrono::milliseconds(FOptions.PeriodMs);
        if (FWake.wait_until(lock, next, [this] { return FStopping; }))
            break;
        const auto now = Clock::now();
        for (auto it = silent.begin(); it != silent.end();) {
            if (it->second > now) {
                ++it;
                continue;
            }
            const bool change = Random() % 100 < static_cast<uint64_t>(FOptions.ChangePercent);
            const bool address = Random() % 2 == 0;
            FSimulator.Modify(it->first, [&](Amplifier& amp) {
                amp.Silent = false;
                if (change && address)
                    amp.IP = ChurnedAddress(amp.IP);
                else if (change)
                    amp.Name = ChurnedName(amp.Name);
            });
            FChanged += change ? 1 : 0;
            isSilent[it->first] = false;
            it = silent.erase(it);
        }
        for (size_t n = 0; n < FOptions.PerPeriod && silent.size() < isSilent.size(); ++n) {
            const size_t amp = Random() % isSilent.size();
            if (isSilent[amp])
                continue;
            isSilent[amp] = true;
            FSimulator.Modify(amp, [](Amplifier& a) { a.Silent = true; });
            silent.emplace_back(amp, now + std::chrono::milliseconds(FOptions.SilentMs));
            ++FSilenced;
        }
    }
}

} // namespace ampsim
