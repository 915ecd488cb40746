#pragma once
// What the two parts of a serial channel address mean on this platform: the port name and the
// settings text of the mode command.

#include <functional>
#include <string>

#include <termios.h>

// The device of a port name: a name holding "/" is a path; a bare name is looked up under /dev;
// "COMn" is /dev/ttyS<n-1> unless /dev/COMn exists.
std::string SerialDevicePath(const std::string& name);

// Modem control lines that the settings raise or drop (TIOCM_* bits).
struct SerialModemLines {
    int raise = 0;
    int drop = 0;
};

// Applies a settings text in either syntax of the mode command over settings: "9600,n,8,1" (baud
// with the short forms 11 .. 19, parity n/e/o/m/s, data bits 5..8, stop bits 1/1.5/2, then "x" for
// XON/XOFF or "p" for hardware handshake) or "baud=9600 parity=N data=8 stop=1" with the keys to,
// xon, odsr, octs, dtr, rts and idsr. A leading "COMn" or "COMn:" is skipped. What termios cannot
// express (stop bits 1.5, to, odsr, idsr, dtr=hs, rts=tg) is read and ignored. False, with
// settings and lines untouched, for a text that is not a valid mode text.
bool ApplySerialSettings(const std::string& text, termios& settings, SerialModemLines& lines);

// Raises and drops the lines on an open port (TIOCMBIS, then TIOCMBIC); what fails is ignored.
void ChangeModemLines(int port, const SerialModemLines& lines);
// The ioctl ChangeModemLines uses. A pseudo-terminal has no modem lines, so tests put a recorder
// in its place; an empty function puts the real ioctl back.
using ModemLineIoctl = std::function<int(int port, unsigned long request, int lines)>;
void SetModemLineIoctl(ModemLineIoctl control);
