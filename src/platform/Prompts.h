#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The application title: every box given no title carries it.
inline QString appTitle() {
    return QStringLiteral("Velmora");
}

enum class MsgButtons { OK, OKCancel, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class MsgIcon { None, Critical, Question, Exclamation, Information };

// Answer codes of a message box, as the program compares them.
enum MsgAnswer {
    AnswerOK = 1,
    AnswerCancel = 2,
    AnswerAbort = 3,
    AnswerRetry = 4,
    AnswerIgnore = 5,
    AnswerYes = 6,
    AnswerNo = 7
};

struct FileDialogSetup {
    QString title;
    QStringList filters; // Qt name filters, "description (patterns)"
    int selectedFilter = 0;
    QString defaultSuffix; // for the caller to add to a typed name
    QString fileName;      // emptied before every showing
    bool saving = false;   // a file to write: the button says so
    bool folder = false;   // a folder is chosen, not a file
    QString directory;     // where the dialog opens; empty for the last place
};

struct FileDialogResult {
    bool cancelled = false;
    QString path;      // full path of the chosen file
    QString fileTitle; // its name without the folder
    // The name came from the keyboard, not from the file list: only such a
    // name gets the default extension.
    bool typed = true;
};

// Every modal box the program shows goes through here, so tests can answer
// them with a script and see what was asked.
class Prompts {
public:
    virtual ~Prompts() = default;
    // An empty title means the application title. defaultButton is an answer
    // code (AnswerYes ...) or 0 for the first button.
    virtual int messageBox(const QString& text, const QString& title, MsgButtons buttons,
                           MsgIcon icon, int defaultButton = 0) = 0;
    // std::nullopt on Cancel; the edited text (possibly empty) on OK.
    virtual std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                            const QString& defaultReply) = 0;
    virtual FileDialogResult fileOpen(const FileDialogSetup& setup) = 0;
    virtual void beep() = 0;
    // Closes a message box with this text that is still open (as its escape
    // button would), for a box whose cause has passed; nothing when none is.
    // Boxes that never stay open need not do anything.
    virtual void closeMessageBox(const QString& text) { Q_UNUSED(text); }

    // The warning box of the record-and-check handlers.
    void warn(const QString& description) {
        messageBox(description, QString(), MsgButtons::OK, MsgIcon::Exclamation);
    }
};
