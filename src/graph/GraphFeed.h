#pragma once

#include "datapath/ReceiveConsumer.h"
#include "graph/GraphParser.h"
#include "graph/SampleStore.h"

#include <QString>
#include <vector>

// Takes the received text as the terminal decodes it, cuts it into complete
// lines (CR, LF or CR LF), each with the read time of its first character,
// and keeps the numbers they hold.
class GraphFeed : public ReceiveConsumer {
public:
    // A line longer than this is no line of numbers: it is skipped, and what
    // is held of it while it lasts stays bounded.
    static constexpr qsizetype MaxLineLength = 65536;

    explicit GraphFeed(qint64 capacity = SampleStore::DefaultCapacity) : m_store(capacity) {}

    void receivedText(const QString& text, qint64 readMs) override;
    // A line cut off by the close is complete; a new connection starts a line.
    void portOpened() override;
    void portClosed() override;

    const SampleStore& store() const { return m_store; }
    const GraphParser& parser() const { return m_parser; }
    // Lines that held no number (labels too), since the last clear.
    qint64 skippedLines() const { return m_skipped; }
    // Changes whenever what is kept changes.
    quint64 revision() const { return m_revision; }
    void clear();

private:
    void takeLine(QStringView line, qint64 readMs);

    GraphParser m_parser;
    SampleStore m_store;
    std::vector<GraphParser::Value> m_values;
    QString m_partial;
    qint64 m_partialMs = 0;
    bool m_inLine = false;   // a line has begun and not ended
    bool m_overlong = false; // the line begun has passed MaxLineLength
    bool m_afterCr = false;  // an LF right after a CR ends nothing
    qint64 m_skipped = 0;
    quint64 m_revision = 0;
};
