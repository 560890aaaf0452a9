#include "platform/SystemError.h"

#include <QStringList>
#include <cerrno>
#include <cstring>

QString describeErrno(int error) {
    switch (error) {
    case ENOENT:
        return QStringLiteral("ファイルまたはデバイスが見つかりません (ENOENT)");
    case ENODEV:
    case ENXIO:
        return QStringLiteral("デバイスがありません (%1)")
            .arg(error == ENODEV ? "ENODEV" : "ENXIO");
    case EACCES:
        return QStringLiteral("アクセスが拒否されました (EACCES)");
    case EPERM:
        return QStringLiteral("操作が許可されていません (EPERM)");
    case EBUSY:
        return QStringLiteral("使用中です (EBUSY)");
    case EWOULDBLOCK:
        return QStringLiteral("他のプログラムが使用中です (EWOULDBLOCK)");
    case EISDIR:
        return QStringLiteral("フォルダーです (EISDIR)");
    case ENOTDIR:
        return QStringLiteral("パスの途中がフォルダーではありません (ENOTDIR)");
    case ENOSPC:
        return QStringLiteral("ディスクに空きがありません (ENOSPC)");
    case EROFS:
        return QStringLiteral("読み取り専用のファイル システムです (EROFS)");
    case EIO:
        return QStringLiteral("入出力エラー (EIO)");
    case EINVAL:
        return QStringLiteral("無効な値です (EINVAL)");
    case ENOTTY:
        return QStringLiteral("シリアル デバイスではありません (ENOTTY)");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("開いているファイルが多すぎます (%1)")
            .arg(error == EMFILE ? "EMFILE" : "ENFILE");
    case ENAMETOOLONG:
        return QStringLiteral("名前が長すぎます (ENAMETOOLONG)");
    case ELOOP:
        return QStringLiteral("シンボリック リンクが循環しています (ELOOP)");
    case EFBIG:
        return QStringLiteral("ファイルが大きすぎます (EFBIG)");
    case EDQUOT:
        return QStringLiteral("ディスク クォータを超えました (EDQUOT)");
    default:
        break;
    }
    return QStringLiteral("%1 (errno %2)")
        .arg(QString::fromLocal8Bit(std::strerror(error)))
        .arg(error);
}

ErrorKind errorKindOf(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return ErrorKind::Missing;
    case EBUSY:
    case EWOULDBLOCK:
        return ErrorKind::Busy;
    case EACCES:
    case EPERM:
        return ErrorKind::NotPermitted;
    case ENOTTY:
        return ErrorKind::NotSerial;
    default:
        return ErrorKind::Other;
    }
}

ErrorKind lossKindOf(int error) {
    if (error == 0 || error == EIO || errorKindOf(error) == ErrorKind::Missing)
        return ErrorKind::Lost;
    return ErrorKind::Other;
}

QString describeDeviceError(ErrorKind kind, const QString& device) {
    switch (kind) {
    case ErrorKind::Missing:
        return QStringLiteral("デバイス %1 が見つかりません。").arg(device);
    case ErrorKind::Busy:
        return QStringLiteral("デバイス %1 は他のプログラムが使用中です。").arg(device);
    case ErrorKind::NotPermitted:
        return QStringLiteral("デバイス %1 を開く権限がありません。dialout グループに"
                              "参加して (sudo usermod -aG dialout $USER) "
                              "ログインし直してください。")
            .arg(device);
    case ErrorKind::NotSerial:
        return QStringLiteral("%1 はシリアル デバイスではありません。").arg(device);
    case ErrorKind::Lost:
        return QStringLiteral("%1 との接続が切れました。デバイスが取り外されたか、"
                              "回線が切断されました。")
            .arg(device);
    case ErrorKind::Refused:
    case ErrorKind::Other:
        break;
    }
    return QStringLiteral("デバイス %1 でエラーが発生しました。").arg(device);
}

