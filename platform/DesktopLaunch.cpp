#include "platform/DesktopLaunch.h"

#include "platform/UniqueFd.h"

#include <elf.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

extern char** environ;

namespace platform {
namespace {

    // Keeps the terminal open after the program so that its output can be read. The program and its
    // arguments arrive as positional parameters and are never parsed as shell text.
    constexpr const char* HoldScript = "\"$@\"\n"
                                       "status=$?\n"
                                       "printf '\\n[%s ended with exit status %d]\\n' \"$1\" \"$status\"\n"
                                       "printf 'Press Enter to close this window.'\n"
                                       "read -r line\n";

    // Terminals, in the order they are looked for, and how each is told what to do.
    struct TerminalKind {
        const char* name;
        // The option after which a program and its arguments follow one by one; "" when they
        // simply follow; nullptr when it takes only a command line, which is then never used to
        // run a program (its words would be split again).
        const char* runFlag;
        // How it is told its working folder: an option joined to the folder ("...="), one that
        // takes it as the next argument, or nullptr where the working folder it starts in is
        // enough. The ones that hand the window to a running server need to be told.
        const char* folderOption;
    };
    constexpr TerminalKind KnownTerminals[] = {
        { "x-terminal-emulator", "-e", nullptr },
        { "gnome-terminal", "--", "--working-directory=" },
        { "konsole", "-e", "--workdir" },
        { "xfce4-terminal", "-x", "--working-directory=" },
        { "mate-terminal", "-x", "--working-directory=" },
        { "lxterminal", nullptr, nullptr },
        { "terminator", "-x", "--working-directory=" },
        { "tilix", nullptr, "--working-directory=" },
        { "kitty", "", nullptr },
        { "alacritty", "-e", nullptr },
        { "foot", "", nullptr },
        { "urxvt", "-e", nullptr },
        { "xterm", "-e", nullptr },
    };

    bool StartsWith(const std::string& text, const char* prefix)
    {
        return text.rfind(prefix, 0) == 0;
    }

    bool IsDisplayLibrary(const std::string& name)
    {
        static const char* const prefixes[] = { "libxcb", "libwayland-client", "libgtk", "libgdk-",
            "libQt5Gui", "libQt5Widgets", "libQt5Quick", "libQt6Gui", "libQt6Widgets", "libQt6Quick",
            "libSDL", "libglfw", "libEGL", "libGL.", "libGLX", "libfltk", "libwx_gtk", "libxul" };
        // libX11, libXext, libXt, ...: the X client libraries.
        if (name.size() > 4 && StartsWith(name, "libX")
            && (std::isupper(static_cast<unsigned char>(name[4]))
                || std::isdigit(static_cast<unsigned char>(name[4]))))
            return true;
        return std::any_of(
            std::begin(prefixes), std::end(prefixes), [&](const char* p) { return StartsWith(name, p); });
    }

