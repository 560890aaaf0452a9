#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "platform/QtPrompts.h"
#include "platform/SettingsStore.h"
#include "script/HeadlessRun.h"
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
                        "       velmora --run ファイル [--port N]\n"
                        "RS-232C シリアル回線用のターミナルです。\n"
                        "\n"
                        "  -h, --help       この説明を表示して終了します\n"
                        "  --version        版数を表示して終了します\n"
                        "  --run ファイル   Lua スクリプトをウィンドウなしで実行します。\n"
                        "                   受信した文字は標準出力に出します。\n"
                        "  --port N         --run で Com N を使います (既定: 保存したポート)\n"
                        "\n"
                        "--run の終了状態: スクリプトの exit(n) の n、最後まで実行すれば 0、\n"
                        "スクリプトのエラーは 1 (標準エラーに ファイル:行: メッセージ)、\n"
                        "ポートを開けない・失ったときは 2 (標準エラーに理由)。\n"
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
    // A script without a window needs no display.
    if (const HeadlessRequest run = headlessRequest(argc, argv); run.asked)
        return runHeadless(argc, argv, run);
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
