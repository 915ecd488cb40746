#include "support/PrivateLoopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

std::string RunInPrivateLoopbackNetwork(const std::function<void()>& body)
{
    std::string unavailable;
    std::thread([&] {
        if (unshare(CLONE_NEWNET) != 0) {
            unavailable = std::string("no private network namespace: ") + std::strerror(errno);
            return;
        }
        struct if_nameindex* names = ::if_nameindex();
        const bool onlyLoopback = names != nullptr && names[0].if_name != nullptr
            && std::strcmp(names[0].if_name, "lo") == 0 && names[1].if_name == nullptr;
        if (names != nullptr)
            if_freenameindex(names);
        UniqueFd control(::socket(AF_INET, SOCK_DGRAM, 0));
        ifreq request {};
        std::strcpy(request.ifr_name, "lo");
        const bool up = ioctl(control.get(), SIOCGIFFLAGS, &request) == 0
            && (request.ifr_flags |= IFF_UP, true) && ioctl(control.get(), SIOCSIFFLAGS, &request) == 0;
        if (!onlyLoopback || !up) {
            unavailable = "the private namespace is not a lone loopback network";
            return;
        }
        body();
    }).join();
    return unavailable;
}

ForeignInterface::ForeignInterface()
{
    tun.reset(open("/dev/net/tun", O_RDWR | O_CLOEXEC));
    ifreq request {};
    std::strcpy(request.ifr_name, "tvforeign0");
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    if (!tun || ioctl(tun.get(), TUNSETIFF, &request) != 0)
        return;
    UniqueFd control(::socket(AF_INET, SOCK_DGRAM, 0));
    auto* address = reinterpret_cast<sockaddr_in*>(&request.ifr_addr);
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = inet_addr("10.9.9.1");
    const bool addressed = ioctl(control.get(), SIOCSIFADDR, &request) == 0;
    address->sin_addr.s_addr = inet_addr("255.255.255.0");
    const bool masked = ioctl(control.get(), SIOCSIFNETMASK, &request) == 0;
    const bool flagsRead = ioctl(control.get(), SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    ready = addressed && masked && flagsRead && ioctl(control.get(), SIOCSIFFLAGS, &request) == 0;
}

bool ForeignInterface::InjectBroadcast(int port, const std::string& payload)
{
    unsigned char packet[64] = {};
    const size_t length = 28 + payload.size();
    packet[0] = 0x45;
    packet[2] = static_cast<unsigned char>(length >> 8);
    packet[3] = static_cast<unsigned char>(length);
    packet[8] = 64;
    packet[9] = IPPROTO_UDP;
    const unsigned char addresses[8] = { 10, 9, 9, 2, 255, 255, 255, 255 };
    std::memcpy(packet + 12, addresses, sizeof addresses);
    uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2)
        sum += static_cast<uint32_t>(packet[i] << 8 | packet[i + 1]);
    while (sum > 0xffff)
        sum = (sum & 0xffff) + (sum >> 16);
    packet[10] = static_cast<unsigned char>(~sum >> 8);
    packet[11] = static_cast<unsigned char>(~sum);
    packet[20] = 7000 >> 8;
    packet[21] = 7000 & 0xff;
    packet[22] = static_cast<unsigned char>(port >> 8);
    packet[23] = static_cast<unsigned char>(port);
    packet[24] = static_cast<unsigned char>((length - 20) >> 8);
    packet[25] = static_cast<unsigned char>(length - 20);
    std::memcpy(packet + 28, payload.data(), payload.size());
    return write(tun.get(), packet, length) == static_cast<ssize_t>(length);
}
