#include "sending/SendCommands.h"

#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "sending/HexInput.h"
#include "sending/PacingDialog.h"
#include "sending/SerialSendPort.h"
#include "serial/ISerialCtl.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

constexpr int CR = 13;
constexpr int LF = 10;

QString bytesText(qsizetype sent, qsizetype total) {
    return QStringLiteral("%1 / %2 ﾊﾞｲﾄ").arg(sent).arg(total);
}

} // namespace

// A paste typed as the keyboard would, its text carried as UTF-8 so the
// planner sees its line ends; a character cut between two pieces is typed
// once it is whole.
class SendCommands::TypingPort : public SerialSendPort {
public:
    using SerialSendPort::SerialSendPort;
    std::function<void(int)> type;
    void reset() { m_decoder.resetState(); }
    void write(const QByteArray& bytes) override {
        for (const uint code : QString(m_decoder.decode(bytes)).toUcs4())
            type(int(code));
    }

private:
    QStringDecoder m_decoder{QStringDecoder::Utf8};
};

SendCommands::SendCommands(ISerialCtl& serial, Prompts& prompts, SettingsStore& store,
                           const Clock& clock, QWidget* window)
    : QObject(window), m_serial(serial), m_prompts(prompts), m_store(store), m_window(window),
      m_pacing(loadPacing(store)), m_sender(clock),
      m_serialPort(std::make_unique<SerialSendPort>(serial)),
      m_typingPort(std::make_unique<TypingPort>(serial)) {
    const auto item = [this](const char* name, const char* caption, void (SendCommands::*run)()) {
        auto* action = new QAction(QString::fromUtf8(caption), this);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, run);
        return action;
    };
    mnuSendFile = item("mnuSendFile", "ﾌｧｲﾙを送信(&S)...", &SendCommands::mnuSendFile_Click);
    mnuSendHex = item("mnuSendHex", "16進で送信(&X)...", &SendCommands::mnuSendHex_Click);
    mnuBreak = item("mnuBreak", "ﾌﾞﾚｰｸ信号(&B)", &SendCommands::mnuBreak_Click);
    mnuRTS = item("mnuRTS", "RTS(&R)", &SendCommands::mnuRTS_Click);
    mnuRTS->setCheckable(true);
    mnuPacing = item("mnuPacing", "送信の間隔(&D)...", &SendCommands::mnuPacing_Click);

    fraSend = new QWidget(window);
    fraSend->setObjectName(QStringLiteral("fraSend"));
    lblSend = new QLabel(fraSend);
    barSend = new QProgressBar(fraSend);
    barSend->setMaximumWidth(160);
    barSend->setTextVisible(false);
    cmdStop = new QPushButton(QStringLiteral("中止"), fraSend);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    // The keyboard stays with the terminal, where Esc stops the send too.
    cmdStop->setFocusPolicy(Qt::NoFocus);
    connect(cmdStop, &QPushButton::clicked, this, &SendCommands::stop);
    auto* row = new QHBoxLayout(fraSend);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(lblSend);
    row->addWidget(barSend);
    row->addWidget(cmdStop);
    fraSend->hide();

    connect(&m_sender, &Sender::progress, this, &SendCommands::showProgress);
    connect(&m_sender, &Sender::finished, this, &SendCommands::finished);
    connect(&serial, &ISerialCtl::PortClosed, this, &SendCommands::portClosed);
    refresh();
}

SendCommands::~SendCommands() {
    qApp->removeEventFilter(this);
}

template <class Step> bool SendCommands::attempt(Step&& step) {
    try {
        step();
        return true;
    } catch (const Failure& failure) {
        m_prompts.warn(failure.description());
        return false;
    }
}

void SendCommands::refresh() {
    bool open = false;
    qint32 handshaking = 0;
    bool rts = true;
    try {
        open = m_serial.PortOpen();
        handshaking = m_serial.Handshaking();
        rts = m_serial.RTSEnable();
    } catch (const Failure&) {
    }
    for (QAction* action : {mnuSendFile, mnuSendHex, mnuBreak})
        action->setEnabled(open);
    // With RTS/CTS the driver drives RTS itself.
    mnuRTS->setEnabled(handshaking != 2 && handshaking != 3);
    mnuRTS->setChecked(rts);
}

void SendCommands::mnuSendFile_Click() {
    if (busy()) {
        m_prompts.beep();
        return;
    }
    FileDialogSetup setup;
    setup.title = QStringLiteral("ﾌｧｲﾙを送信");
    setup.filters = {QStringLiteral("すべてのﾌｧｲﾙ (*)")};
    const FileDialogResult chosen = m_prompts.fileOpen(setup);
    if (chosen.cancelled)
        return;
    QFile file(chosen.path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_prompts.warn(QStringLiteral("%1 を読めません: %2").arg(chosen.path, file.errorString()));
        return;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_prompts.warn(QStringLiteral("%1 を読めません: %2").arg(chosen.path, file.errorString()));
        return;
    }
    start(*m_serialPort, std::move(bytes), QFileInfo(chosen.path).fileName());
}

