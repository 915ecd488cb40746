#include "finder/ListImport.h"

#include "finder/ListExport.h"

bool ReadCsv(const std::string& text, std::vector<TCsvRow>& rows, int& badLine)
{
    size_t i = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    int line = 1;
    TCsvRow row { line, {} };
    std::string field;
    bool atFieldStart = true; // where a quote opens a quoted field
    bool open = false; // a field is in progress (after a comma, even an empty one)
    const auto endRow = [&] {
        if (open)
            row.Fields.push_back(field);
        if (!row.Fields.empty())
            rows.push_back(row);
        row = { line, {} };
        field.clear();
        atFieldStart = true;
        open = false;
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"' && atFieldStart) {
            const int opened = line;
            atFieldStart = false;
            open = true;
            for (++i;; ++i) {
                if (i >= text.size()) {
                    badLine = opened;
                    return false;
                }
                if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else if (text[i] == '"') {
                    ++i;
                    break;
                } else {
                    line += text[i] == '\n' ? 1 : 0;
                    field += text[i];
                }
            }
        } else if (c == ',') {
            row.Fields.push_back(field);
            field.clear();
            atFieldStart = true;
            open = true;
            ++i;
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            i += c == '\r' ? 2 : 1;
            ++line;
            endRow();
        } else {
            field += c;
            atFieldStart = false;
            open = true;
            ++i;
        }
    }
    endRow();
    return true;
}

std::string CsvFieldText(const std::string& field)
{
    if (field.size() < 2 || field[0] != '\'' || field[1] == '\'')
        return field;
    // The writer's own rule decides: the rest is what it was when writing it would add the '.
    const std::string rest = field.substr(1);
    const std::string written = CsvField(rest);
    const bool guarded = written.rfind("'", 0) == 0 || written.rfind("\"'", 0) == 0;
    return guarded ? rest : field;
}
