// A simulated serial device on a pseudo-terminal, for trying the terminal
// without hardware and for tests and benchmarks. Prints the slave path first.
#include "serial/PortResolver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t stopRequested = 0;
void requestStop(int) {
    stopRequested = 1;
}

const char usage[] =
    "usage: simdevice [--link N] [--flood N] [--echo-raw] [--record FILE] [--sent FILE]\n"
    "                 [--hangup-after-bytes N] [--plot RATE SECONDS]\n"
    "Creates a pty pair and prints the slave path on the first line.\n"
    "  --link N     create $XDG_CONFIG_HOME/velmora/ports/comN -> slave (removed at exit)\n"
    "  --flood N    send N numbered lines as soon as the port is opened\n"
    "  --echo-raw   echo every byte instead of answering lines\n"
    "  --plot RATE SECONDS  send plot lines as soon as the port is opened\n"
    "  --record FILE  append every byte received from the program to FILE\n"
    "  --sent FILE    append every byte sent to the program to FILE\n"
    "  --hangup-after-bytes N  after sending N bytes in all, close the master\n"
    "               (the far end hangs up, as a pulled cable does) and exit\n"
    "Lines end in CR: \"AT\" answers OK, \"FLOOD n\" sends n numbered lines,\n"
    "\"PLOT rate seconds\" sends rate lines a second of eight labelled values,\n"
    "the first a sequence number from 0,\n"
    "anything else is echoed followed by CR LF.\n";

struct Device {
    int master = -1;
    bool echoRaw = false;
    std::string line;
    std::string out;
    long floodNext = 0, floodEnd = 0;
    long plotRate = 0, plotNext = 0, plotEnd = 0;
    std::chrono::steady_clock::time_point plotStart;

    void flood(long count) { floodEnd = floodNext + count; }
    void plot(long rate, long seconds) {
        plotRate = std::max(rate, 1L);
        plotNext = 0;
        plotEnd = plotRate * std::max(seconds, 0L);
        plotStart = std::chrono::steady_clock::now();
    }
    bool plotting() const { return plotNext < plotEnd; }
    // Paced by the clock: a line is made when its time has come.
    void refillPlot() {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - plotStart).count();
        const long due = std::min(plotEnd, long(elapsed * double(plotRate)) + 1);
        char text[160];
        while (out.size() < 65536 && plotNext < due) {
            const long n = plotNext++;
            const double t = double(n) / double(plotRate);
            const unsigned noise = unsigned(n) * 1103515245u + 12345u;
            std::snprintf(text, sizeof text,
                          "seq:%ld,sin:%.3f,cos:%.3f,saw:%.3f,square:%d,tri:%.3f,noise:%.3f,"
                          "ramp:%.1f\r\n",
                          n, std::sin(t * 6.2832), 0.5 * std::cos(t * 2.0), std::fmod(t, 1.0) - 0.5,
                          std::fmod(t, 2.0) < 1.0 ? 1 : -1, std::fabs(std::fmod(t, 4.0) - 2.0) - 1,
                          double(noise >> 16 & 0x3ff) / 4096.0 - 0.125, std::fmod(t * 10, 50.0));
            out += text;
        }
    }
    // Lines are made as the output drains, so a large flood costs no memory.
    void refill() {
        if (plotting())
            refillPlot();
        char text[64];
        while (out.size() < 65536 && floodNext < floodEnd) {
            std::snprintf(text, sizeof text, "LINE %06ld ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n",
                          ++floodNext);
            out += text;
        }
    }
    void answer(const std::string& request) {
        std::string upper;
        for (char c : request)
            upper += char(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (upper == "AT")
            out += "OK\r\n";
        else if (upper.rfind("FLOOD ", 0) == 0)
            flood(std::strtol(request.c_str() + 6, nullptr, 10));
        else if (upper.rfind("PLOT ", 0) == 0) {
            char* rest = nullptr;
            const long rate = std::strtol(request.c_str() + 5, &rest, 10);
            plot(rate, std::strtol(rest, nullptr, 10));
        } else
            out += request + "\r\n";
    }
    void received(const char* data, long size) {
        if (echoRaw) {
            out.append(data, size_t(size));
            return;
        }
        for (long i = 0; i < size; ++i) {
            if (data[i] == '\r') {
                answer(line);
                line.clear();
            } else if (data[i] != '\n') {
                line += data[i];
            }
        }
    }
};

// Appends to a file at once, unbuffered, so a watcher sees every byte as it happens.
int openAppend(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        std::fprintf(stderr, "simdevice: %s: %s\n", path, std::strerror(errno));
    return fd;
}

void appendAll(int fd, const char* data, size_t size) {
    while (fd >= 0 && size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= size_t(n);
    }
}

} // namespace

