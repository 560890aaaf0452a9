// Any settings text: parse never reads outside it, and a well-formed text
// survives parse then compose unchanged.
#include "settings/PortSettings.h"

#include <QRegularExpression>
#include <QString>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const ParsedSettings parsed = parseSettings(text);
    if (parsed.parity.size() > 1 || parsed.dataBits.size() > 1 || parsed.stopBits.size() > 3 ||
        parsed.speed.size() > text.size())
        std::abort();
    (void)parityPosition(parsed.parity);

    static const QRegularExpression wellFormed(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+,[eonms],[4-8],(1|1\\.5|2)")));
    if (wellFormed.match(text).hasMatch() &&
        composeSettings(parsed.speed, parsed.parity, parsed.dataBits, parsed.stopBits) != text)
        std::abort();
    return 0;
}
