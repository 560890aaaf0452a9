#include "linecmds/LineCommands.h"
#include "platform/Failure.h"

#include "ScriptedPrompts.h"
#include "TestSerial.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

struct Command {
    NumericParameter parameter;
    QString name, prompt;
};

const QList<Command> kCommands = {
    {NumericParameter::InputLen, QStringLiteral("InputLen"),
     QStringLiteral("InputLen のﾊﾞｲﾄ数を入力してください :")},
    {NumericParameter::RThreshold, QStringLiteral("RThreshold"),
     QStringLiteral("RThreshold を入力してください :")},
    {NumericParameter::SThreshold, QStringLiteral("SThreshold"),
     QStringLiteral("SThreshold を入力してください。")},
};

qint16 valueOf(const TestSerial& serial, NumericParameter parameter) {
    switch (parameter) {
    case NumericParameter::InputLen:
        return serial.InputLen();
    case NumericParameter::RThreshold:
        return serial.RThreshold();
    case NumericParameter::SThreshold:
        return serial.SThreshold();
    }
    return -1;
}

void setValue(TestSerial& serial, NumericParameter parameter, qint16 value) {
    switch (parameter) {
    case NumericParameter::InputLen:
        serial.setInputLen(value);
        break;
    case NumericParameter::RThreshold:
        serial.setRThreshold(value);
        break;
    case NumericParameter::SThreshold:
        serial.setSThreshold(value);
        break;
    }
    serial.calls.clear();
}

QString warning(const QString& text) {
    return QStringLiteral("msg|Velmora|%1|OK|exclamation|0").arg(text);
}

const QString kParityInput =
    QStringLiteral("input|ParityReplace|ﾊﾟﾘﾃｨ ｴﾗｰ発生時の、置換用の文字を入力してください|");

// The component as it is, except that it refuses every write of one member.
class RefusingSerialCtl : public TestSerial {
public:
    QString refuse;
    void setParityReplace(const QString& value) override {
        if (refuse == QLatin1String("ParityReplace"))
            throw Failure(QStringLiteral("ParityReplace refused"));
        TestSerial::setParityReplace(value);
    }
    void setDTREnable(bool enable) override {
        if (refuse == QLatin1String("DTREnable"))
            throw Failure(QStringLiteral("DTREnable refused"));
        TestSerial::setDTREnable(enable);
    }
};

} // namespace

class tst_linecommands : public QObject {
    Q_OBJECT
private slots:
    void numericCommand_data();
    void numericCommand();
    void parityReplace_data();
    void parityReplace();
    void dtrSwitchTwiceReturns();
    void dtrSwitchReportsRefusal_data();
    void dtrSwitchReportsRefusal();
    void lineStateQuery_data();
    void lineStateQuery();
};

// In `log`, %T is the title, %P the prompt, %N the property's name.
void tst_linecommands::numericCommand_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("before");
    QTest::addColumn<std::optional<QString>>("reply");
    QTest::addColumn<bool>("readFails");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<int>("after");

    const QString input = QStringLiteral("input|%T|%P|");
    const QString overflow = warning(QStringLiteral("オーバーフローしました。"));
    for (int c = 0; c < kCommands.size(); ++c) {
        const auto row = [&](const char* behaviour) {
            return &QTest::newRow(qPrintable(kCommands[c].name + ": " + behaviour));
        };
        *row("OK unchanged rewrites 0 silently")
            << c << 0 << std::optional<QString>(" 0") << false << QStringList{input + " 0"}
            << QStringList{"%N=0"} << 0;
        *row("new value written") << c << 0 << std::optional<QString>("12abc") << false
                                  << QStringList{input + " 0"} << QStringList{"%N=12"} << 12;
        *row("no number writes 0 silently")
            << c << 5 << std::optional<QString>("abc") << false << QStringList{input + " 5"}
            << QStringList{"%N=0"} << 0;
        *row("half rounds to even") << c << 5 << std::optional<QString>("2.5") << false
                                    << QStringList{input + " 5"} << QStringList{"%N=2"} << 2;
        *row("overflow shown, value kept")
            << c << 5 << std::optional<QString>("32767.5") << false
            << QStringList{input + " 5", overflow} << QStringList() << 5;
        *row("negative refused by the component, value kept")
            << c << 5 << std::optional<QString>("-3") << false
            << QStringList{input + " 5", warning("%N に負の値 (-3) は設定できません。")}
            << QStringList{"%N=-3"} << 5;
        *row("Cancel does nothing") << c << 5 << std::optional<QString>() << false
                                    << QStringList{input + " 5"} << QStringList() << 5;
        *row("emptied field does nothing") << c << 5 << std::optional<QString>("") << false
                                           << QStringList{input + " 5"} << QStringList() << 5;
        *row("failed read: warning, no input box")
            << c << 5 << std::optional<QString>("7") << true << QStringList{warning("%N failed")}
            << QStringList() << 5;
    }
}

