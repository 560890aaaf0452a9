#pragma once

#include "platform/Failure.h"
#include "serial/SerialCtl.h"

#include <QDeadlineTimer>
#include <QTest>

// Runs the event loop until `done` holds or ten seconds have passed.
template <class Done> bool loopUntil(Done done) {
    QDeadlineTimer deadline(10000);
    for (;;) {
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
}

// Opens the port; the failure's text, or "(opened)".
inline QString openFailure(SerialCtl& serial) {
    try {
        serial.setPortOpen(true);
    } catch (const Failure& failure) {
        return failure.description();
    }
    return QStringLiteral("(opened)");
}
