#include "platform/CodePage.h"

#include <QtTest>

class tst_codepage : public QObject {
    Q_OBJECT
private slots:
    void localeRule_data();
    void localeRule();
    void splitCharacterArrivesWhole_data();
    void splitCharacterArrivesWhole();
    void invalidBytesShowAsReplacement_data();
    void invalidBytesShowAsReplacement();
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
    QTest::addColumn<QString>("text");
    const QString kana = QStringLiteral("AT漢字ｶﾀｶﾅ表\r\n");
    QTest::newRow("shift-jis") << QByteArray("windows-31j") << kana;
    QTest::newRow("utf-8") << QByteArray("UTF-8") << kana + QStringLiteral("😀");
    QTest::newRow("euc-jp, three-byte characters too")
        << QByteArray("EUC-JP") << kana + QStringLiteral("丂");
    // Half-width katakana have no place in ISO-2022-JP.
    QTest::newRow("iso-2022-jp, escapes cut too")
        << QByteArray("ISO-2022-JP") << QStringLiteral("AT漢字\r\n表x");
}

// Every split point of a line decodes to the same text as the whole line,
// and its bytes are what the set's encoder gives.
void tst_codepage::splitCharacterArrivesWhole() {
    QFETCH(QByteArray, codePage);
    QFETCH(QString, text);
    const QByteArray bytes = encodeText(text, codePage);
    QCOMPARE(decodeText(bytes, codePage), text);
    for (int cut = 0; cut <= bytes.size(); ++cut) {
        StreamDecoder decoder(codePage);
        QString decoded = decoder.decode(bytes.left(cut));
        decoded += decoder.decode(bytes.mid(cut));
        QCOMPARE(decoded, text);
        QVERIFY(decoder.flush().isEmpty());
    }
}

void tst_codepage::invalidBytesShowAsReplacement_data() {
    QTest::addColumn<QByteArray>("codePage");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("logged"); // the text encoded again, as the capture log gets it
    QTest::newRow("shift-jis: bad second byte, lone trail byte") << QByteArray("windows-31j")
                                                                 << QByteArray("a\x81\x20"
                                                                               "b\xa0"
                                                                               "c")
                                                                 << "a\uFFFD b\uFFFDc"
                                                                 << QByteArray("a\x81\xac b\x81\xac"
                                                                               "c");
    QTest::newRow("euc-jp: bad second byte, stray byte") << QByteArray("EUC-JP")
                                                         << QByteArray("a\xa4\x41"
                                                                       "b\xff"
                                                                       "c")
                                                         << "a\uFFFDAb\uFFFDc"
                                                         << QByteArray("a\xa2\xae"
                                                                       "Ab\xa2\xae"
                                                                       "c");
    QTest::newRow("iso-2022-jp: not a kanji in kanji mode")
        << QByteArray("ISO-2022-JP") << QByteArray("\x1b$B\x21\x7f\x1b(Bz") << "\uFFFDz"
        << QByteArray("\x1b$B\x22\x2e\x1b(Bz");
    QTest::newRow("iso-2022-jp: terminal sequences handed on in kanji mode")
        << QByteArray("ISO-2022-JP")
        << QByteArray("\x1b$B\x34\x41\x1b[31m\x3b\x7a\x1b(B\x1b"
                      "7z")
        << "\u6f22\x1b[31m\u5b57\x1b"
           "7z"
        << QByteArray("\x1b$B\x34\x41\x1b(B\x1b[31m\x1b$B\x3b\x7a\x1b(B\x1b"
                      "7z");
    QTest::newRow("utf-8: cut sequence, stray byte") << QByteArray("UTF-8")
                                                     << QByteArray("a\xc3(\xff"
                                                                   "b")
                                                     << "a\uFFFD(\uFFFDb"
                                                     << QByteArray("a\xef\xbf\xbd(\xef\xbf\xbd"
                                                                   "b");
    QTest::newRow("a real SUB byte stays one")
        << QByteArray("EUC-JP") << QByteArray("\x1a") << "\x1a" << QByteArray("\x1a");
}

// Bytes not valid in the set are shown, never dropped; split anywhere, the
// same text comes out. Written back, a replacement is a mark the set has.
void tst_codepage::invalidBytesShowAsReplacement() {
    QFETCH(QByteArray, codePage);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QFETCH(QByteArray, logged);
    for (int cut = 0; cut <= bytes.size(); ++cut) {
        StreamDecoder decoder(codePage);
        QString decoded = decoder.decode(bytes.left(cut));
        decoded += decoder.decode(bytes.mid(cut));
        decoded += decoder.flush();
        QCOMPARE(decoded, expected);
    }
    QCOMPARE(encodeText(expected, codePage), logged);
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
