// Any sequence of received chunks: no crash, the content stays bounded, the
// log receives exactly what was inserted, no surrogate pair is split, and the
// terminal's line store holds the same text as a plain string.
#include "datapath/DataPath.h"
#include "datapath/StringTextTarget.h"
#include "platform/Prompts.h"
#include "screen/LineStore.h"

#include <QString>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class SilentPrompts : public Prompts {
public:
    int messageBox(const QString&, const QString&, MsgButtons, MsgIcon, int) override {
        std::abort(); // no step may fail here
    }
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    FileDialogResult fileOpen(const FileDialogSetup&) override { return {true, {}, {}}; }
    void beep() override {}
};

class LogHost : public DataPathHost {
public:
    Prompts& prompts() override { return m_prompts; }
    bool logOpen() const override { return true; }
    bool writeLog(const QByteArray& bytes, QString*, qsizetype* written) override {
        log += bytes;
        *written = bytes.size();
        return true;
    }
    void closeLog() override {}
    void refreshConnectionDisplay() override {}
    void showStatus(const QString&) override {}
    void clearStatusSoon() override {}
    QByteArray log;

private:
    SilentPrompts m_prompts;
};

bool hasLoneSurrogate(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return true;
            ++i;
        } else if (c.isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

// Whether the content ends with `tail`, read in place.
bool endsWith(const StringTextTarget& term, const QString& tail) {
    const int length = term.TextLength();
    if (tail.size() > length)
        return false;
    for (qsizetype i = 0; i < tail.size(); ++i)
        if (term.charAt(length - int(tail.size()) + int(i)) != tail.at(i))
            return false;
    return true;
}

} // namespace

// Input: one byte that picks the rounds and whether the content starts near
// the 16000 limit, then UTF-16 units; the unit 0xFFFF ends a chunk.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Longer inputs add nothing a shorter one with more rounds does not.
    if (size < 2 || size > 4097)
        return 0;
    const int repeat = data[0] % 4 + 1;
    const bool nearLimit = data[0] & 0x80;
    QString units(qsizetype((size - 1) / 2), Qt::Uninitialized);
    std::memcpy(units.data(), data + 1, size_t(units.size()) * 2);
    const QStringList chunks = units.split(QChar(0xFFFF));

    // Backspaces erase single units, so only text without them keeps whole pairs.
    const bool pairsOnly = !units.contains(QChar(8)) && !hasLoneSurrogate(units);
    static const QString filler = QString(15990, QLatin1Char('f'));
    StringTextTarget term;
    if (nearLimit)
        term.setText(filler);
    LogHost host;
    TerminalSession session(term, host, "UTF-16LE");
    LineStore store;
    if (nearLimit)
        store.setText(filler);
    LogHost storeHost;
    TerminalSession storeSession(store, storeHost, "UTF-16LE");
    for (int round = 0; round < repeat; ++round) {
        for (const QString& chunk : chunks) {
            const int before = term.TextLength();
            const qsizetype logBefore = host.log.size();
            session.append(chunk);
            storeSession.append(chunk);
            if (store.TextLength() != term.TextLength())
                std::abort();
            const QByteArray added = host.log.mid(logBefore);
            // Copied unit for unit: fromUtf16 would take a leading U+FFFE as a
            // byte-order mark and swap the rest.
            const QString inserted(reinterpret_cast<const QChar*>(added.constData()),
                                   added.size() / 2);
            const int length = term.TextLength();
            if (length > std::max(before, 16000) + inserted.size())
                std::abort();
            if (!endsWith(term, inserted) || term.SelStart() != length)
                std::abort();
            if (inserted.contains(QChar(8)))
                std::abort();
            for (qsizetype i = 0; i < inserted.size(); ++i)
                if (inserted.at(i) == QChar(10) && (i == 0 || inserted.at(i - 1) != QChar(13)))
                    std::abort();
            // The trim must not leave half a pair at the front.
            if (pairsOnly && length > 0 && term.charAt(0).isLowSurrogate())
                std::abort();
        }
    }
    if (pairsOnly && hasLoneSurrogate(term.Text()))
        std::abort();
    if (store.Text() != term.Text())
        std::abort();
    return 0;
}
