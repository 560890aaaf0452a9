#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "platform/QtPrompts.h"
#include "platform/SettingsStore.h"
#include "serial/SerialCtl.h"
#include "terminal/frmTerminal.h"

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstring>

// --help and --version answer on the console, before any display is needed;
// every other argument is Qt's.
static bool answeredOnConsole(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("velmora %s\n", VELMORA_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("使い方: velmora [Qt のオプション]\n"
                        "RS-232C シリアル回線用のターミナルです。\n"
                        "\n"
                        "  -h, --help   この説明を表示して終了します\n"
                        "  --version    版数を表示して終了します\n"
                        "\n"
                        "詳しくは man velmora を参照してください。\n");
            return true;
        }
    }
    return false;
}

int main(int argc, char** argv) {
    if (answeredOnConsole(argc, argv))
        return std::fflush(stdout) == 0 ? 0 : 1;
    // A capture log on a pipe whose reader went away must fail the write,
    // not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(appTitle());
    installQtTranslations();
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
    prompts.setOwner(&window);
    QObject::connect(&window, &frmTerminal::ended, &app, &QCoreApplication::quit);
    window.show();
    return app.exec();
}
