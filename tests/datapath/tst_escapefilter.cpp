#include "datapath/EscapeFilter.h"

#include <QtTest>

namespace {

// "\e" in a row stands for ESC.
QString esc(const char* text) {
    return QString::fromUtf8(text).replace(QStringLiteral("\\e"), QChar(27));
}

// Styled stretches as {foreground/background b:text}; plain text as it is.
QString render(const StyledText& styled) {
    if (styled.runs.isEmpty())
        return styled.text;
    QString shown;
    qsizetype at = 0;
    for (const StyleRun& run : styled.runs) {
        const QString text = styled.text.mid(at, run.length);
        at += run.length;
        if (run.style.isPlain()) {
            shown += text;
            continue;
        }
        shown += QLatin1Char('{');
        if (run.style.foreground >= 0)
            shown += QString::number(run.style.foreground);
        if (run.style.background >= 0)
            shown += QLatin1Char('/') + QString::number(run.style.background);
        if (run.style.bold)
            shown += QLatin1Char('b');
        shown += QLatin1Char(':') + text + QLatin1Char('}');
    }
    return at == styled.text.size() ? shown : QStringLiteral("runs do not cover the text");
}

// The input cut at the given positions, then the held rest flushed.
QString filtered(const QString& input, const QList<qsizetype>& cuts) {
    EscapeFilter filter;
    StyledText all;
    qsizetype from = 0;
    for (const qsizetype cut : cuts) {
        appendStyled(all, filter.filter(input.mid(from, cut - from)));
        from = cut;
    }
    appendStyled(all, filter.filter(input.mid(from)));
    appendStyled(all, filter.flush());
    return render(all);
}

} // namespace

class tst_escapefilter : public QObject {
    Q_OBJECT
private slots:
    void filters_data();
    void filters();
};

void tst_escapefilter::filters_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    const QString longParams = QStringLiteral("0;").repeated(30);
    const struct {
        const char* name;
        QString input;
        QString expected;
    } rows[] = {
        {"board prompt", esc("\\e[1;32mroot@board\\e[0m:~# ls"), "{2b:root@board}:~# ls"},
        {"ls colours", esc("\\e[01;34mbin\\e[0m  etc"), "{4b:bin}  etc"},
        {"bright foreground", esc("\\e[91mA\\e[97mB"), "{9:A}{15:B}"},
        {"backgrounds", esc("\\e[44mA\\e[103mB\\e[49mC"), "{/4:A}{/11:B}C"},
        {"39 keeps bold and background", esc("\\e[1;31;42mA\\e[39mB\\e[0mC"), "{1/2b:A}{/2b:B}C"},
        {"empty SGR resets", esc("\\e[31mA\\e[mB\\e[;1mC"), "{1:A}B{b:C}"},
        {"other SGR ignored", esc("\\e[4;31;5;7mA\\e[22mB"), "{1:AB}"},
        {"private marker is no SGR", esc("\\e[>4;2mA"), "A"},
        {"256 colours, low entry", esc("\\e[38;5;2mA"), "{2:A}"},
        {"256 colours, cube", esc("\\e[38;5;196mA\\e[38;5;21mB"), "{9:A}{4:B}"},
        {"256 colours, grey ramp", esc("\\e[48;5;244mA\\e[48;5;232mB"), "{/8:A}{/0:B}"},
        {"true colour", esc("\\e[38;2;0;200;0mA\\e[48;2;250;250;250mB"), "{2:A}{2/15:B}"},
        {"colon forms", esc("\\e[38:2::0:0:238mA\\e[38:2:255:0:255mB\\e[38:5:3mC"),
         "{4:A}{13:B}{3:C}"},
        {"incomplete colour ignored", esc("\\e[38;5mA\\e[38;2;0;0m\\e[32mB"), "A{2:B}"},
        {"out of range colour ignored", esc("\\e[38;5;256;32mA\\e[38;2;300;0;0mB"), "{2:AB}"},
        {"cursor and erase dropped", esc("a\\e[2J\\e[1;1Hb\\e[?25lc\\e[Kd"), "abcd"},
        {"CSI with intermediate is no SGR", esc("\\e[31 mA\\e[0 qB"), "AB"},
        {"OSC ended by BEL", esc("a\\e]0;root@board: ~\ab"), "ab"},
        {"OSC ended by ESC backslash", esc("a\\e]0;title\\e\\b"), "ab"},
        {"two-byte and charset sequences", esc("a\\e7b\\e8c\\e=d\\e(Be\\e%Gf"), "abcdef"},
        {"colour goes on across lines", esc("\\e[32mA\r\nB\\e[0m\r\n"), "{2:A\r\nB}\r\n"},
        {"next to multi-byte characters", esc("日本\\e[31m語\\e[0m😀ｱ\\e[33m😀"),
         "日本{1:語}😀ｱ{3:😀}"},
        {"sequence of 64 characters", esc("\\e[") + longParams + esc("1mA"), "{b:A}"},
        {"sequence of 65 characters given up", esc("\\e[") + longParams + esc("31mA"),
         "␛[" + longParams + "31mA"},
        {"long OSC skipped to its BEL", esc("a\\e]0;") + QString(200, u'x') + esc("\a\\e[32mB"),
         "a{2:B}"},
        {"DCS, SOS, PM, APC skipped to ST; code past 65535 no colour",
         esc("\\eP") + QString(100, u'\a') + esc("\\e\\A\\eXx\\e\\\\e^x\\e\\\\e_x\\e\\\\e[65566mB"),
         "AB"},
        {"held at the end is shown", esc("ab\\e[3"), "ab␛[3"},
        {"control character breaks a sequence", esc("\\e[1\rA"), "␛[1\rA"},
        {"ESC restarts a sequence", esc("\\e\\e[31mA"), "␛{1:A}"},
        {"ESC in OSC starts the next", esc("\\e]0;t\\e[32mA"), "␛]0;t{2:A}"},
        {"shown text keeps its colour", esc("\\e[34m\\e[1\x01"), "{4:␛[1\x01}"},
        {"no sequences", esc("plain\r\ntext"), "plain\r\ntext"},
    };
    for (const auto& row : rows)
        QTest::newRow(row.name) << row.input << row.expected;
}

// Cut anywhere, and one character at a time, the result is the same as whole.
void tst_escapefilter::filters() {
    QFETCH(QString, input);
    QFETCH(QString, expected);

    QCOMPARE(filtered(input, {}), expected);
    QList<qsizetype> everyUnit;
    for (qsizetype cut = 1; cut < input.size(); ++cut) {
        QCOMPARE(filtered(input, {cut}), expected);
        everyUnit.append(cut);
    }
    QCOMPARE(filtered(input, everyUnit), expected);
}

QTEST_APPLESS_MAIN(tst_escapefilter)
#include "tst_escapefilter.moc"
