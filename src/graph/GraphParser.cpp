#include "graph/GraphParser.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

// Longer tokens are words: no number a device prints runs this long.
constexpr int maxNumberLength = 64;
// More words than this is prose, not a line of labels.
constexpr int maxLabels = GraphParser::MaxChannels;

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

bool isPairMark(QChar c) {
    return c == u':' || c == u'=';
}

// Escape sequences are left out as the terminal leaves them out; any other
// control character parts two tokens rather than joining them.
QString withoutControls(QStringView line) {
    QString out;
    out.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char16_t c = line[i].unicode();
        if (c != 0x1b) {
            out += (c < 0x20 && c != u'\t') || c == 0x7f ? QChar(u' ') : line[i];
            continue;
        }
        if (i + 1 >= line.size())
            break;
        const char16_t kind = line[++i].unicode();
        if (kind == u'[') { // CSI: parameters, then one final byte
            while (++i < line.size() && !(line[i].unicode() >= 0x40 && line[i].unicode() <= 0x7e))
                ;
        } else if (kind == u']') { // OSC: up to BEL or ESC backslash
            while (++i < line.size() && line[i].unicode() != 0x07) {
                if (line[i].unicode() == 0x1b) {
                    ++i;
                    break;
                }
            }
        }
    }
    return out;
}

} // namespace

