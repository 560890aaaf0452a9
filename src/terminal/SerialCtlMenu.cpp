#include "terminal/frmTerminal.h"

#include "linecmds/LineCommands.h"
#include "serial/ISerialCtl.h"

// The SerialCtl menu: each item reads or changes one line parameter.

void frmTerminal::mnuInputLen_Click() {
    numericParameterCommand(NumericParameter::InputLen, *SerialCtl1, *m_prompts);
}

void frmTerminal::mnuRThreshold_Click() {
    numericParameterCommand(NumericParameter::RThreshold, *SerialCtl1, *m_prompts);
}

void frmTerminal::mnuSThreshold_Click() {
    numericParameterCommand(NumericParameter::SThreshold, *SerialCtl1, *m_prompts);
}

void frmTerminal::mnuParRep_Click() {
    parityReplaceCommand(*SerialCtl1, *m_prompts);
}

void frmTerminal::mnuDTREnable_Click() {
    mnuDTREnable->setChecked(dtrSwitchCommand(*SerialCtl1, *m_prompts, mnuDTREnable->isChecked()));
}

void frmTerminal::mnuHCTS_Click() {
    lineStateQuery(true, *SerialCtl1, *m_prompts);
}

void frmTerminal::mnuHDSR_Click() {
    lineStateQuery(false, *SerialCtl1, *m_prompts);
}
