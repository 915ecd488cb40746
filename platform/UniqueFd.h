#pragma once
// The single owner of a file descriptor or socket: closes it when it goes, hands it on by move.

#include <cerrno>
#include <utility>

#include <unistd.h>

class UniqueFd {
public:
    // -1 means none.
    explicit UniqueFd(int fd = -1) noexcept
        : FFd(fd)
    {
    }
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept
        : FFd(other.release())
    {
    }
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return FFd; }
    explicit operator bool() const noexcept { return FFd >= 0; }

    // Gives the descriptor up without closing it.
    int release() noexcept { return std::exchange(FFd, -1); }

    // Closes the held descriptor (if any) and takes fd. errno survives, so that a failure path
    // can still report the error that led to it.
    void reset(int fd = -1) noexcept
    {
        const int previous = std::exchange(FFd, fd);
        if (previous >= 0 && previous != fd) {
            const int savedErrno = errno;
            ::close(previous);
            errno = savedErrno;
        }
    }

private:
    int FFd;
};
