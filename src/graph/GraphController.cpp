#include "graph/GraphController.h"

#include "datapath/DataPath.h"
#include "graph/GraphCsv.h"
#include "graph/GraphPane.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "settings/PortSettings.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QSplitter>
#include <algorithm>

namespace {

const QString viewSection = QStringLiteral("View");
const QString shownKey = QStringLiteral("Graph");
const QString graphSection = QStringLiteral("Graph");
const QString pointsKey = QStringLiteral("Points");
const QString csvTitle = QStringLiteral("CSVに保存");

// Samples kept per channel: [Graph] Points, within what memory allows.
qint64 keptPoints(SettingsStore& store) {
    bool ok = false;
    const qint64 points =
        store.GetSetting(settingsApp(), graphSection, pointsKey, QString()).toLongLong(&ok);
    return ok ? std::clamp<qint64>(points, 1000, 10000000) : SampleStore::DefaultCapacity;
}

} // namespace

GraphController::GraphController(TerminalSession& session, QWidget* terminal, Prompts& prompts,
                                 SettingsStore& store, QObject* parent)
    : QObject(parent), mnuGraph(new QAction(QStringLiteral("ｸﾞﾗﾌ(&G)"), this)),
      mnuGraphCsv(new QAction(QStringLiteral("ｸﾞﾗﾌをCSVに保存(&C)..."), this)), m_session(session),
      m_terminal(terminal), m_client(terminal->parentWidget()), m_prompts(prompts), m_store(store),
      m_feed(keptPoints(store)) {
    mnuGraph->setObjectName(QStringLiteral("mnuGraph"));
    mnuGraph->setCheckable(true);
    mnuGraphCsv->setObjectName(QStringLiteral("mnuGraphCsv"));
    connect(mnuGraph, &QAction::triggered, this, [this](bool checked) {
        setShown(checked);
        QString error;
        const QString value = checked ? QStringLiteral("True") : QStringLiteral("False");
        if (!m_store.SaveSetting(settingsApp(), viewSection, shownKey, value, &error))
            m_prompts.warn(error);
    });
    connect(mnuGraphCsv, &QAction::triggered, this, &GraphController::saveCsv);
}

// The session goes before the controller: the feed is not taken off it here.
GraphController::~GraphController() = default;

void GraphController::addTo(QMenu* menu) {
    menu->addSeparator()->setObjectName(QStringLiteral("mnuGraphBar"));
    menu->addAction(mnuGraph);
    menu->addAction(mnuGraphCsv);
}

void GraphController::loadSettings() {
    setShown(m_store.GetSetting(settingsApp(), viewSection, shownKey, QString()) ==
             QStringLiteral("True"));
}

void GraphController::place(const QRect& area) {
    m_area = area;
    if (!m_shown) {
        m_terminal->setGeometry(area);
        return;
    }
    m_splitter->setGeometry(area);
    // Shown before the window had its size: halves once it has.
    if (!m_halved && area.width() > 1) {
        m_halved = true;
        m_splitter->setSizes({area.width() / 2, area.width() - area.width() / 2});
    }
}

void GraphController::setShown(bool shown) {
    mnuGraph->setChecked(shown);
    if (shown == m_shown)
        return;
    m_shown = shown;
    const bool focused = m_terminal->hasFocus();
    if (shown) {
        if (!m_splitter) {
            m_splitter = new QSplitter(Qt::Horizontal, m_client);
            m_splitter->setObjectName(QStringLiteral("graphSplitter"));
            m_splitter->setChildrenCollapsible(false);
            m_pane = new GraphPane(m_feed);
            m_splitter->addWidget(m_terminal);
            m_splitter->addWidget(m_pane);
            // A change of width is shared alike.
            m_splitter->setStretchFactor(0, 1);
            m_splitter->setStretchFactor(1, 1);
        } else {
            m_splitter->insertWidget(0, m_terminal);
        }
        place(m_area);
        m_splitter->show();
        m_terminal->show();
        // A line cut by the time the graph was away is no line.
        m_feed.portOpened();
        m_session.addConsumer(&m_feed);
    } else {
        m_session.removeConsumer(&m_feed);
        m_terminal->setParent(m_client);
        m_terminal->setGeometry(m_area);
        m_terminal->show();
        m_splitter->hide();
    }
    if (focused)
        m_terminal->setFocus();
}

void GraphController::saveCsv() {
    FileDialogSetup setup;
    setup.title = csvTitle;
    setup.filters =
        QStringList{QStringLiteral("CSV ﾌｧｲﾙ (*.csv)"), QStringLiteral("すべてのﾌｧｲﾙ (*.*)")};
    setup.defaultSuffix = QStringLiteral("csv");
    setup.saving = true;
    const FileDialogResult chosen = m_prompts.fileOpen(setup);
    if (chosen.cancelled || chosen.path.isEmpty())
        return;
    QString path = chosen.path;
    if (chosen.typed && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    if (QFileInfo::exists(path) &&
        m_prompts.messageBox(QStringLiteral("%1 は既にあります。上書きしますか?").arg(path),
                             csvTitle, MsgButtons::OKCancel, MsgIcon::Exclamation,
                             AnswerCancel) != AnswerOK)
        return;
    QString error;
    if (!writeGraphCsv(m_feed, path, &error))
        m_prompts.warn(QStringLiteral("ｸﾞﾗﾌを %1 に保存できません: %2").arg(path, error));
}
