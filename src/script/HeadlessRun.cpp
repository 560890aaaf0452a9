#include "script/HeadlessRun.h"

#include "datapath/DataPath.h"
#include "datapath/ReceiveConsumer.h"
#include "datapath/StringTextTarget.h"
#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "script/ScriptRunner.h"
#include "serial/SerialCtl.h"
#include "settings/PortSettings.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void writeOut(std::FILE* stream, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
    std::fflush(stream);
}

// Boxes become lines on standard error, answered as a user who lets the
// program go on would: OK, ignore, cancel a retry.
class ConsolePrompts : public Prompts {
public:
    int messageBox(const QString& text, const QString&, MsgButtons buttons, MsgIcon, int) override {
        writeOut(stderr, text + QChar(u'\n'));
        switch (buttons) {
        case MsgButtons::OK:
        case MsgButtons::OKCancel:
            return AnswerOK;
        case MsgButtons::AbortRetryIgnore:
            return AnswerIgnore;
        default:
            return AnswerCancel;
        }
    }
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    FileDialogResult fileOpen(const FileDialogSetup&) override {
        FileDialogResult result;
        result.cancelled = true;
        return result;
    }
    void beep() override {}
};

// Received text, print() and log() all go to standard output, in order.
class ConsoleOutput : public ScriptOutput, public ReceiveConsumer {
public:
    void print(const QString& text) override { writeOut(stdout, text + QChar(u'\n')); }
    void log(const QString& text) override { writeOut(stdout, text + QChar(u'\n')); }
    void receivedText(const QString& text, qint64) override { writeOut(stdout, text); }
};

// SIGINT and SIGTERM end the script and close the port rather than leave the
// device locked.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void onSignal(int number) {
    caughtSignal = number;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// The saved view choices that change received text.
void applyViewSettings(SettingsStore& store, SerialCtl& serial, TerminalSession& session) {
    const auto stored = [&](const char* key) {
        return store.GetSetting(settingsApp(), QStringLiteral("View"), QLatin1String(key),
                                QString());
    };
    const QByteArray codePage = stored("Charset").toLatin1();
    for (const QByteArray& offered : {ShiftJisCodePage, Utf8CodePage, EucJpCodePage, JisCodePage})
        if (codePage == offered) {
            serial.setCodePage(codePage);
            session.setCodePage(codePage);
        }
    session.setInterpretEscapes(stored("Escapes") == QLatin1String("True"));
}

// The open's own message, or an empty text once the port is open.
QString openPort(SerialCtl& serial, int port) {
    QString failure;
    try {
        if (port > 0)
            serial.setCommPort(qint16(port));
        QEventLoop settled;
        QObject::connect(&serial, &ISerialCtl::OpenSettled, &settled, [&](const QString& why) {
            failure = why;
            settled.quit();
        });
        serial.setPortOpen(true);
        if (serial.connecting())
            settled.exec();
    } catch (const Failure& refused) {
        failure = refused.description();
    }
    return failure;
}

// What the script sent last still goes out before the port closes.
void drainAndClose(SerialCtl& serial) {
    QEventLoop pause;
    for (int waited = 0; waited < 10000 && serial.PortOpen() && serial.OutBufferCount() > 0;
         waited += 10) {
        QTimer::singleShot(10, &pause, &QEventLoop::quit);
        pause.exec();
    }
    try {
        serial.setPortOpen(false);
    } catch (const Failure&) {
    }
}

} // namespace

HeadlessRequest headlessRequest(int argc, char** argv) {
    HeadlessRequest request;
    for (int i = 1; i < argc; ++i) {
        const bool run = std::strcmp(argv[i], "--run") == 0;
        const bool port = std::strcmp(argv[i], "--port") == 0;
        if (!run && !port)
            continue;
        if (i + 1 >= argc) {
            request.error = QStringLiteral("%1 の後に値がありません。").arg(argv[i]);
            continue;
        }
        const QString value = QString::fromLocal8Bit(argv[++i]);
        if (run) {
            request.asked = true;
            request.file = value;
        } else {
            bool ok = false;
            request.port = value.toInt(&ok);
            if (!ok || request.port < 1)
                request.error = QStringLiteral("ﾎﾟｰﾄ番号 %1 は使えません。").arg(value);
        }
    }
    if (!request.asked && request.port > 0)
        request.error = QStringLiteral("--port は --run と共に指定してください。");
    request.asked = request.asked || !request.error.isEmpty();
    return request;
}

int runHeadless(int argc, char** argv, const HeadlessRequest& request) {
    if (!request.error.isEmpty()) {
        writeOut(stderr, request.error + QChar(u'\n'));
        return HeadlessScriptError;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(appTitle());
    SerialCtl serial;
    ConsolePrompts prompts;
    LoglessHost host(prompts);
    ConsoleOutput output;
    ScriptRunner runner(serial, output);
    QString error;
    // A script that does not compile never touches the port.
    if (!runner.load(request.file, &error)) {
        writeOut(stderr, error + QChar(u'\n'));
        return HeadlessScriptError;
    }
    QSettingsStore store;
    PendingFailure pending;
    bool echo = false;
    runLoadingSequence(serial, store, host.prompts(), pending, echo);
    StringTextTarget screen;
    TerminalSession session(screen, host, serial.codePage());
    applyViewSettings(store, serial, session);
    session.addConsumer(&output);

    QString lost;
    QObject::connect(&serial, &ISerialCtl::OnComm, &app, [&] { session.onComm(serial); });
    QObject::connect(&serial, &ISerialCtl::PortClosed, &app, [&] { session.portClosed(serial); });
    QObject::connect(&serial, &ISerialCtl::DeviceLost, &app,
                     [&](const QString& description) { lost = description; });
    const QString refused = openPort(serial, request.port);
    if (!refused.isEmpty()) {
        writeOut(stderr, refused + QChar(u'\n'));
        return HeadlessPortError;
    }

    int status = 0;
    QObject::connect(&runner, &ScriptRunner::ended, &app, [&](const ScriptEnd& end) {
        if (end.kind == ScriptEnd::Failed)
            writeOut(stderr, end.message + QChar(u'\n'));
        else if (end.kind == ScriptEnd::PortClosed && !lost.isEmpty())
            writeOut(stderr, lost + QChar(u'\n'));
        switch (end.kind) {
        case ScriptEnd::Failed:
            status = HeadlessScriptError;
            break;
        case ScriptEnd::PortClosed:
            status = HeadlessPortError;
            break;
        case ScriptEnd::Stopped:
            status = 128 + int(caughtSignal);
            break;
        default:
            status = end.status;
        }
        app.quit();
    });

    std::unique_ptr<QSocketNotifier> interrupts;
    if (::pipe(signalPipe) == 0) {
        interrupts = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(interrupts.get(), &QSocketNotifier::activated, &app, [&] {
            char byte = 0;
            [[maybe_unused]] const auto taken = ::read(signalPipe[0], &byte, 1);
            runner.stop();
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }

    session.portOpened();
    runner.run(session);
    app.exec();
    drainAndClose(serial);
    session.removeConsumer(&output);
    std::fflush(stdout);
    return status;
}
