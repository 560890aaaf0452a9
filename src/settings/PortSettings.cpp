// Placeholder until the port settings land.
#include "settings/PortSettings.h"

#include "platform/Failure.h"

QStringList offeredPorts() { return {}; }
QStringList offeredSpeeds() { return {}; }
QStringList offeredParities() { return {}; }
QStringList offeredDataBits() { return {}; }
QStringList offeredStopBits() { return {}; }
QStringList offeredFlowModes() { return {}; }
ParsedSettings parseSettings(const QString&) { return {}; }
int parityPosition(const QString&) { return -1; }
QString composeSettings(const QString&, const QString&, const QString&, const QString&) {
    return QString();
}
void runLoadingSequence(ISerialCtl&, SettingsStore&, Prompts&, PendingFailure& pending) {
    pending.clear();
}
void runSavingSequence(ISerialCtl&, SettingsStore&) {}
