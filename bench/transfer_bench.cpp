// File transfer over a pty against lrzsz playing the device: ZMODEM 1 MiB
// each way (target: at most 1 s), XMODEM-CRC for comparison, and a relay
// between the pty and the device that drops or corrupts a byte now and then,
// through which ZMODEM and XMODEM-CRC must still deliver the file whole.
// Prints figures with the load average; asserts nothing.
#include "PtyPair.h"
#include "ScriptedPrompts.h"

#include "datapath/DataPath.h"
#include "datapath/StringTextTarget.h"
#include "platform/Clock.h"
#include "platform/SettingsStore.h"
#include "sending/SendCommands.h"
#include "serial/SerialCtl.h"
#include "transfer/TransferController.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

QByteArray loadAverage() {
    QFile file("/proc/loadavg");
    file.open(QIODevice::ReadOnly);
    return file.readAll().split(' ').mid(0, 3).join(' ');
}

QByteArray sha(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

// The device: lrzsz on pipes, joined to the pty's master by this relay, which
// spoils one byte in `every` (alternately dropped and flipped) when not 0.
class Device : public QObject {
public:
    Device(PtyPair& pty, const QString& dir, const QString& command, int every)
        : m_pty(pty), m_every(every), m_in(pty.masterFd(), QSocketNotifier::Read) {
        m_process.setWorkingDirectory(dir);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        connect(&m_in, &QSocketNotifier::activated, this, [this] {
            char buffer[16384];
            const ssize_t n = ::read(m_pty.masterFd(), buffer, sizeof buffer);
            if (n > 0)
                m_process.write(spoil(QByteArray(buffer, n)));
        });
        connect(&m_process, &QProcess::readyReadStandardOutput, this,
                [this] { m_pty.write(spoil(m_process.readAllStandardOutput()), 10000); });
        m_process.start("/bin/sh", {"-c", command});
    }
    ~Device() override {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    bool done() const { return m_process.state() == QProcess::NotRunning; }
    int spoiled = 0;

private:
    QByteArray spoil(QByteArray bytes) {
        if (m_every == 0)
            return bytes;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (QRandomGenerator::global()->bounded(m_every) != 0)
                continue;
            if (++spoiled % 2)
                bytes.remove(i, 1);
            else
                bytes[i] = char(bytes[i] ^ 0x20);
        }
        return bytes;
    }
    PtyPair& m_pty;
    int m_every;
    QSocketNotifier m_in;
    QProcess m_process;
};

struct Outcome {
    double seconds = 0;
    bool whole = false;
    int spoiled = 0;
};

// One transfer through the window's parts on Com1.
Outcome run(TransferProtocol protocol, bool send, qint64 size, int every) {
    QTemporaryDir dir;
    PtyPair pty;
    const QString link = qEnvironmentVariable("XDG_CONFIG_HOME") + "/velmora/ports/com1";
    QFile::remove(link);
    QFile::link(pty.slavePath(), link);
    QDir(dir.path()).mkpath("device");
    SerialCtl serial;
    ScriptedPrompts prompts;
    MemorySettingsStore store;
    store.values.insert("Velmora/Transfer/ReceiveFolder", dir.filePath("in"));
    SystemClock clock;
    StringTextTarget term;
    LoglessHost host(prompts);
    TerminalSession session(term, host, "UTF-8");
    QWidget window;
    SendCommands sending(serial, prompts, store, clock, &window);
    TransferController transfer(serial, prompts, store, sending, &window);
    transfer.attach(session);
    QObject::connect(&serial, &ISerialCtl::OnComm, [&] { session.onComm(serial); });
    serial.setCommPort(1);
    serial.setRThreshold(1);
    serial.setPortOpen(true);

    const QString source = dir.filePath(send ? "f.bin" : "device/f.bin");
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    QFile file(source);
    file.open(QIODevice::WriteOnly);
    file.write(data);
    file.close();

    const bool x = protocol == TransferProtocol::Xmodem;
    const QString device =
        send ? (x ? "rx -b -c f.bin" : "rz -b -y") : (x ? "sx -b f.bin" : "sz -b f.bin");
    bool ended = false;
    QObject::connect(&transfer.job(), &TransferJob::finished, [&] { ended = true; });
    QElapsedTimer timer;
    timer.start();
    Device dev(pty, dir.filePath("device"), device, every);
    if (send) {
        FileDialogResult answer;
        answer.path = source;
        prompts.fileAnswers = {answer};
        transfer.send(protocol);
    } else if (x) {
        prompts.inputAnswers = {QStringLiteral("f.bin")};
        transfer.receiveX();
    } else {
        transfer.receiveZ();
    }
    while (!ended && timer.elapsed() < 300000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    Outcome outcome;
    outcome.seconds = timer.elapsed() / 1000.0;
    // The device writes the file out as it ends.
    while (!dev.done() && timer.elapsed() < 320000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    outcome.whole =
        sha(send ? dir.filePath("device/f.bin") : dir.filePath("in/f.bin")) == sha(source);
    outcome.spoiled = dev.spoiled;
    return outcome;
}

void report(const char* what, TransferProtocol protocol, bool send, qint64 size, int every,
            int runs) {
    for (int i = 0; i < runs; ++i) {
        const Outcome o = run(protocol, send, size, every);
        std::printf("%-34s %8.3f s  %s  spoiled %3d  load %s\n", what, o.seconds,
                    o.whole ? "whole " : "BROKEN", o.spoiled, loadAverage().constData());
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir config;
    QDir().mkpath(config.path() + "/velmora/ports");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    if (findTransferProgram("sz").isEmpty()) {
        std::printf("lrzsz is not installed\n");
        return 1;
    }
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    report("ZMODEM 1 MiB send (target <= 1 s)", TransferProtocol::Zmodem, true, 1 << 20, 0, runs);
    report("ZMODEM 1 MiB receive (<= 1 s)", TransferProtocol::Zmodem, false, 1 << 20, 0, runs);
    report("XMODEM-CRC 64 KiB send", TransferProtocol::Xmodem, true, 64 << 10, 0, 1);
    report("XMODEM-CRC 64 KiB receive", TransferProtocol::Xmodem, false, 64 << 10, 0, 1);
    report("ZMODEM 1 MiB send, lossy relay", TransferProtocol::Zmodem, true, 1 << 20, 200000, runs);
    report("ZMODEM 1 MiB receive, lossy relay", TransferProtocol::Zmodem, false, 1 << 20, 200000,
           runs);
    report("XMODEM-CRC 64 KiB send, lossy", TransferProtocol::Xmodem, true, 64 << 10, 20000, 1);
    report("XMODEM-CRC 64 KiB receive, lossy", TransferProtocol::Xmodem, false, 64 << 10, 20000, 1);
    return 0;
}
