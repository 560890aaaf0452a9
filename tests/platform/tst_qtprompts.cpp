// The real boxes: what they show and which answer each button gives.
#include "platform/QtPrompts.h"

#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

Q_DECLARE_METATYPE(MsgButtons)
Q_DECLARE_METATYPE(MsgIcon)

namespace {

// Runs `act` on the modal box once it is up.
void whenModal(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        act(box);
    });
    poll->start();
}

QString options(bool nonNative, bool noQuestion, bool anyName) {
    return QStringList{nonNative ? "non-native" : "native",
                       noQuestion ? "no overwrite question" : "asks to overwrite",
                       anyName ? "any name" : "existing files only"}
        .join(", ");
}

} // namespace

class tst_QtPrompts : public QObject {
    Q_OBJECT
private slots:
    void messageBox_data();
    void messageBox();
    void inputBox_data();
    void inputBox();
    void fileOpen_data();
    void fileOpen();
    void qtTextsAreJapanese();
};

void tst_QtPrompts::messageBox_data() {
    QTest::addColumn<MsgButtons>("buttons");
    QTest::addColumn<MsgIcon>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("defaultButton");
    QTest::addColumn<QString>("press"); // caption, "escape", or "program" (closeMessageBox)
    QTest::addColumn<QString>("shown"); // title | icon | buttons left to right | default
    QTest::addColumn<int>("answer");

    QTest::newRow("warning, application title")
        << MsgButtons::OK << MsgIcon::Exclamation << "" << 0 << "escape"
        << "Velmora | 2 | OK | OK" << int(AnswerOK);
    QTest::newRow("own title, escape answers cancel")
        << MsgButtons::OKCancel << MsgIcon::None << "中断する場合は" << 0 << "escape"
        << "中断する場合は | 0 | OK,ｷｬﾝｾﾙ | OK" << int(AnswerCancel);
    QTest::newRow("yes is the default, no answered")
        << MsgButtons::YesNoCancel << MsgIcon::Question << "" << int(AnswerYes) << "いいえ(&N)"
        << "Velmora | 4 | はい(&Y),いいえ(&N),ｷｬﾝｾﾙ | はい(&Y)" << int(AnswerNo);
    QTest::newRow("abort, retry, ignore in order")
        << MsgButtons::AbortRetryIgnore << MsgIcon::Question << "Velmora" << 0 << "無視(&I)"
        << "Velmora | 4 | 中止(&A),再試行(&R),無視(&I) | 中止(&A)" << int(AnswerIgnore);
    QTest::newRow("retry/cancel, critical")
        << MsgButtons::RetryCancel << MsgIcon::Critical << "" << 0 << "再試行(&R)"
        << "Velmora | 3 | 再試行(&R),ｷｬﾝｾﾙ | 再試行(&R)" << int(AnswerRetry);
    QTest::newRow("warning closed by the program")
        << MsgButtons::OK << MsgIcon::Exclamation << "" << 0 << "program"
        << "Velmora | 2 | OK | OK" << int(AnswerOK);
    QTest::newRow("question closed by the program answers cancel")
        << MsgButtons::OKCancel << MsgIcon::Question << "" << 0 << "program"
        << "Velmora | 4 | OK,ｷｬﾝｾﾙ | OK" << int(AnswerCancel);
}

void tst_QtPrompts::messageBox() {
    QFETCH(MsgButtons, buttons);
    QFETCH(MsgIcon, icon);
    QFETCH(QString, title);
    QFETCH(int, defaultButton);
    QFETCH(QString, press);
    QFETCH(QString, shown);
    QFETCH(int, answer);

    const QString text = "ﾃﾞｰﾀが送信できません。";
    // A box raised while the window is not the active one still belongs to it.
    QWidget window;
    QtPrompts prompts;
    prompts.setOwner(&window);
    QString seen;
    QWidget* parent = nullptr;
    whenModal([&](QWidget* widget) {
        parent = widget->parentWidget();
        auto* box = qobject_cast<QMessageBox*>(widget);
        QList<QAbstractButton*> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton* a, QAbstractButton* b) {
            return a->mapTo(box, QPoint()).x() < b->mapTo(box, QPoint()).x();
        });
        QStringList captions;
        for (QAbstractButton* button : buttons)
            captions << button->text();
        seen = QStringLiteral("%1 | %2 | %3 | %4")
                   .arg(box->windowTitle())
                   .arg(int(box->icon()))
                   .arg(captions.join(","), box->defaultButton()->text());
        if (press == "escape")
            QTest::keyClick(box, Qt::Key_Escape);
        if (press == "program") {
            prompts.closeMessageBox("another text"); // leaves this box alone
            QVERIFY(box->isVisible());
            prompts.closeMessageBox(text);
        }
        for (QAbstractButton* button : buttons)
            if (button->text() == press)
                button->click();
    });
    QCOMPARE(prompts.messageBox(text, title, buttons, icon, defaultButton), answer);
    QCOMPARE(seen, shown);
    QCOMPARE(parent, &window);
}

