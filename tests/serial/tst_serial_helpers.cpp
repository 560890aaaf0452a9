// The termios helpers (checked on the struct: a pty drops data bits and
// parity enable), the order in which present devices become Com1, Com2 …,
// UUCP lock files, how a replugged adapter is recognised and waited for.
#include "serial/DeviceIdentity.h"
#include "serial/PortHolder.h"
#include "serial/PortLock.h"
#include "serial/PortResolver.h"
#include "serial/Reconnector.h"
#include "serial/TermiosHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

// A pid that ran and is gone.
long deadPid() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return long(child);
}

// A tty in a sysfs look-alike under `root`, described as "layout=usbserial
// vendor=0403 product=6001 serial=A1 location=1-1 interface=00 port=0";
// layouts: usbserial (ttyUSB), acm (ttyACM), platform (on-board), none.
QString fakeTty(const QString& root, const QString& name, const QString& spec) {
    QMap<QString, QString> v;
    for (const QString& pair : spec.split(' ', Qt::SkipEmptyParts))
        v.insert(pair.section('=', 0, 0), pair.section('=', 1));
    const QString dev = root + "/dev/" + name;
    writeFile(dev, {});
    const QString layout = v.value("layout");
    if (layout == "none")
        return dev;
    QString target = root + "/sys/devices/platform/serial8250";
    if (layout != "platform") {
        const QString usb = root + "/sys/devices/usb1/" + v.value("location");
        writeFile(usb + "/idVendor", v.value("vendor").toLatin1() + "\n");
        writeFile(usb + "/idProduct", v.value("product").toLatin1() + "\n");
        if (v.contains("serial"))
            writeFile(usb + "/serial", v.value("serial").toLatin1() + "\n");
        target = usb + "/" + v.value("location") + ":1." + v.value("interface");
        writeFile(target + "/bInterfaceNumber", v.value("interface").toLatin1() + "\n");
        if (layout == "usbserial") {
            target += "/" + name;
            writeFile(target + "/port_number", v.value("port", "0").toLatin1() + "\n");
        }
    }
    QDir().mkpath(target);
    QDir().mkpath(root + "/sys/class/tty/" + name);
    QFile::link(target, root + "/sys/class/tty/" + name + "/device");
    return dev;
}

const QString lostSpec = "layout=usbserial vendor=0403 product=6001 serial=A1 location=1-1 "
                         "interface=00";

// A tree of its own where the adapter on ttyUSB0 was opened as Com1, then unplugged.
struct LostAdapter {
    LostAdapter() {
        paths.dev = root.filePath("dev");
        paths.sysTty = root.filePath("sys/class/tty");
        ResolvedPort port;
        port.path = port.display = fakeTty(root.path(), "ttyUSB0", lostSpec);
        lost = OpenedDevice::of(1, port, paths);
        QDir(root.filePath("sys")).removeRecursively();
        QFile::remove(port.path);
    }
    QTemporaryDir root;
    SystemPaths paths;
    OpenedDevice lost;
};

} // namespace

