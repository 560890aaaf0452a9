#pragma once

#include <QByteArray>
#include <QString>

class SettingsStore;

// How file, hex and paste sends are spread out in time. All zero sends as
// fast as the line takes the bytes; typing never waits.
struct Pacing {
    int charDelayMs = 0; // after every byte, 0..1000
    int lineDelayMs = 0; // after every line end, 0..10000
    bool waitEcho = false;
    int echoTimeoutMs = 0; // longest wait for a line end's echo, 0..10000

    static constexpr int maxCharDelayMs = 1000;
    static constexpr int maxLineDelayMs = 10000;
    static constexpr int maxEchoTimeoutMs = 10000;

    bool paced() const { return charDelayMs > 0 || lineDelayMs > 0 || echoWaits(); }
    bool echoWaits() const { return waitEcho && echoTimeoutMs > 0; }
    bool operator==(const Pacing& other) const {
        return charDelayMs == other.charDelayMs && lineDelayMs == other.lineDelayMs &&
               waitEcho == other.waitEcho && echoTimeoutMs == other.echoTimeoutMs;
    }
    // Values out of range are brought into it.
    Pacing clamped() const;
};

// Stored in the settings file beside the port properties; a missing or
// unreadable value reads as 0 (off).
Pacing loadPacing(SettingsStore& store);
// False with the store's description when a value did not reach it.
bool savePacing(SettingsStore& store, const Pacing& pacing, QString* error);

// A line ends at LF, or at a CR that no LF follows (also a CR that ends the data).
bool isLineEnd(const QByteArray& data, qsizetype index);

// The next piece of data to write from `pos`, and what to wait for after it.
struct SendStep {
    qsizetype length = 0;
    int delayMs = 0;        // after the piece has left
    bool awaitEcho = false; // the piece ends a line: wait for its last byte to come back
    bool paced() const { return delayMs > 0 || awaitEcho; }
};

// Pieces are at most `maxChunk` bytes (at least 1). A piece never crosses a
// line end when lines are paced, and is one byte when characters are.
SendStep planStep(const QByteArray& data, qsizetype pos, const Pacing& pacing, qsizetype maxChunk);
