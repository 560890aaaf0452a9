// Any byte stream, cut into reads anywhere: no crash, never more bytes out
// than in, and the cuts do not change the result.
#include "serial/ParmrkDecoder.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // The first byte picks the replacement, the second the read size.
    const QByteArray replacement = (data[0] & 1) ? QByteArray("?") : QByteArray();
    const size_t readSize = size_t(data[1] % 7) + 1;
    const char* stream = reinterpret_cast<const char*>(data + 2);
    const long length = long(size - 2);

    ParmrkDecoder whole;
    QByteArray wholeOut;
    const auto wholeMarks = whole.feed(stream, length, replacement, wholeOut);

    ParmrkDecoder cut;
    QByteArray cutOut;
    qsizetype cutMarks = 0;
    for (long offset = 0; offset < length; offset += long(readSize)) {
        const long n = std::min<long>(long(readSize), length - offset);
        cutMarks += cut.feed(stream + offset, n, replacement, cutOut).size();
    }
    if (wholeOut.size() > length || wholeOut != cutOut || wholeMarks.size() != cutMarks)
        std::abort();
    return 0;
}
