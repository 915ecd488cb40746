#include "finder/Discovery.h"
#include "platform/LocalInterfaces.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

TTovrinData Parsed(const std::string& text, bool* ok = nullptr)
{
    TTovrinData record;
    const bool parsed = ParseTovrinReply(text.c_str(), record);
    if (ok != nullptr)
        *ok = parsed;
    return record;
}

bool Parses(const std::string& text)
{
    TTovrinData record;
    return ParseTovrinReply(text.c_str(), record);
}

TEST(ParseTovrinReply, ReadsTheSixFields)
{
    bool ok = false;
    const auto r = Parsed("0A1B2C 1 192.168.1.50 255.255.255.0 192.168.1.1 Stage-Left", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.Mac, "0A1B2C");
    EXPECT_EQ(r.MacKey, "0A1B2C");
    EXPECT_TRUE(r.Flag);
    EXPECT_EQ(r.IP, "192.168.1.50");
    EXPECT_EQ(r.NetMask, "255.255.255.0");
    EXPECT_EQ(r.Gateway, "192.168.1.1");
    EXPECT_EQ(r.Name, "Stage-Left");
}

TEST(ParseTovrinReply, RefusesTooFewFieldsAndTheOwnHello)
{
    EXPECT_FALSE(Parses(DiscoveryHello));
    EXPECT_FALSE(Parses("0A1B2C 1 192.168.1.50 255.255.255.0 192.168.1.1"));
    EXPECT_FALSE(Parses("0A1B2C 1 192.168.1.50 255.255.255.0 192.168.1.1 \t\r\n"));
    EXPECT_FALSE(Parses(""));
    EXPECT_FALSE(Parses(" \n "));
    TTovrinData untouched;
    untouched.Name = "kept";
    EXPECT_FALSE(ParseTovrinReply(nullptr, untouched));
    EXPECT_FALSE(ParseTovrinReply("a 1 b c d", untouched));
    EXPECT_EQ(untouched.Name, "kept");
}

TEST(ParseTovrinReply, IgnoresTextAfterTheSixthFieldAndCutsNamesAtBlanks)
{
    bool ok = false;
    auto r = Parsed("AA 0 1.2.3.4 255.0.0.0 0.0.0.0 Front Of House extra", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.Name, "Front");

    const std::string longName(70, 'n');
    r = Parsed("AA 0 1.2.3.4 255.0.0.0 0.0.0.0 " + longName, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.Name, std::string(63, 'n'));
}

TEST(ParseTovrinReply, ThirteenCharacterMacShiftsTheFields)
{
    bool ok = false;
    const auto r = Parsed("0123456789AB1 7 10.0.0.5 255.0.0.0 10.0.0.1 Amp", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.Mac, "0123456789AB");
    EXPECT_EQ(r.MacKey, "0123456789AB");
    EXPECT_TRUE(r.Flag); // the 13th character
    EXPECT_EQ(r.IP, "7");
    EXPECT_EQ(r.NetMask, "10.0.0.5");
    EXPECT_EQ(r.Gateway, "255.0.0.0");
    EXPECT_EQ(r.Name, "10.0.0.1");

    // After the shift a reply needs only five separate runs; four are still too few.
    EXPECT_TRUE(Parses("0123456789AB1 10.0.0.5 255.0.0.0 10.0.0.1 Amp"));
    EXPECT_FALSE(Parses("0123456789AB1 10.0.0.5 255.0.0.0 10.0.0.1"));
}

TEST(ParseTovrinReply, FlagIsTrueOnlyForTheCharacterOne)
{
    for (const char c : std::string("02A1x")) {
        const auto r = Parsed(std::string("AA ") + c + " 1.2.3.4 255.0.0.0 0.0.0.0 N");
        EXPECT_EQ(r.Flag, c == '1') << c;
    }
}

TEST(ParseTovrinReply, EveryWhiteSpaceKindSeparatesAndLeadsIn)
{
    bool ok = false;
    const auto r = Parsed(" \t\n\v\f\rAA\t1\n1.2.3.4\v255.0.0.0\f0.0.0.0\r\r\nName\n", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.Mac, "AA");
    EXPECT_TRUE(r.Flag);
    EXPECT_EQ(r.IP, "1.2.3.4");
    EXPECT_EQ(r.NetMask, "255.0.0.0");
    EXPECT_EQ(r.Gateway, "0.0.0.0");
    EXPECT_EQ(r.Name, "Name");
}

