#include "ctl/CtlOutput.h"

#include "text/Strtools.h"
#include "text/TextEncoding.h"

#include <algorithm>
#include <cinttypes>
#include <ctime>

namespace {

std::string Clock(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    if (whole >= 3600)
        return FormatText("%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return FormatText("%lld:%02lld", whole / 60, whole % 60);
}

} // namespace

std::string TerminalSafe(const std::string& text)
{
    std::string safe;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            safe += FormatText("\\x%02x", byte);
        else
            safe += c;
    }
    return safe;
}

std::string JsonText(const std::string& text)
{
    return AsUtf8(text);
}

std::string AlignedTable(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> widths;
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            widths.resize(std::max(widths.size(), row.size()));
            widths[i] = std::max(widths[i], row[i].size());
        }
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        table += line + "\n";
    }
    return table;
}

std::vector<std::string> FitToScreen(const std::string& block, int columns, int rows)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < block.size()) {
        const size_t end = std::min(block.find('\n', start), block.size());
        lines.push_back(block.substr(start, end - start));
        start = end + 1;
    }
    if (rows > 0 && lines.size() > static_cast<size_t>(rows - 1)) {
        const size_t kept = rows > 2 ? static_cast<size_t>(rows - 2) : 0;
        const size_t left = lines.size() - kept;
        lines.resize(kept);
        if (rows > 1)
            lines.push_back(FormatText("... %zu more lines", left));
    }
    if (columns <= 0)
        return lines;
    const auto width = static_cast<size_t>(std::max(columns - 1, 0));
    for (std::string& line : lines) {
        // Characters are counted by their first byte: UTF-8 continuation bytes take no column.
        size_t shown = 0;
        size_t i = 0;
        for (; i < line.size(); ++i) {
            if ((static_cast<unsigned char>(line[i]) & 0xc0) == 0x80)
                continue;
            if (shown == width)
                break;
            ++shown;
        }
        line.resize(i);
    }
    return lines;
}

std::string AmplifierTable(const std::vector<TTovrinData>& amplifiers)
{
    std::vector<std::vector<std::string>> rows { { "MAC", "IP", "NETMASK", "GATEWAY", "FLAG", "NAME" } };
    for (const TTovrinData& a : amplifiers)
        rows.push_back({ TerminalSafe(a.Mac), TerminalSafe(a.IP), TerminalSafe(a.NetMask),
            TerminalSafe(a.Gateway), a.Flag ? "1" : "0", TerminalSafe(a.Name) });
    return AlignedTable(rows);
}

nlohmann::json AmplifierJson(const TTovrinData& a)
{
    return { { "mac", JsonText(a.Mac) }, { "ip", JsonText(a.IP) }, { "netmask", JsonText(a.NetMask) },
        { "gateway", JsonText(a.Gateway) }, { "flag", a.Flag ? "1" : "0" }, { "name", JsonText(a.Name) } };
}

nlohmann::json AmplifierJson(const TListedAmplifier& a)
{
    nlohmann::json value = AmplifierJson(a.Record);
    value["first_seen"] = IsoLocalTime(a.FirstSeen);
    value["last_seen"] = IsoLocalTime(a.LastSeen);
    return value;
}

std::string JsonLine(const nlohmann::json& value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string ProgressLine(uint64_t done, uint64_t total, double seconds, int barWidth)
{
    const double part
        = total == 0 ? 1.0 : std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
    const int filled = static_cast<int>(part * barWidth);
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    std::string line = "[" + std::string(static_cast<size_t>(filled), '#')
        + std::string(static_cast<size_t>(barWidth - filled), '.') + "]";
    line += FormatText(" %3d%%  %.1f/%.1f MB  %.1f MB/s", static_cast<int>(part * 100),
        static_cast<double>(done) / 1e6, static_cast<double>(total) / 1e6, rate / 1e6);
    if (done < total && rate > 0)
        line += "  " + Clock(static_cast<double>(total - done) / rate) + " left";
    else
        line += "  " + Clock(seconds);
    return line;
}

std::string IsoTimeUtc(std::chrono::system_clock::time_point when)
{
    const auto since = when.time_since_epoch();
    const std::time_t whole = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
    std::tm utc {};
    gmtime_r(&whole, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return FormatText("%s.%03dZ", text, static_cast<int>(millis));
}
