#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;

// The find bar under the terminal: the text, its options, next and previous,
// and how many matches there are. It only says what the user asked for.
class FindBar : public QWidget {
    Q_OBJECT
public:
    explicit FindBar(QWidget* parent = nullptr);

    QLineEdit* text = nullptr;
    QCheckBox* regex = nullptr;
    QCheckBox* caseSensitive = nullptr;
    QCheckBox* filter = nullptr;
    QToolButton* previous = nullptr;
    QToolButton* next = nullptr;
    QLabel* count = nullptr;

signals:
    void queryChanged();
    void filterChanged();
    void findNext(bool backward);
    void closing();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};
