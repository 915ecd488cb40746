// A stand-in program for tests of starting programs: appends what it was given to the file named
// by $RECORD_FILE and ends with the exit status $RECORD_EXIT. Started under a name that holds
// "terminal", it then behaves like a terminal: runs the arguments after "-e", writes their output
// to $RECORD_FILE.out and waits for them. No libraries beyond the C and C++ ones, so that it
// counts as a console program.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    const char* file = std::getenv("RECORD_FILE");
    if (file == nullptr)
        return 2;
    char stdinTarget[256] = {};
    const ssize_t n = readlink("/proc/self/fd/0", stdinTarget, sizeof stdinTarget - 1);
    if (n < 0)
        std::strcpy(stdinTarget, "(closed)");
    char folder[4096] = {};
    if (getcwd(folder, sizeof folder) == nullptr)
        folder[0] = '\0';
    // One record per run, arguments length-prefixed so any bytes survive.
    std::string record = "RUN " + std::to_string(getpid()) + " " + std::to_string(getppid()) + " "
        + std::to_string(getsid(0)) + "\nSTDIN " + stdinTarget + "\nCWD " + folder + "\n";
    for (int i = 0; i < argc; ++i)
        record += "ARG " + std::to_string(std::strlen(argv[i])) + " " + argv[i] + "\n";
    record += "END\n";
    const int fd = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, record.data(), record.size()) != static_cast<ssize_t>(record.size()))
        return 2;
    close(fd);

    const char* name = std::strrchr(argv[0], '/');
    if (std::strstr(name != nullptr ? name : argv[0], "terminal") == nullptr)
        return std::atoi(std::getenv("RECORD_EXIT") ? std::getenv("RECORD_EXIT") : "0");
    int first = 1;
    while (first < argc && std::strcmp(argv[first], "-e") != 0)
        ++first;
    if (++first >= argc)
        return 3;
    const pid_t child = fork();
    if (child == 0) {
        const std::string out = std::string(file) + ".out";
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(outFd, 1);
        dup2(outFd, 2);
        execv(argv[first], argv + first);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return 0;
}
