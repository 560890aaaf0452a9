#include "RecordingHost.h"
#include "TestSerial.h"
#include "datapath/DataPath.h"
#include "datapath/ReceiveConsumer.h"
#include "screen/TerminalView.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <QtTest>

namespace {

// txtTerm wired to the key handler as the window wires it.
struct Keyboard {
    explicit Keyboard(bool echo, bool open = true) {
        session.LocalEcho = echo;
        session.LineStarted = true;
        if (open)
            serial.setPortOpen(true);
        term.keyPressHandler = [this](int& keyCode) {
            ++offered;
            session.keyPress(keyCode, serial);
        };
    }
    void received(const QString& text) { session.append(text); }

    TestSerial serial;
    TerminalView term;
    RecordingHost host;
    TerminalSession session{term, host, "UTF-8"};
    int offered = 0;
};

} // namespace

class tst_keypress : public QObject {
    Q_OBJECT
private slots:
    void echoOffSendsWholeLines();
    void echoOnOpensEachLaterLine();
    void backspaceIsNeverSent();
    void lineSurvivesReopen();
    void closedPortIsOrdinaryEditing();
    void keysWaitOutATransfer();
    void upperCase_data();
    void upperCase();
    void refusedWriteKeepsTheLine();
    void inputMethodAndPasteAreTyped();
    void navigationIsNotTyping();
    void controlKeys_data();
    void controlKeys();
};

void tst_keypress::echoOffSendsWholeLines() {
    Keyboard kb(false);
    kb.received(QStringLiteral("hello"));
    kb.term.setSelStart(1);
    QTest::keyClicks(&kb.term, QStringLiteral("at"));
    QCOMPARE(kb.term.SelStart(), 5);
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QTest::keyClick(&kb.term, Qt::Key_Enter);
    QCOMPARE(kb.serial.written, (QStringList{"AT\r", "\r"}));
    QCOMPARE(kb.term.Text(), QStringLiteral("hello"));
    QVERIFY(kb.session.LineBuffer.isEmpty());
    QVERIFY(kb.host.log == "hello");
}

// The first line after start is not opened; each later one is, once, and
// only that opening break reaches the log.
void tst_keypress::echoOnOpensEachLaterLine() {
    Keyboard kb(true);
    QTest::keyClicks(&kb.term, QStringLiteral("ab"));
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QTest::keyClicks(&kb.term, QStringLiteral("cd"));
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QCOMPARE(kb.term.Text(), QStringLiteral("AB\r\n\r\nCD\r\n"));
    QCOMPARE(kb.serial.written, (QStringList{"AB\r", "CD\r"}));
    QCOMPARE(kb.host.log, QByteArray("\r\n"));
}

void tst_keypress::backspaceIsNeverSent() {
    Keyboard kb(true);
    kb.received(QStringLiteral("xyz"));
    // An empty line: the control still erases received text.
    QTest::keyClick(&kb.term, Qt::Key_Backspace);
    QCOMPARE(kb.term.Text(), QStringLiteral("xy"));
    QVERIFY(kb.session.LineBuffer.isEmpty());

    QTest::keyClicks(&kb.term, QStringLiteral("abx"));
    QTest::keyClick(&kb.term, Qt::Key_Backspace);
    QTest::keyClicks(&kb.term, QStringLiteral("c"));
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QCOMPARE(kb.serial.written, QStringList{"ABC\r"});
    QCOMPARE(kb.term.Text(), QStringLiteral("xyABC\r\n"));
}

void tst_keypress::lineSurvivesReopen() {
    Keyboard kb(false);
    QTest::keyClicks(&kb.term, QStringLiteral("ab"));
    kb.serial.setPortOpen(false);
    kb.serial.setPortOpen(true);
    QTest::keyClicks(&kb.term, QStringLiteral("c"));
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QCOMPARE(kb.serial.written, QStringList{"ABC\r"});
}

void tst_keypress::closedPortIsOrdinaryEditing() {
    Keyboard kb(false, false);
    kb.session.LineBuffer = QStringLiteral("OLD");
    QTest::keyClicks(&kb.term, QStringLiteral("ab"));
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QTest::keyClicks(&kb.term, QStringLiteral("c"));
    QTest::keyClick(&kb.term, Qt::Key_Backspace);
    QCOMPARE(kb.term.Text(), QStringLiteral("AB\r\n"));
    QVERIFY(kb.serial.written.isEmpty());
    QCOMPARE(kb.session.LineBuffer, QStringLiteral("OLD"));
    QVERIFY(kb.host.log.isEmpty());
}

// Text pasted or committed by the input method while a transfer holds the
// line (keys are held back by the window) would land in the
// middle of its protocol: it is dropped, not sent later.
void tst_keypress::keysWaitOutATransfer() {
    Keyboard kb(true);
    ReceiveTakeover transfer;
    kb.session.setTakeover(&transfer);
    QTest::keyClicks(&kb.term, QStringLiteral("ab"));
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QVERIFY(kb.serial.written.isEmpty());
    QVERIFY(kb.term.Text().isEmpty());
    kb.session.setTakeover(nullptr);
    QTest::keyClicks(&kb.term, QStringLiteral("c"));
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QCOMPARE(kb.serial.written, QStringList{"C\r"});
}

