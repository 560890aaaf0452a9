// Any reply text: no crash, and a 16-bit result is the rounded reading.
#include "linecmds/NumberReading.h"

#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString reply = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const double value = readLeadingNumber(reply);
    const std::optional<qint16> rounded = toInteger16(value);
    if (rounded) {
        if (!(std::fabs(double(*rounded) - value) <= 0.5))
            std::abort();
    } else if (!std::isnan(value) && value > -32768.5 && value < 32767.5) {
        std::abort(); // in range, yet refused
    }
    return 0;
}
