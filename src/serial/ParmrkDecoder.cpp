#include "serial/ParmrkDecoder.h"

QVector<ParmrkDecoder::Mark> ParmrkDecoder::feed(const char* chunk, long size,
                                                 const QByteArray& replacement, QByteArray& out) {
    QVector<Mark> marks;
    for (long i = 0; i < size; ++i) {
        const char byte = chunk[i];
        switch (m_state) {
        case State::Data:
            if (byte == '\xff')
                m_state = State::AfterFF;
            else
                out.append(byte);
            break;
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
                out.append(replacement);
                marks.append(Mark::BadByte);
            }
            m_state = State::Data;
            break;
        }
    }
    return marks;
}
