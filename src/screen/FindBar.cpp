#include "screen/FindBar.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

FindBar::FindBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("findBar"));
    // Two rows, so the whole bar fits the window's first size.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setVerticalSpacing(0);
    text = new QLineEdit(this);
    text->setObjectName(QStringLiteral("findText"));
    text->setClearButtonEnabled(true);
    text->installEventFilter(this);
    regex = new QCheckBox(QStringLiteral("正規表現(&R)"), this);
    regex->setObjectName(QStringLiteral("findRegex"));
    caseSensitive = new QCheckBox(QStringLiteral("大文字と小文字を区別(&M)"), this);
    caseSensitive->setObjectName(QStringLiteral("findCase"));
    filter = new QCheckBox(QStringLiteral("絞り込み(&L)"), this);
    filter->setObjectName(QStringLiteral("findFilter"));
    previous = new QToolButton(this);
    previous->setObjectName(QStringLiteral("findPrevious"));
    previous->setArrowType(Qt::UpArrow);
    previous->setToolTip(QStringLiteral("前を検索 (Shift+Enter, Shift+F3)"));
    next = new QToolButton(this);
    next->setObjectName(QStringLiteral("findNext"));
    next->setArrowType(Qt::DownArrow);
    next->setToolTip(QStringLiteral("次を検索 (Enter, F3)"));
    count = new QLabel(this);
    count->setObjectName(QStringLiteral("findCount"));
    count->setMinimumWidth(count->fontMetrics().horizontalAdvance(QStringLiteral("0000000 件")));
    auto* options = new QHBoxLayout;
    options->addWidget(regex);
    options->addWidget(caseSensitive);
    options->addWidget(filter);
    options->addStretch(1);
    layout->addWidget(text, 0, 0);
    layout->addWidget(previous, 0, 1);
    layout->addWidget(next, 0, 2);
    layout->addWidget(count, 0, 3);
    layout->addLayout(options, 1, 0, 1, 4);
    layout->setColumnStretch(0, 1);

    connect(text, &QLineEdit::textChanged, this, &FindBar::queryChanged);
    connect(regex, &QCheckBox::toggled, this, &FindBar::queryChanged);
    connect(caseSensitive, &QCheckBox::toggled, this, &FindBar::queryChanged);
    connect(filter, &QCheckBox::toggled, this, &FindBar::filterChanged);
    connect(previous, &QToolButton::clicked, this, [this] { emit findNext(true); });
    connect(next, &QToolButton::clicked, this, [this] { emit findNext(false); });
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == text && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            emit findNext(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        emit closing();
        return;
    }
    QWidget::keyPressEvent(event);
}
