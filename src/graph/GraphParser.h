#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <vector>

// Reads the numbers on one received line: `label:value` pairs and bare
// values separated by commas, spaces or tabs (the plotter format of the
// common microcontroller IDEs), plain CSV/TSV rows and `key=value` pairs.
// A line of words alone names the bare values of the lines after it. A line
// that is anything else (boot text, a prompt, a value with a unit) gives no
// sample: one stray word never lands in a channel.
class GraphParser {
public:
    static constexpr int MaxChannels = 16;

    struct Value {
        int channel; // index into channels()
        double value;
        // A float keeps the value to the digits it was printed with.
        bool narrow;
    };
    enum class Outcome { Sample, Labels, Skipped, Empty };

    // `line` without its line end. The values of a sample go to `values`,
    // in the order of the line; a channel beyond the limit is left out.
    Outcome parse(QStringView line, std::vector<Value>& values);

    // Channel names by index: the label, or the position of a bare value.
    const QStringList& channels() const { return m_names; }
    void clear();

private:
    struct Item {
        QStringView label; // empty for a bare field
        QStringView text;
        bool labelled = false;
    };
    Outcome parseClean(QStringView line, std::vector<Value>& values);
    void splitField(QStringView field);
    Outcome takeSample(std::vector<Value>& values);
    int channelFor(QStringView label);
    int channelForPosition(int position);

    QStringList m_names;
    QStringList m_header; // names given by a line of labels, by position
    // The channel of each item of the previous sample: rows of one layout
    // find their channels without a lookup by name.
    std::vector<int> m_lastChannels;
    std::vector<int> m_byPosition; // channel of each bare position, -1 not yet known
    std::vector<Item> m_items;
    std::vector<Value> m_numbers; // each item read; channel -1 for no number
    QString m_cleaned;
};

// Reads one number the way a device prints it: decimal with an optional
// sign, fraction and exponent, or nan/inf. False for anything else.
bool readNumber(QStringView text, double& value, bool& narrow);
