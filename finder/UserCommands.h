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
    bool FileBesideExecutable = false;
    bool ExecutableFolderWritable = false;
    std::string XdgConfigHome; // $XDG_CONFIG_HOME; used only when it is an absolute path
    std::string Home; // $HOME
};
// Beside the executable when the file is there or that folder is writable; otherwise in the
// user's configuration folder, under "tovrin/".
std::string ChooseMenuFilePath(const TMenuFilePlaces& places);
// The same for this process and this user.
std::string MenuFilePath();
// Writes the menu file, creating its folder when needed; 0 or an errno value.
int SaveMenuFile(const std::string& path, const std::string& bytes);
