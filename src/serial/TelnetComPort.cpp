#include "serial/TelnetComPort.h"

#include <cstring>

namespace {

constexpr unsigned char serverOffset = 100;

void add(QByteArray& out, unsigned char a, unsigned char b, unsigned char c) {
    out.append(char(a));
    out.append(char(b));
    out.append(char(c));
}

} // namespace

QByteArray TelnetComPort::greeting() {
    QByteArray out;
    for (const unsigned char option : {BINARY, COMPORT}) {
        m_us[option] = Side::WantYes;
        add(out, IAC, WILL, option);
    }
    m_them[BINARY] = Side::WantYes;
    add(out, IAC, DO, BINARY);
    return out;
}

void TelnetComPort::escape(const char* bytes, long size, QByteArray& out) {
    out.reserve(out.size() + size);
    const char* end = bytes + size;
    while (bytes < end) {
        const char* ff = static_cast<const char*>(std::memchr(bytes, IAC, size_t(end - bytes)));
        if (!ff) {
            out.append(bytes, end - bytes);
            return;
        }
        out.append(bytes, ff - bytes + 1);
        out.append(char(IAC));
        bytes = ff + 1;
    }
}

QByteArray TelnetComPort::command(int code, const QByteArray& value) {
    QByteArray out;
    add(out, IAC, SB, COMPORT);
    out.append(char(code));
    escape(value.constData(), long(value.size()), out);
    out.append(char(IAC));
    out.append(char(SE));
    return out;
}

QByteArray TelnetComPort::command(int code, unsigned char value) {
    return command(code, QByteArray(1, char(value)));
}

QByteArray TelnetComPort::command(int code, quint32 value4) {
    QByteArray value(4, '\0');
    for (int i = 0; i < 4; ++i)
        value[i] = char((value4 >> (24 - 8 * i)) & 0xff);
    return command(code, value);
}

QVector<TelnetComPort::Event> TelnetComPort::feed(const char* bytes, long size, QByteArray& data,
                                                  QByteArray& reply) {
    QVector<Event> events;
    for (long i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        switch (m_state) {
        case State::Data: {
            // Runs without IAC are copied whole.
            const char* from = bytes + i;
            const void* ff = std::memchr(from, IAC, size_t(size - i));
            const long run = ff ? long(static_cast<const char*>(ff) - from) : size - i;
            data.append(from, run);
            i += run;
            if (ff)
                m_state = State::Iac;
            break;
        }
        case State::Iac:
            if (byte == IAC) {
                data.append(char(IAC));
                m_state = State::Data;
            } else if (byte >= WILL) {
                m_verb = byte;
                m_state = State::Option;
            } else if (byte == SB) {
                m_sub.clear();
                m_state = State::Sub;
            } else {
                m_state = State::Data; // NOP, GA, AYT and the like: nothing to do
            }
            break;
        case State::Option:
            negotiate(m_verb, byte, reply, events);
            m_state = State::Data;
            break;
        case State::Sub:
            if (byte == IAC)
                m_state = State::SubIac;
            else if (m_sub.size() < subLimit)
                m_sub.append(char(byte));
            break;
        case State::SubIac:
            if (byte == IAC) {
                if (m_sub.size() < subLimit)
                    m_sub.append(char(IAC));
                m_state = State::Sub;
            } else if (byte == SE) {
                subnegotiation(reply, events);
                m_state = State::Data;
            } else {
                // A subnegotiation left open: drop it and read this command.
                m_sub.clear();
                m_state = State::Iac;
                --i;
            }
            break;
        }
    }
    return events;
}

void TelnetComPort::negotiate(unsigned char verb, unsigned char option, QByteArray& reply,
                              QVector<Event>& events) {
    const bool ours = verb == DO || verb == DONT;
    const bool on = verb == DO || verb == WILL;
    const bool willing = ours ? weDo(option) : theyDo(option);
    const unsigned char yes = ours ? WILL : DO, no = ours ? WONT : DONT;
    Side& side = (ours ? m_us : m_them)[option];
    const Side before = side;
    // Answer only what changes a side's state, so two peers never loop.
    if (on && side != Side::Yes) {
        if (side == Side::No && !willing) {
            add(reply, IAC, no, option);
            return;
        }
        if (side == Side::No)
            add(reply, IAC, yes, option);
        side = Side::Yes;
    } else if (!on && side != Side::No) {
        if (side == Side::Yes)
            add(reply, IAC, no, option);
        side = Side::No;
    }
    if (ours && option == COMPORT && side != before)
        events.append(Event{on ? Event::Accepted : Event::Refused, COMPORT, {}});
}

void TelnetComPort::subnegotiation(QByteArray& reply, QVector<Event>& events) {
    if (m_sub.size() < 2 || static_cast<unsigned char>(m_sub.at(0)) != COMPORT)
        return;
    const int code = static_cast<unsigned char>(m_sub.at(1));
    const QByteArray value = m_sub.mid(2);
    if (code < serverOffset || code > serverOffset + PurgeData)
        return;
    const int command = code - serverOffset;
    switch (command) {
    case Signature:
        if (value.isEmpty())
            reply.append(TelnetComPort::command(Signature, QByteArray("Velmora")));
        return;
    case NotifyLinestate:
    case NotifyModemstate:
        if (value.size() == 1)
            events.append({command == NotifyLinestate ? Event::LineState : Event::ModemState,
                           command, value});
        return;
    case FlowSuspend:
        events.append(Event{Event::Suspend, command, {}});
        return;
    case FlowResume:
        events.append(Event{Event::Resume, command, {}});
        return;
    default:
        events.append({Event::Answer, command, value});
    }
}
