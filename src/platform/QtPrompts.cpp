#include "platform/QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

namespace {

QString titleOrApp(const QString& title) {
    return title.isEmpty() ? appTitle() : title;
}

struct ButtonInfo {
    int answer;
    const char* caption;
};

// The buttons of each set, first to last, with the captions of a Japanese desktop.
QList<ButtonInfo> buttonsOf(MsgButtons buttons) {
    const ButtonInfo ok{AnswerOK, "OK"};
    const ButtonInfo cancel{AnswerCancel, "ｷｬﾝｾﾙ"};
    const ButtonInfo abort{AnswerAbort, "中止(&A)"};
    const ButtonInfo retry{AnswerRetry, "再試行(&R)"};
    const ButtonInfo ignore{AnswerIgnore, "無視(&I)"};
    const ButtonInfo yes{AnswerYes, "はい(&Y)"};
    const ButtonInfo no{AnswerNo, "いいえ(&N)"};
    switch (buttons) {
    case MsgButtons::OK:
        return {ok};
    case MsgButtons::OKCancel:
        return {ok, cancel};
    case MsgButtons::YesNoCancel:
        return {yes, no, cancel};
    case MsgButtons::RetryCancel:
        return {retry, cancel};
    case MsgButtons::AbortRetryIgnore:
        return {abort, retry, ignore};
    }
    return {ok};
}

QMessageBox::Icon iconOf(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::None:
        return QMessageBox::NoIcon;
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

} // namespace

bool installQtTranslations() {
    auto* translator = new QTranslator(qApp);
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QWidget* QtPrompts::owner() const {
    // The active window is null while another program has the focus, and a
    // box without a parent can open behind the window it is about.
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return m_owner ? m_owner.data() : QApplication::activeWindow();
}

int QtPrompts::messageBox(const QString& text, const QString& title, MsgButtons buttons,
                          MsgIcon icon, int defaultButton) {
    QMessageBox box(iconOf(icon), titleOrApp(title), text, QMessageBox::NoButton, owner());
    const QList<ButtonInfo> offered = buttonsOf(buttons);
    // One role for all keeps the buttons in the order given, on every desktop.
    QList<QPushButton*> added;
    for (const ButtonInfo& info : offered)
        added << box.addButton(QString::fromUtf8(info.caption), QMessageBox::ActionRole);
    int defaultIndex = 0;
    for (int i = 0; i < offered.size(); ++i) {
        if (offered.at(i).answer == defaultButton)
            defaultIndex = i;
    }
    box.setDefaultButton(added.at(defaultIndex));
    // Escape and the close box answer Cancel where there is one, else the
    // only button; Abort/Retry/Ignore and Yes/No without Cancel need a button.
    for (int i = 0; i < offered.size(); ++i) {
        if (offered.at(i).answer == AnswerCancel || offered.size() == 1)
            box.setEscapeButton(added.at(i));
    }
    m_open.append(&box);
    box.exec();
    m_open.removeAll(&box);
    const int clicked = int(added.indexOf(qobject_cast<QPushButton*>(box.clickedButton())));
    if (clicked >= 0)
        return offered.at(clicked).answer;
    return offered.size() == 1 ? offered.first().answer : AnswerCancel;
}

std::optional<QString> QtPrompts::inputBox(const QString& prompt, const QString& title,
                                           const QString& defaultReply) {
    QInputDialog dialog(owner());
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(titleOrApp(title));
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultReply);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("ｷｬﾝｾﾙ"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

FileDialogResult QtPrompts::fileOpen(const FileDialogSetup& setup) {
    QFileDialog dialog(owner(), titleOrApp(setup.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(setup.saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("ﾌｧｲﾙの場所:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("ﾌｧｲﾙ名(&N):"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("ﾌｧｲﾙの種類(&T):"));
    dialog.setLabelText(QFileDialog::Accept,
                        setup.saving ? QStringLiteral("保存(&S)") : QStringLiteral("開く(&O)"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("ｷｬﾝｾﾙ"));
    if (setup.folder) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setLabelText(QFileDialog::Accept, QStringLiteral("選択(&S)"));
    }
    if (!setup.directory.isEmpty())
        dialog.setDirectory(setup.directory);
    if (!setup.filters.isEmpty()) {
        dialog.setNameFilters(setup.filters);
        dialog.selectNameFilter(setup.filters.value(setup.selectedFilter, setup.filters.first()));
    }
    // The default extension is left to the caller: the dialog would add it to
    // a file picked in the list as well. The name is typed when the field
    // still holds what the keyboard last put there.
    dialog.selectFile(setup.fileName);
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QString lastTyped;
    if (name)
        QObject::connect(name, &QLineEdit::textEdited, &dialog,
                         [&lastTyped](const QString& text) { lastTyped = text; });

    FileDialogResult result;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        result.cancelled = true;
        return result;
    }
    result.path = dialog.selectedFiles().first();
    result.fileTitle = QFileInfo(result.path).fileName();
    result.typed = !name || (!lastTyped.isEmpty() && name->text() == lastTyped);
    return result;
}

void QtPrompts::closeMessageBox(const QString& text) {
    for (const QPointer<QMessageBox>& box : std::as_const(m_open)) {
        if (box && box->text() == text) {
            if (QAbstractButton* escape = box->escapeButton())
                escape->click();
            else
                box->reject();
        }
    }
}

void QtPrompts::beep() {
    QApplication::beep();
}
