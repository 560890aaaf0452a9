#pragma once

#include <QIcon>
#include <QString>

// Keys of the toolbar buttons and status panels, and the pictures, shared by
// the window and its composition.
namespace windowparts {

inline const QString keyOpenLogFile = QStringLiteral("OpenLogFile");
inline const QString keyCloseLogFile = QStringLiteral("CloseLogFile");
inline const QString keyHangUpPhone = QStringLiteral("HangUpPhone");
inline const QString keyProperties = QStringLiteral("Properties");
inline const QString keyStatus = QStringLiteral("Status");
inline const QString keySettings = QStringLiteral("Settings");
inline const QString keyConnectTime = QStringLiteral("ConnectTime");

inline QIcon picture(const char* name) {
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

} // namespace windowparts
