#include "transfer/TransferController.h"

#include "datapath/DataPath.h"
#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "sending/SendCommands.h"
#include "sending/SerialSendPort.h"
#include "serial/ISerialCtl.h"
#include "settings/PortSettings.h"
#include "transfer/ReceiveFolder.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

namespace {

const QString installTip = QStringLiteral("lrzsz をｲﾝｽﾄｰﾙすると使えます (sudo apt install lrzsz)");

QString autoKey() {
    return QStringLiteral("AutoZmodem");
}

QString directionText(TransferDirection direction) {
    return direction == TransferDirection::Send ? QStringLiteral("送信") : QStringLiteral("受信");
}

} // namespace

TransferController::TransferController(ISerialCtl& serial, Prompts& prompts, SettingsStore& store,
                                       SendCommands& sending, QWidget* window)
    : QObject(window), m_serial(serial), m_prompts(prompts), m_store(store), m_send(sending),
      m_window(window), m_port(std::make_unique<SerialSendPort>(serial)), m_job(*m_port),
      m_detector([this](const QByteArray& bytes) { detected(bytes); }) {
    mnuTransfer = new QMenu(QStringLiteral("ﾌｧｲﾙ転送(&T)"), window);
    mnuTransfer->setObjectName(QStringLiteral("mnuTransfer"));
    mnuTransfer->setToolTipsVisible(true);
    const auto item = [this](const char* name, const char* caption, auto run) {
        QAction* action = mnuTransfer->addAction(QString::fromUtf8(caption));
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, run);
        return action;
    };
    mnuSendZ = item("mnuSendZ", "ZMODEMで送信(&Z)...", [this] { send(TransferProtocol::Zmodem); });
    mnuSendY = item("mnuSendY", "YMODEMで送信(&Y)...", [this] { send(TransferProtocol::Ymodem); });
    mnuSendX = item("mnuSendX", "XMODEMで送信(&X)...", [this] { send(TransferProtocol::Xmodem); });
    mnuTransfer->addSeparator();
    mnuReceiveZ = item("mnuReceiveZ", "ZMODEMで受信(&R)", [this] { receiveZ(); });
    mnuReceiveX = item("mnuReceiveX", "XMODEMで受信(&V)...", [this] { receiveX(); });
    mnuTransfer->addSeparator();
    mnuReceiveFolder = item("mnuReceiveFolder", "受信ﾌｫﾙﾀﾞ(&F)...", [this] { chooseFolder(); });
    mnuAutoZ = item("mnuAutoZ", "ZMODEMを自動受信(&A)", [this] { toggleAutoZ(); });
    mnuAutoZ->setCheckable(true);
    mnuAutoZ->setChecked(store.GetSetting(settingsApp(), QStringLiteral("Transfer"), autoKey(),
                                          QString()) == QLatin1String("1"));
    connect(mnuTransfer, &QMenu::aboutToShow, this, &TransferController::refresh);

    fraTransfer = new QWidget(window);
    fraTransfer->setObjectName(QStringLiteral("fraTransfer"));
    lblTransfer = new QLabel(fraTransfer);
    cmdTransferStop = new QPushButton(QStringLiteral("中止"), fraTransfer);
    cmdTransferStop->setObjectName(QStringLiteral("cmdTransferStop"));
    cmdTransferStop->setFocusPolicy(Qt::NoFocus);
    connect(cmdTransferStop, &QPushButton::clicked, this, &TransferController::stop);
    auto* row = new QHBoxLayout(fraTransfer);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(lblTransfer);
    row->addWidget(cmdTransferStop);
    fraTransfer->hide();

    connect(&m_job, &TransferJob::progress, this, &TransferController::showProgress);
    connect(&m_job, &TransferJob::finished, this, &TransferController::finished);
    refresh();
}

// The window's session goes before its children: it is not touched here.
TransferController::~TransferController() {
    qApp->removeEventFilter(this);
}

void TransferController::attach(TerminalSession& session) {
    m_session = &session;
    if (mnuAutoZ->isChecked())
        session.addConsumer(&m_detector);
}

void TransferController::addTo(QMenu* portMenu) {
    portMenu->addMenu(mnuTransfer);
    connect(portMenu, &QMenu::aboutToShow, this, [this] {
        refresh();
        if (busy())
            for (QAction* action : {m_send.mnuSendFile, m_send.mnuSendHex, m_send.mnuBreak})
                action->setEnabled(false);
    });
}

void TransferController::refresh() {
    bool open = false;
    try {
        open = m_serial.PortOpen();
    } catch (const Failure&) {
    }
    const struct {
        QAction* action;
        const char* program;
    } rows[] = {{mnuSendZ, "sz"},    {mnuSendY, "sb"},    {mnuSendX, "sx"},
                {mnuReceiveZ, "rz"}, {mnuReceiveX, "rx"}, {mnuAutoZ, "rz"}};
    for (const auto& row : rows) {
        const bool installed = !findTransferProgram(QLatin1String(row.program)).isEmpty();
        row.action->setToolTip(installed ? QString() : installTip);
        row.action->setEnabled(installed && (open || row.action == mnuAutoZ) && !busy());
    }
}

void TransferController::send(TransferProtocol protocol) {
    FileDialogSetup setup;
    setup.title = QStringLiteral("%1で送信").arg(protocolName(protocol));
    setup.filters = {QStringLiteral("すべてのﾌｧｲﾙ (*)")};
    const FileDialogResult chosen = m_prompts.fileOpen(setup);
    if (chosen.cancelled)
        return;
    if (!QFileInfo(chosen.path).isFile() || !QFileInfo(chosen.path).isReadable()) {
        m_prompts.warn(QStringLiteral("%1 を読めません。").arg(chosen.path));
        return;
    }
    start(protocol, TransferDirection::Send, {chosen.path});
}

