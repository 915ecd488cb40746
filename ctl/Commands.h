#pragma once
// The sub-commands of tovrinctl, window-free, one file each (ctl/<Name>Command.cpp). Each writes its
// results to out and its messages to err and returns the exit status: 0 success, 1 failure, 2 a
// usage error, 130 interrupted. Add<Name>Command registers it with its options on the command line
// and stores its exit status in status when it has run.

#include "finder/ListFilter.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
inline constexpr int ExitInterrupted = 130;

// Columns and rows of the terminal; 0 where unknown.
struct TTerminalSize {
    int Columns = 0;
    int Rows = 0;
};

struct TCtlContext {
    std::ostream& out;
    std::ostream& err;
    bool terminal = false; // out and err go to a terminal: progress and live tables redraw in place
    std::function<int()> interrupts = [] { return 0; }; // Ctrl+C presses so far
    std::function<TTerminalSize()> terminalSize = [] { return TTerminalSize {}; }; // at each redraw
    int commandPort = 2500;
};

int RunInterfaces(TCtlContext& context);
void AddInterfacesCommand(CLI::App& app, TCtlContext& context, int& status);

struct TDiscoverOptions {
    std::string Interface;
    double Seconds = 2;
    bool Json = false;
    bool Csv = false;
    bool Watch = false;
    std::string Output; // the list goes to this file instead of out (ReplaceFileBytes, pipes in place)
    std::string Filter; // only rows whose MAC suffix, IP or name contains it, any case
    TListSort Sort = TListSort::Seen;
};
int RunDiscover(TCtlContext& context, const TDiscoverOptions& options);
void AddDiscoverCommand(CLI::App& app, TCtlContext& context, int& status);

struct TSetIpOptions {
    std::string Mac;
    bool Dhcp = false;
    std::string IP, NetMask;
    std::string Gateway = "0.0.0.0"; // none
    std::string Interface;
    bool NoWait = false;
    bool Force = false;
    double FindSeconds = 3; // how long discovery looks for the amplifier before sending
    double WaitSeconds = 60; // how long the change may take to show
};
int RunSetIp(TCtlContext& context, const TSetIpOptions& options);
// set-ip --plan: many amplifiers from one CSV plan (ctl/IpPlan.h), checked whole before anything is
// sent. Exit 0 when every row is ok or unchanged, 1 when some failed or were not found, 2 for a
// refused plan, 130 interrupted.
struct TSetIpPlanOptions {
    std::string File; // "-": standard input
    std::string Interface;
    double Seconds = 3; // discovery before the plan is checked against the amplifiers
    double WaitSeconds = 60; // per settings datagram, until its change shows
    int Parallel = 8;
    bool Csv = false;
    bool Json = false;
    bool DryRun = false;
    std::string Audit;
};
int RunSetIpPlan(TCtlContext& context, const TSetIpPlanOptions& options);
void AddSetIpCommand(CLI::App& app, TCtlContext& context, int& status);

int RunVersion(TCtlContext& context, const std::string& host);
void AddVersionCommand(CLI::App& app, TCtlContext& context, int& status);

struct TVersionsOptions {
    std::vector<std::string> Hosts; // amplifiers given by address, without discovery
    std::string Interface;
    double Seconds = 2; // discovery time
    std::string Filter; // of the discovered amplifiers, those whose MAC suffix, IP or name contains it
    int Parallel = 20;
    bool Json = false;
    bool Csv = false;
    std::string Output;
};
inline constexpr const char* VersionsCsvHeader = "mac,ip,name,version,error";
int RunVersions(TCtlContext& context, const TVersionsOptions& options);
void AddVersionsCommand(CLI::App& app, TCtlContext& context, int& status);

struct TUploadCommandOptions {
    std::string Host;
    std::string File;
    bool Verbose = false;
};
int RunUpload(TCtlContext& context, const TUploadCommandOptions& options);
void AddUploadCommand(CLI::App& app, TCtlContext& context, int& status);

struct TRolloutOptions {
    std::string File;
    bool All = false;
    std::vector<std::string> Macs;
    std::string Filter; // --from-discovery: a wildcard pattern on name, MAC or IP
    std::vector<std::string> Hosts; // amplifiers given by address, without discovery
    std::string Interface;
    double Seconds = 2; // discovery time
    int Parallel = 8;
    std::string Audit;
    bool SkipVersionGiven = false;
    std::string SkipVersion; // amplifiers whose version line is exactly this are not uploaded to
};
int RunRollout(TCtlContext& context, const TRolloutOptions& options);
void AddRolloutCommand(CLI::App& app, TCtlContext& context, int& status);

// The exporter's own port: Prometheus' range for exporters (9100-9999) is given out in full.
inline constexpr int MonitorPort = 18001;
struct TMonitorOptions {
    std::string Interface;
    std::string Listen = "127.0.0.1:" + std::to_string(MonitorPort);
    double ForgetAfter = 3600; // seconds
    std::string State; // file that keeps the list through restarts; none when empty
};
int RunMonitor(TCtlContext& context, const TMonitorOptions& options);
void AddMonitorCommand(CLI::App& app, TCtlContext& context, int& status);
