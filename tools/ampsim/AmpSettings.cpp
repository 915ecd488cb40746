// Settings datagrams: an amplifier named by its MAC suffix takes new addresses and reboots.

#include "tools/ampsim/SimulatorImpl.h"

#include "comm/Recvthread.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ampsim {

// Called with Mutex held.
void Simulator::Impl::RememberAddresses()
{
    for (const auto& a : Amps) {
        in_addr own {};
        if (ParseIPv4(a.Config.IP, own))
            OwnAddresses.insert(own.s_addr);
    }
    FilterOwnDatagrams();
}

// Called with Mutex held. "MAC 5 1" (DHCP) or "MAC 5 0 ip netmask gateway".
void Simulator::Impl::ApplySettings(const std::string& bytes)
{
    auto parts = SplitBlanks(bytes);
    if (parts.empty())
        return;
    for (size_t i = 0; i < Amps.size(); ++i) {
        auto& state = Amps[i];
        if (state.Config.Mac != parts[0])
            continue;
        state.Settings.push_back(bytes);
        if (parts.size() < 3 || parts[1] != "5")
            continue;
        auto& amp = state.Config;
        if (parts[2] == "1") {
            amp.Dhcp = true;
            if (!amp.LeaseIP.empty())
                amp.IP = amp.LeaseIP;
        } else if (parts[2] == "0" && parts.size() >= 5) {
            in_addr ip {}, mask {};
            in_addr gateway {};
            std::string gatewayText = parts.size() >= 6 ? parts[5] : "0.0.0.0";
            // A real device refuses what it cannot use; so does this one (no reboot).
            if (!ParseIPv4(parts[3], ip) || !ParseIPv4(parts[4], mask) || !ParseIPv4(gatewayText, gateway)) {
                Tell(amp.Mac + " refuses settings \"" + bytes + "\"");
                continue;
            }
            amp.Dhcp = false;
            amp.IP = parts[3];
            amp.NetMask = parts[4];
            amp.Gateway = gatewayText;
        } else {
            Tell(amp.Mac + " ignores \"" + bytes + "\"");
            continue;
        }
        if (amp.StaysDown) {
            state.SilentUntil = Clock::now() + std::chrono::hours(24);
            Tell(amp.Mac + " applies \"" + bytes + "\" and does not come back");
            continue;
        }
        state.SilentUntil = Clock::now() + std::chrono::milliseconds(Opts.RebootMs);
        Tell(amp.Mac + " applies \"" + bytes + "\" and reboots for " + std::to_string(Opts.RebootMs) + " ms");
        After(Opts.RebootMs, [this, i] {
            std::lock_guard lock(Mutex);
            Tell(Amps[i].Config.Mac + " is back: " + ReplyText(Amps[i].Config));
        });
    }
    RememberAddresses();
}

} // namespace ampsim
