#pragma once

#include <QByteArray>
#include <QVector>

// Undoes PARMRK marking: FF FF is a data FF, FF 00 00 a break, FF 00 x a
// byte received with a parity or framing error. A read can end inside a
// mark, so the state carries over to the next chunk.
class ParmrkDecoder {
public:
    enum class Mark { Break, BadByte };

    // Appends the data bytes of `chunk` to `out`; a bad byte becomes
    // `replacement`, or stays as received when that is empty. Returns the
    // marks in order.
    QVector<Mark> feed(const char* chunk, long size, const QByteArray& replacement,
                       QByteArray& out);
    void reset() { m_state = State::Data; }

private:
    enum class State { Data, AfterFF, AfterFF00 };
    State m_state = State::Data;
};