void SendCommands::mnuSendHex_Click() {
    if (busy()) {
        m_prompts.beep();
        return;
    }
    QString text;
    for (;;) {
        const std::optional<QString> reply = m_prompts.inputBox(
            QStringLiteral("送信するﾊﾞｲﾄを16進の2桁ずつ入力してください (例: 41 54 0d)。"),
            QStringLiteral("16進で送信"), text);
        if (!reply)
            return;
        text = *reply;
        const HexInput parsed = parseHexInput(text);
        if (parsed.ok) {
            start(*m_serialPort, parsed.bytes, QStringLiteral("16進のﾊﾞｲﾄ"));
            return;
        }
        // Refused: nothing is sent, and the text comes back for mending.
        m_prompts.warn(parsed.error);
    }
}

void SendCommands::mnuBreak_Click() {
    attempt([&] { m_serial.sendBreak(); });
}

void SendCommands::mnuRTS_Click() {
    attempt([&] { m_serial.setRTSEnable(!m_serial.RTSEnable()); });
    refresh();
}

void SendCommands::mnuPacing_Click() {
    PacingDialog dialog(m_pacing, m_window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    setPacing(dialog.pacing());
}

bool SendCommands::setPacing(const Pacing& pacing) {
    m_pacing = pacing.clamped();
    QString error;
    if (savePacing(m_store, m_pacing, &error))
        return true;
    m_prompts.warn(error);
    return false;
}

bool SendCommands::paste(const QString& text, const std::function<void(int)>& type) {
    if (!m_pacing.paced())
        return false;
    // Line breaks become Enter, as when the paste is typed at once.
    QString typed;
    const QList<uint> codes = text.toUcs4();
    for (qsizetype i = 0; i < codes.size(); ++i) {
        if (codes[i] == CR && i + 1 < codes.size() && codes[i + 1] == LF)
            ++i;
        typed += QString::fromUcs4(reinterpret_cast<const char32_t*>(&codes[i]), 1);
        if (codes[i] == LF)
            typed.back() = QChar(CR);
    }
    if (typed.indexOf(QChar(CR)) < 0 || typed.indexOf(QChar(CR)) == typed.size() - 1)
        return false; // one line: nothing to wait between
    if (busy()) {
        m_prompts.beep();
        return true;
    }
    bool open = false;
    try {
        open = m_serial.PortOpen();
    } catch (const Failure&) {
    }
    if (!open)
        return false;
    m_typingPort->type = type;
    m_typingPort->reset();
    start(*m_typingPort, typed.toUtf8(), QStringLiteral("貼り付け"));
    return true;
}

void SendCommands::start(SendPort& port, QByteArray bytes, const QString& what) {
    m_what = what;
    if (!m_sender.start(port, std::move(bytes), m_pacing))
        return;
    qApp->installEventFilter(this);
    fraSend->show();
    barSend->show();
    cmdStop->show();
}

void SendCommands::stop() {
    m_sender.stop();
}

void SendCommands::stopForExit() {
    m_exiting = true;
    m_sender.stop();
}

void SendCommands::received(const QByteArray& bytes) {
    m_sender.received(bytes);
}

void SendCommands::portClosed() {
    m_sender.portClosed();
    refresh();
}

void SendCommands::showProgress(qsizetype sent, qsizetype total) {
    lblSend->setText(QStringLiteral("%1 を送信中 %2").arg(m_what, bytesText(sent, total)));
    barSend->setMaximum(int(std::min<qsizetype>(total, INT_MAX)));
    barSend->setValue(int(std::min<qsizetype>(sent, INT_MAX)));
}

void SendCommands::finished(SendEngine::End end, qsizetype sent, qsizetype total,
                            const QString& failure) {
    qApp->removeEventFilter(this);
    barSend->hide();
    cmdStop->hide();
    const QString count = bytesText(sent, total);
    switch (end) {
    case SendEngine::End::Completed:
        lblSend->setText(QStringLiteral("%1 を送信しました (%2)").arg(m_what).arg(total));
        break;
    case SendEngine::End::Stopped:
        lblSend->setText(QStringLiteral("%1 の送信を中止しました (%2)").arg(m_what, count));
        if (m_exiting)
            m_prompts.messageBox(lblSend->text() + QStringLiteral("。"), QString(), MsgButtons::OK,
                                 MsgIcon::Information);
        break;
    case SendEngine::End::Closed:
        lblSend->setText(
            QStringLiteral("%1 の送信はﾎﾟｰﾄが閉じて終わりました (%2)").arg(m_what, count));
        m_prompts.messageBox(lblSend->text() + QStringLiteral("。"), QString(), MsgButtons::OK,
                             MsgIcon::Information);
        break;
    case SendEngine::End::Failed:
        lblSend->setText(QStringLiteral("%1 の送信に失敗しました (%2)").arg(m_what, count));
        m_prompts.warn(failure + QLatin1Char('\n') + lblSend->text() + QStringLiteral("。"));
        break;
    case SendEngine::End::None:
        break;
    }
}

// Esc anywhere in the window stops the running send and is not typed.
bool SendCommands::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier || !widget ||
        widget->window() != m_window || !busy())
        return false;
    if (event->type() == QEvent::KeyPress)
        stop();
    event->accept();
    return true;
}
