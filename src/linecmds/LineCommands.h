#pragma once

#include <QString>

class ISerialCtl;
class Prompts;

enum class NumericParameter { InputLen, RThreshold, SThreshold };

// mnuInputLen_Click, mnuRThreshold_Click, mnuSThreshold_Click.
void numericParameterCommand(NumericParameter parameter, ISerialCtl& serial, Prompts& prompts);
// mnuParRep_Click. Cancel changes nothing; OK with an emptied field clears it.
void parityReplaceCommand(ISerialCtl& serial, Prompts& prompts);
// mnuDTREnable_Click: switches DTR; returns the value read back for the check
// mark. A refused read or write throws Failure.
bool dtrSwitchCommand(ISerialCtl& serial);
// The same, reporting a refusal in the warning box instead of throwing; then
// returns the value it could read back, or `shownCheck` when none.
bool dtrSwitchCommand(ISerialCtl& serial, Prompts& prompts, bool shownCheck);
// mnuHCTS_Click (cts true) and mnuHDSR_Click. A refused read is shown in the
// warning box.
void lineStateQuery(bool cts, ISerialCtl& serial, Prompts& prompts);
