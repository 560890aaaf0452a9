#pragma once

#include <QtGlobal>
#include <functional>

class Clock;
class ISerialCtl;
class Prompts;

// Ten seconds from now, rounded to the nearest whole second on the clock.
qint64 shutdownDeadlineSeconds(qint64 nowMs);

enum class DrainOutcome { Drained, Abort, Ignore };

// Waits while the component still holds unsent output, letting pending
// events run between looks. Past each deadline the user chooses: Abort stops
// the shutdown, Retry waits another ten seconds, Ignore gives the output up.
// A component that can no longer report its buffer has nothing left to send.
DrainOutcome waitForOutputToDrain(ISerialCtl& serial, Prompts& prompts, const Clock& clock,
                                  const std::function<void()>& letEventsRun);
