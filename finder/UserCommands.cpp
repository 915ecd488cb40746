#include "finder/UserCommands.h"

#include "platform/HostInfo.h"
#include "platform/WriteFiles.h"
#include "text/Strtools.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

std::vector<TMenuEntry> ReadMenuEntries(const std::string& fileText)
{
    // Some editors start a file with a byte order mark; trimming would keep it and so turn a first
    // comment line into an item.
    static const std::string byteOrderMark = "\xEF\xBB\xBF";
    const bool marked = fileText.compare(0, byteOrderMark.size(), byteOrderMark) == 0;
    std::vector<TMenuEntry> entries;
    for (const std::string& rawLine : SplitLines(marked ? fileText.substr(byteOrderMark.size()) : fileText)) {
        const std::string line = TrimText(rawLine);
        if (line.empty() || line[0] == '#')
            continue;
        std::string caption;
        std::string commandLine;
        SplitAtFirst(line, caption, "|", commandLine);
        entries.push_back({ TrimText(caption), TrimText(commandLine) });
    }
    return entries;
}

std::string DefaultMenuText()
{
    static const char* const lines[] = {
        "# This file defines context menu items to each amplifier displayed in the list.",
        "# format each line",
        "# Caption | CommandLine",
        "# where Caption is the Caption of the menu item and",
        "# CommandLine will be executed.",
        "# To insert the selected ip address, use the placeholder <IP> in CommandLine.",
        "# Further placeholders may be inserted like <?ParameterName>",
        "# or with optional with a default value <?ParameterName:DefaultValue>",
        "# and will be prompted for and inserted.",
        "# Examples:",
        "# ping | ping <IP>",
        "# telnet to port ...| telnet.exe <IP> <?Port>",
    };
    std::string text;
    for (const char* line : lines) {
        std::string padded = line;
        padded.resize(80, ' ');
        text += padded + "\r\n";
    }
    return text;
}

void SplitProgramAndParameters(const std::string& commandLine, std::string& program, std::string& parameters)
{
    if (!commandLine.empty() && commandLine[0] == '"')
        SplitAtFirst(commandLine.substr(1), program, "\"", parameters);
    else
        SplitAtFirst(commandLine, program, " ", parameters);
}

std::vector<std::string> SplitParameters(const std::string& parameters)
{
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (size_t i = 0; i < parameters.size(); ++i) {
        const char c = parameters[i];
        if (c == '"') {
            if (quoted && i + 1 < parameters.size() && parameters[i + 1] == '"') {
                current += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
            inArgument = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

namespace {

std::string WithoutTrailingSlashes(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string MenuFileIn(const std::string& folder)
{
    return WithoutTrailingSlashes(folder) + "/" + MenuFileName;
}

bool IsUnderUsr(const std::string& folder)
{
    return folder == "/usr" || folder.rfind("/usr/", 0) == 0;
}

bool Exists(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

TMenuFiles ChooseMenuFiles(const TMenuFilePlaces& places)
{
    if (places.ExecutableFolderOwned && !IsUnderUsr(places.ExecutableFolder))
        return { MenuFileIn(places.ExecutableFolder), {} };
    TMenuFiles files;
    const std::string config = !places.XdgConfigHome.empty() && places.XdgConfigHome[0] == '/'
        ? places.XdgConfigHome
        : places.Home + "/.config";
    files.Own = MenuFileIn(WithoutTrailingSlashes(config) + "/tovrin");
    std::string folders = places.XdgConfigDirs;
    while (!folders.empty()) {
        std::string folder;
        SplitAtFirst(folders, folder, ":", folders);
        if (!folder.empty() && folder[0] == '/')
            files.Defaults.push_back(MenuFileIn(WithoutTrailingSlashes(folder) + "/tovrin"));
    }
    if (files.Defaults.empty())
        files.Defaults.push_back(MenuFileIn("/etc/xdg/tovrin"));
    if (!places.ExecutableFolder.empty())
        files.Defaults.push_back(MenuFileIn(places.ExecutableFolder));
    return files;
}

TMenuFiles MenuFiles()
{
    TMenuFilePlaces places;
    places.ExecutableFolder = platform::ExecutableFolder();
    struct stat folder { };
    places.ExecutableFolderOwned = ::stat(places.ExecutableFolder.c_str(), &folder) == 0
        && folder.st_uid == ::geteuid() && ::access(places.ExecutableFolder.c_str(), W_OK) == 0;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"))
        places.XdgConfigHome = xdg;
    if (const char* home = std::getenv("HOME"))
        places.Home = home;
    if (const char* dirs = std::getenv("XDG_CONFIG_DIRS"))
        places.XdgConfigDirs = dirs;
    return ChooseMenuFiles(places);
}

std::string MenuFileInUse(const std::string& own, const std::vector<std::string>& defaults)
{
    if (Exists(own))
        return own;
    for (const std::string& path : defaults) {
        if (Exists(path))
            return path;
    }
    return own;
}

int SaveMenuFile(const std::string& path, const std::string& bytes)
{
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (const int error = platform::MakeFolders(path.substr(0, slash)))
            return error;
    }
    // The window that saves it must not wait for a pipe's reader.
    return platform::ReplaceFileBytes(path, bytes, platform::TStreamTarget::Refuse);
}
