#include "ctl/WatchScreen.h"

#include "ctl/CtlOutput.h"
#include "text/Strtools.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr char Escape = '\x1b';

// Where the escape sequence starting at bytes[i] (an Escape) ends: CSI and SS3 sequences run to
// their final byte; a lone Escape is the Escape key.
size_t SequenceEnd(const std::string& bytes, size_t i)
{
    if (i + 1 >= bytes.size() || (bytes[i + 1] != '[' && bytes[i + 1] != 'O'))
        return i + 1;
    size_t end = i + 2;
    if (bytes[i + 1] == '[')
        while (end < bytes.size() && !(bytes[end] >= 0x40 && bytes[end] <= 0x7e))
            ++end;
    return std::min(end + 1, bytes.size());
}

void RemoveLastCharacter(std::string& text)
{
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xc0) == 0x80)
        text.pop_back();
    if (!text.empty())
        text.pop_back();
}

} // namespace

void HandleWatchKeys(TWatchView& view, const std::string& bytes)
{
    for (size_t i = 0; i < bytes.size();) {
        const char key = bytes[i];
        if (key == Escape) {
            const size_t end = SequenceEnd(bytes, i);
            if (end == i + 1 && view.Typing) {
                view.Filter.clear();
                view.Typing = false;
            }
            i = end;
            continue;
        }
        ++i;
        if (view.Typing) {
            if (key == '\r' || key == '\n')
                view.Typing = false;
            else if (key == '\x7f' || key == '\b')
                RemoveLastCharacter(view.Filter);
            else if (static_cast<unsigned char>(key) >= 0x20)
                view.Filter += key;
        } else if (key == '/') {
            view.Typing = true;
        } else if (key == 's') {
            view.Sort = NextListSort(view.Sort);
        } else if (key == 'q') {
            view.Quit = true;
        }
    }
}

std::string WatchScreenText(const AmplifierList& list, const TWatchView& view, int columns, int rows)
{
    std::string header = "Sort: " + std::string(ListSortName(view.Sort));
    if (!view.Filter.empty() || view.Typing)
        header += "  Filter: " + TerminalSafe(view.Filter);
    std::string typing = view.Typing ? "Type the filter: Enter keeps it, Escape clears it.\n"
                                     : "Keys: / filter, s sort, q quit.\n";
    // The table's heading and one line kept free at the bottom, so that the cursor never scrolls.
    const int fixedLines = 2 + 1 + 1;
    const size_t limit = rows > 0 ? static_cast<size_t>(std::max(rows - fixedLines, 0)) : size_t(-1);
    const TRowSelection selection = SelectRows(list, view.Filter, view.Sort, limit);
    std::vector<TTovrinData> shown;
    shown.reserve(selection.Rows.size());
    for (const int row : selection.Rows)
        shown.push_back(list.Row(row));
    std::string block = FormatText("%zu shown of %d amplifiers.  ", selection.Matching, list.Count()) + header
        + "\n" + typing + AmplifierTable(shown);
    std::string screen;
    for (const std::string& line : FitToScreen(block, columns, rows))
        screen += line + "\n";
    return screen;
}

TRawTerminal::TRawTerminal(int fd)
    : FFd(fd)
{
    if (tcgetattr(fd, &FSaved) != 0)
        return;
    termios raw = FSaved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    FActive = tcsetattr(fd, TCSANOW, &raw) == 0;
}

TRawTerminal::~TRawTerminal()
{
    if (FActive)
        tcsetattr(FFd, TCSANOW, &FSaved);
}

std::string TRawTerminal::ReadKeys(int ms)
{
    pollfd input { FFd, POLLIN, 0 };
    const int ready = poll(&input, 1, std::max(ms, 0));
    if (ready <= 0 || (input.revents & POLLIN) == 0)
        return {};
    char buffer[256];
    const ssize_t got = read(FFd, buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
}
