#pragma once

#include "platform/Prompts.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QMessageBox;

// Qt's own texts (the text boxes' context menus, the file dialog's tool tips
// and headers) in Japanese like the rest of the program, whatever the locale.
// False when Qt's translations are not installed.
bool installQtTranslations();

// The real boxes: QMessageBox, QInputDialog and a QFileDialog that looks and
// behaves the same on every desktop. Each box is modal over the dialog that
// is open, else over the owner window, whether or not it has the focus.
class QtPrompts : public Prompts {
public:
    void setOwner(QWidget* window) { m_owner = window; }

    int messageBox(const QString& text, const QString& title, MsgButtons buttons, MsgIcon icon,
                   int defaultButton = 0) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& defaultReply) override;
    FileDialogResult fileOpen(const FileDialogSetup& setup) override;
    void beep() override;
    void closeMessageBox(const QString& text) override;

private:
    QWidget* owner() const;
    QPointer<QWidget> m_owner;
    QList<QPointer<QMessageBox>> m_open; // message boxes being shown, innermost last
};
