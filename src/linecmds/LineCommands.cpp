// Placeholder until the line commands land.
#include "linecmds/LineCommands.h"

void numericParameterCommand(NumericParameter, ISerialCtl&, Prompts&) {}
void parityReplaceCommand(ISerialCtl&, Prompts&) {}
bool dtrSwitchCommand(ISerialCtl&) { return false; }
void lineStateQuery(bool, ISerialCtl&, Prompts&) {}
