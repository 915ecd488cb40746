#include "finder/ListExport.h"

#include "platform/WriteFiles.h"
#include "text/Strtools.h"
#include "text/TextEncoding.h"

#include <ctime>

std::vector<TListedAmplifier> ListedAmplifiers(const AmplifierList& list)
{
    std::vector<TListedAmplifier> rows;
    rows.reserve(static_cast<size_t>(list.Count()));
    for (int i = 0; i < list.Count(); ++i)
        rows.push_back({ list.Row(i), list.Seen(i).First, list.Seen(i).Last });
    return rows;
}

std::string IsoLocalTime(std::chrono::system_clock::time_point when)
{
    const std::time_t whole
        = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(when));
    std::tm local {};
    localtime_r(&whole, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    // %z writes +0100; ISO 8601's extended form wants the colon.
    const long offset = local.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    return FormatText("%s%c%02ld:%02ld", text, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

namespace {

// A C0 control other than tab, CR and LF as its symbol from Unicode's Control Pictures (U+2400 +
// the code: NUL as U+2400, ESC as U+241B), so that no such byte reaches the file.
std::string WithControlPictures(const std::string& text)
{
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= 0x20 || c == '\t' || c == '\r' || c == '\n') {
            shown += c;
            continue;
        }
        // U+2400 + code in UTF-8: E2 90 80+code.
        shown += "\xE2\x90";
        shown += static_cast<char>(0x80 + code);
    }
    return shown;
}

} // namespace

std::string CsvField(const std::string& text)
{
    std::string field = WithControlPictures(AsUtf8(text));
    if (!field.empty() && std::string("=+-@\t\r").find(field.front()) != std::string::npos)
        field.insert(field.begin(), '\'');
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string AmplifierCsv(const std::vector<TListedAmplifier>& amplifiers)
{
    std::string csv = std::string(AmplifierCsvHeader) + "\r\n";
    for (const TListedAmplifier& a : amplifiers) {
        const TTovrinData& r = a.Record;
        csv += CsvField(r.Mac) + "," + CsvField(r.IP) + "," + CsvField(r.NetMask) + "," + CsvField(r.Gateway)
            + "," + (r.Flag ? "1" : "0") + "," + CsvField(r.Name) + "," + IsoLocalTime(a.FirstSeen) + ","
            + IsoLocalTime(a.LastSeen) + "\r\n";
    }
    return csv;
}

int SaveAmplifierCsv(
    const std::string& path, const std::vector<TListedAmplifier>& amplifiers, platform::TStreamTarget stream)
{
    return platform::ReplaceFileBytes(path, AmplifierCsv(amplifiers), stream);
}
