#include "datapath/DataPath.h"

#include "serial/ISerialCtl.h"

CommEventText commEventText(int code) {
    struct Row {
        int code;
        const char* text;
        bool error;
    };
    static const Row rows[] = {
        {CommReceive, "", false},
        {CommSend, "", false},
        {CommCTS, "CTS ﾗｲﾝの状態が変化しました。", false},
        {CommDSR, "DSR ﾗｲﾝの状態が変化しました。", false},
        {CommCD, "CD ﾗｲﾝの状態が変化しました。", false},
        {CommRing, "呼び出し信号を検出しました。", false},
        {CommEOF, "EOF を受信しました。", false},
        {CommErrorBreak, "ﾌﾞﾚｰｸ信号を検出しました。", true},
        {CommErrorCTSTimeout, "CTS ﾀｲﾑｱｳﾄを検出しました。", true},
        {CommErrorDSRTimeout, "DSR ﾀｲﾑｱｳﾄを検出しました。", true},
        {CommErrorFraming, "ﾌﾚｰﾐﾝｸﾞ ｴﾗｰが発生しました。", true},
        {CommErrorOverrun, "ｵｰﾊﾞｰﾗﾝ ｴﾗｰが発生しました。", true},
        {CommErrorCDTimeout, "CD ﾀｲﾑｱｳﾄを検出しました。", true},
        {CommErrorRxOverflow, "受信ﾊﾞｯﾌｧがｵｰﾊﾞｰﾌﾛｰしました。", true},
        {CommErrorParity, "ﾊﾟﾘﾃｨ ｴﾗｰが発生しました。", true},
        {CommErrorTxFull, "送信ﾊﾞｯﾌｧ ﾌﾙ ｴﾗｰが発生しました。", true},
        {CommErrorConfig, "DCB 取得時にｴﾗｰが発生しました。", true},
    };
    for (const Row& row : rows)
        if (row.code == code)
            return {QString::fromUtf8(row.text), row.error};
    return {QStringLiteral("未定義のｴﾗｰまたはｲﾍﾞﾝﾄが発生しました。"), true};
}
