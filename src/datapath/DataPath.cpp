// Placeholder until the data path lands.
#include "datapath/DataPath.h"

#include "datapath/TextTarget.h"
#include "serial/ISerialCtl.h"

void AppendToTerminal(TextTarget& term, QString data, DataPathHost&, const QByteArray&) {
    term.setSelText(data);
}

CommEventHandler::CommEventHandler(ISerialCtl& serial, TextTarget& term, DataPathHost& host)
    : m_serial(serial), m_term(term), m_host(host), m_decoder(serial.codePage()) {}

void CommEventHandler::SerialCtl1_OnComm() {}
void CommEventHandler::portClosed() {}

void TerminalKeyPress(int&, QString&, bool&, ISerialCtl&, TextTarget&, DataPathHost&) {}