class SerialHelpersTest : public QObject {
    Q_OBJECT
private slots:
    void framingFlags_data() {
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<char>("parity");
        QTest::addColumn<bool>("twoStop");
        QTest::addColumn<int>("flow");
        QTest::addColumn<unsigned>("cflagSet");
        QTest::addColumn<unsigned>("cflagClear");
        QTest::newRow("7 even") << 7 << 'e' << false << 0 << unsigned(CS7 | PARENB)
                                << unsigned(PARODD | CMSPAR | CSTOPB | CRTSCTS);
        QTest::newRow("8 odd two stop")
            << 8 << 'o' << true << 0 << unsigned(CS8 | PARENB | PARODD | CSTOPB)
            << unsigned(CMSPAR);
        QTest::newRow("mark") << 8 << 'm' << false << 2
                              << unsigned(CS8 | PARENB | PARODD | CMSPAR | CRTSCTS)
                              << unsigned(CSTOPB);
        QTest::newRow("space") << 5 << 's' << true << 0 << unsigned(CS5 | PARENB | CMSPAR | CSTOPB)
                               << unsigned(PARODD);
        QTest::newRow("none clears what another program left")
            << 6 << 'n' << false << 1 << unsigned(CS6)
            << unsigned(PARENB | PARODD | CMSPAR | CRTSCTS);
    }
    void framingFlags() {
        QFETCH(int, dataBits);
        QFETCH(char, parity);
        QFETCH(bool, twoStop);
        QFETCH(int, flow);
        QFETCH(unsigned, cflagSet);
        QFETCH(unsigned, cflagClear);
        termios t{};
        // Start from a struct full of leftovers: mark parity, CS8, RTS/CTS, 2 stop bits.
        t.c_cflag = CS8 | PARENB | PARODD | CMSPAR | CRTSCTS | CSTOPB;
        t.c_iflag = IGNPAR | ISTRIP | ICRNL | IXANY;
        setRawMode(t, true);
        setDataBits(t, dataBits);
        setParity(t, parity);
        setStopBits(t, twoStop);
        setFlowControl(t, flow);
        QCOMPARE(unsigned(t.c_cflag) & (cflagSet | cflagClear) & ~unsigned(CSIZE),
                 cflagSet & ~unsigned(CSIZE));
        const unsigned size[] = {CS5, CS6, CS7, CS8};
        QCOMPARE(unsigned(t.c_cflag & CSIZE), size[dataBits - 5]);
        QCOMPARE(bool(t.c_iflag & IXON) && bool(t.c_iflag & IXOFF), flow == 1 || flow == 3);
        QVERIFY(t.c_iflag & INPCK);
        QVERIFY(t.c_iflag & PARMRK);
        QVERIFY(!(t.c_iflag & (IGNPAR | ISTRIP | ICRNL | IXANY)));
        QCOMPARE(int(t.c_cc[VMIN]), 1);
        QCOMPARE(int(t.c_cc[VTIME]), 0);

        const LineConfig read = configFromTermios(t, 1234);
        QCOMPARE(read.dataBits, dataBits);
        QCOMPARE(read.parity, parity);
        QCOMPARE(read.twoStopBits, twoStop);
        QCOMPARE(read.handshaking, flow);
        QCOMPARE(read.speed, 1234);
    }

    // Marking only where line errors can happen: not on a pty, whose reads
    // it would slow down, and then nothing else changes.
    void lineErrorMarking() {
        termios marked{}, plain{};
        marked.c_iflag = plain.c_iflag = INPCK | PARMRK | ICRNL;
        setRawMode(marked, true);
        setRawMode(plain, false);
        QCOMPARE(marked.c_iflag & (INPCK | PARMRK), tcflag_t(INPCK | PARMRK));
        QCOMPARE(plain.c_iflag & (INPCK | PARMRK), tcflag_t(0));
        QCOMPARE(marked.c_iflag & ~(INPCK | PARMRK), plain.c_iflag);
        QCOMPARE(marked.c_lflag, plain.c_lflag);
        for (const unsigned major : {136u, 140u, 143u})
            QVERIFY(!canHaveLineErrors(makedev(major, 3)));
        for (const unsigned major : {4u, 166u, 188u, 135u, 144u})
            QVERIFY(canHaveLineErrors(makedev(major, 3)));
    }

    void speedsWithoutConstant() {
        speed_t code;
        QVERIFY(standardSpeedCode(115200, code));
        QCOMPARE(code, speed_t(B115200));
        for (int rate : {14400, 28800, 56000, 128000, 256000})
            QVERIFY(!standardSpeedCode(rate, code));
    }

    void rateTolerance_data() {
        QTest::addColumn<int>("baudBase"); // TIOCGSERIAL; 0 unknown
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("runs");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("PC UART 56000 makes 57600") << 115200 << 56000 << 57600 << false;
        QTest::newRow("PC UART 14400 exact") << 115200 << 14400 << 14400 << true;
        QTest::newRow("PC UART 110 nearly exact") << 115200 << 110 << 110 << true;
        QTest::newRow("PC UART above its clock") << 115200 << 256000 << 115200 << false;
        QTest::newRow("FTDI clock 256000") << 24000000 << 256000 << 255319 << true;
        QTest::newRow("clock unknown") << 0 << 56000 << 56000 << true;
        QTest::newRow("2% off still accepted") << 51000 << 50000 << 51000 << true;
        QTest::newRow("just over 2% refused") << 51001 << 50000 << 51001 << false;
    }
    void rateTolerance() {
        QFETCH(int, baudBase);
        QFETCH(int, requested);
        QFETCH(int, runs);
        QFETCH(bool, accepted);
        QCOMPARE(divisorRate(baudBase, requested), runs);
        QCOMPARE(rateWithinTolerance(requested, runs), accepted);
    }

