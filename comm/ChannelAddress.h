#pragma once
// The channel address that chooses and configures a worker's transport: keyword:part:part.

#include "comm/Recvthread.h"

#include <string>

struct TChannelAddress {
    bool knownKeyword = false;
    TRecvThread::TTransport transport = TRecvThread::SerialPort;
    std::string first; // host, local address or serial port name
    std::string second; // port text, or the serial settings (may itself hold ":")
    int port = 0; // the converted port of the network forms
};

// Cuts address into its parts. False for an unknown keyword (knownKeyword stays false) and for a
// network form whose port is not a whole number; error then says why.
bool ParseChannelAddress(const std::string& address, TChannelAddress& parsed, std::string& error);

// Whole-text decimal integer: an optional sign and digits only, within int range.
bool StrToIntStrict(const std::string& text, int& value);
