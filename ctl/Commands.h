#pragma once
// The sub-commands of tovrinctl, window-free. Each writes its results to out and its messages to
// err and returns the exit status: 0 success, 1 failure, 2 a usage error, 130 interrupted.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

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

struct TDiscoverOptions {
    std::string Interface;
    double Seconds = 2;
    bool Json = false;
    bool Csv = false;
    bool Watch = false;
    std::string Output; // the list goes to this file instead of out (ReplaceFileBytes, pipes in place)
};
int RunDiscover(TCtlContext& context, const TDiscoverOptions& options);

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

int RunVersion(TCtlContext& context, const std::string& host);

struct TUploadCommandOptions {
    std::string Host;
    std::string File;
    bool Verbose = false;
};
int RunUpload(TCtlContext& context, const TUploadCommandOptions& options);

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
};
int RunRollout(TCtlContext& context, const TRolloutOptions& options);
