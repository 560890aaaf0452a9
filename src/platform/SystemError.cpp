#include "platform/SystemError.h"

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