void tst_linecommands::numericCommand() {
    QFETCH(int, command);
    QFETCH(int, before);
    QFETCH(std::optional<QString>, reply);
    QFETCH(bool, readFails);
    QFETCH(QStringList, log);
    QFETCH(QStringList, writes);
    QFETCH(int, after);
    const Command& cmd = kCommands[command];
    const auto expand = [&](QStringList lines) {
        for (QString& line : lines)
            line.replace("%T", cmd.name).replace("%P", cmd.prompt).replace("%N", cmd.name);
        return lines;
    };

    TestSerial serial;
    setValue(serial, cmd.parameter, qint16(before));
    ScriptedPrompts prompts;
    prompts.inputAnswers << reply;
    if (readFails)
        serial.failOn << cmd.name;

    numericParameterCommand(cmd.parameter, serial, prompts);
    QCOMPARE(prompts.log, expand(log));
    QCOMPARE(serial.calls, expand(writes));
    QCOMPARE(int(valueOf(serial, cmd.parameter)), after);
}

void tst_linecommands::parityReplace_data() {
    QTest::addColumn<std::optional<QString>>("reply");
    QTest::addColumn<QString>("refuse");
    QTest::addColumn<bool>("readFails");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("after");

    const QStringList offered{kParityInput + "?"};
    QTest::newRow("OK unchanged rewrites ? silently")
        << std::optional<QString>("?") << QString() << false << offered
        << QStringList{"ParityReplace=?"} << "?";
    QTest::newRow("first character written") << std::optional<QString>("AB") << QString() << false
                                             << offered << QStringList{"ParityReplace=A"} << "A";
    QTest::newRow("Cancel changes nothing")
        << std::optional<QString>() << QString() << false << offered << QStringList() << "?";
    QTest::newRow("emptied field clears it") << std::optional<QString>("") << QString() << false
                                             << offered << QStringList{"ParityReplace="} << "";
    QTest::newRow("character outside the basic plane kept whole")
        << std::optional<QString>(QStringLiteral("\U0001F600x")) << QString() << false << offered
        << QStringList{QStringLiteral("ParityReplace=\U0001F600")} << QString();
    QTest::newRow("refused write shown, value kept")
        << std::optional<QString>("A") << "ParityReplace" << false
        << QStringList{offered.first(), warning("ParityReplace refused")} << QStringList() << "?";
    QTest::newRow("failed read: warning, no input box")
        << std::optional<QString>("A") << QString() << true
        << QStringList{warning("ParityReplace failed")} << QStringList() << "?";
}

void tst_linecommands::parityReplace() {
    QFETCH(std::optional<QString>, reply);
    QFETCH(QString, refuse);
    QFETCH(bool, readFails);
    QFETCH(QStringList, log);
    QFETCH(QStringList, writes);
    QFETCH(QString, after);

    RefusingSerialCtl serial;
    serial.refuse = refuse;
    if (readFails)
        serial.failOn << QStringLiteral("ParityReplace");
    ScriptedPrompts prompts;
    prompts.inputAnswers << reply;

    parityReplaceCommand(serial, prompts);
    QCOMPARE(prompts.log, log);
    QCOMPARE(serial.calls, writes);
    if (!after.isNull())
        QCOMPARE(serial.ParityReplace(), after);
}

