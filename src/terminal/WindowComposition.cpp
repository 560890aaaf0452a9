#include "terminal/frmTerminal.h"

#include "screen/TerminalView.h"
#include "script/ScriptCommands.h"
#include "sending/SendCommands.h"
#include "terminal/ClickableImage.h"
#include "terminal/WindowParts.h"
#include "transfer/TransferController.h"

#include <QActionGroup>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

// The window's menus, toolbar, indicator and status bar.

using namespace windowparts;

namespace {

const QString portSwitchTip = QStringLiteral("ﾎﾟｰﾄ切替");

} // namespace

void frmTerminal::composeToolBar() {
    tbrToolBar = new QToolBar(m_client);
    tbrToolBar->setObjectName(QStringLiteral("tbrToolBar"));
    tbrToolBar->setMovable(false);
    tbrToolBar->setFloatable(false);
    tbrToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tbrToolBar->setIconSize(QSize(twips(240), twips(240)));
    tbrToolBar->setFixedHeight(twips(390));
    tbrToolBar->setFocusPolicy(Qt::NoFocus);

    struct ButtonRow {
        QString key;
        int image; // 1-based, as in the image list
        const char* tip;
        bool enabled;
    };
    const ButtonRow rows[] = {
        {keyOpenLogFile, 1, "ﾛｸﾞ ﾌｧｲﾙを開く...", true},
        {keyCloseLogFile, 2, "ﾛｸﾞ ﾌｧｲﾙを閉じる", false},
        {QString(), 0, nullptr, false},
        {keyHangUpPhone, 4, "回線切断", false},
        {QString(), 0, nullptr, false},
        {keyProperties, 5, "ﾌﾟﾛﾊﾟﾃｨ...", true},
    };
    for (const ButtonRow& row : rows) {
        if (row.key.isEmpty()) {
            tbrToolBar->addSeparator();
            continue;
        }
        const QString tip = QString::fromUtf8(row.tip);
        QAction* action = tbrToolBar->addAction(ImageList1.at(row.image - 1), tip);
        action->setObjectName(row.key);
        action->setToolTip(tip);
        action->setEnabled(row.enabled);
        m_buttons.insert(row.key, action);
        if (QWidget* tool = tbrToolBar->widgetForAction(action)) {
            tool->setFixedSize(twips(23 * 15), twips(22 * 15));
            tool->setFocusPolicy(Qt::NoFocus);
        }
        const QString key = row.key;
        connect(action, &QAction::triggered, this,
                [this, key] { guarded([&] { tbrToolBar_ButtonClick(key); }); });
    }
}

void frmTerminal::composeIndicator() {
    Frame1 = new QFrame(tbrToolBar);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::NoFrame);
    Frame1->setGeometry(twips(4000), twips(75), twips(240), twips(240));

    const auto makeImage = [this](const char* name, const char* disc) {
        auto* image = new ClickableImage(Frame1);
        image->setObjectName(QLatin1String(name));
        image->setGeometry(0, 0, twips(240), twips(240));
        image->setPixmap(picture(disc).pixmap(image->size(), devicePixelRatioF()));
        image->setToolTip(portSwitchTip);
        // Opaque, so the image behind does not show through the edge of the disc.
        image->setAutoFillBackground(true);
        return image;
    };
    imgConnected = makeImage("imgConnected", "disc-green");
    imgNotConnected = makeImage("imgNotConnected", "disc-red");
}

void frmTerminal::composeStatusBar() {
    sbrStatus = new QStatusBar(m_client);
    sbrStatus->setObjectName(QStringLiteral("sbrStatus"));
    sbrStatus->setFixedHeight(twips(315));

    struct PanelRow {
        QString key;
        const char* text;
        const char* tip;
        int width; // twips; 0 takes what is left over
    };
    const PanelRow rows[] = {
        {keyStatus, "ｽﾃｰﾀｽ:", "通信ﾎﾟｰﾄのｽﾃｰﾀｽ", 1440},
        {keySettings, "設定:", "通信ﾎﾟｰﾄの設定", 0},
        {keyConnectTime, "", "接続時間", 705},
    };
    for (const PanelRow& row : rows) {
        auto* label = new QLabel(QString::fromUtf8(row.text), sbrStatus);
        label->setObjectName(row.key);
        label->setToolTip(QString::fromUtf8(row.tip));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // Fixed panels keep at least their width and grow for a longer message.
        if (row.width > 0)
            label->setMinimumWidth(twips(row.width));
        sbrStatus->addWidget(label, row.width > 0 ? 0 : 1);
        m_panels.insert(row.key, label);
    }
}

