#include "screen/ScreenControls.h"

#include "datapath/TerminalSession.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "screen/FindBar.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace {

const QString viewSection = QStringLiteral("View");
const QString keyScrollback = QStringLiteral("Scrollback");
constexpr qint64 MostLines = 10000000;
// Matches and the filter follow arriving lines this often while the bar is open.
constexpr int LiveMs = 100;

// The stored line count, 0 (the character limit) where it is none.
qint64 parseLines(const QString& text, bool* ok) {
    const qint64 lines = text.trimmed().toLongLong(ok);
    *ok = *ok && lines >= 0 && lines <= MostLines;
    return *ok ? lines : 0;
}

} // namespace

ScreenControls::ScreenControls(TerminalView& view, TerminalSession& session, Prompts& prompts,
                               SettingsStore& settings, const QString& app, QWidget* window)
    : QObject(window), m_view(view), m_session(session), m_prompts(prompts), m_settings(settings),
      m_app(app), m_window(window), m_finder(view.store()) {
    mnuScrollback = new QAction(QStringLiteral("ｽｸﾛｰﾙﾊﾞｯｸ(&B)..."), this);
    mnuScrollback->setObjectName(QStringLiteral("mnuScrollback"));
    connect(mnuScrollback, &QAction::triggered, this, [this] { mnuScrollback_Click(); });

    const auto shortcut = [&](const char* name, QKeySequence keys, auto handler) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, handler);
        findActions.append(action);
    };
    shortcut("findOpen", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), [this] { openFind(); });
    shortcut("findNextKey", QKeySequence(Qt::Key_F3), [this] { findNext(false); });
    shortcut("findPreviousKey", QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { findNext(true); });

    m_live.setInterval(LiveMs);
    connect(&m_live, &QTimer::timeout, this, &ScreenControls::catchUp);
}

int ScreenControls::barHeight() const {
    return m_bar && m_bar->isVisible() ? m_bar->sizeHint().height() : 0;
}

void ScreenControls::loadSettings() {
    bool ok = false;
    applyScrollback(
        parseLines(m_settings.GetSetting(m_app, viewSection, keyScrollback, QString()), &ok));
}

void ScreenControls::applyScrollback(qint64 lines) {
    m_session.setScrollback(lines);
    if (lines > 0)
        m_view.keepLines(lines);
}

void ScreenControls::mnuScrollback_Click() {
    QString reply = QString::number(m_session.scrollback());
    for (;;) {
        const std::optional<QString> answer = m_prompts.inputBox(
            QStringLiteral("端末に残す行数を入力してください (0 から 10000000 まで。0 は最新の "
                           "16000 文字を残します)。"),
            QStringLiteral("ｽｸﾛｰﾙﾊﾞｯｸ"), reply);
        if (!answer)
            return;
        reply = *answer;
        bool ok = false;
        const qint64 lines = parseLines(reply, &ok);
        if (ok) {
            applyScrollback(lines);
            QString error;
            if (!m_settings.SaveSetting(m_app, viewSection, keyScrollback, QString::number(lines),
                                        &error))
                m_prompts.warn(error);
            return;
        }
        m_prompts.warn(QStringLiteral("行数は 0 から 10000000 までの整数で入力してください。"));
    }
}

void ScreenControls::openFind() {
    // Made on first use: until then nothing but the terminal takes the keyboard.
    if (!m_bar) {
        m_bar = new FindBar(m_window);
        connect(m_bar, &FindBar::queryChanged, this, &ScreenControls::queryChanged);
        connect(m_bar, &FindBar::filterChanged, this, &ScreenControls::filterChanged);
        connect(m_bar, &FindBar::findNext, this, &ScreenControls::findNext);
        connect(m_bar, &FindBar::closing, this, &ScreenControls::closeFind);
    }
    const bool wasShown = m_bar->isVisible();
    m_bar->show();
    if (!wasShown && relayout)
        relayout();
    const QString selected = m_view.selectedText();
    if (!selected.isEmpty() && !selected.contains(QLatin1Char('\n')))
        m_bar->text->setText(selected);
    m_bar->text->setFocus();
    m_bar->text->selectAll();
    queryChanged();
}

// The bar goes; the match found stays selected and the keyboard goes back to
// the terminal, so Ctrl+Shift+C copies it.
void ScreenControls::closeFind() {
    if (!m_bar)
        return;
    m_live.stop();
    m_view.marksOn = nullptr;
    m_view.showOnly(nullptr);
    m_bar->hide();
    if (relayout)
        relayout();
    m_view.setFocus();
    m_view.viewport()->update();
}

void ScreenControls::queryChanged() {
    FindQuery query;
    query.text = m_bar->text->text();
    query.regex = m_bar->regex->isChecked();
    query.caseSensitive = m_bar->caseSensitive->isChecked();
    QString error;
    if (!m_finder.setQuery(query, &error)) {
        m_bar->count->setText(QStringLiteral("正規表現の誤り"));
        m_bar->count->setToolTip(error);
    } else {
        m_bar->count->setToolTip(QString());
    }
    m_view.marksOn = [this](qint64 line, const QString& text) {
        return m_finder.marksIn(line, text);
    };
    m_seen = m_view.store().revision() - 1;
    catchUp();
    m_live.start();
}

void ScreenControls::filterChanged() {
    m_view.showOnly(m_bar->filter->isChecked() && m_finder.active() ? &m_finder.lines() : nullptr);
}

void ScreenControls::catchUp() {
    if (m_seen == m_view.store().revision())
        return;
    m_seen = m_view.store().revision();
    m_finder.update();
    if (m_finder.active())
        m_bar->count->setText(QStringLiteral("%1 件").arg(m_finder.count()));
    else if (m_bar->text->text().isEmpty())
        m_bar->count->clear();
    filterChanged();
}

void ScreenControls::findNext(bool backward) {
    if (!m_bar || !m_bar->isVisible()) {
        openFind();
        return;
    }
    catchUp();
    const TextPos start = std::min(m_view.anchor(), m_view.caret());
    const TextPos end = std::max(m_view.anchor(), m_view.caret());
    const std::optional<TextMark> found = m_finder.next(backward ? start : end, backward);
    if (!found) {
        QApplication::beep();
        return;
    }
    m_view.select({found->line, found->column}, {found->line, found->column + found->length});
    m_view.showLine(found->line);
}
