#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// A monotonic clock in milliseconds: midnight and changes of the wall clock
// do not move it. Tests drive a manual one.
class Clock {
public:
    virtual ~Clock() = default;
    virtual qint64 nowMs() const = 0;
};

class SystemClock : public Clock {
public:
    SystemClock() { m_timer.start(); }
    qint64 nowMs() const override { return m_timer.elapsed(); }

private:
    QElapsedTimer m_timer;
};

class ManualClock : public Clock {
public:
    qint64 nowMs() const override { return now; }
    void advance(qint64 ms) { now += ms; }
    qint64 now = 0;
};
