// Any settings text: what parses composes to a text that parses to the same
// value, and a well-formed text in lower case survives parse then compose.
#include "serial/LineSettings.h"
#include "serial/SerialBackend.h"

#include <QRegularExpression>
#include <QString>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<LineSettings> parsed = LineSettings::parse(text);
    static const QRegularExpression wellFormed(QRegularExpression::anchoredPattern(
        QStringLiteral("[0-9]{1,8},[eEoOnNmMsS],[4-8],(1|1\\.5|2)")));
    if (parsed.has_value() != wellFormed.match(text).hasMatch())
        std::abort();
    if (!parsed)
        return 0;
    const QString composed = parsed->compose();
    if (LineSettings::parse(composed) != parsed)
        std::abort();
    if (text == text.toLower() && text.front() != QLatin1Char('0') && composed != text)
        std::abort();
    // With 5 data bits the UART's second stop bit is 1.5 of them, so "2" reads back as "1.5".
    LineConfig config;
    const bool fiveAndTwo = parsed->dataBits == 5 && parsed->stopBits == StopBits::Two;
    if (parsed->toConfig(0, config).isEmpty() && !fiveAndTwo &&
        LineSettings::fromConfig(config) != *parsed)
        std::abort();
    (void)LineSettings::validate(text);
    (void)parsed->describe(0);
    return 0;
}
