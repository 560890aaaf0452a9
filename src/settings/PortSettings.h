#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class ISerialCtl;
class SettingsStore;
class Prompts;
class PendingFailure;

// The values the program offers, in list order.
QStringList offeredPorts();     // "Com1" .. "Com16"
QStringList offeredSpeeds();    // 110 .. 256000, sixteen values
QStringList offeredParities();  // "Even", "Odd", "None", "Mark", "Space"
QStringList offeredDataBits();  // "4" .. "8"
QStringList offeredStopBits();  // "1", "1.5", "2"
QStringList offeredFlowModes(); // "なし", "Xon/Xoff", "RTS", "Xon/RTS"

struct ParsedSettings {
    QString speed, parity, dataBits, stopBits;
};

// Splits a settings text by field widths taken from its end; a text too
// short for its fields gives empty fields.
ParsedSettings parseSettings(const QString& settings);
// Position of a parity letter in the offered list (lower case only), or -1.
int parityPosition(const QString& letter);
// speed,parity-initial,databits,stopbits with blanks trimmed; not validated.
QString composeSettings(const QString& speed, const QString& parity, const QString& dataBits,
                        const QString& stopBits);

// Conversions of stored texts. A fraction rounds half to even; text that is
// no number throws Failure("型が一致しません。"), a number out of range
// Failure("オーバーフローしました。").
qint16 storedInteger16(const QString& text);
qint32 storedInteger32(const QString& text);
// "True" or "False" in any letter case; anything else does not convert.
std::optional<bool> storedBoolean(const QString& text);

inline QString settingsApp() {
    return QStringLiteral("Velmora");
}
inline QString settingsSection() {
    return QStringLiteral("Properties");
}

// The start-up loading sequence. `pending` carries a failure recorded by the
// window's load before it; a check that finds one shows it as a warning and
// ends the sequence. Returns with the pending failure discarded.
void runLoadingSequence(ISerialCtl& serial, SettingsStore& store, Prompts& prompts,
                        PendingFailure& pending, bool& LocalEcho);

// The saving sequence: the component's read-back values and LocalEcho.
// A value the component cannot report is skipped. Returns false with the
// description of the first store write that failed.
bool runSavingSequence(ISerialCtl& serial, SettingsStore& store, bool LocalEcho, QString* error);