// The reply format is defined by the C library's scanf; compare with it on awkward inputs.
TEST(ParseTovrinReply, AgreesWithSscanf)
{
    const std::vector<std::string> inputs = {
        "0A1B2C 1 192.168.1.50 255.255.255.0 192.168.1.1 Stage",
        "123456789012345678 1 2 3 4 5 6",
        "AA 1 1234567890123456789 255.255.255.255255 0.0.0.0 N",
        "AA 1 1.2.3.4 255.0.0.0 0.0.0.0 " + std::string(200, 'x'),
        "AA\x01 1 1.2.3.4 255.0.0.0 0.0.0.0 \xff\xfe",
        "AA11.2.3.4 255.0.0.0 0.0.0.0 N M",
        "A B C D E F",
        "A B C D E",
        "                    A                B C D E F G H",
        "AAAAAAAAAAAA  \t\n",
        "AAAAAAAAAAAAB",
        "AAAAAAAAAAAAB CCCCCCCCCCCCCCCDDDDDDDDDDDDDDDEEEEEEEEEEEEEEEFFFF",
    };
    for (const auto& input : inputs) {
        char mac[13] = {}, ip[16] = {}, mask[16] = {}, gw[16] = {}, name[64] = {};
        char flag = 0;
        const int n
            = std::sscanf(input.c_str(), "%12s %c %15s %15s %15s %63s", mac, &flag, ip, mask, gw, name);
        TTovrinData r;
        const bool ok = ParseTovrinReply(input.c_str(), r);
        ASSERT_EQ(ok, n == 6) << input;
        if (!ok)
            continue;
        EXPECT_EQ(r.Mac, mac) << input;
        EXPECT_EQ(r.Flag, flag == '1') << input;
        EXPECT_EQ(r.IP, ip) << input;
        EXPECT_EQ(r.NetMask, mask) << input;
        EXPECT_EQ(r.Gateway, gw) << input;
        EXPECT_EQ(r.Name, name) << input;
    }
}

TEST(ParseTovrinReply, BufferFormStopsAtLengthOrZeroByte)
{
    const std::string full = "AA 1 1.2.3.4 255.0.0.0 0.0.0.0 NameXYZ";
    TTovrinData r;
    ASSERT_TRUE(ParseTovrinReply(full.data(), full.size() - 3, r));
    EXPECT_EQ(r.Name, "Name");

    const std::string withZero = std::string("AA 1 1.2.3.4 255.0.0.0 0.0.0.0 Na") + '\0' + "me";
    ASSERT_TRUE(ParseTovrinReply(withZero.data(), withZero.size(), r));
    EXPECT_EQ(r.Name, "Na");

    const std::string cutBeforeName = "AA 1 1.2.3.4 255.0.0.0 0.0.0.0 ";
    EXPECT_FALSE(ParseTovrinReply(cutBeforeName.data(), cutBeforeName.size(), r));
}

TTovrinData Amp(const std::string& mac, const std::string& ip, const std::string& name = "Amp")
{
    TTovrinData r;
    r.Mac = r.MacKey = mac;
    r.IP = ip;
    r.NetMask = "255.255.255.0";
    r.Gateway = "0.0.0.0";
    r.Name = name;
    return r;
}

struct RecordingObserver : AmplifierList::Observer {
    std::vector<int> appended, changed, selections;
    std::vector<std::vector<int>> removed;
    void RowAppended(int row) override { appended.push_back(row); }
    void RowChanged(int row) override { changed.push_back(row); }
    void RowsRemoved(const std::vector<int>& rows) override { removed.push_back(rows); }
    void SelectionChanged(int row) override { selections.push_back(row); }
};

std::vector<std::string> Keys(const AmplifierList& list)
{
    std::vector<std::string> keys;
    for (int i = 0; i < list.Count(); ++i)
        keys.push_back(list.Row(i).MacKey);
    return keys;
}

TEST(MacIndex, KeysThatDifferOnlyInLengthOrOneByteFindTheirOwnRows)
{
    // Around the fifteen packed bytes and beyond, with a zero byte, a shared prefix and a suffix.
    const std::vector<std::string> keys { "", "A", std::string("A\0", 2), "AB", "0A1B2C", "0A1B2D", "D0A1B2C",
        "0A1B2C3D4E5F", "0A1B2C3D4E5F00", "0A1B2C3D4E5F001", "0A1B2C3D4E5F0012", "0A1B2C3D4E5F0013",
        std::string(40, 'x'), std::string(41, 'x') };
    MacIndex index;
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(index.Find(keys[i]), -1) << i;
        index.Insert(keys[i], i);
    }
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(index.Find(keys[i]), static_cast<long>(i)) << i;
    EXPECT_EQ(index.Find("0A1B2C3D4E5F0014"), -1);
    EXPECT_EQ(index.Find("0A1B2"), -1);
    index.Clear();
    for (const auto& key : keys)
        EXPECT_EQ(index.Find(key), -1) << key;
}

