#pragma once
// The amplifier list as a file others open (site surveys, installation records): one CSV engine for
// the window's "Save List As..." and for tovrinctl. The fields come from the network, so each is
// made UTF-8 by one rule (text/TextEncoding.h), kept from being read as a spreadsheet formula, and
// quoted where it holds a separator, a quote or a line break.

#include "finder/Discovery.h"
#include "platform/WriteFiles.h"

#include <chrono>
#include <string>
#include <vector>

// One row of the list with the wall-clock times of its first and latest reply.
struct TListedAmplifier {
    TTovrinData Record;
    std::chrono::system_clock::time_point FirstSeen;
    std::chrono::system_clock::time_point LastSeen;
};

// Every row of the list, in its order.
std::vector<TListedAmplifier> ListedAmplifiers(const AmplifierList& list);

// "2026-12-07T16:43:03+01:00": local time with its offset from UTC, whole seconds.
std::string IsoLocalTime(std::chrono::system_clock::time_point when);

inline constexpr const char* AmplifierCsvHeader = "mac,ip,netmask,gateway,flag,name,first_seen,last_seen";
// One field, made UTF-8 (text/TextEncoding.h); a C0 control other than tab, CR and LF becomes its
// symbol from Unicode's Control Pictures (NUL as U+2400, ESC as U+241B). A text that then begins
// with =, +, -, @, tab or CR gets a leading ' so that spreadsheets show it instead of running it;
// then it is quoted (quotes doubled) when it holds a comma, a quote, CR or LF.
std::string CsvField(const std::string& text);
// The header and one line per amplifier, lines ended by CR LF.
std::string AmplifierCsv(const std::vector<TListedAmplifier>& amplifiers);

// Writes AmplifierCsv to path through platform::ReplaceFileBytes: a regular file through a temporary
// file beside it and a rename, so a failure leaves any earlier file whole; a pipe or a character
// device as stream says. 0, the errno value of the step that failed, or NotRegularFileError.
int SaveAmplifierCsv(
    const std::string& path, const std::vector<TListedAmplifier>& amplifiers, platform::TStreamTarget stream);
