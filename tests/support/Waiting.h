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

// Opens the port, waiting for a connection under way; the failure's text,
// or "(opened)".
inline QString openFailure(SerialCtl& serial) {
    QString settled;
    const auto connection =
        QObject::connect(&serial, &ISerialCtl::OpenSettled, [&](const QString& failure) {
            settled = failure.isEmpty() ? QStringLiteral("(opened)") : failure;
        });
    try {
        serial.setPortOpen(true);
        if (!serial.connecting())
            settled = QStringLiteral("(opened)");
        loopUntil([&] { return !settled.isEmpty(); });
    } catch (const Failure& failure) {
        settled = failure.description();
    }
    QObject::disconnect(connection);
    return settled;
}
