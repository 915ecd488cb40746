#include "platform/UniqueFd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/socket.h>

namespace {

// A connected pair: the test owns one end through UniqueFd and watches from the other whether
// that end is still open (a closed end shows as end-of-stream).
struct WatchedEnd {
    int owned = -1;
    UniqueFd watcher;
    WatchedEnd()
    {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0) {
            owned = ends[0];
            watcher.reset(ends[1]);
        }
    }
    bool OwnedIsOpen() const
    {
        char byte;
        return ::recv(watcher.get(), &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
    }
};

} // namespace

TEST(UniqueFd, ClosesWhenItGoesAndNotBefore)
{
    WatchedEnd end;
    ASSERT_TRUE(end.watcher);
    {
        const UniqueFd fd(end.owned);
        EXPECT_TRUE(fd);
        EXPECT_TRUE(end.OwnedIsOpen());
    }
    EXPECT_FALSE(end.OwnedIsOpen());
    EXPECT_FALSE(UniqueFd());
}

TEST(UniqueFd, MovingHandsOnOwnershipAndAssigningClosesWhatWasHeld)
{
    WatchedEnd first, second;
    UniqueFd a(first.owned);
    UniqueFd b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), first.owned);
    EXPECT_TRUE(first.OwnedIsOpen());

    b = UniqueFd(second.owned);
    EXPECT_FALSE(first.OwnedIsOpen()) << "the replaced descriptor is closed";
    EXPECT_TRUE(second.OwnedIsOpen());

    UniqueFd& alias = b;
    b = std::move(alias);
    EXPECT_TRUE(second.OwnedIsOpen()) << "moving onto itself keeps it";
}

TEST(UniqueFd, ReleaseGivesUpWithoutClosingAndResetClosesKeepingErrno)
{
    WatchedEnd end;
    UniqueFd fd(end.owned);
    const int released = fd.release();
    EXPECT_EQ(released, end.owned);
    EXPECT_FALSE(fd);
    EXPECT_TRUE(end.OwnedIsOpen());

    fd.reset(released);
    fd.reset();
    EXPECT_FALSE(end.OwnedIsOpen());
    EXPECT_EQ(fd.get(), -1);

    UniqueFd stale(1 << 30); // no such descriptor: closing it fails with EBADF
    errno = ETIMEDOUT;
    stale.reset();
    EXPECT_EQ(errno, ETIMEDOUT) << "a failure path can still report its own error";
}
