#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

struct lua_State;

// A value handed back to the script when a wait ends.
struct ScriptValue {
    enum Kind { Nil, Boolean, Text };
    Kind kind = Nil;
    bool boolean = false;
    QString text;

    static ScriptValue nil() { return {}; }
    static ScriptValue flag(bool on) { return {Boolean, on, {}}; }
    static ScriptValue string(const QString& text) {
        return {text.isNull() ? Nil : Text, false, text};
    }
};
using ScriptValues = std::vector<ScriptValue>;

// What the script's functions do, outside the interpreter. A call that fails
// throws Failure; its description becomes the script's error at that line.
// A wait either answers at once or returns nothing and resumes the script
// later through LuaScript::resume.
class ScriptCalls {
public:
    virtual ~ScriptCalls() = default;
    virtual void send(const QString& text) = 0;
    virtual void sendBytes(const QByteArray& bytes) = 0;
    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;
    virtual void sendBreak() = 0;
    virtual void log(const QString& text) = 0;
    virtual void print(const QString& text) = 0;
    virtual std::optional<ScriptValues> expect(const QString& text, int timeoutMs) = 0;
    // An invalid pattern throws Failure.
    virtual std::optional<ScriptValues> expectPattern(const QString& pattern, int timeoutMs) = 0;
    virtual std::optional<ScriptValues> waitSilence(int silenceMs, int timeoutMs) = 0;
    virtual std::optional<ScriptValues> sleep(int ms) = 0;
    // The script asks to end with `status`; it is not resumed again.
    virtual void exit(int status) = 0;
    // Asked now and then while the script computes: true makes it pause, to be
    // resumed from the event loop, so a busy loop never holds the window.
    virtual bool sliceOver() = 0;
};

// One Lua 5.4 interpreter running one script file as a coroutine: the wait
// functions yield instead of blocking.
class LuaScript {
public:
    // Memory the script may take before its allocations fail.
    static constexpr size_t MemoryLimit = size_t(256) << 20;

    explicit LuaScript(ScriptCalls& calls);
    ~LuaScript();
    LuaScript(const LuaScript&) = delete;
    LuaScript& operator=(const LuaScript&) = delete;

    // Reads and compiles the file (text only), errors naming it as `name`.
    bool load(const QString& path, const QString& name, QString* error);

    enum class Step { Paused, Ended, Failed };
    // Runs until the script waits, ends or fails; `results` are what the
    // waiting function returns. On Failed, `error` is "FILE:LINE: message".
    Step resume(const ScriptValues& results, QString* error);

    size_t memoryUsed() const { return m_used; }

private:
    friend struct LuaFunctions;
    static void* allocate(void* self, void* block, size_t oldSize, size_t newSize);
    void registerFunctions();

    ScriptCalls& m_calls;
    lua_State* m_state = nullptr;
    lua_State* m_thread = nullptr;
    QString m_name;
    size_t m_used = 0;
};
