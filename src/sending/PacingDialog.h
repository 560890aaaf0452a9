#pragma once

#include "sending/Pacing.h"

#include <QDialog>

class QCheckBox;
class QSpinBox;

// The pacing settings as the user edits them; nothing is kept on Cancel.
class PacingDialog : public QDialog {
    Q_OBJECT
public:
    explicit PacingDialog(const Pacing& pacing, QWidget* parent = nullptr);
    Pacing pacing() const;

    QSpinBox* charDelay;
    QSpinBox* lineDelay;
    QCheckBox* waitEcho;
    QSpinBox* echoTimeout;
};
