#pragma once
// A CSV file read back by a real reader (Python's csv module, tests/support/read_csv.py): rows of
// UTF-8 fields, or nullopt with the reason in error when the reader refused the file.

#include <optional>
#include <string>
#include <vector>

using CsvRows = std::vector<std::vector<std::string>>;

std::optional<CsvRows> ReadCsvWithPython(const std::string& path, std::string& error);
