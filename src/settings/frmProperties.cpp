#include "settings/frmProperties.h"

#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "serial/ISerialCtl.h"
#include "serial/LineSettings.h"
#include "serial/PortResolver.h"
#include "settings/PortSettings.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <optional>

namespace {

// A value read from the component for display only; one it cannot report
// leaves its list without a selection.
template <class Read> auto readForDisplay(Read&& read) -> std::optional<decltype(read())> {
    try {
        return read();
    } catch (const Failure&) {
        return std::nullopt;
    }
}

void fill(QComboBox* list, const OfferedList& items) {
    list->clear();
    for (const OfferedItem& item : items) {
        list->addItem(item.text, item.value);
        if (!item.hint.isEmpty())
            list->setItemData(list->count() - 1, item.hint, Qt::ToolTipRole);
    }
    // Filling a list selects its first item; nothing is selected until the
    // component's value is.
    list->setCurrentIndex(-1);
}

// The design widths were made for a narrower font: a label whose text would
// be cut off gets a slightly smaller font instead.
void fitText(QLabel* label) {
    QFont font = label->font();
    while (QFontMetrics(font).horizontalAdvance(label->text()) > label->width() &&
           font.pointSizeF() > 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
}

// Nothing is selected for a value the list does not offer.
void selectValue(QComboBox* list, const QVariant& value) {
    list->setCurrentIndex(list->findData(value));
}

} // namespace

frmProperties::frmProperties(ISerialCtl& serial, SettingsStore& store, Prompts& prompts,
                             bool& LocalEcho, std::function<void()> refreshDisplay, QWidget* parent)
    : QDialog(parent), m_serial(serial), m_store(store), m_prompts(prompts), m_localEcho(LocalEcho),
      m_refreshDisplay(std::move(refreshDisplay)) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setSizeGripEnabled(false);
    setWindowTitle(QStringLiteral("通信ﾎﾟｰﾄのﾌﾟﾛﾊﾟﾃｨ"));

    const QScreen* shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    if (shownOn)
        m_scale = shownOn->logicalDotsPerInch() / 96.0;
    setFixedSize(pixels(6015), pixels(4260));

    createControls();
    Form_Load();
}

int frmProperties::pixels(int twips) const {
    return qRound(twips / 15.0 * m_scale);
}

void frmProperties::place(QWidget* widget, int left, int top, int width, int height) const {
    // Edges rounded on their own, so neighbours that touch in the design still touch.
    const int x = pixels(left), y = pixels(top);
    widget->setGeometry(x, y, pixels(left + width) - x, pixels(top + height) - y);
}

void frmProperties::createControls() {
    tabSettings = new QTabWidget(this);
    tabSettings->setObjectName(QStringLiteral("tabSettings"));
    tabSettings->addTab(new QWidget, QStringLiteral("ﾌﾟﾛﾊﾟﾃｨ"));
    // The single tab is never switched; it takes no focus.
    tabSettings->tabBar()->setFocusPolicy(Qt::NoFocus);
    tabSettings->setFocusPolicy(Qt::NoFocus);
    place(tabSettings, 90, 105, 5820, 4065);

    fraSettings = new QFrame(this);
    fraSettings->setObjectName(QStringLiteral("fraSettings"));
    fraSettings->setFrameShape(QFrame::NoFrame);
    place(fraSettings, 255, 570, 5445, 3495);

    Label1 = new QLabel(QStringLiteral("ﾎﾟｰﾄ:"), fraSettings);
    place(Label1, 330, 180, 495, 315);
    fitText(Label1);
    cboPort = new QComboBox(fraSettings);
    place(cboPort, 900, 150, 1425, 315);

    Frame1 = new QGroupBox(QStringLiteral("通信速度"), fraSettings);
    place(Frame1, 180, 630, 2340, 870);
    cboSpeed = new QComboBox(Frame1);
    place(cboSpeed, 375, 330, 1695, 315);

    fraConnection = new QGroupBox(QStringLiteral("接続設定"), fraSettings);
    place(fraConnection, 180, 1635, 2325, 1770);
    Label3 = new QLabel(QStringLiteral("ﾃﾞｰﾀ ﾋﾞｯﾄ:"), fraConnection);
    place(Label3, 180, 375, 825, 285);
    fitText(Label3);
    cboDataBits = new QComboBox(fraConnection);
    place(cboDataBits, 1050, 330, 1140, 315);
    Label4 = new QLabel(QStringLiteral("ﾊﾟﾘﾃｨ:"), fraConnection);
    place(Label4, 180, 855, 615, 285);
    fitText(Label4);
    cboParity = new QComboBox(fraConnection);
    place(cboParity, 1050, 810, 1140, 315);
    Label5 = new QLabel(QStringLiteral("ｽﾄｯﾌﾟ ﾋﾞｯﾄ:"), fraConnection);
    place(Label5, 180, 1320, 885, 285);
    fitText(Label5);
    cboStopBits = new QComboBox(fraConnection);
    place(cboStopBits, 1050, 1260, 1140, 315);

    Frame7 = new QGroupBox(QStringLiteral("ｴｺｰ(&E)"), fraSettings);
    place(Frame7, 2595, 630, 1590, 870);
    optEcho[0] = new QRadioButton(QStringLiteral("Off"), Frame7);
    place(optEcho[0], 135, 360, 615, 315);
    optEcho[1] = new QRadioButton(QStringLiteral("On"), Frame7);
    place(optEcho[1], 795, 420, 555, 195);

    Frame5 = new QGroupBox(QStringLiteral("ﾌﾛｰ制御(&F)"), fraSettings);
    place(Frame5, 2595, 1635, 1620, 1770);
    const QStringList flowModes = offeredFlowModes();
    for (int index = 0; index < 4; ++index) {
        optFlow[index] = new QRadioButton(flowModes.at(index), Frame5);
    }
    place(optFlow[0], 180, 345, 855, 255);
    place(optFlow[1], 180, 645, 1095, 255);
    place(optFlow[2], 180, 945, 735, 255);
    place(optFlow[3], 180, 1245, 1155, 255);

    cmdOK = new QPushButton(QStringLiteral("OK"), fraSettings);
    place(cmdOK, 4335, 705, 1080, 300);
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), fraSettings);
    place(cmdCancel, 4335, 1065, 1080, 300);

    optEchoGroup = new QButtonGroup(this);
    optEchoGroup->setExclusive(true);
    for (int index = 0; index < 2; ++index)
        optEchoGroup->addButton(optEcho[index], index);
    optFlowGroup = new QButtonGroup(this);
    optFlowGroup->setExclusive(true);
    for (int index = 0; index < 4; ++index)
        optFlowGroup->addButton(optFlow[index], index);

    // A selection made by the program runs the handler just as a click does.
    connect(optEchoGroup, &QButtonGroup::idToggled, this, [this](int index, bool checked) {
        if (checked)
            optEcho_Click(index);
    });
    connect(optFlowGroup, &QButtonGroup::idToggled, this, [this](int index, bool checked) {
        if (checked)
            optFlow_Click(index);
    });
    connect(cmdOK, &QPushButton::clicked, this, &frmProperties::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmProperties::cmdCancel_Click);
}