int main(int argc, char** argv) {
    int linkNumber = 0;
    long floodAtOpen = 0;
    long plotRateAtOpen = 0, plotSecondsAtOpen = 0;
    long hangupAfter = -1;
    int recordFd = -1, sentFd = -1;
    Device device;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--link" && i + 1 < argc) {
            linkNumber = std::atoi(argv[++i]);
        } else if (arg == "--flood" && i + 1 < argc) {
            floodAtOpen = std::atol(argv[++i]);
        } else if (arg == "--plot" && i + 2 < argc) {
            plotRateAtOpen = std::atol(argv[++i]);
            plotSecondsAtOpen = std::atol(argv[++i]);
        } else if (arg == "--record" && i + 1 < argc) {
            if ((recordFd = openAppend(argv[++i])) < 0)
                return 1;
        } else if (arg == "--sent" && i + 1 < argc) {
            if ((sentFd = openAppend(argv[++i])) < 0)
                return 1;
        } else if (arg == "--hangup-after-bytes" && i + 1 < argc) {
            hangupAfter = std::atol(argv[++i]);
        } else if (arg == "--echo-raw") {
            device.echoRaw = true;
        } else if (arg == "--help") {
            std::fputs(usage, stdout);
            return 0;
        } else {
            std::fputs(usage, stderr);
            return 2;
        }
    }

    device.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char slave[128];
    if (device.master < 0 || grantpt(device.master) != 0 || unlockpt(device.master) != 0 ||
        ptsname_r(device.master, slave, sizeof slave) != 0) {
        std::perror("simdevice: pty");
        return 1;
    }

    // Raw line, no echo: the slave's settings outlive its closes while the
    // master stays open, and an echoing slave would answer our own output.
    // This first open and close also makes the master report "no slave" (POLLHUP).
    const int slaveFd = ::open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd >= 0) {
        termios t;
        if (tcgetattr(slaveFd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slaveFd, TCSANOW, &t);
        }
        ::close(slaveFd);
    }

    std::string linkPath;
    if (linkNumber > 0) {
        const std::string dir = portLinkDir().toStdString();
        linkPath = dir + "/com" + std::to_string(linkNumber);
        std::string partial;
        for (size_t pos = 0; pos != std::string::npos;) {
            pos = dir.find('/', pos + 1);
            partial = dir.substr(0, pos);
            ::mkdir(partial.c_str(), 0755);
        }
        struct stat st;
        if (::lstat(linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(linkPath.c_str());
        if (::symlink(slave, linkPath.c_str()) != 0) {
            std::fprintf(stderr, "simdevice: %s: %s\n", linkPath.c_str(), std::strerror(errno));
            linkPath.clear();
        }
    }
    std::printf("%s\n", slave);
    std::fflush(stdout);

    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    bool slaveOpen = false;
    long sentTotal = 0;
    char buffer[4096];
    while (!stopRequested) {
        device.refill();
        pollfd p{device.master, short(POLLIN | (device.out.empty() ? 0 : POLLOUT)), 0};
        if (::poll(&p, 1, device.plotting() ? 2 : 200) < 0)
            continue; // EINTR: a signal to look at
        if (p.revents & POLLHUP) {
            // Nobody has the slave open: wait for the next open without spinning.
            if (slaveOpen) {
                device.out.clear();
                device.line.clear();
                device.floodEnd = device.floodNext;
                device.plotEnd = device.plotNext;
            }
            slaveOpen = false;
            ::usleep(20000);
            continue;
        }
        if (!slaveOpen) {
            slaveOpen = true;
            if (floodAtOpen > 0 || plotRateAtOpen > 0) {
                ::usleep(100000); // let the program set the line up first
                device.flood(floodAtOpen);
                if (plotRateAtOpen > 0)
                    device.plot(plotRateAtOpen, plotSecondsAtOpen);
                device.refill();
            }
        }
        if (p.revents & POLLIN) {
            const ssize_t n = ::read(device.master, buffer, sizeof buffer);
            if (n > 0) {
                appendAll(recordFd, buffer, size_t(n));
                device.received(buffer, n);
            }
        }
        if ((p.revents & POLLOUT) && !device.out.empty()) {
            size_t size = device.out.size();
            if (hangupAfter >= 0)
                size = std::min(size, size_t(hangupAfter - sentTotal));
            const ssize_t n = ::write(device.master, device.out.data(), size);
            if (n > 0) {
                appendAll(sentFd, device.out.data(), size_t(n));
                device.out.erase(0, size_t(n));
                sentTotal += n;
            }
        }
        if (hangupAfter >= 0 && sentTotal >= hangupAfter)
            break;
    }

    if (!linkPath.empty()) {
        char target[256];
        const ssize_t n = ::readlink(linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, size_t(n)) == slave)
            ::unlink(linkPath.c_str());
    }
    ::close(device.master);
    return 0;
}