TEST(MacIndex, HoldsAWholeSubnetThroughItsGrowthAndRefillsAfterClearing)
{
    MacIndex index;
    char key[16];
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 70000; ++i) {
            std::snprintf(key, sizeof key, "00C0DE%06X", i);
            index.Insert(key, static_cast<size_t>(i));
        }
        EXPECT_EQ(index.Size(), 70000u);
        for (int i = 0; i < 70000; i += 7) {
            std::snprintf(key, sizeof key, "00C0DE%06X", i);
            ASSERT_EQ(index.Find(key), i);
        }
        EXPECT_EQ(index.Find("00C0DE011170"), -1) << "one past the last";
        index.Clear();
    }
}

TEST(AmplifierList, TallyCountsRowsAddedRemovedAndThoseThatCameBack)
{
    // Each step: the MAC suffixes that answer at that tick (ticks 1000 ms apart, rows expire after
    // 2000 ms of silence), then the tally expected after the step's expiry.
    struct Step {
        std::vector<std::string> answering;
        uint64_t added, removed, returned;
    };
    const std::vector<Step> steps {
        { { "A", "B", "C" }, 3, 0, 0 }, { { "A", "B", "C", "A" }, 3, 0, 0 }, // refreshes add nothing
        { { "A" }, 3, 0, 0 }, { { "A" }, 3, 0, 0 }, { { "A" }, 3, 2, 0 }, // B and C silent for 3000 ms
        { { "B", "D" }, 5, 2, 1 }, // B comes back, D is new
        { { "B", "D", "B" }, 5, 2, 1 }, { {}, 5, 3, 1 }, // A goes
        { {}, 5, 3, 1 }, { { "A", "C" }, 7, 5, 3 }, // both had gone before; B and D go
    };
    for (const bool counting : { true, false }) {
        SCOPED_TRACE(counting);
        AmplifierList list;
        list.CountReturns(counting);
        uint32_t now = 0;
        for (size_t i = 0; i < steps.size(); ++i) {
            now += 1000;
            for (const auto& mac : steps[i].answering) {
                TTovrinData record;
                record.Mac = record.MacKey = mac;
                list.UpdateAmplifier(record, now);
            }
            list.RemoveStale(2000, now);
            EXPECT_EQ(list.Tally().added, steps[i].added) << "step " << i;
            EXPECT_EQ(list.Tally().removed, steps[i].removed) << "step " << i;
            EXPECT_EQ(list.Tally().returned, counting ? steps[i].returned : 0u) << "step " << i;
        }
    }
}

TEST(AmplifierList, AFullListRefusesNewAmplifiersButRefreshesItsRowsAndTakesNewOnesOnceRoomIsMade)
{
    AmplifierList list;
    EXPECT_EQ(list.MaxRows(), AmplifierList::DefaultMaxRows);
    list.SetMaxRows(2);
    const auto reply = [&](const std::string& mac, const std::string& ip, uint32_t now) {
        TTovrinData record;
        record.Mac = record.MacKey = mac;
        record.IP = ip;
        list.UpdateAmplifier(record, now);
    };
    reply("A", "10.0.0.1", 0);
    reply("B", "10.0.0.2", 0);
    reply("C", "10.0.0.3", 0);
    reply("C", "10.0.0.3", 100);
    reply("A", "10.0.0.9", 1500);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Find("C"), -1);
    EXPECT_EQ(list.Row(list.Find("A")).IP, "10.0.0.9");
    EXPECT_EQ(list.Tally().refused, 2u);
    EXPECT_EQ(list.Tally().added, 2u);

    list.RemoveStale(2000, 2500); // B is gone
    reply("C", "10.0.0.3", 2600);
    EXPECT_GE(list.Find("C"), 0);
    EXPECT_EQ(list.Tally().refused, 2u);
}

