// The termios helpers (checked on the struct: a pty drops data bits and
// parity enable) and the order in which present devices become Com1, Com2 ….
#include "serial/PortResolver.h"
#include "serial/TermiosHelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/sysmacros.h>

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
        const QStringList present = presentSerialDevices(dev.path(), sys.path());
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
};

QTEST_APPLESS_MAIN(SerialHelpersTest)
#include "tst_serial_helpers.moc"
