// without_bindtodevice PROGRAM [ARG...]: runs PROGRAM with SO_BINDTODEVICE (and SO_BINDTOIFINDEX)
// refused with EPERM, as Linux before 5.7 refuses them to users without CAP_NET_RAW. The refusal
// is a seccomp filter, so it holds for every thread and child of PROGRAM whatever it links.

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__x86_64__)
constexpr unsigned ThisArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned ThisArch = AUDIT_ARCH_AARCH64;
#else
#error "add the AUDIT_ARCH of this architecture"
#endif

#ifndef SO_BINDTOIFINDEX
#define SO_BINDTOIFINDEX 62
#endif

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: without_bindtodevice PROGRAM [ARG...]\n");
        return 2;
    }
    // The low 32 bits of an argument: level and option name are ints.
    constexpr auto Arg = [](int i) { return static_cast<unsigned>(offsetof(seccomp_data, args) + 8 * i); };
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ThisArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_setsockopt, 0, 6),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, Arg(1)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SOL_SOCKET, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, Arg(2)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SO_BINDTODEVICE, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SO_BINDTOIFINDEX, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program { static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter };
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
        || syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0) {
        std::fprintf(stderr, "without_bindtodevice: cannot install the filter: %s\n", std::strerror(errno));
        return 1;
    }
    execvp(argv[1], argv + 1);
    std::fprintf(stderr, "without_bindtodevice: cannot start %s: %s\n", argv[1], std::strerror(errno));
    return 127;
}
