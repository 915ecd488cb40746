#include "ctl/CtlCommon.h"

#include "ctl/CtlInterfaces.h"
#include "ctl/CtlOutput.h"
#include "platform/WriteFiles.h"
#include "text/Strtools.h"

#include <algorithm>
#include <cctype>
#include <ostream>

int Milliseconds(double seconds)
{
    return static_cast<int>(std::clamp(seconds, 0.0, 86400.0) * 1000);
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool OpenScan(TCtlContext& context, TDiscoveryScan& scan, const std::string& choice, std::string* address)
{
    std::string error;
    const std::string local = ChooseInterfaceAddress(choice, DiscoveryInterfaces(), error);
    if (local.empty()) {
        context.err << "tovrinctl: " << error << "\n";
        return false;
    }
    if (!scan.Open(local, error)) {
        context.err << "tovrinctl: cannot open discovery on " << local << ": " << error << "\n";
        return false;
    }
    if (address != nullptr)
        *address = local;
    return true;
}

std::vector<TTovrinData> Rows(const AmplifierList& list)
{
    std::vector<TTovrinData> rows;
    for (int i = 0; i < list.Count(); ++i)
        rows.push_back(list.Row(i));
    return rows;
}

void ShowProgress(TCtlContext& context, const std::string& line)
{
    context.err << "\r\x1b[K" << line << std::flush;
}

void EndProgress(TCtlContext& context)
{
    context.err << "\r\x1b[K" << std::flush;
}

std::string Cell(const std::string& text)
{
    if (text.empty())
        return "-";
    // TerminalSafe keeps blanks and makes none, so the blanks at its ends are the text's own.
    const std::string safe = TerminalSafe(text);
    const size_t first = std::min(safe.find_first_not_of(' '), safe.size());
    const size_t end = first == safe.size() ? first : safe.find_last_not_of(' ') + 1;
    std::string cell;
    for (size_t i = 0; i < first; ++i)
        cell += "\\x20";
    cell.append(safe, first, end - first);
    for (size_t i = end; i < safe.size(); ++i)
        cell += "\\x20";
    return cell;
}

bool WriteResult(TCtlContext& context, const std::string& path, const std::string& text)
{
    if (path.empty()) {
        context.out << text << std::flush;
        return true;
    }
    if (const int error = platform::ReplaceFileBytes(path, text, platform::TStreamTarget::WriteInPlace)) {
        context.err << "tovrinctl: cannot write \"" << TerminalSafe(path) << "\": " << LoadErrorText(error)
                    << "\n";
        return false;
    }
    return true;
}
