// Commissioning plans checked without a network: the list's CSV read back, each kind of finding
// named by its line, and the order of the steps that never gives two amplifiers one address.

#include "ctl/IpPlan.h"
#include "finder/ListExport.h"
#include "finder/ListImport.h"
#include "support/AmplifierRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

std::vector<std::string> Texts(const std::vector<TPlanFinding>& findings)
{
    std::vector<std::string> texts;
    for (const TPlanFinding& f : findings)
        texts.push_back(f.Text);
    return texts;
}

TEST(IpPlanCsv, TheListsOwnCsvReadsBackFieldForField)
{
    TTovrinData amp;
    amp.Mac = amp.MacKey = "0050C2A10001";
    amp.IP = "198.18.1.1";
    amp.NetMask = "255.255.0.0";
    amp.Gateway = "0.0.0.0";
    const std::vector<std::string> names
        = { "Stage, left", "say \"hi\"", "=SUM(A1)", "-3 dB", "'quoted", "two\r\nlines", "plain" };
    std::vector<TListedAmplifier> list;
    for (const std::string& name : names) {
        amp.Name = name;
        list.push_back({ amp, {}, {} });
    }
    std::vector<TCsvRow> rows;
    int bad = 0;
    ASSERT_TRUE(ReadCsv("\xEF\xBB\xBF" + AmplifierCsv(list), rows, bad));
    ASSERT_EQ(rows.size(), names.size() + 1);
    EXPECT_EQ(rows[0].Fields.front(), "mac");
    for (size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(rows[i + 1].Fields.size(), 8u) << names[i];
        EXPECT_EQ(CsvFieldText(rows[i + 1].Fields[5]), names[i]);
        EXPECT_EQ(rows[i + 1].Fields[1], "198.18.1.1");
    }
    // The row after the two-line name begins on the line after both.
    EXPECT_EQ(rows.back().Line, 9);

    EXPECT_FALSE(ReadCsv("mac,ip\n1,\"open\n", rows, bad));
    EXPECT_EQ(bad, 2);
}

struct PlanCase {
    const char* name;
    std::string plan;
    std::vector<std::string> findings; // each must appear, in this order
};

void PrintTo(const PlanCase& c, std::ostream* os)
{
    *os << c.name;
}

class IpPlanFindings : public ::testing::TestWithParam<PlanCase> { };

TEST_P(IpPlanFindings, EachFindingNamesItsLine)
{
    std::vector<TPlanRow> rows;
    const auto texts = Texts(ReadIpPlan(GetParam().plan, rows));
    ASSERT_EQ(texts.size(), GetParam().findings.size()) << ::testing::PrintToString(texts);
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(texts[i].rfind(GetParam().findings[i], 0), 0u) << texts[i];
}

const std::string Header = "mac,ip,netmask,gateway\n";

INSTANTIATE_TEST_SUITE_P(Plans, IpPlanFindings,
    ::testing::Values(PlanCase { "sound",
                          Header
                              + "0050c2a10001,10.1.0.1,255.255.0.0,10.1.0.254\n"
                                "0050C2A10002,dhcp,,\n\n,,,\n0050C2A10003,10.1.0.3,255.255.0.0,\n",
                          {} },
        PlanCase { "not_dotted",
            Header
                + "0050C2A10001,10.1.0.300,255.255.0.0,\n"
                  "0050C2A10002,10.1.0.2,255.255.0.0,gw\n",
            { "line 2: IP Address \"10.1.0.300\" is not", "line 3: Default Gateway \"gw\" is not" } },
        PlanCase { "mask", Header + "0050C2A10001,10.1.0.1,255.0.255.0,\n",
            { "line 2: Netmask \"255.0.255.0\" is not a valid netmask" } },
        PlanCase { "gateway_outside", Header + "0050C2A10001,10.1.0.1,255.255.255.0,10.1.1.254\n",
            { "line 2: Default Gateway \"10.1.1.254\" is outside the subnet" } },
        PlanCase { "mac_twice", Header + "0050C2A10001,10.1.0.1,255.255.0.0,\n0050c2a10001,dhcp\n",
            { "line 3: MAC suffix 0050C2A10001 is planned twice (also on line 2)" } },
        PlanCase { "address_twice",
            Header + "0050C2A10001,10.1.0.1,255.255.0.0,\n0050C2A10002,10.1.0.1,255.255.0.0,\n",
            { "line 3: address 10.1.0.1 is planned twice (also on line 2)" } },
        PlanCase { "bad_mac", Header + "00:50,10.1.0.1,255.255.0.0,\n", { "line 2: MAC suffix \"00:50\"" } },
        PlanCase { "semicolons", "mac;ip;netmask;gateway\n0050C2A10001;10.1.0.1;255.255.0.0;\n",
            { "line 1: the fields are separated by semicolons" } },
        PlanCase {
            "no_ip_column", "mac,address\n0050C2A10001,10.1.0.1\n", { "line 1: the header has no \"ip\"" } },
        PlanCase {
            "unclosed", Header + "0050C2A10001,\"10.1.0.1,255.255.0.0,\n", { "line 2: a quoted field" } },
        PlanCase { "header_only", Header, { "line 1: the plan has a header but no amplifier" } }),
    [](const auto& info) { return std::string(info.param.name); });

