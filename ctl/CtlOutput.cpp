#include "ctl/CtlOutput.h"

#include "text/Strtools.h"
#include "text/TextEncoding.h"

#include <algorithm>
#include <cinttypes>
#include <ctime>
#include <cwchar>

#include <locale.h>

namespace {

std::string Clock(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    if (whole >= 3600)
        return FormatText("%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return FormatText("%lld:%02lld", whole / 60, whole % 60);
}

// Columns the character takes on a terminal, by the C library's UTF-8 tables whatever the
// program's own locale; characters the tables do not know take one.
size_t CharacterWidth(uint32_t code)
{
    if (code < 0x80)
        return 1;
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t {});
    if (utf8 == locale_t {})
        return 1;
    const locale_t previous = uselocale(utf8);
    const int width = wcwidth(static_cast<wchar_t>(code));
    uselocale(previous);
    return width < 0 ? 1 : static_cast<size_t>(width);
}

// The length of the character at text[i] and the columns it takes; a byte that begins no valid
// UTF-8 counts as one character of one column.
size_t CharacterAt(const std::string& text, size_t i, size_t& width)
{
    uint32_t code = 0;
    const size_t length = Utf8SequenceAt(text, i, code);
    width = length == 0 ? 1 : CharacterWidth(code);
    return std::max<size_t>(length, 1);
}

// Characters that reorder or hide text on a terminal without being controls: zero-width ones, the
// bidirectional marks, embeddings, overrides and isolates, and the byte order mark.
bool IsBidiOrInvisibleFormat(uint32_t code)
{
    return (code >= 0x200B && code <= 0x200F) || (code >= 0x202A && code <= 0x202E)
        || (code >= 0x2060 && code <= 0x2064) || (code >= 0x2066 && code <= 0x2069) || code == 0xFEFF;
}

} // namespace

std::string TerminalSafe(const std::string& text)
{
    std::string safe;
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        const size_t length = Utf8SequenceAt(text, i, code);
        const bool control = code < 0x20 || (code >= 0x7f && code <= 0x9f);
        if (length == 0 || control) {
            for (size_t k = 0; k < std::max<size_t>(length, 1); ++k)
                safe += FormatText("\\x%02x", static_cast<unsigned char>(text[i + k]));
        } else if (code == '\\') {
            safe += "\\\\";
        } else if (IsBidiOrInvisibleFormat(code)) {
            safe += FormatText("\\u{%04X}", static_cast<unsigned>(code));
        } else {
            safe.append(text, i, length);
        }
        i += std::max<size_t>(length, 1);
    }
    return safe;
}

size_t DisplayWidth(const std::string& text)
{
    size_t columns = 0;
    for (size_t i = 0; i < text.size();) {
        size_t width = 0;
        i += CharacterAt(text, i, width);
        columns += width;
    }
    return columns;
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
            widths[i] = std::max(widths[i], DisplayWidth(row[i]));
        }
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - DisplayWidth(row[i]) + 2, ' ');
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
        size_t used = 0;
        size_t i = 0;
        while (i < line.size()) {
            size_t columns = 0;
            const size_t length = CharacterAt(line, i, columns);
            if (used + columns > width)
                break;
            used += columns;
            i += length;
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
