#include "tools/ampsim/Flood.h"

#include "finder/Discovery.h"
#include "support/TestSockets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

using namespace ampsim;

namespace {

// Every kind of junk the storm is made of shows up within a few hundred datagrams.
TEST(JunkMaker, MakesEveryKindOfJunk)
{
    JunkMaker junk(7);
    int empty = 0, overLong = 0, replies = 0, markup = 0, highBytes = 0, controls = 0, newMacs = 0;
    std::string lastMac;
    for (int i = 0; i < 400; ++i) {
        const std::string datagram = junk.Next();
        ASSERT_LE(datagram.size(), 2000u);
        empty += datagram.empty();
        overLong += datagram.size() > 1023;
        TTovrinData record;
        if (!ParseTovrinReply(datagram.data(), datagram.size(), record))
            continue;
        ++replies;
        newMacs += record.MacKey != lastMac;
        lastMac = record.MacKey;
        const std::string fields = record.Mac + record.IP + record.NetMask + record.Gateway + record.Name;
        markup += fields.find('<') != std::string::npos;
        for (const char c : fields) {
            highBytes += static_cast<unsigned char>(c) >= 0x80;
            controls += static_cast<unsigned char>(c) < 0x20;
        }
    }
    EXPECT_GT(empty, 0);
    EXPECT_GT(overLong, 50);
    EXPECT_GT(replies, 150);
    EXPECT_GT(newMacs, replies * 9 / 10) << "each reply names a new amplifier";
    EXPECT_GT(markup, 0);
    EXPECT_GT(highBytes, 0);
    EXPECT_GT(controls, 0);
}

// Paced by the clock: never more than the rate allows, and it goes on until stopped.
TEST(Flooder, SendsAtMostItsRateUntilStopped)
{
    const UniqueFd sink = BoundUdpSocket("127.0.0.1", 0);
    ASSERT_TRUE(sink);
    FloodOptions options;
    options.Rate = 2000;
    options.Target = "127.0.0.1";
    options.Port = LocalPortOf(sink.get());
    Flooder flooder(options);
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(flooder.Start(error)) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint64_t sentBy500 = flooder.Sent();
    flooder.Stop();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GT(sentBy500, 0u);
    EXPECT_LE(static_cast<double>(flooder.Sent()), 2000 * seconds + 32);
    const uint64_t atStop = flooder.Sent();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(flooder.Sent(), atStop) << "stopped";

    pollfd p { sink.get(), POLLIN, 0 };
    EXPECT_EQ(::poll(&p, 1, 0), 1) << "junk arrived";
}

TEST(Flooder, RefusesATargetThatIsNoAddress)
{
    FloodOptions options;
    options.Target = "amplifier.example";
    Flooder flooder(options);
    std::string error;
    EXPECT_FALSE(flooder.Start(error));
    EXPECT_EQ(error, "bad flood target amplifier.example");
}

} // namespace
