#include "terminal/frmTerminal.h"

#include "graph/GraphController.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "screen/ScreenControls.h"
#include "screen/TerminalView.h"
#include "serial/ISerialCtl.h"
#include "settings/PortSettings.h"

// ---------------------------------------------------------------------------
// View

namespace {

const QString viewSection = QStringLiteral("View");
constexpr const char* keyTimestamps = "Timestamps";
constexpr const char* keyHexView = "HexView";
constexpr const char* keyCharset = "Charset";
constexpr const char* keyEscapes = "Escapes";

QString onOffText(bool on) {
    return on ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace

void frmTerminal::mnuRawLog_Click() {
    if (rawLogOpen()) {
        closeRawLog();
        return;
    }
    mnuRawLog->setChecked(!runOpenLogCommand(*m_prompts, m_rawLog).isEmpty());
}

void frmTerminal::mnuTimestamp_Click() {
    m_session->setTimestamps(!m_session->timestamps());
    mnuTimestamp->setChecked(m_session->timestamps());
    saveViewSetting(keyTimestamps, onOffText(m_session->timestamps()));
}

void frmTerminal::mnuHexView_Click() {
    m_session->setHexView(!m_session->hexView());
    if (!m_session->hexView())
        HexSilence.stop();
    mnuHexView->setChecked(m_session->hexView());
    saveViewSetting(keyHexView, onOffText(m_session->hexView()));
}

void frmTerminal::mnuEscapes_Click() {
    m_session->setInterpretEscapes(!m_session->interpretsEscapes());
    mnuEscapes->setChecked(m_session->interpretsEscapes());
    saveViewSetting(keyEscapes, onOffText(m_session->interpretsEscapes()));
}

void frmTerminal::chooseCharset(const QByteArray& codePage) {
    m_session->setCodePage(codePage);
    SerialCtl1->setCodePage(codePage);
    showCharsetChoice();
    saveViewSetting(keyCharset, QString::fromLatin1(codePage));
}

void frmTerminal::showCharsetChoice() {
    const QByteArray current = SerialCtl1->codePage();
    for (QAction* item : mnuCharsetItems)
        item->setChecked(item->data().toByteArray() == current);
}

void frmTerminal::loadViewSettings() {
    const auto stored = [this](const char* key) {
        return m_store->GetSetting(settingsApp(), viewSection, QLatin1String(key), QString());
    };
    const bool stamps = stored(keyTimestamps) == onOffText(true);
    m_session->setTimestamps(stamps);
    mnuTimestamp->setChecked(stamps);
    const bool hex = stored(keyHexView) == onOffText(true);
    m_session->setHexView(hex);
    mnuHexView->setChecked(hex);
    const bool escapes = stored(keyEscapes) == onOffText(true);
    m_session->setInterpretEscapes(escapes);
    mnuEscapes->setChecked(escapes);
    const QByteArray codePage = stored(keyCharset).toLatin1();
    for (QAction* item : mnuCharsetItems)
        if (item->data().toByteArray() == codePage) {
            m_session->setCodePage(codePage);
            SerialCtl1->setCodePage(codePage);
        }
    showCharsetChoice();
    m_screen->loadSettings();
    m_graph->loadSettings();
}

void frmTerminal::saveViewSetting(const char* key, const QString& value) {
    QString error;
    if (!m_store->SaveSetting(settingsApp(), viewSection, QLatin1String(key), value, &error))
        m_prompts->warn(error);
}
