#include "serial/ParmrkDecoder.h"

#include <cstring>

QVector<ParmrkDecoder::Mark> ParmrkDecoder::feed(const char* chunk, long size,
                                                 const QByteArray& replacement, QByteArray& out) {
    QVector<Mark> marks;
    out.reserve(out.size() + size);
    for (long i = 0; i < size; ++i) {
        const char byte = chunk[i];
        switch (m_state) {
        case State::Data: {
            // Plain data runs up to the next FF; copy it in one go.
            const void* ff = std::memchr(chunk + i, 0xff, size_t(size - i));
            const long end = ff ? long(static_cast<const char*>(ff) - chunk) : size;
            out.append(chunk + i, end - i);
            if (ff)
                m_state = State::AfterFF;
            i = end;
            break;
        }
        case State::AfterFF:
            if (byte == '\xff') {
                out.append(byte);
                m_state = State::Data;
            } else if (byte == '\0') {
                m_state = State::AfterFF00;
            } else {
                // Not a mark the line discipline makes: keep both bytes.
                out.append('\xff');
                out.append(byte);
                m_state = State::Data;
            }
            break;
        case State::AfterFF00:
            if (byte == '\0') {
                marks.append(Mark::Break);
            } else {
                // With no replacement the byte goes through as received.
                if (replacement.isEmpty())
                    out.append(byte);
                else
                    out.append(replacement);
                marks.append(Mark::BadByte);
            }
            m_state = State::Data;
            break;
        }
    }
    return marks;
}
