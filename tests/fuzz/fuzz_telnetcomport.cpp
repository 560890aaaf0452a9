// Any bytes from a server, cut into reads anywhere: no crash, never more
// data out than in, and the cuts change neither the data, nor the replies,
// nor the events.
#include "serial/TelnetComPort.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

struct Run {
    QByteArray data, reply;
    QByteArray events; // kind, command and value of each, flattened
};

Run feed(const char* stream, long length, long cut) {
    TelnetComPort codec;
    Run run;
    run.reply = codec.greeting();
    for (long offset = 0; offset < length; offset += cut) {
        const long n = std::min(cut, length - offset);
        for (const TelnetComPort::Event& event :
             codec.feed(stream + offset, n, run.data, run.reply)) {
            if (event.value.size() > TelnetComPort::subLimit)
                std::abort();
            run.events += char(event.kind);
            run.events += char(event.command);
            run.events += event.value;
        }
    }
    return run;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const long cut = long(data[0] % 9) + 1;
    const char* stream = reinterpret_cast<const char*>(data + 1);
    const long length = long(size - 1);
    const Run whole = feed(stream, length, std::max(length, 1L));
    const Run pieces = feed(stream, length, cut);
    if (whole.data.size() > length || whole.data != pieces.data || whole.reply != pieces.reply ||
        whole.events != pieces.events)
        std::abort();
    return 0;
}
