#include "serial/TermiosHelpers.h"

#include <algorithm>
#include <cstdlib>
#include <sys/sysmacros.h>

bool canHaveLineErrors(dev_t device) {
    // Unix98 pty slaves: majors 136 to 143.
    const unsigned major = ::major(device);
    return major < 136 || major > 143;
}

void setRawMode(termios& t, bool markErrors) {
    t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IMAXBEL |
                   INPCK | PARMRK);
    // Line errors and breaks arrive marked (FF 00 x) so they can be reported.
    if (markErrors)
        t.c_iflag |= INPCK | PARMRK;
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

void setDataBits(termios& t, int bits) {
    t.c_cflag &= ~CSIZE;
    switch (bits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
}

void setParity(termios& t, char parity) {
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (parity) {
    case 'e':
        t.c_cflag |= PARENB;
        break;
    case 'o':
        t.c_cflag |= PARENB | PARODD;
        break;
    case 'm':
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 's':
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
}

void setStopBits(termios& t, bool two) {
    if (two)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~CSTOPB;
}

void setFlowControl(termios& t, int mode) {
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cflag &= ~CRTSCTS;
    if (mode == 1 || mode == 3)
        t.c_iflag |= IXON | IXOFF;
    if (mode == 2 || mode == 3)
        t.c_cflag |= CRTSCTS;
}

bool standardSpeedCode(int rate, speed_t& code) {
    static const struct {
        int rate;
        speed_t code;
    } table[] = {{50, B50},         {75, B75},         {110, B110},        {134, B134},
                 {150, B150},       {200, B200},       {300, B300},        {600, B600},
                 {1200, B1200},     {1800, B1800},     {2400, B2400},      {4800, B4800},
                 {9600, B9600},     {19200, B19200},   {38400, B38400},    {57600, B57600},
                 {115200, B115200}, {230400, B230400}, {460800, B460800},  {500000, B500000},
                 {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
    for (const auto& entry : table) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

int divisorRate(int baudBase, int requested) {
    if (baudBase <= 0 || requested <= 0)
        return requested;
    const long long divisor =
        std::max(1LL, (static_cast<long long>(baudBase) + requested / 2) / requested);
    return static_cast<int>((baudBase + divisor / 2) / divisor);
}

bool rateWithinTolerance(int requested, int actual) {
    const long long difference = std::llabs(static_cast<long long>(actual) - requested);
    return difference * 100 <= static_cast<long long>(requested) * 2;
}

LineConfig configFromTermios(const termios& t, int speed) {
    LineConfig config;
    config.speed = speed;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        config.dataBits = 5;
        break;
    case CS6:
        config.dataBits = 6;
        break;
    case CS7:
        config.dataBits = 7;
        break;
    default:
        config.dataBits = 8;
        break;
    }
    if (!(t.c_cflag & PARENB))
        config.parity = 'n';
    else if (t.c_cflag & CMSPAR)
        config.parity = (t.c_cflag & PARODD) ? 'm' : 's';
    else
        config.parity = (t.c_cflag & PARODD) ? 'o' : 'e';
    config.twoStopBits = (t.c_cflag & CSTOPB) != 0;
    const bool software = (t.c_iflag & IXON) && (t.c_iflag & IXOFF);
    const bool hardware = (t.c_cflag & CRTSCTS) != 0;
    config.handshaking = software ? (hardware ? 3 : 1) : (hardware ? 2 : 0);
    return config;
}