void TransferController::receiveZ() {
    start(TransferProtocol::Zmodem, TransferDirection::Receive, {});
}

void TransferController::receiveX() {
    const std::optional<QString> name =
        m_prompts.inputBox(QStringLiteral("受信するﾌｧｲﾙの名前を入力してください。"),
                           QStringLiteral("XMODEMで受信"), QStringLiteral("xmodem.bin"));
    if (!name)
        return;
    const QString file = QFileInfo(name->trimmed()).fileName();
    if (file.isEmpty() || file == QLatin1String("..")) {
        m_prompts.warn(QStringLiteral("ﾌｧｲﾙ名が正しくありません: %1").arg(*name));
        return;
    }
    start(TransferProtocol::Xmodem, TransferDirection::Receive, {file});
}

void TransferController::chooseFolder() {
    FileDialogSetup setup;
    setup.title = QStringLiteral("受信ﾌｫﾙﾀﾞ");
    setup.folder = true;
    setup.directory = receiveFolder(m_store);
    const FileDialogResult chosen = m_prompts.fileOpen(setup);
    if (chosen.cancelled)
        return;
    QString error;
    if (!saveReceiveFolder(m_store, chosen.path, &error))
        m_prompts.warn(error);
}

void TransferController::toggleAutoZ() {
    const bool on = mnuAutoZ->isChecked();
    QString error;
    if (!m_store.SaveSetting(settingsApp(), QStringLiteral("Transfer"), autoKey(),
                             on ? QStringLiteral("1") : QStringLiteral("0"), &error))
        m_prompts.warn(error);
    if (!m_session)
        return;
    if (on)
        m_session->addConsumer(&m_detector);
    else
        m_session->removeConsumer(&m_detector);
}

void TransferController::detected(const QByteArray& bytes) {
    if (busy() || m_send.busy() || findTransferProgram(QStringLiteral("rz")).isEmpty())
        return;
    start(TransferProtocol::Zmodem, TransferDirection::Receive, {}, bytes);
}

void TransferController::start(TransferProtocol protocol, TransferDirection direction,
                               const QStringList& files, const QByteArray& received) {
    if (busy() || m_send.busy() || !m_session) {
        m_prompts.beep();
        return;
    }
    m_what = QStringLiteral("%1の%2").arg(protocolName(protocol), directionText(direction));
    // The takeover comes first: bytes the child's start brings are its own.
    m_session->setTakeover(&m_job);
    QString error;
    if (!m_job.start(protocol, direction, files, receiveFolder(m_store), received, &error)) {
        m_session->setTakeover(nullptr);
        m_prompts.warn(error);
        return;
    }
    if (!m_job.running())
        return; // it ended already and said so
    qApp->installEventFilter(this);
    lblTransfer->setText(direction == TransferDirection::Receive
                             ? QStringLiteral("%1: 相手の送信を待っています").arg(m_what)
                             : QStringLiteral("%1: 相手の受信を待っています").arg(m_what));
    fraTransfer->show();
    cmdTransferStop->show();
    refresh();
}

void TransferController::showProgress(const QString& file, qint64 bytes, qint64 total,
                                      qint64 rate) {
    if (bytes == 0 && file.isEmpty())
        return;
    QString text = QStringLiteral("%1: %2 %3").arg(m_what, file).arg(bytes);
    if (total > 0)
        text += QStringLiteral(" / %1").arg(total);
    text += QStringLiteral(" ﾊﾞｲﾄ %1 KB/秒").arg(rate / 1024);
    lblTransfer->setText(text);
}

void TransferController::finished(const TransferJob::Result& result) {
    qApp->removeEventFilter(this);
    if (m_session && m_session->takeover() == &m_job)
        m_session->setTakeover(nullptr);
    cmdTransferStop->hide();
    const QString names = result.files.join(QStringLiteral("、"));
    QString line;
    switch (result.end) {
    case TransferJob::End::Completed:
        line = result.direction == TransferDirection::Send
                   ? QStringLiteral("%1で %2 を送信しました (%3 ﾊﾞｲﾄ)")
                         .arg(protocolName(result.protocol), names)
                         .arg(result.bytes)
                   : QStringLiteral("%1で %2 を受信しました (%3 ﾊﾞｲﾄ、%4)")
                         .arg(protocolName(result.protocol), names)
                         .arg(result.bytes)
                         .arg(receiveFolder(m_store));
        break;
    case TransferJob::End::Cancelled:
        line = QStringLiteral("%1を中止しました").arg(m_what);
        break;
    case TransferJob::End::Closed:
        line = QStringLiteral("%1はﾎﾟｰﾄが閉じて終わりました").arg(m_what);
        break;
    case TransferJob::End::Failed:
        line = QStringLiteral("%1に失敗しました: %2").arg(m_what, result.detail);
        break;
    }
    lblTransfer->setText(line);
    if (m_session)
        m_session->append(QStringLiteral("\r\n[%1]\r\n").arg(line));
    refresh();
}

// While the line carries a transfer the keyboard must not reach it; Esc stops it.
bool TransferController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != m_window || !busy())
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyPress && key->key() == Qt::Key_Escape)
        stop();
    if (event->type() == QEvent::ShortcutOverride && key->key() != Qt::Key_Escape)
        return false; // menu shortcuts still work
    event->accept();
    return true;
}
