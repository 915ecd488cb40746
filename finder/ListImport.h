#pragma once
// The amplifier list's CSV read back (ListExport.h writes it): a file saved by "Save List As..." or
// discover --csv, perhaps edited in a spreadsheet since, becomes rows of fields again.

#include <string>
#include <vector>

struct TCsvRow {
    int Line = 0; // the line of the file it begins on, from 1
    std::vector<std::string> Fields;
};

// The rows of text: fields split at commas, a quoted field taken whole (its doubled quotes single,
// its commas and line breaks kept), lines ended by CR LF or LF, a leading UTF-8 byte order mark
// (spreadsheets write one) dropped. False when a quote is never closed; badLine is then the line
// the field began on.
bool ReadCsv(const std::string& text, std::vector<TCsvRow>& rows, int& badLine);
// A field as it was before CsvField guarded it: the leading ' taken off where CsvField would have
// added it (before =, +, -, @ ...), any other ' kept.
std::string CsvFieldText(const std::string& field);
