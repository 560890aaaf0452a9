#pragma once

#include <QString>
#include <optional>

struct LineConfig;

enum class StopBits { One, OneAndHalf, Two };

// Speed, parity, data bits and stop bits of a line: the value behind the
// settings text "9600,n,8,1". The one place that text is parsed and composed.
struct LineSettings {
    static constexpr qint32 slowest = 50;
    static constexpr qint32 fastest = 4000000;

    qint32 speed = 9600;
    char parity = 'n'; // e o n m s
    int dataBits = 8;  // 4 to 8
    StopBits stopBits = StopBits::One;

    // "speed,parity,data bits,stop bits" with no blanks: decimal digits, one
    // of e o n m s in either case, 4 to 8, and 1, 1.5 or 2. Nothing else
    // parses; a parsed speed may still be out of range (see validate()).
    static std::optional<LineSettings> parse(const QString& text);
    // Empty when `text` is a settings text the component takes, else why not.
    static QString validate(const QString& text);
    // The settings text, parity in lower case.
    QString compose() const;
    // For messages: "9600,n,8,1 (フロー制御: なし)".
    QString describe(qint32 handshaking) const;
    // What a UART is told for these settings and flow-control mode `handshaking`;
    // empty when it can do them, else why not (4 data bits, or 1.5 stop bits
    // with other than 5 data bits). `config` is set only on success.
    QString toConfig(qint32 handshaking, LineConfig& config) const;
    static LineSettings fromConfig(const LineConfig& config);

    bool operator==(const LineSettings& other) const {
        return speed == other.speed && parity == other.parity && dataBits == other.dataBits &&
               stopBits == other.stopBits;
    }
    bool operator!=(const LineSettings& other) const { return !(*this == other); }
};

// The settings text as the user put it together from four field texts:
// blanks trimmed, parity as the initial of its name ("None" gives N). Not
// checked: the serial component judges it when it is written.
QString composeSettingsText(const QString& speed, const QString& parity, const QString& dataBits,
                            const QString& stopBits);

// "なし", "Xon/Xoff", "RTS", "Xon/RTS" for modes 0 to 3, else the number.
QString flowControlName(qint32 mode);
