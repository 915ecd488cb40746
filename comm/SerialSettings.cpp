#include "comm/SerialSettings.h"

#include "comm/ChannelAddress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool AllDigits(const std::string& text)
{
    return !text.empty()
        && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool SpeedOf(const std::string& text, speed_t& speed)
{
    struct Rate {
        int baud;
        speed_t speed;
    };
    static constexpr Rate rates[] = { { 50, B50 }, { 75, B75 }, { 110, B110 }, { 134, B134 }, { 150, B150 },
        { 200, B200 }, { 300, B300 }, { 600, B600 }, { 1200, B1200 }, { 1800, B1800 }, { 2400, B2400 },
        { 4800, B4800 }, { 9600, B9600 }, { 19200, B19200 }, { 38400, B38400 }, { 57600, B57600 },
        { 115200, B115200 }, { 230400, B230400 }, { 460800, B460800 }, { 500000, B500000 },
        { 576000, B576000 }, { 921600, B921600 }, { 1000000, B1000000 }, { 1152000, B1152000 },
        { 1500000, B1500000 }, { 2000000, B2000000 }, { 2500000, B2500000 }, { 3000000, B3000000 },
        { 3500000, B3500000 }, { 4000000, B4000000 } };
    // The mode command's two-digit short forms.
    static constexpr Rate shortForms[] = { { 11, B110 }, { 15, B150 }, { 30, B300 }, { 60, B600 },
        { 12, B1200 }, { 24, B2400 }, { 48, B4800 }, { 96, B9600 }, { 19, B19200 } };
    int baud = 0;
    if (!AllDigits(text) || !StrToIntStrict(text, baud))
        return false;
    for (const Rate& rate : shortForms) {
        if (rate.baud == baud) {
            speed = rate.speed;
            return true;
        }
    }
    for (const Rate& rate : rates) {
        if (rate.baud == baud) {
            speed = rate.speed;
            return true;
        }
    }
    return false;
}

bool ApplyParity(const std::string& text, termios& settings)
{
    const std::string parity = Lower(text);
    tcflag_t& c = settings.c_cflag;
    if (parity == "n")
        c &= ~(PARENB | PARODD | CMSPAR);
    else if (parity == "e")
        c = (c & ~(PARODD | CMSPAR)) | PARENB;
    else if (parity == "o")
        c = (c & ~CMSPAR) | PARENB | PARODD;
    else if (parity == "m")
        c |= PARENB | PARODD | CMSPAR;
    else if (parity == "s")
        c = (c & ~PARODD) | PARENB | CMSPAR;
    else
        return false;
    return true;
}

bool ApplyDataBits(const std::string& text, termios& settings)
{
    static constexpr tcflag_t sizes[] = { CS5, CS6, CS7, CS8 };
    if (text.size() != 1 || text[0] < '5' || text[0] > '8')
        return false;
    settings.c_cflag = (settings.c_cflag & ~CSIZE) | sizes[text[0] - '5'];
    return true;
}

// 1.5 stop bits cannot be set here and leave the setting as it is.
bool ApplyStopBits(const std::string& text, termios& settings)
{
    if (text == "1")
        settings.c_cflag &= ~CSTOPB;
    else if (text == "2")
        settings.c_cflag |= CSTOPB;
    else if (text != "1.5")
        return false;
    return true;
}

void SetFlag(tcflag_t& flags, tcflag_t bits, bool on)
{
    flags = on ? flags | bits : flags & ~bits;
}

bool OnOff(const std::string& value, bool& on)
{
    if (value != "on" && value != "off")
        return false;
    on = value == "on";
    return true;
}

bool ApplyBaud(const std::string& text, termios& settings)
{
    speed_t speed = B0;
    if (!SpeedOf(text, speed))
        return false;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    return true;
}

bool ApplyKeyword(const std::string& key, const std::string& rawValue, termios& s, SerialModemLines& lines)
{
    const std::string value = Lower(rawValue);
    bool on = false;
    if (key == "baud")
        return ApplyBaud(value, s);
    if (key == "parity")
        return ApplyParity(value, s);
    if (key == "data")
        return ApplyDataBits(value, s);
    if (key == "stop")
        return ApplyStopBits(value, s);
    if (key == "xon") {
        if (!OnOff(value, on))
            return false;
        SetFlag(s.c_iflag, IXON | IXOFF, on);
        return true;
    }
    if (key == "octs") {
        if (!OnOff(value, on))
            return false;
        SetFlag(s.c_cflag, CRTSCTS, on);
        return true;
    }
    if (key == "dtr" || key == "rts") {
        const int line = key == "dtr" ? TIOCM_DTR : TIOCM_RTS;
        if (OnOff(value, on)) {
            (on ? lines.raise : lines.drop) |= line;
            (on ? lines.drop : lines.raise) &= ~line;
            return true;
        }
        if (key == "rts" && value == "hs") {
            s.c_cflag |= CRTSCTS;
            return true;
        }
        return value == "hs" || (key == "rts" && value == "tg");
    }
    if (key == "to" || key == "odsr" || key == "idsr")
        return OnOff(value, on);
    return false;
}

bool ApplyKeywordSyntax(const std::string& text, termios& s, SerialModemLines& lines)
{
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const auto equals = word.find('=');
        if (equals == std::string::npos
            || !ApplyKeyword(Lower(word.substr(0, equals)), word.substr(equals + 1), s, lines))
            return false;
    }
    return true;
}

