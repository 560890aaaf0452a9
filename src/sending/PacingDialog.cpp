#include "sending/PacingDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QSpinBox* msBox(int maximum, int value, const char* name) {
    auto* box = new QSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setRange(0, maximum);
    box->setSuffix(QStringLiteral(" ms"));
    box->setValue(value);
    return box;
}

} // namespace

PacingDialog::PacingDialog(const Pacing& pacing, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("送信の間隔"));
    const Pacing p = pacing.clamped();
    charDelay = msBox(Pacing::maxCharDelayMs, p.charDelayMs, "charDelay");
    lineDelay = msBox(Pacing::maxLineDelayMs, p.lineDelayMs, "lineDelay");
    waitEcho = new QCheckBox(QStringLiteral("行ごとにｴｺｰを待つ(&E)"));
    waitEcho->setObjectName(QStringLiteral("waitEcho"));
    waitEcho->setChecked(p.waitEcho);
    echoTimeout = msBox(Pacing::maxEchoTimeoutMs, p.echoTimeoutMs, "echoTimeout");
    echoTimeout->setEnabled(p.waitEcho);
    connect(waitEcho, &QCheckBox::toggled, echoTimeout, &QWidget::setEnabled);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("1 文字ごと(&C):"), charDelay);
    form->addRow(QStringLiteral("行末ごと(&L):"), lineDelay);
    form->addRow(waitEcho);
    form->addRow(QStringLiteral("ｴｺｰを待つ最長時間(&T):"), echoTimeout);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("ｷｬﾝｾﾙ"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setFixedSize(sizeHint());
}

Pacing PacingDialog::pacing() const {
    Pacing p;
    p.charDelayMs = charDelay->value();
    p.lineDelayMs = lineDelay->value();
    p.waitEcho = waitEcho->isChecked();
    p.echoTimeoutMs = echoTimeout->value();
    return p;
}
