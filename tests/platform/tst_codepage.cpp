#include "platform/CodePage.h"

#include <QtTest>

class tst_codepage : public QObject {
    Q_OBJECT
private slots:
    void localeRule_data();
    void localeRule();
    void splitCharacterArrivesWhole_data();
    void splitCharacterArrivesWhole();
    void flushShowsHeldBytes();
};

void tst_codepage::localeRule_data() {
    QTest::addColumn<QByteArray>("lcAll");
    QTest::addColumn<QByteArray>("lcCtype");
    QTest::addColumn<QByteArray>("lang");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("japanese LANG")
        << QByteArray() << QByteArray() << QByteArray("ja_JP.UTF-8") << QByteArray("windows-31j");
    QTest::newRow("LC_ALL wins over LANG")
        << QByteArray("C") << QByteArray() << QByteArray("ja_JP.UTF-8") << QByteArray("UTF-8");
    QTest::newRow("LC_CTYPE before LANG") << QByteArray() << QByteArray("ja_JP.eucJP")
                                          << QByteArray("en_US.UTF-8") << QByteArray("windows-31j");
    QTest::newRow("POSIX") << QByteArray() << QByteArray() << QByteArray("POSIX")
                           << QByteArray("UTF-8");
    QTest::newRow("nothing set") << QByteArray() << QByteArray() << QByteArray()
                                 << QByteArray("UTF-8");
    QTest::newRow("latin charset") << QByteArray() << QByteArray() << QByteArray("de_DE.ISO-8859-1")
                                   << QByteArray("ISO-8859-1");
}

void tst_codepage::localeRule() {
    QFETCH(QByteArray, lcAll);
    QFETCH(QByteArray, lcCtype);
    QFETCH(QByteArray, lang);
    QFETCH(QByteArray, expected);
    QCOMPARE(codePageForLocale(lcAll, lcCtype, lang), expected);
}

void tst_codepage::splitCharacterArrivesWhole_data() {
    QTest::addColumn<QByteArray>("codePage");
    QTest::newRow("shift-jis") << QByteArray("windows-31j");
    QTest::newRow("utf-8") << QByteArray("UTF-8");
}

// Every split point of a line with kanji and half-width katakana decodes to
// the same text as the whole line.
void tst_codepage::splitCharacterArrivesWhole() {
    QFETCH(QByteArray, codePage);
    const QString text = QStringLiteral("AT漢字ｶﾀｶﾅ表\r\n");
    const QByteArray bytes = encodeText(text, codePage);
    for (int cut = 0; cut <= bytes.size(); ++cut) {
        StreamDecoder decoder(codePage);
        QString decoded = decoder.decode(bytes.left(cut));
        decoded += decoder.decode(bytes.mid(cut));
        QCOMPARE(decoded, text);
        QVERIFY(decoder.flush().isEmpty());
    }
}

void tst_codepage::flushShowsHeldBytes() {
    StreamDecoder decoder("windows-31j");
    const QByteArray bytes = encodeText(QStringLiteral("A漢"), "windows-31j");
    QCOMPARE(decoder.decode(bytes.left(2)), QStringLiteral("A"));
    QCOMPARE(decoder.flush().size(), 1); // the lone lead byte, shown, not lost
    QCOMPARE(decoder.decode("B"), QStringLiteral("B"));
}

QTEST_APPLESS_MAIN(tst_codepage)
#include "tst_codepage.moc"