    void presentDevicesInStableOrder() {
        QTemporaryDir dev, sys;
        for (const char* name :
             {"ttyS1", "ttyUSB10", "ttyACM0", "ttyUSB2", "ttyS0", "ttyS2", "ttyUSBx", "tty0"}) {
            QFile file(dev.path() + '/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        for (const auto& [name, type] : {std::pair{"ttyS0", "4"}, {"ttyS1", "0"}}) {
            QVERIFY(QDir().mkpath(sys.path() + '/' + name));
            QFile file(sys.path() + '/' + name + "/type");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(type);
        }
        SystemPaths paths;
        paths.dev = dev.path();
        paths.sysTty = sys.path();
        const QStringList present = presentSerialDevices(paths);
        QStringList names;
        for (const QString& path : present)
            names << QFileInfo(path).fileName();
        // ttyS1 has no UART, ttyS2 no type at all.
        QCOMPARE(names, QStringList({"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0"}));

        QTemporaryDir links;
        QVERIFY(QFile::link("/dev/serial/by-id/some-adapter", links.path() + "/com3"));
        QCOMPARE(resolvePort(2, links.path(), present).path, present.at(1));
        QCOMPARE(resolvePort(3, links.path(), present).path, links.path() + "/com3");
        const ResolvedPort none = resolvePort(5, links.path(), present);
        QVERIFY(none.path.isEmpty());
        QCOMPARE(none.present, 4);
    }

    void lockFiles_data() {
        // %LIVE%, %DEAD%, %SELF% stand for pids; %REUSED% for a live one that
        // started after the file was written, %HOLDER% for one that also has
        // the device open; %SELF% too started after it.
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("inSecondDir");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<bool>("tookOver");
        using O = PortLock::Outcome;
        QTest::newRow("no lock: ours is made") << QByteArray() << false << int(O::Taken) << false;
        QTest::newRow("HDB lock of a live process")
            << QByteArray("%LIVE%\n") << false << int(O::HeldByLive) << false;
        QTest::newRow("Qt lock file form, live, in /var/lock")
            << QByteArray("%LIVE%\nminicom\nhost\n") << true << int(O::HeldByLive) << false;
        QTest::newRow("stale lock of a dead process is taken over")
            << QByteArray("%DEAD%\n") << false << int(O::Taken) << true;
        QTest::newRow("our own pid, another object's, whatever the clock")
            << QByteArray("%SELF%\n") << false << int(O::HeldByLive) << false;
        QTest::newRow("pid reused since the lock was written")
            << QByteArray("%REUSED%\n") << false << int(O::Taken) << true;
        QTest::newRow("clock stepped: started after the lock, holds the device")
            << QByteArray("%HOLDER%\n") << false << int(O::HeldByLive) << false;
        QTest::newRow("empty file") << QByteArray("", 0) << false << int(O::NotAPid) << false;
        QTest::newRow("a word") << QByteArray("minicom\n") << false << int(O::NotAPid) << false;
        QTest::newRow("negative") << QByteArray("       -12\n") << false << int(O::NotAPid)
                                  << false;
        QTest::newRow("zero") << QByteArray("0\n") << false << int(O::NotAPid) << false;
        QTest::newRow("eleven digits")
            << QByteArray("12345678901\n") << false << int(O::NotAPid) << false;
        QTest::newRow("number and more")
            << QByteArray("  1234 x\n") << false << int(O::NotAPid) << false;
        QTest::newRow("binary pid")
            << QByteArray("\x39\x30\x00\x00", 4) << false << int(O::NotAPid) << false;
    }
    void lockFiles() {
        QFETCH(QByteArray, content);
        QFETCH(bool, inSecondDir);
        QFETCH(int, outcome);
        QFETCH(bool, tookOver);
        QTemporaryDir root;
        const QString run = root.filePath("run-lock"), var = root.filePath("var-lock");
        QVERIFY(QDir().mkpath(run) && QDir().mkpath(var));
        const QString device = root.filePath("dev/ttyUSB0");
        QVERIFY(writeFile(device, {}));
        const QString name = lockFileName(QFileInfo(device).canonicalFilePath());
        const QString lockPath = (inSecondDir ? var : run) + "/" + name;
        const long live = long(getppid()), dead = deadPid(), self = long(getpid());
        const bool startedLater = content.contains("%REUSED%") || content.contains("%HOLDER%") ||
                                  content.contains("%SELF%");
        QProcess holder;
        if (content.contains("%HOLDER%")) {
            holder.setStandardInputFile(device);
            holder.start("sleep", {"60"});
            QVERIFY(holder.waitForStarted());
        }
        const auto stopHolder = qScopeGuard([&] {
            holder.kill();
            holder.waitForFinished();
        });
        content.replace("%LIVE%", QByteArray::number(qlonglong(live)).rightJustified(10, ' '))
            .replace("%DEAD%", QByteArray::number(qlonglong(dead)))
            .replace("%SELF%", QByteArray::number(qlonglong(self)))
            .replace("%REUSED%", QByteArray::number(qlonglong(live)))
            .replace("%HOLDER%", QByteArray::number(holder.processId()));
        if (!content.isNull())
            QVERIFY(writeFile(lockPath, content));
        if (startedLater) {
            QFile file(lockPath);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0)),
                                     QFileDevice::FileModificationTime));
        }

        SystemPaths paths;
        paths.lockDirs = QStringList{run, var};
        PortLock lock(paths);
        const PortLock::Result result = lock.acquire(device);
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(result.tookOver, tookOver);
        QCOMPARE(result.lockPath,
                 outcome == int(PortLock::Outcome::Taken) ? run + "/" + name : lockPath);
        if (outcome == int(PortLock::Outcome::HeldByLive))
            QCOMPARE(result.pid, lockFilePid(content));
        if (outcome != int(PortLock::Outcome::Taken)) {
            QCOMPARE(readFile(lockPath), content); // left as it was
            QVERIFY(lock.path().isEmpty());
            return;
        }
        // HDB form: the pid in ten characters and a newline; gone on release.
        QCOMPARE(readFile(run + "/" + name),
                 QByteArray::number(qlonglong(self)).rightJustified(10, ' ') + "\n");
        QCOMPARE(QDir(var).entryList(QDir::Files), QStringList());
        lock.release();
        QCOMPARE(QDir(run).entryList(QDir::Files), QStringList());
    }

    // The lock folder is everyone's: what others put there is neither
    // followed nor removed.
    void lockKeepsToItsOwnFile_data() {
        QTest::addColumn<QString>("planted");
        QTest::newRow("link at the old temporary name") << "link";
        QTest::newRow("our file replaced by another object's") << "replaced";
    }
    void lockKeepsToItsOwnFile() {
        QFETCH(QString, planted);
        QTemporaryDir root;
        SystemPaths paths;
        paths.lockDirs = QStringList{root.filePath("lock")};
        const QString device = root.filePath("ttyUSB0"), victim = root.filePath("victim");
        QVERIFY(writeFile(device, {}) && writeFile(victim, "precious"));
        QVERIFY(QDir().mkpath(paths.lockDirs[0]));
        QVERIFY(QFile::link(victim, paths.lockDirs[0] + QStringLiteral("/LTMP.%1").arg(getpid())));
        PortLock lock(paths);
        QCOMPARE(int(lock.acquire(device).outcome), int(PortLock::Outcome::Taken));
        if (planted == "replaced") {
            QVERIFY(QFile::remove(lock.path()));
            QVERIFY(writeFile(lock.path(), QByteArray::number(getpid()) + "\n"));
        }
        const QString path = lock.path();
        lock.release();
        QCOMPARE(readFile(victim), QByteArray("precious"));
        QCOMPARE(QFile::exists(path), planted == "replaced");
    }

    // Holders of /dev/null in a /proc of the test's own: "pid:target" are
    // descriptors, "flock" makes the first pid the flock holder.
    void holdersOfADevice_data() {
        QTest::addColumn<QStringList>("descriptors");
        QTest::addColumn<bool>("flock");
        QTest::addColumn<QString>("holders");
        QTest::newRow("flock holder named: descriptors not scanned")
            << QStringList{"100:/dev/null", "200:/dev/null"} << true << "100";
        QTest::newRow("named by its path, without flock")
            << QStringList{"200:/dev/null"} << false << "200";
        QTest::newRow("a target outside /dev is not followed")
            << QStringList{"200:alias"} << false << "";
        QTest::newRow("another device") << QStringList{"300:/dev/zero"} << false << "";
    }
    void holdersOfADevice() {
        QFETCH(QStringList, descriptors);
        QFETCH(bool, flock);
        QFETCH(QString, holders);
        QTemporaryDir root;
        SystemPaths paths;
        paths.proc = root.filePath("proc");
        QVERIFY(QFile::link("/dev/null", root.filePath("alias")));
        struct stat null {};
        QCOMPARE(stat("/dev/null", &null), 0);
        QByteArray locks;
        for (const QString& entry : descriptors) {
            const QString pid = entry.section(':', 0, 0), target = entry.section(':', 1);
            QVERIFY(writeFile(paths.proc + "/" + pid + "/comm", "holder\n"));
            QVERIFY(QDir().mkpath(paths.proc + "/" + pid + "/fd"));
            QVERIFY(QFile::link(target.startsWith('/') ? target : root.filePath(target),
                                paths.proc + "/" + pid + "/fd/3"));
            if (flock && locks.isEmpty())
                locks = "1: FLOCK  ADVISORY  WRITE " + pid.toLatin1() + " " +
                        QByteArray::number(major(null.st_dev), 16).rightJustified(2, '0') + ":" +
                        QByteArray::number(minor(null.st_dev), 16).rightJustified(2, '0') + ":" +
                        QByteArray::number(qulonglong(null.st_ino)) + " 0 EOF\n";
        }
        QVERIFY(writeFile(paths.proc + "/locks", locks));
        QStringList found;
        for (const ProcessRef& holder : portHolders("/dev/null", paths))
            found << QString::number(holder.pid);
        QCOMPARE(found.join(','), holders);
    }

    void replugRecognised_data() {
        QTest::addColumn<QString>("was");
        QTest::addColumn<QString>("now");
        QTest::addColumn<bool>("same");
        const QString ftdi = "layout=usbserial vendor=0403 product=6001 serial=A1 location=1-1 "
                             "interface=00";
        const QString bare = "layout=usbserial vendor=1a86 product=7523 location=1-1 interface=00";
        const QString acm =
            "layout=acm vendor=2341 product=0043 serial=95 location=1-2 interface=00";
        QTest::newRow("same adapter back as ttyUSB1") << ftdi << ftdi << true;
        QTest::newRow("another serial number")
            << ftdi << QString(ftdi).replace("serial=A1", "serial=B2") << false;
        QTest::newRow("another product") << ftdi << QString(ftdi).replace("6001", "6015") << false;
        QTest::newRow("back without its serial number")
            << ftdi << QString(ftdi).replace("serial=A1 ", "") << false;
        QTest::newRow("other port of a two-port adapter")
            << ftdi << QString(ftdi).replace("interface=00", "interface=01") << false;
        QTest::newRow("no serial number, same USB port") << bare << bare << true;
        QTest::newRow("no serial number, another USB port")
            << bare << QString(bare).replace("location=1-1", "location=1-3") << false;
        QTest::newRow("sysfs entry missing") << ftdi << "layout=none" << false;
        QTest::newRow("CDC ACM device") << acm << acm << true;
        QTest::newRow("on-board UART") << "layout=platform"
                                       << "layout=platform" << false;
    }
    void replugRecognised() {
        QFETCH(QString, was);
        QFETCH(QString, now);
        QFETCH(bool, same);
        QTemporaryDir root;
        const QString prefix = was.contains("acm") ? "ttyACM" : "ttyUSB";
        SystemPaths sys;
        sys.sysTty = root.filePath("sys/class/tty");
        // Read while plugged in; the unplug takes its sysfs entries away.
        const DeviceIdentity before = deviceIdentity(fakeTty(root.path(), prefix + "0", was), sys);
        QVERIFY(QDir(root.filePath("sys")).removeRecursively());
        const QString after = fakeTty(root.path(), prefix + "1", now);
        QCOMPARE(sameDevice(before, deviceIdentity(after, sys)), same);
    }

    // The reconnector over a tree of its own: the adapter on ttyUSB0 is
    // lost, then the tree shows `present` ("name spec" each).
    void reconnectorWaitsForTheSameAdapter_data() {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("reopened");
        const QString ftdi = "layout=usbserial vendor=0403 product=6001 serial=A1 location=1-1 "
                             "interface=00";
        QTest::newRow("still away") << QStringList() << "";
        QTest::newRow("same adapter on another node")
            << QStringList{"ttyUSB3 " + ftdi} << "ttyUSB3";
        QTest::newRow("another adapter on the old node")
            << QStringList{"ttyUSB0 " + QString(ftdi).replace("A1", "B2")} << "";
        QTest::newRow("two adapters with its serial number: no guess")
            << QStringList{"ttyUSB1 " + ftdi,
                           "ttyUSB2 " + QString(ftdi).replace("location=1-1", "location=1-3")}
            << "";
    }
    void reconnectorWaitsForTheSameAdapter() {
        QFETCH(QStringList, present);
        QFETCH(QString, reopened);
        const LostAdapter tree;
        const SystemPaths& paths = tree.paths;
        const OpenedDevice& lost = tree.lost;
        for (const QString& entry : present)
            fakeTty(tree.root.path(), entry.section(' ', 0, 0), entry.section(' ', 1));
        QStringList tried;
        Reconnector reconnector(paths, [&](const ResolvedPort& port) {
            tried << QFileInfo(port.path).fileName();
            return Reconnector::Reopened::Yes;
        });
        QVERIFY(reconnector.start(lost));
        reconnector.look();
        QCOMPARE(tried.join(','), reopened);
        QCOMPARE(reconnector.waiting(), reopened.isEmpty());
    }

    // A device that is back but keeps refusing is tried on a growing delay,
    // then only on events; stopping (the user acted) ends the wait at once.
    void reconnectorBacksOffAndStops() {
        const LostAdapter tree;
        const SystemPaths& paths = tree.paths;
        const OpenedDevice& lost = tree.lost;
        fakeTty(tree.root.path(), "ttyUSB1", lostSpec);

        int tries = 0;
        Reconnector reconnector(paths, [&](const ResolvedPort&) {
            ++tries;
            return Reconnector::Reopened::No;
        });
        QVERIFY(reconnector.start(lost));
        QList<int> delays;
        for (int look = 0; look < 12; ++look) {
            reconnector.look();
            delays << reconnector.nextLookIn();
        }
        QCOMPARE(delays,
                 QList<int>({200, 400, 800, 1600, 2000, 2000, 2000, 2000, 2000, 2000, -1, -1}));
        QCOMPARE(tries, 12);
        QVERIFY(reconnector.waiting());
        reconnector.stop();
        reconnector.look();
        QCOMPARE(tries, 12);
        QVERIFY(!reconnector.waiting());
        QCOMPARE(reconnector.nextLookIn(), -1);
    }

    // Lost again soon after each of three reconnects in a row: no more
    // reconnecting on its own. `lostAfter`: ms from each reconnect to the next loss.
    void reconnectorGivesUpOnAFlappingDevice_data() {
        QTest::addColumn<QList<int>>("lostAfter");
        QTest::addColumn<bool>("gaveUp");
        QTest::newRow("lost a second after three reconnects")
            << QList<int>{1000, 1000, 1000} << true;
        QTest::newRow("two quick losses") << QList<int>{1000, 1000} << false;
        QTest::newRow("one of them ran for a minute") << QList<int>{1000, 60000, 1000} << false;
    }
    void reconnectorGivesUpOnAFlappingDevice() {
        QFETCH(QList<int>, lostAfter);
        QFETCH(bool, gaveUp);
        const LostAdapter tree;
        const SystemPaths& paths = tree.paths;
        const OpenedDevice& lost = tree.lost;
        fakeTty(tree.root.path(), "ttyUSB1", lostSpec);
        Reconnector reconnector(paths,
                                [](const ResolvedPort&) { return Reconnector::Reopened::Yes; });
        qint64 now = 0;
        reconnector.setClock([&] { return now; });
        bool waiting = reconnector.start(lost);
        for (const int ms : lostAfter) {
            reconnector.look();
            QVERIFY(!reconnector.waiting());
            now += ms;
            waiting = reconnector.start(lost);
        }
        QCOMPARE(waiting, !gaveUp);
        QCOMPARE(reconnector.gaveUp(), gaveUp);
    }
};

QTEST_GUILESS_MAIN(SerialHelpersTest)
#include "tst_serial_helpers.moc"
