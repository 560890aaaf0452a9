#pragma once

#include "serial/ReadTimes.h"

#include <QByteArray>
#include <functional>
#include <mutex>
#include <thread>

class SerialBackend;

// Reads the device on a thread of its own, so the line is drained whatever
// the UI thread is doing (a modal box, a long repaint). What it reads waits
// in a queue of at most `limit` bytes until the owner takes it; when the
// queue is full the thread stops reading and the driver holds the rest back,
// as it would with nobody reading. Nothing read is dropped here.
//
// `ready` runs on the reader thread when there is something to take, at most
// once until the next take(); it must only post to the owner's thread.
class SerialReader {
public:
    struct Batch {
        QByteArray bytes;
        bool more = false;  // bytes are still queued
        bool ended = false; // a hang-up or an error ended reading, and all is taken
        int error = 0;      // errno of that error, 0 for a hang-up
        ReadSpans reads;    // when its bytes were read
    };

    SerialReader(SerialBackend& backend, long limit, std::function<void()> ready);
    ~SerialReader();
    SerialReader(const SerialReader&) = delete;
    SerialReader& operator=(const SerialReader&) = delete;

    // Starts the thread; an errno when it could not (descriptor table full).
    int start();

    // Takes up to `most` bytes from the front of the queue; once reading has
    // ended, everything.
    Batch take(long most);
    // Stops and joins the thread; the queue stays for a last take().
    void stop();

private:
    void run();
    void wake();

    SerialBackend& m_backend;
    const long m_limit;
    std::function<void()> m_ready;
    int m_wake = -1; // eventfd: stop, or room again

    std::mutex m_mutex;
    QByteArray m_queue;
    ReadTimes m_times;
    bool m_paused = false, m_ended = false, m_stop = false, m_notified = false;
    int m_error = 0;
    std::thread m_thread;
};
