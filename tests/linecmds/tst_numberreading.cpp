#include "linecmds/NumberReading.h"

#include <QtTest>

class tst_numberreading : public QObject {
    Q_OBJECT
private slots:
    void reply_data();
    void reply();
};

// -1 in `expected` with `fits` false means overflow.
void tst_numberreading::reply_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("expected");

    QTest::newRow("stops at a letter") << "12abc" << true << 12;
    QTest::newRow("no number gives 0") << "abc" << true << 0;
    QTest::newRow("empty gives 0") << "" << true << 0;
    QTest::newRow("blanks only") << "  " << true << 0;
    QTest::newRow("half rounds down to even") << "2.5" << true << 2;
    QTest::newRow("half rounds up to even") << "3.5" << true << 4;
    QTest::newRow("above half rounds up") << "2.51" << true << 3;
    QTest::newRow("blank between digits ignored") << "1 0" << true << 10;
    QTest::newRow("tab and line feed ignored") << "\t1\n2 " << true << 12;
    QTest::newRow("blank after sign") << "- 7" << true << -7;
    QTest::newRow("negative") << "-7" << true << -7;
    QTest::newRow("plus sign") << "+7" << true << 7;
    QTest::newRow("hex") << "&H1F" << true << 31;
    QTest::newRow("hex lower case") << "&h1f" << true << 31;
    QTest::newRow("hex stops at non-digit") << "&H1G" << true << 1;
    QTest::newRow("octal") << "&O17" << true << 15;
    QTest::newRow("octal stops at 8") << "&O18" << true << 1;
    QTest::newRow("prefix without digits") << "&H" << true << 0;
    QTest::newRow("exponent") << "1E3" << true << 1000;
    QTest::newRow("negative exponent") << "25e-1" << true << 2;
    QTest::newRow("exponent without digits ignored") << "7E+" << true << 7;
    QTest::newRow("second period stops") << "1.2.9" << true << 1;
    QTest::newRow("leading period") << ".5" << true << 0;
    QTest::newRow("trailing period") << "5." << true << 5;
    QTest::newRow("largest") << "32767" << true << 32767;
    QTest::newRow("largest by rounding down") << "32767.4" << true << 32767;
    QTest::newRow("half above largest") << "32767.5" << false << -1;
    QTest::newRow("smallest") << "-32768" << true << -32768;
    QTest::newRow("half below smallest rounds to even") << "-32768.5" << true << -32768;
    QTest::newRow("beyond smallest") << "-32769" << false << -1;
    QTest::newRow("hex beyond range") << "&HFFFF" << false << -1;
    QTest::newRow("tiny fraction") << "0.000000000000000000001" << true << 0;

    // Replies no one types but anyone can paste.
    const QString zeros(100000, QLatin1Char('0'));
    QTest::newRow("hundred thousand digits") << "1" + zeros << false << -1;
    QTest::newRow("hundred thousand leading zeros") << zeros + "12" << true << 12;
    QTest::newRow("hundred thousand fraction zeros") << "0." + zeros + "9" << true << 0;
    QTest::newRow("exponent beyond any double") << "1E999999999999999999999" << false << -1;
    QTest::newRow("negative exponent beyond any double") << "-1E-99999999999999999" << true << 0;
    QTest::newRow("exponent that overflows only as a double") << "1E309" << false << -1;
    QTest::newRow("long mantissa scaled back")
        << QString(1000, QLatin1Char('1')) + "E-998" << true << 11;
    QTest::newRow("long fraction scaled up")
        << "0." + QString(1000, QLatin1Char('0')) + "5E1001" << true << 5;
    QTest::newRow("thousand hex digits") << "&H" + QString(1000, QLatin1Char('F')) << false << -1;
    QTest::newRow("zero with huge exponent") << "0E99999999999" << true << 0;
}

void tst_numberreading::reply() {
    QFETCH(QString, text);
    QFETCH(bool, fits);
    QFETCH(int, expected);
    const std::optional<qint16> value = toInteger16(readLeadingNumber(text));
    QCOMPARE(value.has_value(), fits);
    if (fits)
        QCOMPARE(int(*value), expected);
}

QTEST_APPLESS_MAIN(tst_numberreading)
#include "tst_numberreading.moc"
