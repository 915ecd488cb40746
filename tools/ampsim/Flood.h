#pragma once
// A hostile host on the amplifiers' network: sends junk to the discovery port as fast as asked.
// The junk is what such a host or a broken device sends: random bytes of every length, empty and
// over-long datagrams, and six-field "replies" (each with a new MAC suffix) whose fields hold markup,
// shell text, control bytes and bytes of 0x80 and above.
//
// Send only inside a private test network, or to loopback.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace ampsim {

struct FloodOptions {
    long long Rate = 10000; // datagrams per second
    std::string Target = "255.255.255.255";
    int Port = 8001;
    uint64_t Seed = 1;
};

// Makes the junk datagrams, one kind after the other.
class JunkMaker {
public:
    explicit JunkMaker(uint64_t seed);
    // The next junk datagram (up to 2000 bytes).
    std::string Next();

private:
    uint64_t Random();
    std::string RandomBytes(size_t length);
    std::string Field(size_t width);

    uint64_t FState;
    uint64_t FCount = 0;
};

class Flooder {
public:
    explicit Flooder(FloodOptions options);
    ~Flooder();
    Flooder(const Flooder&) = delete;
    Flooder& operator=(const Flooder&) = delete;

    // Opens the socket in the calling thread's network namespace and starts sending.
    bool Start(std::string& error);
    void Stop();
    uint64_t Sent() const { return FSent.load(); }

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
    std::atomic<uint64_t> FSent { 0 };
};

} // namespace ampsim
