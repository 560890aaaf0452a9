#include "script/ScriptRunner.h"

#include "datapath/DataPath.h"
#include "platform/CodePage.h"
#include "platform/Failure.h"
#include "serial/ISerialCtl.h"

#include <QFileInfo>

namespace {

// How long a script computes before the event loop gets a turn.
constexpr qint64 SliceMs = 20;

} // namespace

ScriptRunner::ScriptRunner(ISerialCtl& serial, ScriptOutput& output, QObject* parent)
    : QObject(parent), m_serial(serial), m_output(output) {
    for (QTimer* timer : {&m_timeout, &m_silence, &m_next}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_timeout, &QTimer::timeout, this, &ScriptRunner::timedOut);
    connect(&m_silence, &QTimer::timeout, this, [this] { wake({ScriptValue::flag(true)}); });
    connect(&m_next, &QTimer::timeout, this, [this] { wake({}); });
    m_clock.start();
}

ScriptRunner::~ScriptRunner() {
    if (m_session)
        m_session->removeConsumer(this);
}

bool ScriptRunner::load(const QString& path, QString* error) {
    if (running())
        return false;
    m_name = QFileInfo(path).fileName();
    try {
        m_script = std::make_unique<LuaScript>(static_cast<ScriptCalls&>(*this));
    } catch (const Failure& failure) {
        *error = failure.description();
        return false;
    }
    if (!m_script->load(path, m_name, error)) {
        m_script.reset();
        return false;
    }
    return true;
}

void ScriptRunner::run(TerminalSession& session) {
    if (!m_script || running())
        return;
    m_session = &session;
    m_inbox.clear();
    m_exit.reset();
    m_wait = Wait::None;
    session.addConsumer(this);
    wake({});
}

void ScriptRunner::stop() {
    if (running())
        finish({ScriptEnd::Stopped, 0, {}});
}

void ScriptRunner::receivedBytes(const QByteArray&, qint64) {
    if (m_wait == Wait::Silence)
        m_silence.start();
}

void ScriptRunner::receivedText(const QString& text, qint64) {
    m_inbox.add(text);
    if (m_wait == Wait::Text) {
        if (const auto taken = m_inbox.takeThrough(m_needle))
            wake({ScriptValue::string(*taken)});
    } else if (m_wait == Wait::Pattern) {
        if (const auto parts = m_inbox.takeThrough(m_pattern)) {
            ScriptValues values;
            for (const QString& part : *parts)
                values.push_back(ScriptValue::string(part));
            wake(values);
        }
    }
}

void ScriptRunner::portClosed() {
    finish({ScriptEnd::PortClosed, 0, {}});
}

// A transfer holds the line: a byte from the script would break its protocol.
void ScriptRunner::checkLineFree() const {
    if (m_session && m_session->takeover())
        throw Failure(QStringLiteral("ﾌｧｲﾙ転送中は送信できません。"));
}

void ScriptRunner::send(const QString& text) {
    checkLineFree();
    // Written at once rather than from the next turn of the event loop: the
    // answer leaves while the prompt that asked for it is being handled.
    m_serial.setOutputBytes(encodeText(text, m_serial.codePage()));
}

void ScriptRunner::sendBytes(const QByteArray& bytes) {
    checkLineFree();
    m_serial.setOutputBytes(bytes);
}

void ScriptRunner::setDtr(bool on) {
    m_serial.setDTREnable(on);
}

void ScriptRunner::setRts(bool on) {
    m_serial.setRTSEnable(on);
}

void ScriptRunner::sendBreak() {
    checkLineFree();
    m_serial.sendBreak();
}

void ScriptRunner::log(const QString& text) {
    m_output.log(text);
}

void ScriptRunner::print(const QString& text) {
    m_output.print(text);
}

std::optional<ScriptValues> ScriptRunner::expect(const QString& text, int timeoutMs) {
    if (const auto taken = m_inbox.takeThrough(text))
        return ScriptValues{ScriptValue::string(*taken)};
    if (timeoutMs == 0)
        return ScriptValues{ScriptValue::nil()};
    m_needle = text;
    waitFor(Wait::Text, timeoutMs);
    return std::nullopt;
}

