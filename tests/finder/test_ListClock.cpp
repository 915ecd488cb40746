#include "finder/Discovery.h"
#include "finder/ListClock.h"

#include <gtest/gtest.h>

namespace {

TEST(ListClock, FollowsTheRealClockWhileTicksComeOnTime)
{
    TListClock clock;
    uint32_t real = 0xFFFFFF00u; // across the wrap
    for (int tick = 0; tick < 10; ++tick, real += 500) {
        EXPECT_FALSE(clock.Tick(real)) << real;
        EXPECT_EQ(clock.Now(real + 7), real + 7);
    }
}

// The window thread stood still for 5 s after a row's last reply 1,800 ms before the stall:
// the late tick expires nothing, the waiting reply keeps the row, and a row that really stays
// silent goes 2,000 ms of list time after its last reply.
TEST(ListClock, ALateTickLeavesTheStallOutOfTheRowsAges)
{
    TListClock clock;
    AmplifierList list;
    TTovrinData alive;
    alive.MacKey = "ALIVE";
    TTovrinData silent;
    silent.MacKey = "SILENT";
    uint32_t real = 0xFFFFF000u; // across the wrap
    clock.Tick(real);
    list.UpdateAmplifier(alive, clock.Now(real));
    list.UpdateAmplifier(silent, clock.Now(real));
    real += 500;
    clock.Tick(real);
    real += 1300;
    list.UpdateAmplifier(alive, clock.Now(real)); // the last reply before the stall
    real += 5000; // stalled
    ASSERT_TRUE(clock.Tick(real)) << "late";
    list.UpdateAmplifier(alive, clock.Now(real + 1)); // its reply waited meanwhile
    EXPECT_EQ(list.RemoveStale(MaxSilenceMs, clock.Now(real)), 0);

    int ticks = 0;
    while (list.Find("SILENT") >= 0 && ticks < 10) {
        real += 500;
        ASSERT_FALSE(clock.Tick(real));
        list.UpdateAmplifier(alive, clock.Now(real));
        list.RemoveStale(MaxSilenceMs, clock.Now(real));
        ++ticks;
    }
    // Silent since the first reply: 1,800 ms of list time before the stall, so 1 tick after it.
    EXPECT_EQ(ticks, 1);
    EXPECT_GE(list.Find("ALIVE"), 0);
}

} // namespace
