#include "comm/ChannelAddress.h"

#include "text/Strtools.h"

#include <charconv>

bool StrToIntStrict(const std::string& text, int& value)
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    // from_chars takes a minus sign but no plus sign.
    if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    int converted = 0;
    const auto [stop, fault] = std::from_chars(begin, end, converted);
    if (begin == end || fault != std::errc() || stop != end)
        return false;
    value = converted;
    return true;
}

bool ParseChannelAddress(const std::string& address, TChannelAddress& parsed, std::string& error)
{
    parsed = TChannelAddress {};
    std::string keyword;
    std::string rest;
    SplitAtFirst(address, keyword, ":", rest);
    SplitAtFirst(rest, parsed.first, ":", parsed.second);

    if (keyword == "tcp" || keyword == "tcpclient")
        parsed.transport = TRecvThread::TcpClient;
    else if (keyword == "udp" || keyword == "udpclient")
        parsed.transport = TRecvThread::Udp;
    else if (keyword == "server" || keyword == "tcpserver")
        parsed.transport = TRecvThread::TcpServer;
    else if (keyword == "com" || keyword == "serial")
        parsed.transport = TRecvThread::SerialPort;
    else {
        error = "\"" + keyword + "\" is not a known channel type.";
        return false;
    }
    parsed.knownKeyword = true;
    if (parsed.transport != TRecvThread::SerialPort && !StrToIntStrict(parsed.second, parsed.port)) {
        error = "'" + parsed.second + "' is not a valid integer value";
        return false;
    }
    return true;
}
