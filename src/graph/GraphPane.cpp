#include "graph/GraphPane.h"

#include "graph/GraphCsv.h"
#include "graph/GraphFeed.h"
#include "graph/GraphView.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Repaints wait this long at the least: the terminal keeps its share of
// the frame.
constexpr int frameMs = 40;

QIcon swatch(const QColor& colour) {
    QPixmap pixmap(12, 12);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

QString skippedText(qint64 count) {
    return QStringLiteral("数値のない行: %1").arg(count);
}

} // namespace

GraphPane::GraphPane(const GraphFeed& feed, QWidget* parent)
    : QWidget(parent), m_feed(feed), m_view(new GraphView(feed.store(), this)),
      m_pause(new QToolButton(this)), m_axis(new QComboBox(this)),
      m_skipped(new QLabel(skippedText(0), this)), m_pointer(new QLabel(this)),
      m_legend(new QListWidget(this)) {
    setObjectName(QStringLiteral("graphPane"));
    m_view->setObjectName(QStringLiteral("graphView"));
    m_pause->setObjectName(QStringLiteral("graphPause"));
    m_pause->setText(QStringLiteral("一時停止"));
    m_pause->setToolTip(QStringLiteral("表示を止める (Space)"));
    m_pause->setCheckable(true);
    m_pause->setFocusPolicy(Qt::NoFocus);
    m_axis->setObjectName(QStringLiteral("graphAxis"));
    m_axis->addItems({QStringLiteral("ｻﾝﾌﾟﾙ番号"), QStringLiteral("読み込み時刻")});
    m_axis->setFocusPolicy(Qt::NoFocus);
    // The texts give way before the plot does in a narrow pane.
    for (QLabel* label : {m_skipped, m_pointer})
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pointer->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_legend->setObjectName(QStringLiteral("graphLegend"));
    m_legend->setFixedWidth(140);
    m_legend->setFocusPolicy(Qt::NoFocus);

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_pause);
    bar->addWidget(new QLabel(QStringLiteral("横軸:"), this));
    bar->addWidget(m_axis);
    bar->addWidget(m_skipped, 1);
    bar->addWidget(m_pointer, 1);
    auto* body = new QHBoxLayout;
    body->addWidget(m_view, 1);
    body->addWidget(m_legend);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->addLayout(bar);
    column->addLayout(body, 1);

    connect(m_pause, &QToolButton::toggled, m_view, &GraphView::setPaused);
    connect(m_view, &GraphView::pausedChanged, m_pause, &QToolButton::setChecked);
    connect(m_axis, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_view->setAxis(index == 1 ? GraphAxis::Time : GraphAxis::Sample);
        showPointer(m_view->pointerSample());
    });
    connect(m_view, &GraphView::pointerMoved, this, &GraphPane::showPointer);
    connect(m_legend, &QListWidget::itemChanged, this, &GraphPane::legendChanged);
    connect(&m_frame, &QTimer::timeout, this, &GraphPane::refresh);
    m_frame.start(frameMs);
}

void GraphPane::refresh() {
    if (m_feed.revision() == m_revision || !isVisible())
        return;
    m_revision = m_feed.revision();
    const QStringList& names = m_feed.parser().channels();
    const int channels = m_feed.store().channelCount();
    for (int channel = int(m_legend->count()); channel < channels; ++channel) {
        auto* item = new QListWidgetItem(swatch(GraphPlot::colour(channel)), names.value(channel));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
        item->setData(Qt::UserRole, names.value(channel));
        m_legend->addItem(item);
    }
    if (m_legend->count() > channels) // the feed was cleared
        m_legend->clear();
    m_skipped->setText(skippedText(m_feed.skippedLines()));
    m_view->samplesChanged();
}

void GraphPane::legendChanged() {
    quint32 hidden = 0;
    for (int row = 0; row < m_legend->count(); ++row)
        if (m_legend->item(row)->checkState() != Qt::Checked)
            hidden |= 1u << row;
    m_view->setHidden(hidden);
}

void GraphPane::showPointer(qint64 sample) {
    const SampleStore& store = m_feed.store();
    const bool valid = sample >= store.first() && sample < store.end();
    const QSignalBlocker quiet(m_legend);
    for (int row = 0; row < m_legend->count(); ++row) {
        QListWidgetItem* item = m_legend->item(row);
        QString text = item->data(Qt::UserRole).toString();
        if (valid && row < store.channelCount() && store.present(row, sample))
            text += QStringLiteral(" = ") +
                    QString::fromLatin1(csvNumber(store.valueAt(row, sample), store.wide(row)));
        item->setText(text);
    }
    m_pointer->setText(valid ? QStringLiteral("#%1  %2").arg(sample).arg(
                                   QDateTime::fromMSecsSinceEpoch(store.timeAt(sample))
                                       .toString(QStringLiteral("hh:mm:ss.zzz")))
                             : QString());
}
