#pragma once
// What the command-line program prints: amplifier tables and JSON, progress lines, times. Texts
// from the network are shown so that they cannot steer a terminal, and are kept exact in JSON.

#include "finder/Discovery.h"
#include "finder/ListExport.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Control characters (C0, DEL and C1, which could steer a terminal) and bytes that are no valid
// UTF-8 written as \xNN, byte by byte; a backslash as \\ (so a typed "\x1b" and a real ESC differ);
// bidirectional and invisible format characters (U+200B..U+200F, U+202A..U+202E, U+2060..U+2064,
// U+2066..U+2069, U+FEFF) as \u{202E}; other printable UTF-8 as it came.
std::string TerminalSafe(const std::string& text);
// The columns text takes on a terminal: wide characters two, combining marks none.
size_t DisplayWidth(const std::string& text);
// UTF-8 as it is; a text that is not valid UTF-8 is read byte by byte as Latin-1, so no byte is lost.
std::string JsonText(const std::string& text);

// Columns padded to their widest cell (by display width), separated by two blanks, one line each (no trailing
// blanks).
std::string AlignedTable(const std::vector<std::vector<std::string>>& rows);
// The lines of block fitted to a terminal: each cut to columns - 1 columns of display width (a line
// filling the last column would wrap on some terminals), and at most rows - 1 lines, the last of
// them then telling how many were left out. 0 means no limit. Characters are never cut apart.
std::vector<std::string> FitToScreen(const std::string& block, int columns, int rows);
// The discovery table: a heading and one row per amplifier.
std::string AmplifierTable(const std::vector<TTovrinData>& amplifiers);
// {"mac","ip","netmask","gateway","flag","name"}, all strings.
nlohmann::json AmplifierJson(const TTovrinData& amplifier);
// The same with "first_seen" and "last_seen" (IsoLocalTime).
nlohmann::json AmplifierJson(const TListedAmplifier& amplifier);
// One line of JSON, never failing on the text it holds.
std::string JsonLine(const nlohmann::json& value);

// "[#####.....]  45%  12.3/50.0 MB  80.1 MB/s  0:02 left" for width columns of bar.
std::string ProgressLine(uint64_t done, uint64_t total, double seconds, int barWidth = 30);
// "2026-12-07T10:43:03.123Z"
std::string IsoTimeUtc(std::chrono::system_clock::time_point when);
