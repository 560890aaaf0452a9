#pragma once

#include <QByteArray>
#include <QString>

// Something that wants what the port receives, in the order it was read:
// the raw log, the screen's line store and the text log, the graph, a running
// script, a file transfer. TerminalSession calls each consumer in the order
// they were added, when a share is taken from the port (before anything is
// drawn), so a consumer reacts at the line's pace, not the screen's. A
// consumer must not block: a slow one degrades itself, never the others.
class ReceiveConsumer {
public:
    virtual ~ReceiveConsumer() = default;

    // Bytes as the port gave them, read at `readMs` (ms since the epoch).
    // Called for every byte received, in hex view and during a takeover too.
    virtual void receivedBytes(const QByteArray& bytes, qint64 readMs) {
        Q_UNUSED(bytes);
        Q_UNUSED(readMs);
    }

    // The same bytes decoded in the chosen character set, escape sequences
    // taken out when they are interpreted, with no stamps and no editing for
    // backspace or line ends: the text a user reads, in hex view too. A
    // character cut between reads comes with the read that completes it.
    // `readMs` is when the read that brought this text was made.
    virtual void receivedText(const QString& text, qint64 readMs) {
        Q_UNUSED(text);
        Q_UNUSED(readMs);
    }

    virtual void portOpened() {}
    virtual void portClosed() {}
};

// A consumer that takes the line over (a file transfer): while it holds it,
// received bytes go to it and to the raw log only; nothing is decoded, shown
// or written to the text log.
class ReceiveTakeover : public ReceiveConsumer {};
