#pragma once
// A commissioning plan: new IP settings for many amplifiers from one CSV file (a header line with at
// least mac, ip, netmask, gateway; "dhcp" in the ip column for DHCP; other columns ignored, so the
// list's own CSV edited in a spreadsheet is a plan). The plan is read and checked as a whole, and
// against the amplifiers that answer, before anything is sent; then it becomes steps in an order
// that never gives two amplifiers one address at once.

#include "finder/Discovery.h"
#include "finder/SettingsWatch.h"

#include <string>
#include <vector>

struct TPlanRow {
    int Line = 0; // in the plan file, from 1
    std::string Mac; // upper case
    bool Dhcp = false;
    TAmplifierSettings Wanted; // empty for DHCP; a gateway left empty is "0.0.0.0" (none)
};

struct TPlanFinding {
    int Line = 0;
    std::string Text; // "line 4: ..."
};

// The rows of a plan, and one finding per fault of its own (unreadable CSV, missing columns,
// addresses that are no dotted IPv4 address, a netmask that is not contiguous, a gateway outside
// the subnet, a MAC suffix or an address planned twice), in the order of the lines.
std::vector<TPlanFinding> ReadIpPlan(const std::string& text, std::vector<TPlanRow>& rows);

enum class TPlanState { Change, Unchanged, NotFound };

// One settings datagram and its confirmation. A step is sent once every step in After is confirmed:
// those take the amplifiers that hold its address away from it.
struct TPlanStep {
    size_t Row = 0;
    bool Dhcp = false;
    TAmplifierSettings Settings;
    bool Interim = false; // to a free address, out of the way of a swap; the row's next step follows
    std::vector<size_t> After;
};

struct TPlanSchedule {
    std::vector<TPlanState> States; // per row
    std::vector<TTovrinData> Found; // per row: its latest reply (empty when not found)
    std::vector<TPlanStep> Steps; // in an order in which each step's After come before it
    std::vector<TPlanFinding> Findings; // addresses that amplifiers hold and keep
};

// The plan against the amplifiers that answered (found): which rows change, which are already as
// planned or absent, and the steps; a finding for each planned address that an amplifier holds and
// keeps (one the plan leaves alone, or one going to DHCP, which may be leased it again).
TPlanSchedule SchedulePlan(const std::vector<TPlanRow>& rows, const std::vector<TTovrinData>& found);

// "198.18.1.5 / 255.255.0.0 / 0.0.0.0", or "DHCP".
std::string DescribeSettings(bool dhcp, const TAmplifierSettings& settings);