// baud[,parity[,data[,stop[,x|p]]]]; an empty field keeps its setting.
bool ApplyCommaSyntax(const std::string& text, termios& s)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream parts(text);
    while (std::getline(parts, field, ','))
        fields.push_back(Trimmed(field));
    if (!text.empty() && text.back() == ',')
        fields.emplace_back();
    if (fields.empty() || fields.size() > 5)
        return false;
    using Apply = bool (*)(const std::string&, termios&);
    static constexpr Apply steps[] = { ApplyBaud, ApplyParity, ApplyDataBits, ApplyStopBits };
    for (size_t i = 0; i < fields.size() && i < 4; ++i) {
        if (!fields[i].empty() && !steps[i](fields[i], s))
            return false;
    }
    if (fields.size() == 5 && !fields[4].empty()) {
        const std::string flow = Lower(fields[4]);
        if (flow != "x" && flow != "p")
            return false;
        SetFlag(s.c_iflag, IXON | IXOFF, flow == "x");
        SetFlag(s.c_cflag, CRTSCTS, flow == "p");
    }
    return true;
}

// "COMn" or "COMn:" before the settings names a device; it is skipped.
std::string WithoutDeviceName(const std::string& text)
{
    const std::string lower = Lower(text);
    if (lower.rfind("com", 0) != 0)
        return text;
    size_t end = 3;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
        ++end;
    if (end == 3)
        return text;
    if (end < text.size() && text[end] == ':')
        ++end;
    else if (end < text.size() && text[end] != ' ' && text[end] != '\t')
        return text;
    return text.substr(end);
}

} // namespace

std::string SerialDevicePath(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    const std::string direct = "/dev/" + name;
    int number = 0;
    if (name.size() > 3 && Lower(name.substr(0, 3)) == "com" && AllDigits(name.substr(3))
        && StrToIntStrict(name.substr(3), number) && number >= 1 && access(direct.c_str(), F_OK) != 0)
        return "/dev/ttyS" + std::to_string(number - 1);
    return direct;
}

bool ApplySerialSettings(const std::string& text, termios& settings, SerialModemLines& lines)
{
    const std::string mode = Trimmed(WithoutDeviceName(Trimmed(text)));
    if (mode.empty())
        return false;
    termios changed = settings;
    SerialModemLines changedLines = lines;
    const bool valid = mode.find('=') != std::string::npos ? ApplyKeywordSyntax(mode, changed, changedLines)
                                                           : ApplyCommaSyntax(mode, changed);
    if (!valid)
        return false;
    settings = changed;
    lines = changedLines;
    return true;
}

namespace {

ModemLineIoctl& ModemLineControl()
{
    static ModemLineIoctl control;
    return control;
}

int ModemLineRequest(int port, unsigned long request, int lines)
{
    if (ModemLineControl())
        return ModemLineControl()(port, request, lines);
    return ioctl(port, request, &lines);
}

} // namespace

void ChangeModemLines(int port, const SerialModemLines& lines)
{
    if (lines.raise != 0)
        ModemLineRequest(port, TIOCMBIS, lines.raise);
    if (lines.drop != 0)
        ModemLineRequest(port, TIOCMBIC, lines.drop);
}

void SetModemLineIoctl(ModemLineIoctl control)
{
    ModemLineControl() = std::move(control);
}