void frmProperties::Form_Load() {
    if (const QScreen* shownOn = screen() ? screen() : QGuiApplication::primaryScreen()) {
        const QRect area = shownOn->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }

    // The single tab's page is the tab strip's client area.
    QWidget* page = tabSettings->widget(0);
    fraSettings->setParent(page);
    fraSettings->move(0, 0);
    fraSettings->raise();
    fraSettings->show();

    LoadPropertySettings();
    cboPort->setFocus();
}

void frmProperties::LoadPropertySettings() {
    fill(cboPort, offeredPorts(portLinkDir()));
    fill(cboSpeed, offeredSpeeds());
    fill(cboDataBits, offeredDataBits());
    fill(cboParity, offeredParities());
    fill(cboStopBits, offeredStopBits());

    const auto text = readForDisplay([&] { return m_serial.Settings(); });
    if (const auto settings = text ? LineSettings::parse(*text) : std::nullopt) {
        selectValue(cboSpeed, settings->speed);
        selectValue(cboParity, QString(QLatin1Char(settings->parity)));
        selectValue(cboDataBits, settings->dataBits);
        selectValue(cboStopBits, int(settings->stopBits));
    }

    if (const auto port = readForDisplay([&] { return m_serial.CommPort(); }))
        selectValue(cboPort, int(*port));

    const auto flow = readForDisplay([&] { return m_serial.Handshaking(); });
    if (flow && *flow >= 0 && *flow < 4)
        optFlow[*flow]->setChecked(true);

    optEcho[m_localEcho ? 1 : 0]->setChecked(true);
}

void frmProperties::optEcho_Click(int index) {
    PendingEcho = (index == 1);
}

void frmProperties::optFlow_Click(int index) {
    PendingFlow = qint16(index);
}

void frmProperties::cmdOK_Click() {
    PendingFailure pending;
    const auto check = [&] {
        if (!pending.pending())
            return false;
        m_prompts.warn(pending.description());
        return true;
    };

    m_localEcho = PendingEcho;

    qint16 oldPort = 0;
    pending.attempt([&] { oldPort = m_serial.CommPort(); });
    // No selection gives port 0, which the component refuses.
    const qint16 newPort = qint16(cboPort->currentData().toInt());

    if (newPort != oldPort) {
        bool reopen = false;
        pending.attempt([&] {
            if (m_serial.PortOpen() || m_serial.connecting()) {
                reopen = true;
                m_serial.setPortOpen(false);
            }
        });
        pending.attempt([&] { m_serial.setCommPort(newPort); });
        if (!pending.pending() && reopen)
            pending.attempt([&] { m_serial.setPortOpen(true); });
        if (pending.pending()) {
            PendingFailure ignored;
            ignored.attempt([&] { m_serial.setCommPort(oldPort); });
            // The user keeps the connection they had; if even that fails,
            // the warning says so too.
            PendingFailure back;
            if (reopen)
                back.attempt([&] {
                    if (!m_serial.PortOpen() && !m_serial.connecting())
                        m_serial.setPortOpen(true);
                });
            if (back.pending())
                pending.record(pending.description() + QLatin1Char('\n') + back.description());
        }
        // The port was closed under the main window, or a wait for its old
        // device ended: the connection display follows what the port now is.
        if (m_refreshDisplay)
            m_refreshDisplay();
        if (check())
            return;
    }

    pending.attempt([&] {
        m_serial.setSettings(composeSettingsText(cboSpeed->currentText(), cboParity->currentText(),
                                                 cboDataBits->currentText(),
                                                 cboStopBits->currentText()));
    });
    if (check())
        return;

    pending.attempt([&] { m_serial.setHandshaking(qint32(PendingFlow)); });
    if (check())
        return;

    // What was applied stays applied; the user learns it was not kept.
    QString error;
    if (!runSavingSequence(m_serial, m_store, m_localEcho, &error))
        m_prompts.warn(error);
    accept();
}

void frmProperties::cmdCancel_Click() {
    reject();
}
