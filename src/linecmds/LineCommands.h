#pragma once

#include <QString>

class ISerialCtl;
class Prompts;

enum class NumericParameter { InputLen, RThreshold, SThreshold };

// mnuInputLen_Click, mnuRThreshold_Click, mnuSThreshold_Click.
void numericParameterCommand(NumericParameter parameter, ISerialCtl& serial, Prompts& prompts);
// mnuParRep_Click.
void parityReplaceCommand(ISerialCtl& serial, Prompts& prompts);
// mnuDTREnable_Click: switches DTR; returns the value read back for the check mark.
bool dtrSwitchCommand(ISerialCtl& serial);
// mnuHCTS_Click (cts true) and mnuHDSR_Click.
void lineStateQuery(bool cts, ISerialCtl& serial, Prompts& prompts);