TTovrinData Found(const std::string& mac, const std::string& ip, bool dhcp = false)
{
    TTovrinData amp = AmplifierRecord(mac, ip);
    amp.Flag = dhcp;
    return amp;
}

std::vector<TPlanRow> Plan(const std::string& body)
{
    std::vector<TPlanRow> rows;
    EXPECT_TRUE(ReadIpPlan(Header + body, rows).empty());
    return rows;
}

// Steps by MAC, each with the MACs of the steps it waits for.
std::map<std::string, std::vector<std::string>> WaitsOf(
    const std::vector<TPlanRow>& rows, const TPlanSchedule& plan)
{
    std::map<std::string, std::vector<std::string>> waits;
    for (size_t s = 0; s < plan.Steps.size(); ++s) {
        auto& w = waits[rows[plan.Steps[s].Row].Mac + (plan.Steps[s].Interim ? " interim" : "")];
        for (const size_t a : plan.Steps[s].After) {
            EXPECT_LT(a, s) << "a step comes after those it waits for";
            w.push_back(rows[plan.Steps[a].Row].Mac + (plan.Steps[a].Interim ? " interim" : ""));
        }
    }
    return waits;
}

TEST(IpPlanSchedule, UnchangedAbsentAndAChainInOrder)
{
    // B takes A's address, A takes a free one: A first. C is as planned, D absent, E on DHCP already.
    const auto rows
        = Plan("B,10.0.0.1,255.255.0.0,\nA,10.0.0.9,255.255.0.0,\nC,10.0.0.3,255.255.0.0,0.0.0.0\n"
               "D,10.0.0.4,255.255.0.0,\nE,dhcp\n");
    const auto plan = SchedulePlan(rows,
        { Found("A", "10.0.0.1"), Found("B", "10.0.0.2"), Found("C", "10.0.0.3"),
            Found("E", "10.0.0.5", true) });
    ASSERT_TRUE(plan.Findings.empty()) << ::testing::PrintToString(Texts(plan.Findings));
    EXPECT_EQ(plan.States,
        (std::vector<TPlanState> { TPlanState::Change, TPlanState::Change, TPlanState::Unchanged,
            TPlanState::NotFound, TPlanState::Unchanged }));
    EXPECT_EQ(WaitsOf(rows, plan),
        (std::map<std::string, std::vector<std::string>> { { "A", {} }, { "B", { "A" } } }));
}

TEST(IpPlanSchedule, ASwapGoesThroughAFreeAddress)
{
    const auto rows = Plan("A,10.0.0.2,255.255.0.0,\nB,10.0.0.3,255.255.0.0,\nC,10.0.0.1,255.255.0.0,\n");
    const auto plan
        = SchedulePlan(rows, { Found("A", "10.0.0.1"), Found("B", "10.0.0.2"), Found("C", "10.0.0.3") });
    ASSERT_TRUE(plan.Findings.empty()) << ::testing::PrintToString(Texts(plan.Findings));
    ASSERT_EQ(plan.Steps.size(), 4u);
    const auto interim
        = std::find_if(plan.Steps.begin(), plan.Steps.end(), [](const auto& s) { return s.Interim; });
    ASSERT_NE(interim, plan.Steps.end());
    EXPECT_EQ(interim->Settings.IP, "10.0.255.254");
    // The three final steps each wait for the one leaving their address; one of them for the
    // interim move instead of its amplifier's final step.
    const auto waits = WaitsOf(rows, plan);
    const std::string moved = rows[interim->Row].Mac;
    for (const auto& [step, after] : waits) {
        if (step == moved + " interim")
            EXPECT_TRUE(after.empty());
        else
            EXPECT_EQ(after.size(), 1u) << step;
    }
}

TEST(IpPlanSchedule, AnAddressHeldAndKeptIsAFinding)
{
    const auto rows = Plan("A,10.0.0.2,255.255.0.0,\nB,dhcp\nC,10.0.0.4,255.255.0.0,\n");
    const auto plan = SchedulePlan(rows,
        { Found("A", "10.0.0.1"), Found("X", "10.0.0.2"), Found("B", "10.0.0.3"), Found("C", "10.0.0.4") });
    EXPECT_EQ(Texts(plan.Findings),
        std::vector<std::string> {
            "line 2: address 10.0.0.2 is held by X, which the plan leaves as it is." });
    const auto rows2 = Plan("A,10.0.0.3,255.255.0.0,\nB,dhcp\n");
    const auto plan2 = SchedulePlan(rows2, { Found("A", "10.0.0.1"), Found("B", "10.0.0.3") });
    ASSERT_EQ(plan2.Findings.size(), 1u);
    EXPECT_EQ(
        plan2.Findings[0].Text.rfind("line 2: address 10.0.0.3 is held by B, which goes to DHCP", 0), 0u);
}

} // namespace
