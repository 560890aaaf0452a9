#include "serial/LineSettings.h"

#include "serial/SerialBackend.h"

#include <QRegularExpression>

std::optional<LineSettings> LineSettings::parse(const QString& text) {
    static const QRegularExpression form(QRegularExpression::anchoredPattern(
        QStringLiteral("(\\d{1,8}),([eEoOnNmMsS]),([4-8]),(1|1\\.5|2)")));
    const auto match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    LineSettings settings;
    settings.speed = match.captured(1).toInt();
    settings.parity = match.captured(2).toLower().at(0).toLatin1();
    settings.dataBits = match.captured(3).toInt();
    const QString stop = match.captured(4);
    settings.stopBits = stop == QLatin1String("1")     ? StopBits::One
                        : stop == QLatin1String("1.5") ? StopBits::OneAndHalf
                                                       : StopBits::Two;
    return settings;
}

static QString stopBitsText(StopBits stopBits) {
    switch (stopBits) {
    case StopBits::One:
        return QStringLiteral("1");
    case StopBits::OneAndHalf:
        return QStringLiteral("1.5");
    case StopBits::Two:
        break;
    }
    return QStringLiteral("2");
}

QString LineSettings::compose() const {
    return composeSettingsText(QString::number(speed), QString(QLatin1Char(parity)),
                               QString::number(dataBits), stopBitsText(stopBits));
}

QString LineSettings::validate(const QString& text) {
    const std::optional<LineSettings> settings = parse(text);
    if (!settings)
        return QStringLiteral("設定 \"%1\" は無効です。速度,パリティ (E/O/N/M/S),"
                              "データ ビット (4-8),ストップ ビット (1/1.5/2) を"
                              "空白なしで指定してください (例: 9600,n,8,1)。")
            .arg(text);
    if (settings->speed < slowest || settings->speed > fastest)
        return QStringLiteral("速度 %1 は使えません (%2 から %3 まで)。")
            .arg(settings->speed)
            .arg(slowest)
            .arg(fastest);
    return {};
}

QString LineSettings::describe(qint32 handshaking) const {
    return QStringLiteral("%1 (フロー制御: %2)").arg(compose(), flowControlName(handshaking));
}

QString LineSettings::toConfig(qint32 handshaking, LineConfig& config) const {
    if (dataBits == 4)
        return QStringLiteral("データ ビット 4 は使えません (5 から 8 まで)");
    if (stopBits == StopBits::OneAndHalf && dataBits != 5)
        return QStringLiteral("ストップ ビット 1.5 はデータ ビットが 5 のときだけ使えます");
    config.speed = speed;
    config.parity = parity;
    config.dataBits = dataBits;
    config.twoStopBits = stopBits != StopBits::One;
    config.handshaking = handshaking;
    return {};
}

LineSettings LineSettings::fromConfig(const LineConfig& config) {
    LineSettings settings;
    settings.speed = config.speed;
    settings.parity = config.parity;
    settings.dataBits = config.dataBits;
    settings.stopBits = !config.twoStopBits    ? StopBits::One
                        : config.dataBits == 5 ? StopBits::OneAndHalf
                                               : StopBits::Two;
    return settings;
}

QString composeSettingsText(const QString& speed, const QString& parity, const QString& dataBits,
                            const QString& stopBits) {
    return speed.trimmed() + QLatin1Char(',') + parity.left(1) + QLatin1Char(',') +
           dataBits.trimmed() + QLatin1Char(',') + stopBits.trimmed();
}

QString flowControlName(qint32 mode) {
    static const char* const names[] = {"なし", "Xon/Xoff", "RTS", "Xon/RTS"};
    return mode >= 0 && mode <= 3 ? QString::fromUtf8(names[mode]) : QString::number(mode);
}
