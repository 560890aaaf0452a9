// Placeholder until the capture log lands.
#include "caplog/CaptureLog.h"

CaptureLog::~CaptureLog() { close(); }
bool CaptureLog::open(const QString&, QString*) { return false; }
bool CaptureLog::write(const QByteArray&, QString*) { return true; }
void CaptureLog::close() { m_number = 0; }
QString runOpenLogCommand(Prompts&, CaptureLog&) { return QString(); }
