#include "finder/DiscoveryWatch.h"

#include "comm/SocketHelpers.h"

std::optional<TDiscoveryInterface> DiscoveryInterfaceOf(const std::string& localAddress)
{
    in_addr_t address = 0;
    LocalInterface found;
    if (localAddress.empty() || !ParseDottedAddress(localAddress, address)
        || !FindInterfaceOwning(address, found))
        return std::nullopt;
    return TDiscoveryInterface { found.name, found.index };
}

void TDiscoveryWatch::Started(const std::string& localAddress, const std::optional<TDiscoveryInterface>& on)
{
    const bool restarted = FStopped;
    FWatching = true;
    FStopped = false;
    FEnded = false;
    FAddress = localAddress;
    // The name is kept from the first start: the interface must come back under the same name.
    if (!restarted || !FInterface)
        FInterface = on;
    else if (on)
        FInterface->Index = on->Index;
    FStatus = restarted ? "Discovery runs again on " + Where() + "." : std::string();
}

void TDiscoveryWatch::WorkerEnded()
{
    if (FWatching && !FStopped)
        FEnded = true;
}

TDiscoveryWatch::Action TDiscoveryWatch::Tick(const std::optional<TDiscoveryInterface>& now)
{
    if (!FWatching)
        return Action::None;
    const bool sameName = FInterface && now && now->Name == FInterface->Name;
    if (!FStopped) {
        if (FEnded) {
            FStopped = true;
            FStatus = "Discovery stopped: the receive channel on " + Where() + " failed.";
            return Action::Stop;
        }
        if (FInterface && !(sameName && now->Index == FInterface->Index)) {
            FStopped = true;
            FStatus = "Discovery stopped: the interface " + Where() + " is gone.";
            return Action::Stop;
        }
        return Action::None;
    }
    // Back under the same name and on the same address; any address needs no interface.
    if (!FInterface || sameName)
        return Action::Restart;
    return Action::None;
}

void TDiscoveryWatch::RestartFailed(const std::string& reason)
{
    FStopped = true;
    FStatus = "Discovery stopped: " + reason;
}

std::string TDiscoveryWatch::Where() const
{
    const std::string address = FAddress.empty() ? "any address" : FAddress;
    return FInterface ? FInterface->Name + " (" + address + ")" : address;
}
