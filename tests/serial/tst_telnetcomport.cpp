// The telnet/COM-PORT-OPTION client codec: every row is fed whole and one
// byte at a time, and both must give the same transcript, so a command cut
// by a TCP segment boundary is read as one.
#include "serial/PortResolver.h"
#include "serial/TelnetComPort.h"

#include <QtTest>

namespace {

using TC = TelnetComPort;

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' '));
}

QString transcript(const QByteArray& input, long cut) {
    TC codec;
    codec.greeting();
    QByteArray data, reply;
    QStringList events;
    for (qsizetype at = 0; at < input.size(); at += cut) {
        const long n = long(std::min<qsizetype>(cut, input.size() - at));
        for (const TC::Event& e : codec.feed(input.constData() + at, n, data, reply)) {
            static const char* names[] = {"answer", "line",     "modem",  "suspend",
                                          "resume", "accepted", "refused"};
            events
                << QStringLiteral("%1 %2 %3").arg(names[e.kind]).arg(e.command).arg(hex(e.value));
        }
    }
    return QStringLiteral("data[%1] reply[%2] %3").arg(hex(data), hex(reply), events.join(';'));
}

} // namespace

class TstTelnetComPort : public QObject {
    Q_OBJECT
private slots:
    void serverBytes_data();
    void serverBytes();
    void clientBytes_data();
    void clientBytes();
    void urls_data();
    void urls();
};

void TstTelnetComPort::serverBytes_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain data passes") << QByteArray("ab\r\n") << "data[61 62 0d 0a] reply[] ";
    QTest::newRow("doubled FF is one data FF")
        << QByteArray("\x01\xff\xff\x02", 4) << "data[01 ff 02] reply[] ";
    QTest::newRow("NOP and GA between data vanish") << QByteArray("a\xff\xf1"
                                                                  "b\xff\xf9",
                                                                  5)
                                                    << "data[61 62] reply[] ";
    QTest::newRow("server takes the option: no answer, accepted")
        << QByteArray("\xff\xfd\x2c", 3) << "data[] reply[] accepted 44 ";
    QTest::newRow("server refuses the option")
        << QByteArray("\xff\xfe\x2c", 3) << "data[] reply[] refused 44 ";
    QTest::newRow("unknown DO is refused once per ask")
        << QByteArray("\xff\xfd\x18", 3) << "data[] reply[ff fc 18] ";
    QTest::newRow("server echo is declined")
        << QByteArray("\xff\xfb\x01", 3) << "data[] reply[ff fe 01] ";
    QTest::newRow("server SGA accepted once, repeat ignored")
        << QByteArray("\xff\xfb\x03\xff\xfb\x03", 6) << "data[] reply[ff fd 03] ";
    QTest::newRow("BINARY confirmed by server: no loop")
        << QByteArray("\xff\xfb\x00\xff\xfd\x00", 6) << "data[] reply[] ";
    QTest::newRow("option turned off after on is acknowledged")
        << QByteArray("\xff\xfb\x03\xff\xfc\x03", 6) << "data[] reply[ff fd 03 ff fe 03] ";
    QTest::newRow("baud answer with a doubled FF in its value")
        << QByteArray("\xff\xfa\x2c\x65\x00\x00\x01\xff\xff\xff\xf0", 11)
        << "data[] reply[] answer 1 00 00 01 ff";
    QTest::newRow("answers between data bytes")
        << QByteArray("x\xff\xfa\x2c\x66\x08\xff\xf0y", 9) << "data[78 79] reply[] answer 2 08";
    QTest::newRow("line and modem state notifications")
        << QByteArray("\xff\xfa\x2c\x6a\x10\xff\xf0\xff\xfa\x2c\x6b\x31\xff\xf0", 14)
        << "data[] reply[] line 6 10;modem 7 31";
    QTest::newRow("flow control suspend then resume")
        << QByteArray("\xff\xfa\x2c\x6c\xff\xf0\xff\xfa\x2c\x6d\xff\xf0", 12)
        << "data[] reply[] suspend 8 ;resume 9 ";
    QTest::newRow("signature asked for is given")
        << QByteArray("\xff\xfa\x2c\x64\xff\xf0", 6)
        << "data[] reply[ff fa 2c 00 56 65 6c 6d 6f 72 61 ff f0] ";
    QTest::newRow("another option's subnegotiation is ignored")
        << QByteArray("\xff\xfa\x18\x01\xff\xf0z", 7) << "data[7a] reply[] ";
    QTest::newRow("client command codes from the server are ignored")
        << QByteArray("\xff\xfa\x2c\x01\x00\xff\xf0", 7) << "data[] reply[] ";
    QTest::newRow("subnegotiation left open gives way to the next command")
        << QByteArray("\xff\xfa\x2c\x65\x00\xff\xfd\x2c", 8) << "data[] reply[] accepted 44 ";
    QTest::newRow("overlong subnegotiation is cut, data after it kept")
        << QByteArray("\xff\xfa\x2c\x65") + QByteArray(200, 'A') + QByteArray("\xff\xf0q", 3)
        << "data[71] reply[] answer 1 " + hex(QByteArray(TC::subLimit - 2, 'A'));
}