// Each menu is composed, and its items wired, in one place below.
void frmTerminal::composeMenus() {
    composeFileMenu();
    composePortMenu();
    composeSerialCtlMenu();
    composeViewMenu();
    composeScriptMenu();
}

void frmTerminal::composeScriptMenu() {
    m_script = std::make_unique<ScriptCommands>(*this);
}

QMenu* frmTerminal::addMenu(QMenu* parent, const char* name, const char* caption) {
    auto* created = new QMenu(QString::fromUtf8(caption),
                              parent ? static_cast<QWidget*>(parent) : static_cast<QWidget*>(this));
    created->setObjectName(QLatin1String(name));
    if (parent)
        parent->addMenu(created);
    else
        menuBar()->addMenu(created);
    return created;
}

QAction* frmTerminal::addItem(QMenu* menu, const char* name, const char* caption,
                              void (frmTerminal::*handler)()) {
    QAction* action = menu->addAction(QString::fromUtf8(caption));
    action->setObjectName(QLatin1String(name));
    if (handler)
        connect(action, &QAction::triggered, this,
                [this, handler] { guarded([&] { (this->*handler)(); }); });
    return action;
}

// A check item whose mark the handler sets: the item flips its own mark
// before it reports the click, so that flip is undone first.
QAction* frmTerminal::addCheckItem(QMenu* menu, const char* name, const char* caption,
                                   void (frmTerminal::*handler)()) {
    QAction* action = addItem(menu, name, caption, nullptr);
    action->setCheckable(true);
    if (handler)
        connect(action, &QAction::triggered, this, [this, action, handler](bool checked) {
            action->setChecked(!checked);
            guarded([&] { (this->*handler)(); });
        });
    return action;
}

QAction* frmTerminal::addSeparator(QMenu* menu, const char* name) {
    QAction* action = menu->addSeparator();
    action->setObjectName(QLatin1String(name));
    return action;
}

void frmTerminal::composeFileMenu() {
    mnuFile = addMenu(nullptr, "mnuFile", "ﾌｧｲﾙ(&F)");
    mnuOpenLog =
        addItem(mnuFile, "mnuOpenLog", "ﾛｸﾞ ﾌｧｲﾙを開く(&O)...", &frmTerminal::mnuOpenLog_Click);
    mnuCloseLog =
        addItem(mnuFile, "mnuCloseLog", "ﾛｸﾞ ﾌｧｲﾙを閉じる(&C)", &frmTerminal::mnuCloseLog_Click);
    mnuCloseLog->setEnabled(false);
    mnuRawLog =
        addCheckItem(mnuFile, "mnuRawLog", "生ﾃﾞｰﾀを記録(&R)...", &frmTerminal::mnuRawLog_Click);
    M3 = addSeparator(mnuFile, "M3");
    mnuFileExit = addItem(mnuFile, "mnuFileExit", "終了(&X)", &frmTerminal::mnuFileExit_Click);
}