TEST(AmplifierList, RefreshKeepsOneRowPerMacAndTakesTheLatestReply)
{
    AmplifierList list;
    RecordingObserver seen;
    list.SetObserver(&seen);

    list.UpdateAmplifier(Amp("AA", "10.0.0.1", "One"), 100);
    list.UpdateAmplifier(Amp("BB", "10.0.0.2"), 110);
    auto moved = Amp("AA", "10.0.0.9", "Renamed");
    moved.NetMask = "255.0.0.0";
    moved.Flag = true;
    list.UpdateAmplifier(moved, 600);

    ASSERT_EQ(Keys(list), (std::vector<std::string> { "AA", "BB" }));
    const auto& row = list.Row(0);
    EXPECT_EQ(row.IP, "10.0.0.9");
    EXPECT_EQ(row.Name, "Renamed");
    EXPECT_EQ(row.NetMask, "255.0.0.0");
    EXPECT_TRUE(row.Flag);
    EXPECT_EQ(row.LastSeen, 600u);
    EXPECT_EQ(seen.appended, (std::vector<int> { 0, 1 }));
    EXPECT_EQ(seen.changed, (std::vector<int> { 0 }));

    // Same texts again: only the age is renewed, the view is not touched.
    list.UpdateAmplifier(moved, 900);
    EXPECT_EQ(seen.changed.size(), 1u);
    EXPECT_EQ(list.Row(0).LastSeen, 900u);

    // MAC suffixes are compared exactly.
    list.UpdateAmplifier(Amp("aa", "10.0.0.3"), 900);
    EXPECT_EQ(list.Count(), 3);
}

TEST(AmplifierList, NewAmplifierBecomesSelectedOverTheUsersChoice)
{
    AmplifierList list;
    RecordingObserver seen;
    list.SetObserver(&seen);
    TTovrinData selected;
    EXPECT_FALSE(list.GetSelected(selected));

    list.UpdateAmplifier(Amp("AA", "10.0.0.1"), 0);
    list.UpdateAmplifier(Amp("BB", "10.0.0.2"), 0);
    list.Select(0);
    list.UpdateAmplifier(Amp("BB", "10.0.0.22"), 5); // a refresh does not move the selection
    EXPECT_EQ(list.SelectedRow(), 0);

    list.UpdateAmplifier(Amp("CC", "10.0.0.3"), 10);
    EXPECT_EQ(list.SelectedRow(), 2);
    ASSERT_TRUE(list.GetSelected(selected));
    EXPECT_EQ(selected.MacKey, "CC");
    EXPECT_EQ(selected.IP, "10.0.0.3");
    EXPECT_EQ(selected.LastSeen, 10u);
    EXPECT_EQ(seen.selections, (std::vector<int> { 0, 1, 2 }));

    list.Select(7);
    EXPECT_EQ(list.SelectedRow(), -1);
    selected.Name = "unchanged";
    EXPECT_FALSE(list.GetSelected(selected));
    EXPECT_EQ(selected.Name, "unchanged");
}

TEST(AmplifierList, AdjacentSilentRowsExpireInOnePassAndTheRestKeepTheirOrder)
{
    AmplifierList list;
    RecordingObserver seen;
    list.SetObserver(&seen);
    for (const char* mac : { "A", "B", "C", "D", "E", "F" })
        list.UpdateAmplifier(Amp(mac, "10.0.0.1"), 1000);
    list.Select(4); // "E"
    for (const char* mac : { "A", "E" })
        list.UpdateAmplifier(Amp(mac, "10.0.0.1"), 2600);

    EXPECT_EQ(list.RemoveStale(MaxSilenceMs, 3000), 0); // B, C, D, F are exactly 2000 ms old
    EXPECT_EQ(list.RemoveStale(MaxSilenceMs, 3001), 4);

    EXPECT_EQ(Keys(list), (std::vector<std::string> { "A", "E" }));
    ASSERT_EQ(seen.removed.size(), 1u);
    EXPECT_EQ(seen.removed[0], (std::vector<int> { 1, 2, 3, 5 }));
    EXPECT_EQ(list.SelectedRow(), 1); // still "E", one place up
    EXPECT_EQ(list.Find("E"), 1);
    EXPECT_EQ(list.Find("C"), -1);

    // The rows left are still found and refreshed in place.
    list.UpdateAmplifier(Amp("E", "10.0.0.5"), 3100);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Row(1).IP, "10.0.0.5");
}

TEST(AmplifierList, SelectedRowExpiringClearsTheSelection)
{
    AmplifierList list;
    RecordingObserver seen;
    list.SetObserver(&seen);
    list.UpdateAmplifier(Amp("A", "10.0.0.1"), 0);
    list.UpdateAmplifier(Amp("B", "10.0.0.2"), 0);
    list.UpdateAmplifier(Amp("A", "10.0.0.1"), 2000);
    EXPECT_EQ(list.RemoveStale(MaxSilenceMs, 2500), 1);
    EXPECT_EQ(list.SelectedRow(), -1);
    EXPECT_EQ(seen.selections.back(), -1);
}