    bool ReadAt(int fd, void* buffer, size_t size, uint64_t offset)
    {
        return ::pread(fd, buffer, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
    }

    // The libraries an ELF file names as needed; none for a static one, nothing when it is malformed.
    template <class Ehdr, class Phdr, class Dyn> std::optional<bool> NeedsDisplayLibrary(int fd)
    {
        Ehdr header {};
        if (!ReadAt(fd, &header, sizeof header, 0) || header.e_phentsize != sizeof(Phdr)
            || header.e_phnum == 0)
            return std::nullopt;
        std::vector<Phdr> segments(header.e_phnum);
        if (!ReadAt(fd, segments.data(), segments.size() * sizeof(Phdr), header.e_phoff))
            return std::nullopt;
        const auto dynamic = std::find_if(
            segments.begin(), segments.end(), [](const Phdr& p) { return p.p_type == PT_DYNAMIC; });
        if (dynamic == segments.end())
            return false;
        std::vector<Dyn> entries(std::min<uint64_t>(dynamic->p_filesz / sizeof(Dyn), 65536));
        if (!ReadAt(fd, entries.data(), entries.size() * sizeof(Dyn), dynamic->p_offset))
            return std::nullopt;
        uint64_t stringTable = 0;
        std::vector<uint64_t> needed;
        for (const Dyn& entry : entries) {
            if (entry.d_tag == DT_NULL)
                break;
            if (entry.d_tag == DT_NEEDED)
                needed.push_back(entry.d_un.d_val);
            else if (entry.d_tag == DT_STRTAB)
                stringTable = entry.d_un.d_ptr;
        }
        // The string table is given by its address in memory; its place in the file comes from the
        // loaded segment that holds it.
        const auto load = std::find_if(segments.begin(), segments.end(), [&](const Phdr& p) {
            return p.p_type == PT_LOAD && p.p_vaddr <= stringTable && stringTable < p.p_vaddr + p.p_filesz;
        });
        if (load == segments.end())
            return needed.empty() ? std::optional<bool>(false) : std::nullopt;
        const uint64_t tableOffset = stringTable - load->p_vaddr + load->p_offset;
        for (const uint64_t nameOffset : needed) {
            char name[256] = {};
            const ssize_t n
                = ::pread(fd, name, sizeof name - 1, static_cast<off_t>(tableOffset + nameOffset));
            if (n <= 0)
                return std::nullopt;
            if (IsDisplayLibrary(std::string(name, ::strnlen(name, static_cast<size_t>(n)))))
                return true;
        }
        return false;
    }

    std::string BaseName(const std::string& path)
    {
        return path.substr(path.rfind('/') + 1);
    }

    const TerminalKind* KindNamed(const std::string& name)
    {
        for (const TerminalKind& kind : KnownTerminals)
            if (name == kind.name)
                return &kind;
        return nullptr;
    }

    // The terminal to use, the first of the candidates that is there (and, to run a program, can
    // take one); empty with the error when none is. Unknown terminals take "-e".
    std::string ChooseTerminal(
        const TDesktopPrograms& programs, bool toRun, std::string& runFlag, TLaunchResult& result)
    {
        std::vector<std::string> candidates;
        if (!programs.Terminal.empty()) {
            candidates.push_back(programs.Terminal);
        } else {
            if (const char* chosen = std::getenv("TERMINAL"); chosen != nullptr && *chosen != '\0')
                candidates.emplace_back(chosen);
            for (const TerminalKind& kind : KnownTerminals)
                candidates.emplace_back(kind.name);
        }
        for (const std::string& candidate : candidates) {
            const TerminalKind* kind = KindNamed(BaseName(candidate));
            if (toRun && kind != nullptr && kind->runFlag == nullptr)
                continue;
            int error = 0;
            std::string path = FindExecutable(candidate, error);
            if (!path.empty()) {
                runFlag = kind != nullptr && kind->runFlag != nullptr ? kind->runFlag : "-e";
                return path;
            }
        }
        result.Error = ENOENT;
        result.Note = "No terminal program was found ($TERMINAL, x-terminal-emulator, xterm, ...).";
        return {};
    }

    bool EndsWithExe(const std::string& name)
    {
        if (name.size() <= 4)
            return false;
        std::string end = name.substr(name.size() - 4);
        std::transform(end.begin(), end.end(), end.begin(), [](unsigned char c) { return std::tolower(c); });
        return end == ".exe";
    }

    [[noreturn]] void ReportAndExit(int fd, int error)
    {
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &error, sizeof error);
        ::_exit(127);
    }

} // namespace

std::string FindExecutable(const std::string& name, int& error)
{
    bool denied = false;
    const auto usable = [&denied](const std::string& candidate) {
        struct stat info { };
        if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return false;
        if (::access(candidate.c_str(), X_OK) != 0) {
            denied = true;
            return false;
        }
        return true;
    };
    if (!name.empty() && name.find('/') != std::string::npos) {
        if (usable(name))
            return name;
    } else if (!name.empty()) {
        const char* path = std::getenv("PATH");
        const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
        size_t start = 0;
        for (;;) {
            const size_t end = std::min(folders.find(':', start), folders.size());
            const std::string folder = end == start ? std::string(".") : folders.substr(start, end - start);
            const std::string candidate = folder + "/" + name;
            if (usable(candidate))
                return candidate;
            if (end >= folders.size())
                break;
            start = end + 1;
        }
    }
    error = denied ? EACCES : ENOENT;
    return {};
}

bool IsConsoleProgram(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    unsigned char ident[EI_NIDENT] = {};
    // What cannot be read is shown in a terminal: its output is then not lost.
    if (!fd || ::pread(fd.get(), ident, sizeof ident, 0) < 4)
        return true;
    if (ident[0] == '#' && ident[1] == '!')
        return true;
    if (ident[EI_MAG0] != ELFMAG0 || ident[EI_MAG1] != ELFMAG1 || ident[EI_MAG2] != ELFMAG2
        || ident[EI_MAG3] != ELFMAG3)
        return false;
    constexpr unsigned char nativeData
        = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    if (ident[EI_DATA] != nativeData)
        return false;
    std::optional<bool> display;
    if (ident[EI_CLASS] == ELFCLASS64)
        display = NeedsDisplayLibrary<Elf64_Ehdr, Elf64_Phdr, Elf64_Dyn>(fd.get());
    else if (ident[EI_CLASS] == ELFCLASS32)
        display = NeedsDisplayLibrary<Elf32_Ehdr, Elf32_Phdr, Elf32_Dyn>(fd.get());
    return !display.value_or(false);
}

bool IsUrl(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon),
        [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; });
}

