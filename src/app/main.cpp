#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "platform/QtPrompts.h"
#include "platform/SettingsStore.h"
#include "serial/SerialCtl.h"
#include "terminal/frmTerminal.h"

#include <QApplication>
#include <csignal>

int main(int argc, char** argv) {
    // A capture log on a pipe whose reader went away must fail the write,
    // not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(appTitle());
    // Latin text in the desktop's font, Japanese in a Japanese one rather than
    // whichever CJK face the font fallback happens to pick.
    QFont font = QApplication::font();
    font.setFamilies({font.family(), QStringLiteral("Noto Sans CJK JP")});
    QApplication::setFont(font);

    SerialCtl serial;
    QtPrompts prompts;
    QSettingsStore store;
    SystemClock clock;
    frmTerminal window(&serial, &prompts, &store, &clock);
    QObject::connect(&window, &frmTerminal::ended, &app, &QCoreApplication::quit);
    window.show();
    return app.exec();
}