void TstTelnetComPort::serverBytes() {
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    QCOMPARE(transcript(input, long(input.size())), expected);
    QCOMPARE(transcript(input, 1), expected);
}

void TstTelnetComPort::clientBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QByteArray escaped;
    TC::escape("\xff\x01\xff\xff", 4, escaped);
    QTest::newRow("data FF doubled") << escaped << "ff ff 01 ff ff ff ff";
    QTest::newRow("greeting: binary both ways, the option")
        << TC().greeting() << "ff fb 00 ff fb 2c ff fd 00";
    QTest::newRow("speed in four bytes, network order")
        << TC::command(TC::SetBaudrate, quint32(250000)) << "ff fa 2c 01 00 03 d0 90 ff f0";
    QTest::newRow("FF inside a value doubled")
        << TC::command(TC::SetBaudrate, quint32(0x1ff)) << "ff fa 2c 01 00 00 01 ff ff ff f0";
    QTest::newRow("one-byte value")
        << TC::command(TC::SetControl, static_cast<unsigned char>(8)) << "ff fa 2c 05 08 ff f0";
}

void TstTelnetComPort::clientBytes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(hex(bytes), expected);
}

void TstTelnetComPort::urls_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected"); // kind host:port, or "none"
    QTest::newRow("name") << "rfc2217://lab-pi:7000"
                          << "2217 lab-pi:7000";
    QTest::newRow("raw over IPv4") << "tcp://10.0.0.5:7001"
                                   << "tcp 10.0.0.5:7001";
    QTest::newRow("bracketed IPv6") << "rfc2217://[::1]:2217"
                                    << "2217 [::1]:2217";
    QTest::newRow("trailing slash") << "tcp://host:1/"
                                    << "tcp host:1";
    QTest::newRow("no port") << "rfc2217://lab-pi"
                             << "none";
    QTest::newRow("port zero") << "tcp://host:0"
                               << "none";
    QTest::newRow("port too big") << "tcp://host:65536"
                                  << "none";
    QTest::newRow("IPv6 without brackets") << "tcp://::1:80"
                                           << "none";
    QTest::newRow("other scheme") << "telnet://host:23"
                                  << "none";
    QTest::newRow("a device path") << "/dev/ttyUSB0"
                                   << "none";
    QTest::newRow("host like an option") << "tcp://-x:5"
                                         << "none";
}

void TstTelnetComPort::urls() {
    QFETCH(QString, url);
    QFETCH(QString, expected);
    const RemoteTarget target = RemoteTarget::parse(url);
    const QString kind = target.kind == RemoteTarget::Kind::Rfc2217 ? "2217" : "tcp";
    QCOMPARE(target.isValid() ? kind + ' ' + target.hostPort() : QStringLiteral("none"), expected);
}

QTEST_APPLESS_MAIN(TstTelnetComPort)
#include "tst_telnetcomport.moc"