QString describeProcess(const ProcessRef& process) {
    return process.name.isEmpty()
               ? QStringLiteral("pid %1").arg(process.pid)
               : QStringLiteral("%1 (pid %2)").arg(process.name).arg(process.pid);
}

namespace {

QString listed(const QList<ProcessRef>& processes) {
    QStringList names;
    for (const ProcessRef& process : processes)
        names << describeProcess(process);
    return names.join(QStringLiteral("、"));
}

bool named(const QList<ProcessRef>& processes, const char* name) {
    for (const ProcessRef& process : processes) {
        if (process.name == QLatin1String(name))
            return true;
    }
    return false;
}

} // namespace

QString describeHolders(const QList<ProcessRef>& holders, const QList<ProcessRef>& grabbers,
                        const QString& usbId) {
    QString text;
    const QList<ProcessRef>& suspects = holders.isEmpty() ? grabbers : holders;
    if (!holders.isEmpty())
        text = QStringLiteral("使用しているプログラム: %1。").arg(listed(holders));
    else if (!grabbers.isEmpty())
        text = QStringLiteral("使用しているプログラムは特定できませんでしたが、%1 が動いています。")
                   .arg(listed(grabbers));
    else
        text = QStringLiteral("使用しているプログラムは特定できませんでした "
                              "(他のユーザーのプログラムは調べられないことがあります)。");
    if (named(suspects, "ModemManager")) {
        const QString ids =
            usbId.section(QLatin1Char(':'), 0, 0).isEmpty()
                ? QString()
                : QStringLiteral("ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\", ")
                      .arg(usbId.section(QLatin1Char(':'), 0, 0),
                           usbId.section(QLatin1Char(':'), 1, 1));
        text +=
            QStringLiteral("ModemManager はモデムらしいデバイスを見つけると開いて調べます。"
                           "このデバイスを対象外にするには、udev の規則を "
                           "/etc/udev/rules.d/99-velmora.rules に %1ENV{ID_MM_DEVICE_IGNORE}=\"1\" "
                           "と書き、sudo udevadm control --reload を実行してから"
                           "デバイスを挿し直してください。")
                .arg(ids);
    }
    if (named(suspects, "brltty"))
        text += QStringLiteral("brltty (点字ディスプレイ用) は USB シリアル アダプタを"
                               "点字ディスプレイとみなして掴むことがあります。点字ディスプレイを"
                               "使わないなら sudo apt remove brltty で取り除けます。");
    return text;
}

QString describeLockHeld(const QString& device, const QString& lockPath, const ProcessRef& owner) {
    return QStringLiteral("デバイス %1 は他のプログラムが使用中です。ロック ファイル %2 が "
                          "%3 のものです。")
        .arg(device, lockPath, describeProcess(owner));
}

QString describeLockNotAPid(const QString& device, const QString& lockPath,
                            const QByteArray& content) {
    QString shown;
    for (const char c : content.left(24))
        shown += c >= 0x20 && c < 0x7f
                     ? QString(QLatin1Char(c))
                     : QStringLiteral("\\x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    return QStringLiteral("デバイス %1 はロック ファイル %2 でロックされていますが、その中身 "
                          "(\"%3\") はプロセス番号ではありません。どのプログラムもこのデバイスを"
                          "使っていなければ、ロック ファイルを削除してください。")
        .arg(device, lockPath, shown);
}

QString describeLockUnreadable(const QString& device, const QString& lockPath, int error) {
    return QStringLiteral("デバイス %1 のロック ファイル %2 を読めません。理由: %3")
        .arg(device, lockPath, describeErrno(error));
}

QString describeStaleLockKept(const QString& device, const QString& lockPath, long pid, int error) {
    return QStringLiteral(
               "デバイス %1 のロック ファイル %2 は終了したプロセス (pid %3) のものですが、"
               "削除できません。理由: %4")
        .arg(device, lockPath)
        .arg(pid)
        .arg(describeErrno(error));
}
