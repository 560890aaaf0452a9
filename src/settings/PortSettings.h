#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

class ISerialCtl;
class SettingsStore;
class Prompts;
class PendingFailure;

// One entry of a list the dialog offers: the text shown and the value it
// stands for (the lists are selected by value, never by position).
struct OfferedItem {
    QString text;
    QVariant value;
    QString hint = {}; // shown on pointing at the item
};
using OfferedList = QList<OfferedItem>;

// The values the program offers, in list order.
// "Com1" .. "Com16": port number; a port pinned by a link hints where it goes.
OfferedList offeredPorts(const QString& linkDir);
OfferedList offeredSpeeds();    // 110 .. 256000, sixteen values: LineSettings::speed
OfferedList offeredParities();  // "Even", "Odd", "None", "Mark", "Space": the letter
OfferedList offeredDataBits();  // "4" .. "8": LineSettings::dataBits
OfferedList offeredStopBits();  // "1", "1.5", "2": int(StopBits)
QStringList offeredFlowModes(); // "なし", "Xon/Xoff", "RTS", "Xon/RTS"; the mode is the index

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
// The stored keys.
namespace StoredKey {
inline constexpr const char* Settings = "Settings";
inline constexpr const char* CommPort = "CommPort";
inline constexpr const char* Handshaking = "Handshaking";
inline constexpr const char* Echo = "Echo";
} // namespace StoredKey

// The start-up loading sequence. `pending` carries a failure recorded by the
// window's load before it; a check that finds one shows it as a warning and
// ends the sequence. Returns with the pending failure discarded.
void runLoadingSequence(ISerialCtl& serial, SettingsStore& store, Prompts& prompts,
                        PendingFailure& pending, bool& LocalEcho);

// The saving sequence: the component's read-back values and LocalEcho.
// A value the component cannot report is skipped. Returns false with the
// description of the first store write that failed.
bool runSavingSequence(ISerialCtl& serial, SettingsStore& store, bool LocalEcho, QString* error);
