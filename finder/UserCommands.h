#pragma once
// The user command menu, window-free: the menu file "Tovrin_Cmds.txt" (where it lives, its
// entries, its default text) and how a finished command line is taken apart for starting.

#include <string>
#include <vector>

struct TMenuEntry {
    std::string Caption;
    std::string Template;
};

// The entries of a menu file's text in file order: a byte order mark at the start skipped, lines
// trimmed of codes 0 to 32, empty lines and "#" comments skipped, each other line split at its
// first "|" into caption and template.
std::vector<TMenuEntry> ReadMenuEntries(const std::string& fileText);
// The text offered when there is no menu file: 12 comment lines of 80 characters and CR LF each.
std::string DefaultMenuText();
// Splits a command line into program and parameters: at the first blank, or, when it starts with
// a double quote, at the next double quote (the opening one dropped).
void SplitProgramAndParameters(const std::string& commandLine, std::string& program, std::string& parameters);
// The arguments a program receives from its parameters: blanks separate them, double quotes group
// (the quotes themselves dropped; "" inside quotes is one quote). Nothing else has a meaning.
std::vector<std::string> SplitParameters(const std::string& parameters);

inline constexpr const char* MenuFileName = "Tovrin_Cmds.txt";

// What decides where the menu file lives.
struct TMenuFilePlaces {
    std::string ExecutableFolder;
    bool ExecutableFolderOwned = false; // the user owns that folder and may write in it
    std::string XdgConfigHome; // $XDG_CONFIG_HOME; used only when it is an absolute path
    std::string Home; // $HOME
    std::string XdgConfigDirs; // $XDG_CONFIG_DIRS, folders separated by ":"; absolute ones used
};
// The file "Configure this Menu..." writes, and the defaults read in its place while it does not
// exist, the first one found winning.
struct TMenuFiles {
    std::string Own;
    std::vector<std::string> Defaults;
};
// A portable copy (the executable in a folder the user owns, not under /usr) keeps its file beside
// the executable. Otherwise the user's own file is in the configuration folder under "tovrin/",
// and the defaults are the system-wide ones under $XDG_CONFIG_DIRS (else /etc/xdg), then a file
// an administrator put beside the executable.
TMenuFiles ChooseMenuFiles(const TMenuFilePlaces& places);
// The same for this process and this user.
TMenuFiles MenuFiles();
// The file the menu comes from: own when it exists (a FIFO there too, which is then refused rather
// than passed over), else the first default that exists, else own.
std::string MenuFileInUse(const std::string& own, const std::vector<std::string>& defaults);
// Writes the menu file through a temporary file and a rename, creating its folder when needed; 0,
// an errno value, or NotRegularFileError for a FIFO or a device there.
int SaveMenuFile(const std::string& path, const std::string& bytes);
