#include "script/LuaScript.h"

#include "platform/Failure.h"
#include "platform/SystemError.h"
#include "sending/HexInput.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <lua.hpp>
#include <string_view>

// Lua reports errors and yields with longjmp, which skips C++ destructors:
// every function below does its C++ work in an inner scope that has ended
// before lua_error or lua_yield is called.

namespace {

constexpr int ExpectTimeoutMs = 10000;
// A silence is given this long beyond its own length to come.
constexpr int SilenceGraceMs = 10000;
// Instructions between two looks at whether the script has run long enough.
constexpr int SliceCount = 10000;

enum Outcome : int { Raise = -1, Yield = -2 };

LuaScript*& selfOf(lua_State* L) {
    return *static_cast<LuaScript**>(lua_getextraspace(L));
}

int toMs(lua_Integer value) {
    return int(std::clamp<lua_Integer>(value, -1, INT_MAX));
}

// Arguments are read before any C++ object exists: a bad one raises.
std::string_view argText(lua_State* L, int index) {
    size_t size = 0;
    const char* text = luaL_checklstring(L, index, &size);
    return {text, size};
}

QString qtext(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

bool argSwitch(lua_State* L, int index) {
    luaL_checkany(L, index);
    if (lua_type(L, index) == LUA_TNUMBER)
        return lua_tonumber(L, index) != 0;
    return lua_toboolean(L, index);
}

void pushText(lua_State* L, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    lua_pushlstring(L, utf8.constData(), size_t(utf8.size()));
}

int pushValues(lua_State* L, const ScriptValues& values) {
    luaL_checkstack(L, int(values.size()), "too many results");
    for (const ScriptValue& value : values) {
        if (value.kind == ScriptValue::Text)
            pushText(L, value.text);
        else if (value.kind == ScriptValue::Boolean)
            lua_pushboolean(L, value.boolean);
        else
            lua_pushnil(L);
    }
    return int(values.size());
}

// Runs `work` (which returns the number of results it pushed, or Yield);
// a Failure becomes an error message at the calling line.
template <class Work> int guarded(lua_State* L, Work&& work) {
    int outcome = Raise;
    // Copied out of the exception: a Lua error must not leave a catch block.
    char message[1024] = {};
    {
        try {
            outcome = work(selfOf(L));
        } catch (const std::exception& failure) {
            std::strncpy(message, failure.what(), sizeof message - 1);
        }
    }
    if (outcome == Yield)
        return lua_yield(L, 0);
    if (outcome == Raise) {
        luaL_where(L, 1);
        lua_pushstring(L, message);
        lua_concat(L, 2);
        return lua_error(L);
    }
    return outcome;
}

// A wait answers at once with its results or pauses the script.
int waitOutcome(lua_State* L, const std::optional<ScriptValues>& now) {
    return now ? pushValues(L, *now) : Yield;
}

} // namespace

// The functions' access to their LuaScript goes through the state's extra
// space, which every thread of the state shares.
struct LuaFunctions {
    static ScriptCalls& calls(LuaScript* self) { return self->m_calls; }

