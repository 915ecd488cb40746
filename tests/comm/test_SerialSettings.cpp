#include "comm/SerialSettings.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace {

// Settings unlike every case below, so that each case shows what it changed.
termios Start()
{
    termios s {};
    s.c_cflag = CS6 | PARENB | PARODD | CSTOPB | CREAD;
    cfsetispeed(&s, B300);
    cfsetospeed(&s, B300);
    return s;
}

struct Expected {
    speed_t speed;
    tcflag_t size;
    tcflag_t parity; // PARENB, PARODD, CMSPAR as they must be
    bool twoStopBits;
};

TEST(ApplySerialSettings, BothModeSyntaxesAndTheShortBaudForms)
{
    const struct {
        const char* text;
        Expected expected;
    } cases[] = {
        { "9600,n,8,1", { B9600, CS8, 0, false } },
        { "96,N,8,1", { B9600, CS8, 0, false } },
        { "11,n,8,1", { B110, CS8, 0, false } },
        { "15,n,8,1", { B150, CS8, 0, false } },
        { "30,n,8,1", { B300, CS8, 0, false } },
        { "60,n,8,1", { B600, CS8, 0, false } },
        { "24,n,8,1", { B2400, CS8, 0, false } },
        { "48,n,8,1", { B4800, CS8, 0, false } },
        { "19,n,8,1", { B19200, CS8, 0, false } },
        { "baud=48", { B4800, CS6, PARENB | PARODD, true } },
        { "baud=9600 parity=N data=8 stop=1", { B9600, CS8, 0, false } },
        { "COM3:9600,n,8,1", { B9600, CS8, 0, false } },
        { "COM3: BAUD=96 PARITY=n DATA=8 STOP=1", { B9600, CS8, 0, false } },
        { "19200,e,7,2", { B19200, CS7, PARENB, true } },
        { "baud=115200 parity=o data=5 stop=2", { B115200, CS5, PARENB | PARODD, true } },
        { "9600,m,8,1", { B9600, CS8, PARENB | PARODD | CMSPAR, false } },
        { "9600,s,8,1", { B9600, CS8, PARENB | CMSPAR, false } },
        // 1.5 stop bits cannot be set: the stop bits stay; what is left out stays too.
        { "12,n,8,1.5", { B1200, CS8, 0, true } },
        { "2400", { B2400, CS6, PARENB | PARODD, true } },
        { ",,7", { B300, CS7, PARENB | PARODD, true } },
        { "data=8", { B300, CS8, PARENB | PARODD, true } },
    };
    for (const auto& c : cases) {
        termios s = Start();
        SerialModemLines lines;
        ASSERT_TRUE(ApplySerialSettings(c.text, s, lines)) << c.text;
        EXPECT_EQ(cfgetospeed(&s), c.expected.speed) << c.text;
        EXPECT_EQ(cfgetispeed(&s), c.expected.speed) << c.text;
        EXPECT_EQ(s.c_cflag & CSIZE, c.expected.size) << c.text;
        EXPECT_EQ(s.c_cflag & (PARENB | PARODD | CMSPAR), c.expected.parity) << c.text;
        EXPECT_EQ((s.c_cflag & CSTOPB) != 0, c.expected.twoStopBits) << c.text;
        EXPECT_NE(s.c_cflag & CREAD, 0u) << c.text;
    }
}

TEST(ApplySerialSettings, HandshakeAndModemLines)
{
    termios s = Start();
    SerialModemLines lines;
    ASSERT_TRUE(ApplySerialSettings("9600,n,8,1,x", s, lines));
    EXPECT_EQ(s.c_iflag & (IXON | IXOFF), IXON | IXOFF);
    EXPECT_EQ(s.c_cflag & CRTSCTS, 0u);
    ASSERT_TRUE(ApplySerialSettings("9600,n,8,1,p", s, lines));
    EXPECT_EQ(s.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_NE(s.c_cflag & CRTSCTS, 0u);

    s = Start();
    ASSERT_TRUE(ApplySerialSettings("baud=9600 to=off xon=on odsr=off octs=on idsr=off", s, lines));
    EXPECT_EQ(s.c_iflag & (IXON | IXOFF), IXON | IXOFF);
    EXPECT_NE(s.c_cflag & CRTSCTS, 0u);

    s = Start();
    ASSERT_TRUE(ApplySerialSettings("rts=hs dtr=hs", s, lines));
    EXPECT_NE(s.c_cflag & CRTSCTS, 0u);
}

// The last word on a line wins; lines not named are left alone.
TEST(ApplySerialSettings, ModemLinesRaisedAndDropped)
{
    const struct {
        const char* text;
        int raise;
        int drop;
    } cases[] = {
        { "dtr=on rts=off", TIOCM_DTR, TIOCM_RTS },
        { "dtr=off rts=on", TIOCM_RTS, TIOCM_DTR },
        { "dtr=off dtr=on rts=on rts=off", TIOCM_DTR, TIOCM_RTS },
        { "dtr=on dtr=off rts=off rts=on", TIOCM_RTS, TIOCM_DTR },
        { "rts=tg", 0, 0 },
        { "baud=9600", 0, 0 },
    };
    for (const auto& c : cases) {
        termios s = Start();
        SerialModemLines lines;
        ASSERT_TRUE(ApplySerialSettings(c.text, s, lines)) << c.text;
        EXPECT_EQ(lines.raise, c.raise) << c.text;
        EXPECT_EQ(lines.drop, c.drop) << c.text;
    }
}

TEST(ApplySerialSettings, TextThatIsNoModeChangesNothing)
{
    for (const char* bad : { "", "COM3", "9601,n,8,1", "9600,q,8,1", "9600,n,9,1", "9600,n,8,3",
             "9600,n,8,1,z", "9600,n,8,1,x,1", "fast", "baud=", "baud=9600 colour=red", "parity=x",
             "xon=maybe", "stop=1.25", "baud=9600,parity=n" }) {
        termios s = Start();
        SerialModemLines lines;
        EXPECT_FALSE(ApplySerialSettings(bad, s, lines)) << bad;
        const termios start = Start();
        EXPECT_EQ(std::memcmp(&s, &start, sizeof s), 0) << bad;
        EXPECT_EQ(lines.raise | lines.drop, 0) << bad;
    }
}

TEST(SerialDevicePath, PathsNamesUnderDevAndComNumbers)
{
    EXPECT_EQ(SerialDevicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath("COM0"), "/dev/COM0");
    EXPECT_EQ(SerialDevicePath("COMX"), "/dev/COMX");
    if (access("/dev/COM3", F_OK) == 0)
        GTEST_SKIP() << "/dev/COM3 exists here";
    EXPECT_EQ(SerialDevicePath("COM3"), "/dev/ttyS2");
    EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
}

} // namespace