int SpawnDetached(const std::string& path, const std::vector<std::string>& argv, const std::string& folder)
{
    // Everything the children need is made before the fork: after it, in a process with other
    // threads, only async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return errno;
    UniqueFd readEnd(pipeEnds[0]);
    UniqueFd writeEnd(pipeEnds[1]);
    const long maxFd = ::sysconf(_SC_OPEN_MAX);

    // Two forks: the middle process ends at once and is reaped here, so the program is never
    // this process's child and cannot become its zombie; its own session keeps it alive when
    // this program ends.
    const pid_t middle = ::fork();
    if (middle < 0)
        return errno;
    if (middle == 0) {
        ::setsid();
        const pid_t program = ::fork();
        if (program < 0)
            ReportAndExit(writeEnd.get(), errno);
        if (program > 0)
            ::_exit(0);
        if (!folder.empty() && ::chdir(folder.c_str()) != 0)
            ReportAndExit(writeEnd.get(), errno);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null < 0 || ::dup2(null, STDIN_FILENO) < 0)
            ReportAndExit(writeEnd.get(), errno);
        if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            for (long fd = 3; fd < maxFd; ++fd)
                if (fd != writeEnd.get())
                    ::close(static_cast<int>(fd));
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig)
            ::signal(sig, SIG_DFL);
        ::execve(path.c_str(), args.data(), environ);
        ReportAndExit(writeEnd.get(), errno);
    }
    writeEnd.reset();
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) { }
    // The pipe closes on a successful exec; before that, a failure sends its errno.
    int error = 0;
    ssize_t n;
    while ((n = ::read(readEnd.get(), &error, sizeof error)) < 0 && errno == EINTR) { }
    return n == static_cast<ssize_t>(sizeof error) ? error : 0;
}

std::string FindTerminal(const TDesktopPrograms& programs, int& error)
{
    TLaunchResult result;
    std::string runFlag;
    std::string terminal = ChooseTerminal(programs, false, runFlag, result);
    error = result.Error;
    return terminal;
}

std::vector<std::string> TerminalFolderArguments(const std::string& terminal, const std::string& folder)
{
    // x-terminal-emulator and other links name the terminal they lead to; its name may carry an
    // ending ("gnome-terminal.wrapper").
    std::string name = BaseName(terminal);
    if (char* real = ::realpath(terminal.c_str(), nullptr); real != nullptr) {
        name = BaseName(real);
        std::free(real);
    }
    for (const TerminalKind& kind : KnownTerminals) {
        if (kind.folderOption == nullptr || !StartsWith(name, kind.name))
            continue;
        const std::string option = kind.folderOption;
        if (option.back() == '=')
            return { option + folder };
        return { option, folder };
    }
    return {};
}

TLaunchResult RunInTerminal(
    const std::string& path, const std::vector<std::string>& arguments, const TDesktopPrograms& programs)
{
    TLaunchResult result;
    std::string runFlag;
    const std::string terminal = ChooseTerminal(programs, true, runFlag, result);
    if (terminal.empty())
        return result;
    std::vector<std::string> argv { terminal };
    if (!runFlag.empty())
        argv.push_back(runFlag);
    argv.insert(argv.end(), { "/bin/sh", "-c", HoldScript, "tovrin", path });
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    result.Error = SpawnDetached(terminal, argv);
    return result;
}

TLaunchResult OpenTerminalIn(const std::string& folder, const TDesktopPrograms& programs)
{
    TLaunchResult result;
    std::string runFlag;
    const std::string terminal = ChooseTerminal(programs, false, runFlag, result);
    if (terminal.empty())
        return result;
    std::vector<std::string> argv { terminal };
    const std::vector<std::string> told = TerminalFolderArguments(terminal, folder);
    argv.insert(argv.end(), told.begin(), told.end());
    result.Error = SpawnDetached(terminal, argv, folder);
    return result;
}

TLaunchResult OpenWithDesktop(const std::string& target, const TDesktopPrograms& programs)
{
    TLaunchResult result;
    const std::string opener = FindExecutable(programs.Opener, result.Error);
    if (opener.empty()) {
        result.Note = "The desktop's opener \"" + programs.Opener + "\" was not found.";
        return result;
    }
    result.Error = SpawnDetached(opener, { programs.Opener, target });
    return result;
}

TLaunchResult StartCommand(
    const std::string& program, const std::vector<std::string>& arguments, const TDesktopPrograms& programs)
{
    if (program.empty())
        return { ENOENT, {} };
    int error = 0;
    std::string path = FindExecutable(program, error);
    // Menu files from the original platform name programs like "telnet.exe".
    if (path.empty() && EndsWithExe(program)) {
        int ignored = 0;
        path = FindExecutable(program.substr(0, program.size() - 4), ignored);
    }
    if (!path.empty()) {
        if (IsConsoleProgram(path))
            return RunInTerminal(path, arguments, programs);
        std::vector<std::string> argv { program };
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return { SpawnDetached(path, argv), {} };
    }
    struct stat info { };
    if (IsUrl(program) || ::stat(program.c_str(), &info) == 0)
        return OpenWithDesktop(program, programs);
    return { error, {} };
}

} // namespace platform
