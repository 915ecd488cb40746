#include "finder/SettingsWatch.h"

#include <gtest/gtest.h>

namespace {

const TAmplifierSettings Old { "192.168.1.253", "255.255.255.0", "0.0.0.0" };
const TAmplifierSettings New { "192.168.1.50", "255.255.255.0", "192.168.1.1" };

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Replies every 500 ms from `from` to `to` (inclusive); true when any of them confirmed.
bool ReplyEvery500(
    TSettingsWatch& watch, const std::string& mac, const TAmplifierSettings& s, uint32_t from, uint32_t to)
{
    bool confirmed = false;
    for (uint32_t t = from; t - from <= to - from; t += 500)
        confirmed = watch.Reply(mac, s, t).has_value() || confirmed;
    return confirmed;
}

} // namespace

TEST(SettingsWatch, NewAddressAfterTheRebootConfirmsWithTheAddress)
{
    TSettingsWatch watch;
    const std::string waiting = watch.Start("0A1B2C", false, New, Old, 1000);
    EXPECT_TRUE(Contains(waiting, "0A1B2C"));
    EXPECT_FALSE(ReplyEvery500(watch, "0A1B2C", Old, 1200, 1700)) << "replies before the reboot";
    EXPECT_FALSE(watch.Reply("FFFFFF", New, 2000)) << "another amplifier";
    EXPECT_FALSE(watch.Tick(5000));

    const auto notice = watch.Reply("0A1B2C", New, 6000);
    ASSERT_TRUE(notice);
    EXPECT_TRUE(Contains(*notice, "took effect"));
    EXPECT_TRUE(Contains(*notice, "192.168.1.50 / 255.255.255.0 / 192.168.1.1")) << *notice;
    EXPECT_FALSE(watch.Active());
    EXPECT_FALSE(watch.Tick(100000)) << "one outcome only";
}

TEST(SettingsWatch, ChangedSettingsConfirmEvenWithoutANoticedSilence)
{
    TSettingsWatch watch;
    watch.Start("0A1B2C", false, New, Old, 0);
    EXPECT_TRUE(watch.Reply("0A1B2C", New, 500));
}

TEST(SettingsWatch, ReappliedSettingsNeedTheRebootSilence)
{
    TSettingsWatch watch;
    watch.Start("0A1B2C", false, Old, Old, 0);
    EXPECT_FALSE(ReplyEvery500(watch, "0A1B2C", Old, 500, 10000)) << "it never went away";
    EXPECT_TRUE(watch.Reply("0A1B2C", Old, 10000 + TSettingsWatch::RebootSilenceMs));
}

TEST(SettingsWatch, OtherSettingsAfterTheRebootKeepWaitingAndTheTimeOutTellsWhatItReported)
{
    TSettingsWatch watch;
    watch.Start("0A1B2C", false, New, Old, 0, 60000);
    const TAmplifierSettings other { "192.168.1.51", "255.255.255.0", "192.168.1.1" };
    EXPECT_FALSE(ReplyEvery500(watch, "0A1B2C", other, 4000, 59500));
    EXPECT_FALSE(watch.Tick(59999));
    const auto notice = watch.Tick(60000);
    ASSERT_TRUE(notice);
    EXPECT_TRUE(Contains(*notice, "60 s"));
    EXPECT_TRUE(Contains(*notice, "last reported 192.168.1.51 / 255.255.255.0 / 192.168.1.1")) << *notice;
    EXPECT_FALSE(watch.Active());
    EXPECT_FALSE(watch.Reply("0A1B2C", New, 61000));
}

TEST(SettingsWatch, SilenceUntilTheTimeOutReportsTheSettingsFromBefore)
{
    TSettingsWatch watch;
    watch.Start("0A1B2C", false, New, Old, 100, 3000);
    EXPECT_FALSE(watch.Tick(3099));
    const auto notice = watch.Tick(3100);
    ASSERT_TRUE(notice);
    EXPECT_TRUE(Contains(*notice, "3 s"));
    EXPECT_TRUE(Contains(*notice, "silent"));
    EXPECT_TRUE(Contains(*notice, "before: 192.168.1.253 / 255.255.255.0 / 0.0.0.0")) << *notice;
}

TEST(SettingsWatch, DhcpIsConfirmedByTheFirstReplyAfterTheReboot)
{
    TSettingsWatch watch;
    watch.Start("0A1B2C", true, {}, Old, 0);
    EXPECT_FALSE(ReplyEvery500(watch, "0A1B2C", Old, 300, 1300));
    const TAmplifierSettings leased { "192.168.1.77", "255.255.255.0", "192.168.1.1" };
    const auto notice = watch.Reply("0A1B2C", leased, 1300 + TSettingsWatch::RebootSilenceMs);
    ASSERT_TRUE(notice);
    EXPECT_TRUE(Contains(*notice, "took effect"));
    EXPECT_TRUE(Contains(*notice, "DHCP at 192.168.1.77")) << *notice;
}

TEST(SettingsWatch, CountsAcrossTheTickCounterWrap)
{
    TSettingsWatch watch;
    const uint32_t start = 0xFFFFFE00u;
    watch.Start("0A1B2C", false, Old, Old, start, 60000);
    EXPECT_FALSE(watch.Reply("0A1B2C", Old, start + 400)) << "still before the reboot";
    EXPECT_FALSE(watch.Tick(start + 1000));
    EXPECT_TRUE(watch.Reply("0A1B2C", Old, start + 400 + 2000)) << "after a wrapped silence";

    watch.Start("0A1B2C", false, New, Old, start, 60000);
    EXPECT_FALSE(watch.Tick(start + 59999));
    EXPECT_TRUE(watch.Tick(start + 60000));
}

TEST(SettingsWatch, ANewSendReplacesTheEarlierWatch)
{
    TSettingsWatch watch;
    watch.Start("AAAAAA", false, New, Old, 0);
    watch.Start("BBBBBB", false, New, Old, 0);
    EXPECT_EQ(watch.MacKey(), "BBBBBB");
    EXPECT_FALSE(watch.Reply("AAAAAA", New, 500));
    EXPECT_TRUE(watch.Reply("BBBBBB", New, 500));
}
