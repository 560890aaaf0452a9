#include "linecmds/LineCommands.h"

#include "linecmds/NumberReading.h"
#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "serial/ISerialCtl.h"

#include <optional>

namespace {

struct NumericRow {
    qint16 (ISerialCtl::*get)() const;
    void (ISerialCtl::*set)(qint16);
    const char16_t* prompt;
    const char16_t* title;
};

NumericRow rowFor(NumericParameter parameter) {
    switch (parameter) {
    case NumericParameter::InputLen:
        return {&ISerialCtl::InputLen, &ISerialCtl::setInputLen,
                u"InputLen のﾊﾞｲﾄ数を入力してください :", u"InputLen"};
    case NumericParameter::RThreshold:
        return {&ISerialCtl::RThreshold, &ISerialCtl::setRThreshold,
                u"RThreshold を入力してください :", u"RThreshold"};
    case NumericParameter::SThreshold:
        break;
    }
    return {&ISerialCtl::SThreshold, &ISerialCtl::setSThreshold, u"SThreshold を入力してください。",
            u"SThreshold"};
}

// The first character, a surrogate pair kept whole.
QString firstCharacter(const QString& text) {
    if (text.size() >= 2 && text.at(0).isHighSurrogate() && text.at(1).isLowSurrogate())
        return text.left(2);
    return text.left(1);
}

} // namespace

void numericParameterCommand(NumericParameter parameter, ISerialCtl& serial, Prompts& prompts) {
    const NumericRow row = rowFor(parameter);
    PendingFailure failure;
    qint16 current = 0;
    if (failure.attempt([&] { current = (serial.*row.get)(); })) {
        // A value of 0 or more is offered with a blank where the sign would be.
        const QString offered =
            current >= 0 ? QLatin1Char(' ') + QString::number(current) : QString::number(current);
        const std::optional<QString> reply = prompts.inputBox(
            QString::fromUtf16(row.prompt), QString::fromUtf16(row.title), offered);
        if (!reply || reply->isEmpty())
            return;
        const std::optional<qint16> value = toInteger16(readLeadingNumber(*reply));
        if (value)
            failure.attempt([&] { (serial.*row.set)(*value); });
        else
            failure.record(QStringLiteral("オーバーフローしました。"));
    }
    if (failure.pending())
        prompts.warn(failure.description());
}

void parityReplaceCommand(ISerialCtl& serial, Prompts& prompts) {
    PendingFailure failure;
    QString current;
    if (failure.attempt([&] { current = serial.ParityReplace(); })) {
        const std::optional<QString> reply =
            prompts.inputBox(QStringLiteral("ﾊﾟﾘﾃｨ ｴﾗｰ発生時の、置換用の文字を入力してください"),
                             QStringLiteral("ParityReplace"), current);
        if (reply)
            failure.attempt([&] { serial.setParityReplace(firstCharacter(*reply)); });
    }
    if (failure.pending())
        prompts.warn(failure.description());
}

bool dtrSwitchCommand(ISerialCtl& serial) {
    serial.setDTREnable(!serial.DTREnable());
    return serial.DTREnable();
}

bool dtrSwitchCommand(ISerialCtl& serial, Prompts& prompts, bool shownCheck) {
    PendingFailure failure;
    bool value = false;
    if (failure.attempt([&] { value = serial.DTREnable(); }))
        failure.attempt([&] { serial.setDTREnable(!value); });
    bool readBack = shownCheck;
    failure.attempt([&] { readBack = serial.DTREnable(); });
    if (failure.pending())
        prompts.warn(failure.description());
    return readBack;
}

void lineStateQuery(bool cts, ISerialCtl& serial, Prompts& prompts) {
    bool holding = false;
    try {
        holding = cts ? serial.CTSHolding() : serial.DSRHolding();
    } catch (const Failure& failure) {
        prompts.warn(failure.description());
        return;
    }
    const QString word = holding ? QStringLiteral("True") : QStringLiteral("False");
    const QString name = cts ? QStringLiteral("CTSHolding = ") : QStringLiteral("DSRHolding = ");
    prompts.messageBox(name + word, QString(), MsgButtons::OK, MsgIcon::None);
}
