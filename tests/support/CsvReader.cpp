#include "support/CsvReader.h"

#include "support/ProgramRun.h"

#include <nlohmann/json.hpp>

std::optional<CsvRows> ReadCsvWithPython(const std::string& path, std::string& error)
{
    const ProgramResult r
        = RunProgram({ "/usr/bin/python3", TOVRIN_SOURCE_DIR "/tests/support/read_csv.py", path });
    if (r.Status != 0) {
        error = "python3 csv reader failed (" + std::to_string(r.Status) + "): " + r.Err;
        return std::nullopt;
    }
    const auto rows = nlohmann::json::parse(r.Out, nullptr, false);
    if (rows.is_discarded()) {
        error = "python3 csv reader printed no JSON: " + r.Out;
        return std::nullopt;
    }
    return rows.get<CsvRows>();
}
