#pragma once
// Small pieces the sub-commands share: time options, discovery set-up and the progress line.

#include "ctl/Commands.h"
#include "ctl/DiscoveryScan.h"

#include <string>
#include <vector>

// Seconds from an option as milliseconds, within 0 s and a day.
int Milliseconds(double seconds);
std::string Upper(std::string text);
// Opens discovery on the chosen interface (its local address into address when given); false after
// telling why.
bool OpenScan(TCtlContext& context, TDiscoveryScan& scan, const std::string& choice, std::string* address = nullptr);
std::vector<TTovrinData> Rows(const AmplifierList& list);
// A progress line on standard error, redrawn in place on a terminal.
void ShowProgress(TCtlContext& context, const std::string& line);
void EndProgress(TCtlContext& context);
// The result to standard output, or to the file given with -o: a regular file is replaced through a
// temporary file, a pipe or device written in place. False after telling why it failed.
bool WriteResult(TCtlContext& context, const std::string& path, const std::string& text);
// A table cell for a text from the network: escaped for the terminal, a blank at either end shown
// as \x20 (padding would hide it), "-" for an empty one.
std::string Cell(const std::string& text);