void tst_linecommands::dtrSwitchTwiceReturns() {
    for (const bool open : {false, true}) {
        TestSerial serial;
        if (open)
            serial.setPortOpen(true);
        serial.calls.clear();
        const bool first = serial.DTREnable();

        const bool checkAfterOne = dtrSwitchCommand(serial);
        QCOMPARE(checkAfterOne, !first);
        QCOMPARE(serial.DTREnable(), !first);
        const bool checkAfterTwo = dtrSwitchCommand(serial);
        QCOMPARE(checkAfterTwo, first);
        QCOMPARE(serial.DTREnable(), first);
        QCOMPARE(serial.calls,
                 QStringList({QStringLiteral("DTREnable=%1").arg(first ? "False" : "True"),
                              QStringLiteral("DTREnable=%1").arg(first ? "True" : "False")}));

        ScriptedPrompts prompts;
        QCOMPARE(dtrSwitchCommand(serial, prompts, checkAfterTwo), !first);
        QCOMPARE(prompts.messageCount(), 0);
    }
}

void tst_linecommands::dtrSwitchReportsRefusal_data() {
    QTest::addColumn<bool>("readFails");
    QTest::addColumn<QString>("message");
    QTest::newRow("refused write") << false << "DTREnable refused";
    QTest::newRow("failed read") << true << "DTREnable failed";
}

void tst_linecommands::dtrSwitchReportsRefusal() {
    QFETCH(bool, readFails);
    QFETCH(QString, message);
    RefusingSerialCtl serial;
    const bool before = serial.DTREnable();
    if (readFails)
        serial.failOn << QStringLiteral("DTREnable");
    else
        serial.refuse = QStringLiteral("DTREnable");
    ScriptedPrompts prompts;

    QCOMPARE(dtrSwitchCommand(serial, prompts, before), before);
    QCOMPARE(prompts.log, QStringList{warning(message)});
    QCOMPARE(serial.DTREnable(), before);
    QVERIFY_THROWS_EXCEPTION(Failure, [&] {
        serial.refuse = QStringLiteral("DTREnable");
        dtrSwitchCommand(serial);
    }());
}

void tst_linecommands::lineStateQuery_data() {
    QTest::addColumn<bool>("cts");
    QTest::addColumn<bool>("asserted");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("shown");
    const QString box = QStringLiteral("msg|Velmora|%1|OK|none|0");
    QTest::newRow("CTS asserted") << true << true << true << box.arg("CTSHolding = True");
    QTest::newRow("CTS not asserted") << true << false << true << box.arg("CTSHolding = False");
    QTest::newRow("DSR asserted") << false << true << true << box.arg("DSRHolding = True");
    QTest::newRow("DSR not asserted") << false << false << true << box.arg("DSRHolding = False");
    QTest::newRow("closed port asserts nothing")
        << true << true << false << box.arg("CTSHolding = False");
}

void tst_linecommands::lineStateQuery() {
    QFETCH(bool, cts);
    QFETCH(bool, asserted);
    QFETCH(bool, open);
    QFETCH(QString, shown);
    TestSerial serial;
    serial.line.hasModemLines = true;
    serial.line.lines = !asserted ? 0 : cts ? LineCTS : LineDSR;
    if (open)
        serial.setPortOpen(true);
    ScriptedPrompts prompts;

    ::lineStateQuery(cts, serial, prompts);
    QCOMPARE(prompts.log, QStringList{shown});

    prompts.clear();
    serial.failOn << (cts ? QStringLiteral("CTSHolding") : QStringLiteral("DSRHolding"));
    ::lineStateQuery(cts, serial, prompts);
    QCOMPARE(prompts.log, QStringList{warning(cts ? QStringLiteral("CTSHolding failed")
                                                  : QStringLiteral("DSRHolding failed"))});
}

QTEST_GUILESS_MAIN(tst_linecommands)
#include "tst_linecommands.moc"