    static int send(lua_State* L) {
        const std::string_view text = argText(L, 1);
        return guarded(L, [&](LuaScript* self) {
            calls(self).send(qtext(text));
            return 0;
        });
    }
    static int sendln(lua_State* L) {
        const std::string_view text = argText(L, 1);
        return guarded(L, [&](LuaScript* self) {
            calls(self).send(qtext(text) + QChar(u'\r'));
            return 0;
        });
    }
    static int sendhex(lua_State* L) {
        const std::string_view text = argText(L, 1);
        return guarded(L, [&](LuaScript* self) {
            const HexInput hex = parseHexInput(qtext(text));
            if (!hex.ok)
                throw Failure(hex.error);
            calls(self).sendBytes(hex.bytes);
            return 0;
        });
    }
    static int expect(lua_State* L) {
        const std::string_view text = argText(L, 1);
        const int timeout = toMs(luaL_optinteger(L, 2, ExpectTimeoutMs));
        return guarded(L, [&](LuaScript* self) {
            return waitOutcome(L, calls(self).expect(qtext(text), timeout));
        });
    }
    static int expectRe(lua_State* L) {
        const std::string_view pattern = argText(L, 1);
        const int timeout = toMs(luaL_optinteger(L, 2, ExpectTimeoutMs));
        return guarded(L, [&](LuaScript* self) {
            return waitOutcome(L, calls(self).expectPattern(qtext(pattern), timeout));
        });
    }
    static int waitSilence(lua_State* L) {
        const int silence = toMs(luaL_checkinteger(L, 1));
        const int timeout = toMs(luaL_optinteger(L, 2, lua_Integer(silence) + SilenceGraceMs));
        return guarded(L, [&](LuaScript* self) {
            return waitOutcome(L, calls(self).waitSilence(silence, timeout));
        });
    }
    static int sleep(lua_State* L) {
        const int ms = toMs(luaL_checkinteger(L, 1));
        return guarded(L, [&](LuaScript* self) { return waitOutcome(L, calls(self).sleep(ms)); });
    }
    static int dtr(lua_State* L) {
        const bool on = argSwitch(L, 1);
        return guarded(L, [&](LuaScript* self) {
            calls(self).setDtr(on);
            return 0;
        });
    }
    static int rts(lua_State* L) {
        const bool on = argSwitch(L, 1);
        return guarded(L, [&](LuaScript* self) {
            calls(self).setRts(on);
            return 0;
        });
    }
    static int brk(lua_State* L) {
        return guarded(L, [&](LuaScript* self) {
            calls(self).sendBreak();
            return 0;
        });
    }
    static int log(lua_State* L) {
        const std::string_view text = argText(L, 1);
        return guarded(L, [&](LuaScript* self) {
            calls(self).log(qtext(text));
            return 0;
        });
    }
    // As Lua's own print: every argument through tostring, tab between.
    static int print(lua_State* L) {
        const int count = lua_gettop(L);
        luaL_Buffer line;
        luaL_buffinit(L, &line);
        for (int i = 1; i <= count; ++i) {
            if (i > 1)
                luaL_addchar(&line, '\t');
            luaL_tolstring(L, i, nullptr);
            luaL_addvalue(&line);
        }
        luaL_pushresult(&line);
        size_t size = 0;
        const char* text = lua_tolstring(L, -1, &size);
        return guarded(L, [&](LuaScript* self) {
            calls(self).print(qtext({text, size}));
            return 0;
        });
    }
    // exit([status]) and os.exit([status]): true is 0, false 1, nothing 0.
    static int exit(lua_State* L) {
        int status = 0;
        if (lua_type(L, 1) == LUA_TBOOLEAN)
            status = lua_toboolean(L, 1) ? 0 : 1;
        else if (!lua_isnoneornil(L, 1))
            status = int(luaL_checkinteger(L, 1));
        return guarded(L, [&](LuaScript* self) {
            calls(self).exit(status);
            return int(Yield);
        });
    }
    static void countHook(lua_State* L, lua_Debug*) {
        if (lua_isyieldable(L) && calls(selfOf(L)).sliceOver())
            lua_yield(L, 0);
    }
};

LuaScript::LuaScript(ScriptCalls& calls) : m_calls(calls) {
    m_state = lua_newstate(&LuaScript::allocate, this);
    if (!m_state)
        throw Failure(QStringLiteral("ｽｸﾘﾌﾟﾄを実行するﾒﾓﾘがありません。"));
    selfOf(m_state) = this;
    luaL_openlibs(m_state);
    registerFunctions();
    m_thread = lua_newthread(m_state);
    // The thread stays referenced from the main stack for the state's life.
    lua_sethook(m_thread, &LuaFunctions::countHook, LUA_MASKCOUNT, SliceCount);
}

LuaScript::~LuaScript() {
    lua_close(m_state);
}

void* LuaScript::allocate(void* self, void* block, size_t oldSize, size_t newSize) {
    auto* script = static_cast<LuaScript*>(self);
    const size_t old = block ? oldSize : 0;
    if (newSize == 0) {
        std::free(block);
        script->m_used -= old;
        return nullptr;
    }
    if (newSize > old && script->m_used - old + newSize > MemoryLimit)
        return nullptr;
    void* grown = std::realloc(block, newSize);
    if (grown)
        script->m_used = script->m_used - old + newSize;
    return grown;
}

void LuaScript::registerFunctions() {
    const luaL_Reg functions[] = {
        {"send", &LuaFunctions::send},
        {"sendln", &LuaFunctions::sendln},
        {"sendhex", &LuaFunctions::sendhex},
        {"expect", &LuaFunctions::expect},
        {"expect_re", &LuaFunctions::expectRe},
        {"wait_silence", &LuaFunctions::waitSilence},
        {"sleep", &LuaFunctions::sleep},
        {"dtr", &LuaFunctions::dtr},
        {"rts", &LuaFunctions::rts},
        {"brk", &LuaFunctions::brk},
        {"log", &LuaFunctions::log},
        {"print", &LuaFunctions::print},
        {"exit", &LuaFunctions::exit},
        {nullptr, nullptr},
    };
    lua_pushglobaltable(m_state);
    luaL_setfuncs(m_state, functions, 0);
    lua_pop(m_state, 1);
    // os.exit ends the script, never the program.
    lua_getglobal(m_state, "os");
    lua_pushcfunction(m_state, &LuaFunctions::exit);
    lua_setfield(m_state, -2, "exit");
    lua_pop(m_state, 1);
}

bool LuaScript::load(const QString& path, const QString& name, QString* error) {
    QByteArray source;
    {
        std::FILE* file = std::fopen(path.toLocal8Bit().constData(), "rb");
        if (!file) {
            *error = QStringLiteral("%1 を開けません: %2").arg(path, describeErrno(errno));
            return false;
        }
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            source.append(buffer, qsizetype(n));
        const bool failed = std::ferror(file);
        const int reason = errno;
        std::fclose(file);
        if (failed) {
            *error = QStringLiteral("%1 を読めません: %2").arg(path, describeErrno(reason));
            return false;
        }
    }
    // As the stand-alone interpreter: a byte-order mark and a first line
    // starting with '#' (#!/usr/bin/env lua) are skipped; the line count stays.
    if (source.startsWith("\xEF\xBB\xBF"))
        source.remove(0, 3);
    if (source.startsWith('#')) {
        const qsizetype end = source.indexOf('\n');
        source.remove(0, end < 0 ? source.size() : end);
    }
    m_name = name;
    const QByteArray chunk = "@" + name.toUtf8();
    // Text only: a precompiled chunk can crash the interpreter.
    if (luaL_loadbufferx(m_thread, source.constData(), size_t(source.size()), chunk.constData(),
                         "t") != LUA_OK) {
        *error = QString::fromUtf8(lua_tostring(m_thread, -1));
        lua_pop(m_thread, 1);
        return false;
    }
    return true;
}

LuaScript::Step LuaScript::resume(const ScriptValues& results, QString* error) {
    const int count = lua_status(m_thread) == LUA_YIELD ? pushValues(m_thread, results) : 0;
    int returned = 0;
    const int status = lua_resume(m_thread, nullptr, count, &returned);
    if (status == LUA_YIELD) {
        lua_pop(m_thread, returned);
        return Step::Paused;
    }
    if (status == LUA_OK) {
        lua_pop(m_thread, returned);
        return Step::Ended;
    }
    const int type = lua_type(m_thread, -1);
    if (status == LUA_ERRMEM)
        // Lua gives no position for this one.
        *error = m_name + QStringLiteral(": ") + QString::fromUtf8(lua_tostring(m_thread, -1));
    else if (type == LUA_TSTRING || type == LUA_TNUMBER)
        *error = QString::fromUtf8(lua_tostring(m_thread, -1));
    else
        *error = QStringLiteral("(error object is a %1 value)")
                     .arg(QString::fromUtf8(lua_typename(m_thread, type)));
    lua_pop(m_thread, 1);
    return Step::Failed;
}
