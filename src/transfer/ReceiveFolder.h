#pragma once

#include <QString>
#include <QStringList>

class SettingsStore;

// Where received files go: the folder the user chose, by default the
// download folder (~/Downloads).
QString receiveFolder(SettingsStore& store);
bool saveReceiveFolder(SettingsStore& store, const QString& folder, QString* error);

// `name` in `folder` when nothing is there by that name, else the first of
// "stem (1).ext", "stem (2).ext", ... that is free.
QString freeName(const QString& folder, const QString& name);

// Moves every file of `from` (received there) into `folder` under a free
// name, never replacing a file. Returns the names given; `error` says what
// could not be moved.
QStringList moveReceived(const QString& from, const QString& folder, QString* error);
