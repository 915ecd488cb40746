#pragma once
// The IP settings dialog's connection test: one command line to the amplifier's command port and
// one reply line back, written up as the three-line report the user is shown.

#include <string>

struct TCommandTestResult {
    bool Connected = false;
    std::string Text; // the report when connected, else the error message
};

// Resolves host (a dotted address or a host name, as typed) within timeoutMs, connects to it on
// port within timeoutMs, sends the command and a line feed, and waits up to timeoutMs for the reply
// line.
TCommandTestResult RunCommandTest(
    const std::string& host, int port, const std::string& command, int timeoutMs = 1000);