void tst_QtPrompts::inputBox_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("reply");
    QTest::newRow("OK with the default reply") << QString() << true << "0";
    QTest::newRow("OK with an emptied field is not cancel") << "" << true << "";
    QTest::newRow("cancel") << "99" << false << "<cancel>";
}

void tst_QtPrompts::inputBox() {
    QFETCH(QString, typed);
    QFETCH(bool, accept);
    QFETCH(QString, reply);
    QString seen;
    whenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        seen = dialog->windowTitle() + " | " + dialog->labelText() + " | " + dialog->textValue();
        if (!typed.isNull())
            dialog->setTextValue(typed);
        accept ? dialog->accept() : dialog->reject();
    });
    QtPrompts prompts;
    const auto answer = prompts.inputBox("RThreshold を入力してください :", "", "0");
    QCOMPARE(seen, "Velmora | RThreshold を入力してください : | 0");
    QCOMPARE(answer.value_or("<cancel>"), reply);
}

void tst_QtPrompts::fileOpen_data() {
    QTest::addColumn<QString>("typed"); // null: cancel
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("fileTitle");
    QTest::addColumn<bool>("reportedTyped");
    QTest::newRow("a typed name is reported as typed, extension left to the caller")
        << "capture" << QString() << "capture" << true;
    QTest::newRow("an existing file typed, no question")
        << "existing.LOG" << QString() << "existing.LOG" << true;
    QTest::newRow("a file picked in the list keeps its name") << "bench"
                                                              << "bench-run"
                                                              << "bench-run" << false;
    QTest::newRow("cancel") << QString() << QString() << QString() << false;
}

void tst_QtPrompts::fileOpen() {
    QFETCH(QString, typed);
    QFETCH(QString, picked);
    QFETCH(QString, fileTitle);
    QFETCH(bool, reportedTyped);
    QTemporaryDir dir;
    for (const char* existingName : {"existing.LOG", "bench-run"}) {
        QFile existing(dir.filePath(existingName));
        QVERIFY(existing.open(QIODevice::WriteOnly));
    }
    FileDialogSetup setup;
    setup.title = "通信ﾛｸﾞ ﾌｧｲﾙを開く";
    setup.filters = {"ﾛｸﾞ ﾌｧｲﾙ (*.LOG) (*.log *.LOG)", "すべてのﾌｧｲﾙ (*.*) (*)"};
    setup.defaultSuffix = "LOG";

    QString seen;
    whenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        seen = QStringLiteral("%1 | %2, %3 | selected %4 | name [%5] | %6")
                   .arg(dialog->windowTitle(), types->itemText(0), types->itemText(1),
                        types->currentText(), name->text(),
                        options(dialog->testOption(QFileDialog::DontUseNativeDialog),
                                dialog->testOption(QFileDialog::DontConfirmOverwrite),
                                dialog->fileMode() == QFileDialog::AnyFile));
        if (typed.isNull())
            return dialog->reject();
        dialog->setDirectory(dir.path()); // it opens where the last one was left
        QTest::keyClicks(name, typed);
        if (!picked.isEmpty())
            dialog->selectFile(picked);          // as a click in the list does
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides its accept()
    });
    QtPrompts prompts;
    const FileDialogResult chosen = prompts.fileOpen(setup);
    QCOMPARE(seen, "通信ﾛｸﾞ ﾌｧｲﾙを開く | ﾛｸﾞ ﾌｧｲﾙ (*.LOG), すべてのﾌｧｲﾙ (*.*) | selected ﾛｸﾞ "
                   "ﾌｧｲﾙ (*.LOG) | name [] | non-native, no overwrite question, any name");
    QCOMPARE(chosen.cancelled, typed.isNull());
    QCOMPARE(chosen.fileTitle, fileTitle);
    if (!chosen.cancelled) {
        QCOMPARE(chosen.path, QDir(dir.path()).filePath(fileTitle));
        QCOMPARE(chosen.typed, reportedTyped);
    }
}

// A text box's own context menu speaks Japanese, whatever the locale.
void tst_QtPrompts::qtTextsAreJapanese() {
    QVERIFY(installQtTranslations());
    QPlainTextEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (const QAction* action : menu->actions())
        if (!action->isSeparator())
            texts << action->text().section('\t', 0, 0);
    QCOMPARE(texts.size(), 7); // undo, redo, cut, copy, paste, delete, select all
    for (const QString& text : texts)
        QVERIFY2(
            std::any_of(text.begin(), text.end(), [](QChar ch) { return ch.unicode() > 0x2FFF; }),
            qPrintable(text));
}

QTEST_MAIN(tst_QtPrompts)
#include "tst_qtprompts.moc"
