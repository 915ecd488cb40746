#pragma once
// The live discovery screen's parts that need no terminal: what a key press does to the view (the
// filter being typed, the order, quitting) and the text of one screenful. The terminal itself, in
// raw mode while the screen runs, is TRawTerminal.

#include "finder/ListFilter.h"

#include <termios.h>

#include <string>

struct TWatchView {
    std::string Filter;
    bool Typing = false; // "/" was pressed: keys go into the filter until Enter or Escape
    TListSort Sort = TListSort::Seen;
    bool Quit = false;
};

// Feeds the bytes one read from the terminal gave. Keys: "/" types a filter (shown as it is
// typed; Backspace removes a character, Enter keeps the filter, Escape clears it), "s" cycles the
// order, "q" quits. Escape sequences of other keys (arrows, function keys) are ignored whole.
void HandleWatchKeys(TWatchView& view, const std::string& bytes);

// One screenful: a header line telling how many rows are shown of how many, the order and the
// filter (and a line for the filter being typed), then the table of as many rows as fit in
// rows lines (0: every row), each line cut to the columns (0: not cut), never more lines than
// rows - 1, so the screen never scrolls.
std::string WatchScreenText(const AmplifierList& list, const TWatchView& view, int columns, int rows);

// The terminal of fd in raw mode (no line editing, no echo; Ctrl+C still interrupts) for its
// lifetime, restored as it was on every way out. Inactive where fd is no terminal.
class TRawTerminal {
public:
    explicit TRawTerminal(int fd);
    ~TRawTerminal();
    TRawTerminal(const TRawTerminal&) = delete;
    TRawTerminal& operator=(const TRawTerminal&) = delete;

    bool Active() const { return FActive; }
    // Waits up to ms for input and returns what arrived (empty: nothing).
    std::string ReadKeys(int ms);

private:
    int FFd;
    bool FActive = false;
    termios FSaved {};
};
