// The command line's discovery under a flood of replies, on a loopback of the test's own: what
// waits to be listed is bounded, and a stop is seen between batches however many replies wait.

#include "ctl/DiscoveryScan.h"

#include "support/PrivateLoopback.h"
#include "support/TestSockets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

std::string Reply(unsigned index)
{
    char text[96];
    std::snprintf(text, sizeof text, "0050C2%06X A 10.1.%u.%u 255.255.0.0 0.0.0.0 Fake-%u", index,
        (index >> 8) & 255, index & 255, index);
    return text;
}

TEST(DiscoveryScan, AFloodBeyondTheQueueIsCountedAndDroppedAndAStopEndsTheRunWithinABatch)
{
    const std::string why = RunInPrivateLoopbackNetwork([] {
        int port = 0;
        {
            const UniqueFd probe = BoundUdpSocket("127.0.0.1", 0);
            ASSERT_TRUE(probe);
            port = LocalPortOf(probe.get());
        }
        TDiscoveryScan scan;
        std::string error;
        ASSERT_TRUE(scan.Open("127.0.0.1", error, port)) << error;
        scan.List().SetMaxRows(2 * TDiscoveryScan::MaxQueuedReplies);

        // Nobody lists while the flood comes: paced so that the kernel drops none of it.
        const UniqueFd sender = BoundUdpSocket("127.0.0.1", 0);
        constexpr unsigned Sent = TDiscoveryScan::MaxQueuedReplies + 5000;
        for (unsigned i = 0; i < Sent; ++i) {
            ASSERT_GT(SendDatagram(sender.get(), Reply(i), "127.0.0.1", port), 0);
            if (i % 500 == 499) {
                ASSERT_TRUE(WaitUdpQueueEmpty(port));
            }
        }
        ASSERT_TRUE(WaitUdpQueueEmpty(port));
        for (int wait = 0; wait < 100 && scan.Traffic().DatagramsReceived < Sent; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const TDiscoveryTraffic traffic = scan.Traffic();
        EXPECT_EQ(traffic.DatagramsIgnored, 0u);
        EXPECT_EQ(traffic.DatagramsReceived, Sent);
        EXPECT_EQ(traffic.RepliesOverflowed, Sent - TDiscoveryScan::MaxQueuedReplies);

        // A stop asked after the first reply ends the run after that batch, not after the queue.
        int heard = 0;
        scan.Run(60000, false, [&](const TTovrinData&) { ++heard; }, [&] { return heard > 0; });
        EXPECT_GE(heard, 1);
        EXPECT_LE(heard, 1024);
        EXPECT_EQ(scan.List().Count(), heard);

        // Without a stop the rest is listed, in order, up to the list's own bound.
        scan.Run(3000, false, {});
        EXPECT_EQ(static_cast<uint64_t>(scan.List().Count()), Sent - traffic.RepliesOverflowed);
        EXPECT_EQ(scan.List().Row(0).Name, "Fake-0");
    });
    if (!why.empty())
        GTEST_SKIP() << why;
}

} // namespace