// Plain decimals of up to 15 digits, the most a device prints: the digits
// and the power of ten are both exact doubles, so one division rounds right.
bool readPlainDecimal(QStringView text, double& value, bool& narrow) {
    static const double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char16_t* p = text.utf16();
    const char16_t* end = p + text.size();
    const bool negative = *p == u'-';
    if (*p == u'-' || *p == u'+')
        ++p;
    quint64 mantissa = 0;
    int digits = 0, fraction = 0;
    bool point = false, any = false;
    for (; p != end; ++p) {
        const char16_t c = *p;
        if (c >= u'0' && c <= u'9') {
            any = true;
            if (point)
                ++fraction;
            if (mantissa == 0 && c == u'0')
                continue;
            if (++digits > 15)
                return false;
            mantissa = mantissa * 10 + (c - u'0');
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!any || fraction > 22)
        return false;
    value = double(mantissa) / powers[fraction];
    if (negative)
        value = -value;
    narrow = digits <= 6 || double(float(value)) == value;
    return true;
}

bool readNumber(QStringView text, double& value, bool& narrow) {
    if (text.isEmpty() || text.size() > maxNumberLength)
        return false;
    if (readPlainDecimal(text, value, narrow))
        return true;
    char ascii[maxNumberLength + 1];
    ascii[0] = 0;
    qsizetype length = 0;
    for (QChar c : text) {
        if (c.unicode() > 0x7e)
            return false;
        ascii[length++] = char(c.unicode());
    }
    const char* begin = ascii;
    const char* end = ascii + length;
    const bool plus = *begin == '+';
    if (plus)
        ++begin;
    // What a microcontroller prints for a float too large to show.
    if (end - begin == 3 && (begin[0] | 0x20) == 'o' && (begin[1] | 0x20) == 'v' &&
        (begin[2] | 0x20) == 'f') {
        value = std::numeric_limits<double>::quiet_NaN();
        narrow = true;
        return true;
    }
    if (begin == end || (plus && (*begin == '+' || *begin == '-')))
        return false;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (stop != end || (error != std::errc() && error != std::errc::result_out_of_range))
        return false;
    if (error == std::errc::result_out_of_range) {
        // "1e999" is infinite and "1e-999" zero; the value was left unset.
        const char* exponent =
            std::find_if(begin, end, [](char c) { return c == 'e' || c == 'E'; });
        const bool tiny = exponent + 1 < end && exponent[1] == '-';
        value = std::copysign(tiny ? 0.0 : HUGE_VAL, *begin == '-' ? -1.0 : 1.0);
    }
    if (!std::isfinite(value) || double(float(value)) == value) {
        narrow = true;
        return true;
    }
    // Six significant digits survive a float and back whatever they are.
    int digits = 0;
    bool leading = true;
    for (const char* p = begin; p != end && *p != 'e' && *p != 'E'; ++p) {
        if (*p < '0' || *p > '9' || (leading && *p == '0'))
            continue;
        leading = false;
        ++digits;
    }
    const double size = std::fabs(value);
    narrow = digits <= 6 && size >= double(FLT_MIN) && size <= double(FLT_MAX);
    return true;
}

void GraphParser::clear() {
    m_names.clear();
    m_header.clear();
    m_lastChannels.clear();
    m_byPosition.clear();
}

GraphParser::Outcome GraphParser::parse(QStringView line, std::vector<Value>& values) {
    values.clear();
    bool blank = true;
    for (QChar c : line) {
        if (c.unicode() < 0x20 && c != u'\t') {
            m_cleaned = withoutControls(line);
            blank = true;
            for (QChar kept : std::as_const(m_cleaned))
                blank = blank && isBlank(kept);
            return blank ? Outcome::Empty : parseClean(m_cleaned, values);
        }
        blank = blank && isBlank(c);
    }
    return blank ? Outcome::Empty : parseClean(line, values);
}

// Tokens of one comma field. "label: value", "label :value" and
// "label = value" pair up as "label:value" does.
void GraphParser::splitField(QStringView field) {
    QStringView tokens[3];
    int held = 0;
    const auto flush = [&](int keep) {
        // Pairs the held tokens where they form one, from the front.
        while (held > keep) {
            QStringView first = tokens[0];
            int used = 1;
            Item item;
            const qsizetype mark = [&] {
                for (qsizetype i = 0; i < first.size(); ++i)
                    if (isPairMark(first[i]))
                        return i;
                return qsizetype(-1);
            }();
            if (mark >= 0) {
                item = {first.left(mark), first.mid(mark + 1), true};
                if (item.text.isEmpty() && held > 1 && !isPairMark(tokens[1].front())) {
                    item.text = tokens[1];
                    used = 2;
                }
            } else if (held > 1 && isPairMark(tokens[1].front())) {
                item = {first, tokens[1].mid(1), true};
                used = 2;
                if (item.text.isEmpty() && held > 2) {
                    item.text = tokens[2];
                    used = 3;
                }
            } else {
                item.text = first;
            }
            m_items.push_back(item);
            for (int i = used; i < held; ++i)
                tokens[i - used] = tokens[i];
            held -= used;
        }
    };
    qsizetype i = 0;
    bool any = false;
    while (i < field.size()) {
        while (i < field.size() && isBlank(field[i]))
            ++i;
        const qsizetype start = i;
        while (i < field.size() && !isBlank(field[i]))
            ++i;
        if (i == start)
            break;
        any = true;
        tokens[held++] = field.mid(start, i - start);
        if (held == 3)
            flush(2);
    }
    flush(0);
    if (!any)
        m_items.push_back(Item()); // an empty CSV cell still takes a position
}

GraphParser::Outcome GraphParser::parseClean(QStringView line, std::vector<Value>& values) {
    m_items.clear();
    for (qsizetype start = 0;;) {
        const qsizetype comma = line.indexOf(u',', start);
        splitField(line.mid(start, comma < 0 ? -1 : comma - start));
        if (comma < 0)
            break;
        start = comma + 1;
    }

    // Every item is read before any channel is made: a line that turns out
    // not to be a sample leaves no channel behind.
    int words = 0;
    m_numbers.clear();
    for (const Item& item : m_items) {
        Value read{-1, 0, true};
        if (!item.labelled && item.text.isEmpty()) {
            m_numbers.push_back(read);
            continue;
        }
        const bool number = readNumber(item.text, read.value, read.narrow);
        if (item.labelled && (!number || item.label.isEmpty()))
            return Outcome::Skipped;
        words += number ? 0 : 1;
        read.channel = number ? 0 : -1;
        m_numbers.push_back(read);
    }
    if (words == 0)
        return takeSample(values);
    if (words > maxLabels || words < int(m_items.size()))
        return Outcome::Skipped;
    m_header.clear();
    m_byPosition.clear();
    for (const Item& item : m_items)
        m_header << item.text.toString();
    return Outcome::Labels;
}

GraphParser::Outcome GraphParser::takeSample(std::vector<Value>& values) {
    int position = 0;
    if (m_lastChannels.size() < m_items.size())
        m_lastChannels.resize(m_items.size(), -1);
    for (size_t i = 0; i < m_items.size(); ++i) {
        const Item& item = m_items[i];
        if (!item.labelled) {
            ++position;
            if (m_numbers[i].channel < 0)
                continue; // an empty cell
        }
        int& channel = m_lastChannels[i];
        if (item.labelled) {
            if (channel < 0 || m_names.at(channel) != item.label)
                channel = channelFor(item.label);
        } else {
            channel = channelForPosition(position);
        }
        if (channel >= 0)
            values.push_back({channel, m_numbers[i].value, m_numbers[i].narrow});
    }
    return values.empty() ? Outcome::Skipped : Outcome::Sample;
}

int GraphParser::channelFor(QStringView label) {
    for (int i = 0; i < m_names.size(); ++i)
        if (m_names.at(i) == label)
            return i;
    if (m_names.size() >= MaxChannels)
        return -1;
    m_names << label.toString();
    return int(m_names.size()) - 1;
}

int GraphParser::channelForPosition(int position) {
    if (size_t(position) <= m_byPosition.size() && m_byPosition[position - 1] >= 0)
        return m_byPosition[position - 1];
    const QString header = m_header.value(position - 1);
    const int channel = channelFor(header.isEmpty() ? QString::number(position) : header);
    if (m_byPosition.size() < size_t(position))
        m_byPosition.resize(position, -1);
    m_byPosition[position - 1] = channel;
    return channel;
}