TEST(AmplifierList, AgesHoldAcrossTheTickWrapAndEarlyAfterStart)
{
    constexpr uint32_t nearWrap = 0xFFFFFF00u;
    AmplifierList list;
    list.UpdateAmplifier(Amp("Old", "10.0.0.1"), nearWrap - 1800);
    list.UpdateAmplifier(Amp("Fresh", "10.0.0.2"), nearWrap + 200);
    // now = 0x00000300 after the wrap: "Old" is 2304 ms old, "Fresh" 1024 ms.
    EXPECT_EQ(list.RemoveStale(MaxSilenceMs, nearWrap + 0x400), 1);
    EXPECT_EQ(Keys(list), (std::vector<std::string> { "Fresh" }));
    EXPECT_EQ(list.RemoveStale(MaxSilenceMs, 150), 0);
    EXPECT_EQ(list.RemoveStale(MaxSilenceMs, nearWrap + 200 + 2001), 1);

    // Shortly after system start the tick is below the age limit; young rows stay.
    AmplifierList early;
    early.UpdateAmplifier(Amp("A", "10.0.0.1"), 100);
    EXPECT_EQ(early.RemoveStale(MaxSilenceMs, 500), 0);
    EXPECT_EQ(early.Count(), 1);
}

// Random traffic against a plain linear reference of the same rules.
TEST(AmplifierList, MatchesALinearReferenceUnderRandomTraffic)
{
    AmplifierList list;
    std::vector<TTovrinData> reference;
    int referenceSelected = -1;
    std::mt19937 random(12345);
    uint32_t now = 0xFFFFF000u;
    for (int step = 0; step < 4000; ++step) {
        now += random() % 150;
        if (random() % 10 == 0) {
            list.RemoveStale(MaxSilenceMs, now);
            const auto selectedKey = referenceSelected >= 0 ? reference[referenceSelected].MacKey : "";
            std::erase_if(reference, [&](const TTovrinData& r) { return now - r.LastSeen > MaxSilenceMs; });
            referenceSelected = -1;
            for (size_t i = 0; i < reference.size(); ++i)
                if (reference[i].MacKey == selectedKey)
                    referenceSelected = static_cast<int>(i);
        } else if (random() % 10 == 0 && !reference.empty()) {
            referenceSelected = static_cast<int>(random() % reference.size());
            list.Select(referenceSelected);
        } else {
            const auto amp
                = Amp("M" + std::to_string(random() % 60), "10.0.0." + std::to_string(random() % 3));
            list.UpdateAmplifier(amp, now);
            auto found = std::find_if(reference.begin(), reference.end(),
                [&](const TTovrinData& r) { return r.MacKey == amp.MacKey; });
            if (found == reference.end()) {
                reference.push_back(amp);
                found = reference.end() - 1;
                referenceSelected = static_cast<int>(reference.size() - 1);
            }
            *found = amp;
            found->LastSeen = now;
        }
        ASSERT_EQ(list.Count(), static_cast<int>(reference.size())) << step;
        ASSERT_EQ(list.SelectedRow(), referenceSelected) << step;
        for (size_t i = 0; i < reference.size(); ++i) {
            ASSERT_EQ(list.Row(static_cast<int>(i)).MacKey, reference[i].MacKey) << step;
            ASSERT_EQ(list.Row(static_cast<int>(i)).IP, reference[i].IP) << step;
            ASSERT_EQ(list.Find(reference[i].MacKey), static_cast<int>(i)) << step;
        }
    }
}

// A channel bound to one address hears its own broadcasts from that address and port only; bound
// to any address, from every local address.
TEST(OwnDatagramPeers, AreTheBoundAddressOrEveryLocalOneOnTheChannelPort)
{
    const auto bound = OwnDatagramPeers("198.18.0.1", 8001);
    EXPECT_EQ(bound, std::vector<std::string> { "198.18.0.1:8001" });
    EXPECT_TRUE(IsOwnDatagram(bound, "198.18.0.1:8001"));
    for (const char* other : { "198.18.0.1:8002", "198.18.1.1:8001", "198.18.0.1", "" })
        EXPECT_FALSE(IsOwnDatagram(bound, other)) << other;

    const auto any = OwnDatagramPeers("", 8001);
    const auto locals = platform::UpInterfaceAddresses();
    ASSERT_EQ(any.size(), locals.size());
    for (const auto& local : locals) {
        char text[INET_ADDRSTRLEN] = {};
        in_addr address { local.address };
        ASSERT_NE(inet_ntop(AF_INET, &address, text, sizeof text), nullptr);
        EXPECT_TRUE(IsOwnDatagram(any, std::string(text) + ":8001")) << text;
    }
}

} // namespace