void tst_keypress::upperCase_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("expected");
    QTest::newRow("latin letter") << int(u'a') << int(u'A');
    QTest::newRow("upper stays") << int(u'Q') << int(u'Q');
    QTest::newRow("digit") << int(u'1') << int(u'1');
    QTest::newRow("umlaut") << int(u'ä') << int(u'Ä');
    QTest::newRow("full-width letter") << 0xFF41 << 0xFF21;
    QTest::newRow("hiragana") << int(u'あ') << int(u'あ');
    QTest::newRow("sharp s has no single upper case") << int(u'ß') << int(u'ß');
    QTest::newRow("outside the basic plane") << 0x10428 << 0x10400;
    QTest::newRow("enter") << 13 << 13;
    QTest::newRow("backspace") << 8 << 8;
}

void tst_keypress::upperCase() {
    QFETCH(int, key);
    QFETCH(int, expected);
    Keyboard kb(true, false);
    kb.session.keyPress(key, kb.serial);
    QCOMPARE(key, expected);
}

// A write the component refuses is said; the line stays typed, still open on
// screen, and the next Enter sends it.
void tst_keypress::refusedWriteKeepsTheLine() {
    Keyboard kb(true);
    QTest::keyClicks(&kb.term, QStringLiteral("ab"));
    kb.serial.failOn << QStringLiteral("Output");
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QCOMPARE(kb.host.scripted.log,
             QStringList{QStringLiteral("msg|Velmora|Output failed|OK|exclamation|0")});
    QVERIFY(kb.serial.written.isEmpty());
    QCOMPARE(kb.session.LineBuffer, QStringLiteral("AB"));
    QCOMPARE(kb.term.Text(), QStringLiteral("AB"));

    QTest::keyClick(&kb.term, Qt::Key_Return);
    QCOMPARE(kb.serial.written, QStringList{"AB\r"});
    QCOMPARE(kb.term.Text(), QStringLiteral("AB\r\n"));
}

// Input method commits and pastes go through the handler character by
// character; a pasted line break is an Enter.
void tst_keypress::inputMethodAndPasteAreTyped() {
    Keyboard kb(false);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("あa"));
    QCoreApplication::sendEvent(&kb.term, &commit);
    QCOMPARE(kb.session.LineBuffer, QStringLiteral("あA"));

    QGuiApplication::clipboard()->setText(QStringLiteral("b\r\nc\nd"));
    if (QGuiApplication::clipboard()->text() != QStringLiteral("b\r\nc\nd"))
        QSKIP("no clipboard on this platform");
    kb.term.paste();
    QCOMPARE(kb.serial.written, (QStringList{QStringLiteral("あAB\r"), "C\r"}));
    QCOMPARE(kb.session.LineBuffer, QStringLiteral("D"));
    QCOMPARE(kb.term.Text(), QString());
}

void tst_keypress::navigationIsNotTyping() {
    Keyboard kb(true);
    kb.received(QStringLiteral("abc\r\ndef"));
    for (const int key : {Qt::Key_Left, Qt::Key_Home, Qt::Key_Up, Qt::Key_End, Qt::Key_PageUp})
        QTest::keyClick(&kb.term, Qt::Key(key));
    QTest::keyClick(&kb.term, Qt::Key_Left, Qt::ShiftModifier);
    kb.term.selectAll(); // from the context menu
    QTest::keyClick(&kb.term, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(kb.offered, 0);
    QCOMPARE(kb.term.selectedText(), QStringLiteral("abc\ndef"));
    QCOMPARE(kb.term.Text(), QStringLiteral("abc\r\ndef"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("abc\ndef"));
}

void tst_keypress::controlKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("sent"); // Enter follows the key
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("Ctrl+A is SOH") << int(Qt::Key_A) << ctrl << "\x01\r";
    QTest::newRow("Ctrl+C is ETX") << int(Qt::Key_C) << ctrl << "\x03\r";
    QTest::newRow("Ctrl+K is VT") << int(Qt::Key_K) << ctrl << "\x0b\r";
    QTest::newRow("Ctrl+U is NAK") << int(Qt::Key_U) << ctrl << "\x15\r";
    QTest::newRow("Ctrl+V is SYN") << int(Qt::Key_V) << ctrl << "\x16\r";
    QTest::newRow("Ctrl+X is CAN") << int(Qt::Key_X) << ctrl << "\x18\r";
    QTest::newRow("Ctrl+Y is EM") << int(Qt::Key_Y) << ctrl << "\x19\r";
    QTest::newRow("Ctrl+Z is SUB") << int(Qt::Key_Z) << ctrl << "\x1a\r";
    QTest::newRow("Ctrl+[ is ESC") << int(Qt::Key_BracketLeft) << ctrl << "\x1b\r";
    QTest::newRow("Ctrl+Shift+V pastes")
        << int(Qt::Key_V) << int(ctrl | Qt::ShiftModifier) << "PASTED\r";
    QTest::newRow("Shift+Insert pastes")
        << int(Qt::Key_Insert) << int(Qt::ShiftModifier) << "PASTED\r";
}

// Ctrl+letter is typed as its control code, even where the control would
// edit with it; paste has its terminal keys.
void tst_keypress::controlKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, sent);
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
    if (QGuiApplication::clipboard()->text() != QStringLiteral("pasted"))
        QSKIP("no clipboard on this platform");
    Keyboard kb(false);
    kb.received(QStringLiteral("shown"));
    QTest::keyClick(&kb.term, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTest::keyClick(&kb.term, Qt::Key_Return);
    QCOMPARE(kb.serial.written, QStringList{sent});
    QCOMPARE(kb.term.Text(), QStringLiteral("shown"));
}

QTEST_MAIN(tst_keypress)
#include "tst_keypress.moc"
