#include "terminal/ShutdownWait.h"

#include "platform/Clock.h"
#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "serial/ISerialCtl.h"

#include <cmath>

qint64 shutdownDeadlineSeconds(qint64 nowMs) {
    return std::llround(double(nowMs) / 1000.0 + 10.0);
}

static bool outputPending(const ISerialCtl& serial) {
    try {
        return serial.OutBufferCount() != 0;
    } catch (const Failure&) {
        return false;
    }
}

DrainOutcome waitForOutputToDrain(ISerialCtl& serial, Prompts& prompts, const Clock& clock,
                                  const std::function<void()>& letEventsRun) {
    qint64 deadline = shutdownDeadlineSeconds(clock.nowMs());
    while (outputPending(serial)) {
        letEventsRun();
        if (clock.nowMs() <= deadline * 1000)
            continue;
        const int answer = prompts.messageBox(QStringLiteral("ﾃﾞｰﾀが送信できません。"), appTitle(),
                                              MsgButtons::AbortRetryIgnore, MsgIcon::Question);
        if (answer == AnswerAbort)
            return DrainOutcome::Abort;
        if (answer == AnswerIgnore)
            return DrainOutcome::Ignore;
        deadline = shutdownDeadlineSeconds(clock.nowMs());
    }
    return DrainOutcome::Drained;
}
