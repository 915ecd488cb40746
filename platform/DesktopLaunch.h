#pragma once
// Starting programs, documents and terminals for the user, in place of a desktop shell. Nothing
// here hands text to a shell: programs get their arguments one by one, started detached from this
// process (own session, standard input from /dev/null, never a child left to reap).

#include <string>
#include <vector>

namespace platform {

// The desktop's helper programs. Empty or default values mean the usual ones; tests put
// recording stand-ins here.
struct TDesktopPrograms {
    // Opens a folder, document or URL with the program the desktop chose for it.
    std::string Opener = "xdg-open";
    // The terminal; empty: $TERMINAL, else x-terminal-emulator, else a common one found on PATH
    // (to run a program, only one that takes it with its arguments one by one).
    std::string Terminal;
};

// The outcome of a start: 0 or an errno value, and a note that says more where the code alone
// would not (which program was missing).
struct TLaunchResult {
    int Error = 0;
    std::string Note;
};

// The path of the program name as execvp would find it: a name with "/" as it is, else the
// first regular executable file of that name on $PATH. Empty with ENOENT or EACCES otherwise.
std::string FindExecutable(const std::string& name, int& error);
// Whether a program shows no window of its own: a script, or an ELF file that needs no display
// library (a static one included). Other formats are taken for window programs.
bool IsConsoleProgram(const std::string& path);
// Whether text starts with a URL scheme ("http:", "mailto:"); one letter is a drive, no scheme.
bool IsUrl(const std::string& text);

// Starts the program at path with argv (argv[0] included) in folder ("" for this one), detached.
int SpawnDetached(
    const std::string& path, const std::vector<std::string>& argv, const std::string& folder = {});

// The terminal OpenTerminalIn starts (its path), empty with ENOENT when there is none.
std::string FindTerminal(const TDesktopPrograms& programs, int& error);
// What the terminal is given after its name to work in folder, besides starting there.
std::vector<std::string> TerminalFolderArguments(const std::string& terminal, const std::string& folder);

// Runs the program in a terminal window that stays open after it ends and shows its exit status.
TLaunchResult RunInTerminal(const std::string& path, const std::vector<std::string>& arguments,
    const TDesktopPrograms& programs = {});
// Opens a terminal window whose working folder is folder.
TLaunchResult OpenTerminalIn(const std::string& folder, const TDesktopPrograms& programs = {});
// Hands a folder, document or URL to the desktop's opener.
TLaunchResult OpenWithDesktop(const std::string& target, const TDesktopPrograms& programs = {});

// Starts a command the way the user means it: an executable program with its arguments (a
// console program in a terminal window), else a folder, document or URL through the opener. A
// name ending in ".exe" that is not found is tried without it. An empty program is ENOENT.
TLaunchResult StartCommand(const std::string& program, const std::vector<std::string>& arguments,
    const TDesktopPrograms& programs = {});

} // namespace platform
