#pragma once
// Keeps discovery alive on the interface the user chose. Window-free: the window tells it when the
// worker started or ended, and asks it at every hello tick, with the interface the chosen address
// is on at that moment, whether to stop or to start the worker again.
//
// An interface that goes away (a USB adapter unplugged) and comes back gets a new index, and a
// socket tied to the old one neither sends nor receives any more; so the name, the address and the
// index must all be the same as at the start.

#include <optional>
#include <string>

struct TDiscoveryInterface {
    std::string Name;
    unsigned Index = 0;
};

// The interface that carries the local address now; none for any address ("") or when none does.
std::optional<TDiscoveryInterface> DiscoveryInterfaceOf(const std::string& localAddress);

class TDiscoveryWatch {
public:
    enum class Action { None, Stop, Restart };

    // The worker runs on localAddress ("" for any address), which is on that interface (none for
    // any address, or when the address was found on no interface).
    void Started(const std::string& localAddress, const std::optional<TDiscoveryInterface>& on);
    // The worker ended by itself (a socket error).
    void WorkerEnded();
    // Called at each tick with the interface that carries the local address now (none when no
    // interface does). Stop: stop the worker, its channel is dead; Restart: start it again on the
    // same channel address. StatusText() tells the user what happened.
    Action Tick(const std::optional<TDiscoveryInterface>& now);
    // A restart did not open the channel: stay stopped for that reason and try again later.
    void RestartFailed(const std::string& reason);

    bool Stopped() const { return FStopped; }
    bool Watching() const { return FWatching; }
    const std::string& LocalAddress() const { return FAddress; }
    // "Discovery stopped: <reason>" while stopped, a note once running again, else empty.
    const std::string& StatusText() const { return FStatus; }

private:
    std::string Where() const;

    bool FWatching = false;
    bool FStopped = false;
    bool FEnded = false;
    std::string FAddress;
    std::optional<TDiscoveryInterface> FInterface;
    std::string FStatus;
};
