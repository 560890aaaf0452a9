#pragma once

#include "platform/Prompts.h"

// The real boxes: QMessageBox, QInputDialog and a QFileDialog that looks and
// behaves the same on every desktop. Each box is modal over the active window.
class QtPrompts : public Prompts {
public:
    int messageBox(const QString& text, const QString& title, MsgButtons buttons, MsgIcon icon,
                   int defaultButton = 0) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& defaultReply) override;
    FileDialogResult fileOpen(const FileDialogSetup& setup) override;
    void beep() override;
};
