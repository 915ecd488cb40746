#pragma once
// Applies a checked plan's steps over discovery: up to Parallel settings datagrams waiting for their
// confirmation at once, each confirmed as set-ip confirms one (its reply after the reboot carries
// the new settings), a step sent only once the amplifiers holding its address have left it. Runs on
// the calling thread; nothing is sent once interrupted says so.

#include "ctl/DiscoveryScan.h"
#include "ctl/IpPlan.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

struct TPlanRecord {
    std::string Time; // ISO 8601, UTC, when the row ended
    int Line = 0;
    std::string Mac;
    std::string Name;
    TAmplifierSettings Before; // as it answered before (empty when not found)
    bool Dhcp = false;
    TAmplifierSettings Planned;
    std::string
        Result; // "ok", "unchanged", "not found", "failed", "unknown" (sent, not confirmed), "not sent"
    double Seconds = 0; // from its first datagram to its end
    std::string Message; // the confirmation, or why not
};

// Its header, one line per record with the plan's columns, so a result file is a plan again.
inline constexpr const char* PlanCsvHeader
    = "line,mac,name,result,old_ip,old_netmask,old_gateway,ip,netmask,gateway,seconds,message";
std::string PlanRecordCsv(const TPlanRecord& record);
nlohmann::json PlanRecordJson(const TPlanRecord& record);

struct TPlanApplySettings {
    int Parallel = 8;
    uint32_t LimitMs = 60000; // per step, from its datagram to its confirmation
};

struct TPlanApplyHooks {
    std::function<void(const TPlanRecord& record)> Ended; // once per row, as it ends
    std::function<void(size_t sent, size_t ended)> Tick; // after every wake (at most every 500 ms)
    std::function<bool()> Interrupted; // once true, nothing more is sent and the run ends
};

// Returns one record per row, in the order of rows.
std::vector<TPlanRecord> ApplyPlan(TDiscoveryScan& scan, const std::vector<TPlanRow>& rows,
    const TPlanSchedule& plan, const TPlanApplySettings& settings, const TPlanApplyHooks& hooks);