std::optional<ScriptValues> ScriptRunner::expectPattern(const QString& pattern, int timeoutMs) {
    QRegularExpression compiled(pattern);
    if (!compiled.isValid())
        throw Failure(QStringLiteral("正規表現 %1 の %2 文字目: %3")
                          .arg(pattern)
                          .arg(compiled.patternErrorOffset() + 1)
                          .arg(compiled.errorString()));
    compiled.optimize();
    m_pattern = compiled;
    m_wait = Wait::Pattern;
    if (const auto parts = m_inbox.takeThrough(m_pattern)) {
        m_wait = Wait::None;
        ScriptValues values;
        for (const QString& part : *parts)
            values.push_back(ScriptValue::string(part));
        return values;
    }
    if (timeoutMs == 0) {
        m_wait = Wait::None;
        return ScriptValues{ScriptValue::nil()};
    }
    waitFor(Wait::Pattern, timeoutMs);
    return std::nullopt;
}

std::optional<ScriptValues> ScriptRunner::waitSilence(int silenceMs, int timeoutMs) {
    if (timeoutMs == 0)
        return ScriptValues{ScriptValue::nil()};
    m_silence.start(std::max(silenceMs, 0));
    waitFor(Wait::Silence, timeoutMs);
    return std::nullopt;
}

std::optional<ScriptValues> ScriptRunner::sleep(int ms) {
    if (ms <= 0)
        return ScriptValues{};
    waitFor(Wait::Sleep, ms);
    return std::nullopt;
}

void ScriptRunner::exit(int status) {
    m_exit = status;
}

bool ScriptRunner::sliceOver() {
    if (m_clock.elapsed() - m_sliceStart < SliceMs)
        return false;
    m_wait = Wait::Slice;
    m_next.start(0);
    return true;
}

// A negative timeout waits for good.
void ScriptRunner::waitFor(Wait wait, int timeoutMs) {
    m_wait = wait;
    if (timeoutMs >= 0)
        m_timeout.start(timeoutMs);
}

void ScriptRunner::timedOut() {
    switch (m_wait) {
    case Wait::Sleep:
        wake({});
        break;
    case Wait::Text:
    case Wait::Pattern:
    case Wait::Silence:
        wake({ScriptValue::nil()});
        break;
    default:
        break;
    }
}

void ScriptRunner::wake(const ScriptValues& results) {
    if (!m_script || m_resuming)
        return;
    m_wait = Wait::None;
    m_timeout.stop();
    m_silence.stop();
    m_next.stop();
    m_resuming = true;
    m_sliceStart = m_clock.elapsed();
    QString error;
    const LuaScript::Step step = m_script->resume(results, &error);
    m_resuming = false;
    if (m_endWhileResuming) {
        const ScriptEnd end = *m_endWhileResuming;
        m_endWhileResuming.reset();
        finish(end);
    } else if (step == LuaScript::Step::Failed) {
        finish({ScriptEnd::Failed, 1, error});
    } else if (step == LuaScript::Step::Ended || m_exit) {
        finish({ScriptEnd::Finished, m_exit.value_or(0), {}});
    }
}

void ScriptRunner::finish(const ScriptEnd& end) {
    if (!running())
        return;
    // The interpreter cannot be closed from inside one of its own calls.
    if (m_resuming) {
        if (!m_endWhileResuming)
            m_endWhileResuming = end;
        return;
    }
    m_wait = Wait::None;
    m_timeout.stop();
    m_silence.stop();
    m_next.stop();
    m_session->removeConsumer(this);
    m_session = nullptr;
    m_script.reset();
    m_inbox.clear();
    // Told from the event loop: whoever hears it may open a box, and this can
    // be the middle of handing received data over.
    QMetaObject::invokeMethod(
        this, [this, end] { emit ended(end); }, Qt::QueuedConnection);
}
