#pragma once

#include <QByteArray>
#include <QVector>

// The client side of a telnet connection with the COM-PORT-OPTION (a serial
// port on another machine), without the socket: bytes from the server go in,
// and data bytes, events and the replies the server must get come out. The
// state carries over between chunks, so a command may be cut anywhere.
class TelnetComPort {
public:
    // Telnet bytes and options.
    static constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251,
                                   SB = 250, SE = 240;
    static constexpr unsigned char BINARY = 0, ECHO = 1, SGA = 3, COMPORT = 44;

    // Client commands; the server answers with the code plus 100.
    enum Command : unsigned char {
        Signature = 0,
        SetBaudrate = 1,
        SetDatasize = 2,
        SetParity = 3,
        SetStopsize = 4,
        SetControl = 5,
        NotifyLinestate = 6,
        NotifyModemstate = 7,
        FlowSuspend = 8,
        FlowResume = 9,
        SetLinestateMask = 10,
        SetModemstateMask = 11,
        PurgeData = 12,
    };

    struct Event {
        enum Kind {
            Answer,     // the server's answer to `command`, with its value
            LineState,  // value[0]: the line-state bits
            ModemState, // value[0]: the modem-state bits
            Suspend,    // stop sending data
            Resume,     // data may flow again
            Accepted,   // the server takes the COM-PORT-OPTION
            Refused,    // it does not
        };
        Kind kind;
        int command = 0;
        QByteArray value;
    };

    // What the client says first: both ways binary, and the COM-PORT-OPTION.
    QByteArray greeting();

    // Takes bytes from the server; data bytes are appended to `data`, what
    // must go back to the server to `reply`.
    QVector<Event> feed(const char* bytes, long size, QByteArray& data, QByteArray& reply);

    // Data for the server, each FF doubled.
    static void escape(const char* bytes, long size, QByteArray& out);
    // IAC SB COM-PORT-OPTION command value IAC SE, FF doubled in the value.
    static QByteArray command(int code, const QByteArray& value);
    static QByteArray command(int code, unsigned char value);
    static QByteArray command(int code, quint32 value4);

    // Longest subnegotiation kept; anything longer is cut there.
    static constexpr int subLimit = 64;

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    enum class Side { No, WantYes, Yes };
    static bool weDo(unsigned char option) {
        return option == BINARY || option == SGA || option == COMPORT;
    }
    static bool theyDo(unsigned char option) { return option == BINARY || option == SGA; }
    void negotiate(unsigned char verb, unsigned char option, QByteArray& reply,
                   QVector<Event>& events);
    void subnegotiation(QByteArray& reply, QVector<Event>& events);

    State m_state = State::Data;
    unsigned char m_verb = 0;
    QByteArray m_sub;
    Side m_us[256] = {};
    Side m_them[256] = {};
};
