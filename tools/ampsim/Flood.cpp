#include "tools/ampsim/Flood.h"

#include "comm/SocketHelpers.h"
#include "platform/UniqueFd.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace ampsim {

namespace {

    const char* const Hostile[] = {
        "<h1>x</h1>",
        "<img\xFFsrc=x>",
        "$(reboot)",
        "`id`;rm\t-rf",
        "&amp;&lt;",
        "\x1B[2J\x07",
        "\xC3\x28\xE9\xFF",
        "%s%n%x",
        "<b>",
        "'\";--",
        "\x7F\x01\x02",
        "..\\..\\",
    };

} // namespace

JunkMaker::JunkMaker(uint64_t seed)
    : FState(seed * 0x9E3779B97F4A7C15ull + 1)
{
}

uint64_t JunkMaker::Random()
{
    // xorshift64*: cheap enough for 100,000 datagrams a second.
    FState ^= FState >> 12;
    FState ^= FState << 25;
    FState ^= FState >> 27;
    return FState * 0x2545F4914F6CDD1Dull;
}

std::string JunkMaker::RandomBytes(size_t length)
{
    std::string bytes(length, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(Random());
    return bytes;
}

// A field without white space: hostile text, or random bytes other than the separators.
std::string JunkMaker::Field(size_t width)
{
    if (Random() % 2 == 0) {
        std::string text = Hostile[Random() % (sizeof Hostile / sizeof Hostile[0])];
        for (auto& c : text)
            if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r')
                c = '_';
        return text.substr(0, width);
    }
    std::string bytes = RandomBytes(1 + Random() % width);
    for (auto& c : bytes)
        if (c == ' ' || (c >= '\t' && c <= '\r') || c == '\0')
            c = static_cast<char>(0x80 | (Random() & 0x7F));
    return bytes;
}

std::string JunkMaker::Next()
{
    switch (FCount++ % 4) {
    case 0: // random bytes of any length, now and then none at all
        return RandomBytes(Random() % 8 == 0 ? 0 : Random() % 600);
    case 1: // over-long
        return RandomBytes(1024 + Random() % 977);
    default: { // six fields, a new amplifier each time, and sometimes more behind them
        std::string reply = Field(12) + " " + Field(1) + " " + Field(15) + " " + Field(15) + " " + Field(15)
            + " " + Field(63);
        if (Random() % 4 == 0)
            reply += " " + RandomBytes(Random() % 200);
        return reply;
    }
    }
}

struct Flooder::Impl {
    FloodOptions options;
    UniqueFd socket;
    sockaddr_in target {};
    std::atomic<bool> stop { false };
    std::thread thread;
};

Flooder::Flooder(FloodOptions options)
    : impl(std::make_unique<Impl>())
{
    impl->options = std::move(options);
}

Flooder::~Flooder()
{
    Stop();
}

bool Flooder::Start(std::string& error)
{
    in_addr_t address = 0;
    if (!ParseDottedAddress(impl->options.Target, address)) {
        error = "bad flood target " + impl->options.Target;
        return false;
    }
    impl->target.sin_family = AF_INET;
    impl->target.sin_addr.s_addr = address;
    impl->target.sin_port = htons(static_cast<uint16_t>(impl->options.Port));
    impl->socket = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (!impl->socket || ::setsockopt(impl->socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        error = std::string("flood socket: ") + std::strerror(errno);
        return false;
    }
    impl->thread = std::thread([this] {
        constexpr int Batch = 32;
        JunkMaker junk(impl->options.Seed);
        std::vector<std::string> datagrams(Batch);
        std::vector<iovec> vectors(Batch);
        std::vector<mmsghdr> headers(Batch);
        const auto start = std::chrono::steady_clock::now();
        uint64_t sent = 0;
        while (!impl->stop) {
            // Paced by the clock: never ahead of the rate, catching up after a late wake-up.
            const double elapsed
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const auto due = static_cast<uint64_t>(elapsed * static_cast<double>(impl->options.Rate));
            if (due < sent + Batch) {
                std::this_thread::sleep_for(std::chrono::microseconds(500));
                continue;
            }
            for (int i = 0; i < Batch; ++i) {
                datagrams[i] = junk.Next();
                vectors[i] = { datagrams[i].data(), datagrams[i].size() };
                headers[i] = {};
                headers[i].msg_hdr.msg_name = &impl->target;
                headers[i].msg_hdr.msg_namelen = sizeof impl->target;
                headers[i].msg_hdr.msg_iov = &vectors[i];
                headers[i].msg_hdr.msg_iovlen = 1;
            }
            const int n = ::sendmmsg(impl->socket.get(), headers.data(), Batch, 0);
            // A full send queue drops the rest of the batch, as a network would.
            sent += Batch;
            if (n > 0)
                FSent += static_cast<uint64_t>(n);
        }
    });
    return true;
}

void Flooder::Stop()
{
    impl->stop = true;
    if (impl->thread.joinable())
        impl->thread.join();
}

} // namespace ampsim