void frmTerminal::composePortMenu() {
    mnuPort = addMenu(nullptr, "mnuPort", "通信ﾎﾟｰﾄ(&C)");
    mnuOpen = addCheckItem(mnuPort, "mnuOpen", "ﾎﾟｰﾄを開く(&O)", &frmTerminal::mnuOpen_Click);
    MBar1 = addSeparator(mnuPort, "MBar1");
    mnuProperties =
        addItem(mnuPort, "mnuProperties", "ﾌﾟﾛﾊﾟﾃｨ...", &frmTerminal::mnuProperties_Click);
    // The sending commands own their items and their progress in the status bar.
    m_send = new SendCommands(*SerialCtl1, *m_prompts, *m_store, *m_clock, this);
    MBar2 = addSeparator(mnuPort, "MBar2");
    mnuPort->addActions({m_send->mnuSendFile, m_send->mnuSendHex, m_send->mnuBreak, m_send->mnuRTS,
                         m_send->mnuPacing});
    connect(mnuPort, &QMenu::aboutToShow, m_send, &SendCommands::refresh);
    sbrStatus->addPermanentWidget(m_send->fraSend);
    m_transfer = new TransferController(*SerialCtl1, *m_prompts, *m_store, *m_send, this);
    m_transfer->addTo(mnuPort);
    sbrStatus->addPermanentWidget(m_transfer->fraTransfer);
}

void frmTerminal::composeSerialCtlMenu() {
    mnuSerialCtl = addMenu(nullptr, "mnuSerialCtl", "SerialCtl(&M)");
    mnuInputLen =
        addItem(mnuSerialCtl, "mnuInputLen", "InputLen(&I)...", &frmTerminal::mnuInputLen_Click);
    mnuRThreshold = addItem(mnuSerialCtl, "mnuRThreshold", "RThreshold(&R)...",
                            &frmTerminal::mnuRThreshold_Click);
    mnuSThreshold = addItem(mnuSerialCtl, "mnuSThreshold", "SThreshold(&S)...",
                            &frmTerminal::mnuSThreshold_Click);
    mnuParRep =
        addItem(mnuSerialCtl, "mnuParRep", "ParityReplace(&A)...", &frmTerminal::mnuParRep_Click);
    mnuDTREnable = addCheckItem(mnuSerialCtl, "mnuDTREnable", "DTREnable(&D)",
                                &frmTerminal::mnuDTREnable_Click);
    Bar3 = addSeparator(mnuSerialCtl, "Bar3");
    mnuHCTS = addItem(mnuSerialCtl, "mnuHCTS", "CTSHolding(&O)...", &frmTerminal::mnuHCTS_Click);
    mnuHDSR = addItem(mnuSerialCtl, "mnuHDSR", "DSRHolding(&L)...", &frmTerminal::mnuHDSR_Click);
}

void frmTerminal::composeViewMenu() {
    mnuView = addMenu(nullptr, "mnuView", "表示(&V)");
    mnuTimestamp =
        addCheckItem(mnuView, "mnuTimestamp", "ﾀｲﾑｽﾀﾝﾌﾟ(&T)", &frmTerminal::mnuTimestamp_Click);
    mnuHexView =
        addCheckItem(mnuView, "mnuHexView", "16進表示(&H)", &frmTerminal::mnuHexView_Click);
    mnuCharset = addMenu(mnuView, "mnuCharset", "文字ｺｰﾄﾞ(&E)");
    auto* charsets = new QActionGroup(mnuCharset);
    const struct {
        const char* name;
        const char* caption;
        QByteArray codePage;
    } rows[] = {
        {"mnuCharsetSjis", "Shift_JIS(&S)", ShiftJisCodePage},
        {"mnuCharsetUtf8", "UTF-8(&U)", Utf8CodePage},
        {"mnuCharsetEucJp", "EUC-JP(&E)", EucJpCodePage},
        {"mnuCharsetJis", "JIS(&J)", JisCodePage},
    };
    for (const auto& row : rows) {
        QAction* action = addItem(mnuCharset, row.name, row.caption, nullptr);
        action->setCheckable(true);
        action->setData(row.codePage);
        charsets->addAction(action);
        mnuCharsetItems << action;
        const QByteArray codePage = row.codePage;
        connect(action, &QAction::triggered, this,
                [this, codePage] { guarded([&] { chooseCharset(codePage); }); });
    }
    mnuEscapes = addCheckItem(mnuView, "mnuEscapes", "ｴｽｹｰﾌﾟ ｼｰｹﾝｽを解釈(&A)",
                              &frmTerminal::mnuEscapes_Click);
}
