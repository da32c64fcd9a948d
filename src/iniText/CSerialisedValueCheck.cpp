#include "iniText/CSerialisedValueCheck.h"

#include <QByteArrayView>
#include <QDataStream>
#include <QVariant>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

// QSettings decodes the data after either with QDataStream, in the same way.
const char* const markers[] = {"@Variant(", "@DateTime("};

// States of a search for the markers: one bit for each proper prefix of a marker (but the empty
// one) that the text so far may end with, at the start of a list item, and one for a whole
// marker.
using TMatch = quint32;
const TMatch markerFound = TMatch(1) << 31;

TMatch afterChar(TMatch states, char ch, bool mayStart)
{
    TMatch next = states & markerFound;
    int bit = 0;
    for (const char* marker : markers) {
        // Bit + k stands for the first k characters of this marker, k from 1.
        for (int k = 1; marker[k] != '\0'; ++k) {
            if ((states & (TMatch(1) << (bit + k))) && marker[k] == ch)
                next |= marker[k + 1] == '\0' ? markerFound : TMatch(1) << (bit + k + 1);
        }
        if (mayStart && ch == marker[0])
            next |= TMatch(1) << (bit + 1);
        bit += int(qstrlen(marker));
    }
    return next;
}

int digitValue(char ch)
{
    return ch >= '0' && ch <= '9'   ? ch - '0'
           : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
           : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                    : -1;
}

// A numeric escape: the parser reads some of its digits (all, as far as is known) into one
// character and leaves the others as text; without digits it gives nothing.
TMatch afterNumericEscape(TMatch states, const QByteArray& digits, int base, bool mayStart)
{
    TMatch result = 0;
    uint value = 0;
    for (qsizetype used = 0; used <= digits.size(); ++used) {
        if (used > 0)
            value = value * uint(base) + uint(digitValue(digits.at(used - 1)));
        TMatch next = states;
        if (used > 0) {
            next = states & markerFound;
            for (const uint code : {value & 0xff, value & 0xffff}) {
                if (code < 0x80)
                    next |= afterChar(states, char(code), mayStart);
            }
        }
        // Digits never start the marker and end any match within two, whatever their number.
        for (qsizetype rest = used; rest < digits.size() && (next & ~markerFound); ++rest)
            next = afterChar(next, digits.at(rest), false);
        result |= next;
    }
    return result;
}

const char byteOrderMark[] = "\xef\xbb\xbf";

// Follows the settings parser through the lines of a file: only a value, or an item of a list
// value, that starts with a marker is decoded, so a marker inside a text is only text and the
// files QSettings writes pass. Where the parser's way is not certain, the scan takes the one
// that finds more.
class CMarkerScan
{
public:
    explicit CMarkerScan(const QByteArray& content) : content(content) {}

    bool run()
    {
        for (i = 0; i < content.size() && !(states & markerFound); ++i) {
            const char ch = content.at(i);
            switch (part) {
            case EPart::LineStart:
                if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r')
                    break;
                if (ch == ';') {
                    part = EPart::Comment;
                    break;
                }
                part = EPart::Key;
                quoted = false;
                inLine(ch);
                break;
            case EPart::Comment:
                if (ch == '\n' || ch == '\r')
                    part = EPart::LineStart;
                break;
            case EPart::Key:
            case EPart::Value:
                inLine(ch);
                break;
            }
        }
        return states & markerFound;
    }

private:
    enum class EPart
    {
        LineStart,
        Comment,
        Key,
        Value
    };

    void inLine(char ch)
    {
        // A newline in quotes and a semicolon in quotes belong to the line; outside, a semicolon
        // starts a comment up to the end of the line.
        if ((ch == '\n' || ch == '\r' || ch == ';') && !quoted) {
            part = ch == ';' ? EPart::Comment : EPart::LineStart;
            states &= markerFound;
            return;
        }
        if (ch == '"') {
            // The quotes are dropped, and spaces after a closing one are skipped.
            quoted = !quoted;
            skipSpaces = !quoted;
            return;
        }
        if (ch == '\\') {
            escape();
            return;
        }
        if (part == EPart::Key) {
            if (ch == '=' && !quoted)
                startValue();
            return;
        }
        if (ch == ',' && !quoted) {
            atItemStart = true;
            skipSpaces = true;
            states &= markerFound;
            return;
        }
        if ((ch == ' ' || ch == '\t') && skipSpaces && !quoted)
            return;
        skipSpaces = false;
        decoded(ch);
    }

    void startValue()
    {
        part = EPart::Value;
        atItemStart = true;
        skipSpaces = true;
        freshDecoder = true;
        markBytes = 0;
    }

    // A byte that goes through the value's UTF-8 decoder, which drops a byte order mark at its
    // very start, even one split by quotes or items.
    void decoded(char ch)
    {
        if (freshDecoder) {
            if (ch == byteOrderMark[markBytes]) {
                if (++markBytes == 3)
                    freshDecoder = false;
                return;
            }
            freshDecoder = false;
            if (markBytes > 0) {
                // A cut mark becomes a replacement character.
                states &= markerFound;
                atItemStart = false;
            }
        }
        states = afterChar(states, ch, atItemStart);
        atItemStart = false;
    }

    void escape()
    {
        if (i + 1 == content.size())
            return;
        const char next = content.at(++i);
        // Both readers take the character after a backslash with it, and a line break of two.
        if (next == '\n' || next == '\r') {
            if (i + 1 < content.size() && content.at(i + 1) != next &&
                (content.at(i + 1) == '\n' || content.at(i + 1) == '\r'))
                ++i;
            return;
        }
        if (part == EPart::Key)
            return;
        skipSpaces = false;
        const bool hex = next == 'x' || next == 'X';
        if (hex || (next >= '0' && next <= '7')) {
            QByteArray digits;
            if (!hex)
                digits.append(next);
            while (i + 1 < content.size() && digitValue(content.at(i + 1)) >= 0 &&
                   digitValue(content.at(i + 1)) < (hex ? 16 : 8))
                digits.append(content.at(++i));
            if (digits.isEmpty())
                return;
            states = afterNumericEscape(states, digits, hex ? 16 : 8, atItemStart);
            atItemStart = false;
        } else if (QByteArrayView("abfnrtv\"'\\?").contains(next)) {
            states &= markerFound;
            atItemStart = false;
        } else {
            // Unknown escapes: the character itself, or nothing.
            states |= afterChar(states, next, atItemStart);
        }
    }

    const QByteArray& content;
    qsizetype i = 0;
    EPart part = EPart::LineStart;
    TMatch states = 0;
    bool quoted = false;
    bool atItemStart = false;
    bool skipSpaces = false;
    bool freshDecoder = false;
    int markBytes = 0;
};

// One line as the settings parser cuts it: from its first character that is no blank or line
// break, up to a line break or a semicolon outside quotes; a backslash takes the character after
// it (a line break too, and both of a two-character line break) with it.
struct TLine
{
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype equals = -1;
};

bool isLineSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f' || ch == '\v';
}

bool readLine(const QByteArray& data, qsizetype& position, TLine& line)
{
    const qsizetype size = data.size();
    line = TLine();
    line.start = position;
    while (line.start < size && isLineSpace(data.at(line.start)))
        ++line.start;
    bool inQuotes = false;
    qsizetype i = line.start;
    while (i < size) {
        const char ch = data.at(i++);
        if (ch == '=') {
            if (!inQuotes && line.equals < 0)
                line.equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == line.start + 1) {
                ++line.start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i < size) {
                const char escaped = data.at(i++);
                if (i < size) {
                    const char after = data.at(i);
                    if ((escaped == '\n' && after == '\r') || (escaped == '\r' && after == '\n'))
                        ++i;
                }
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i == line.start + 1) {
                while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
                    ++i;
                while (i < size && isLineSpace(data.at(i)))
                    ++i;
                line.start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    line.end = i;
    position = i;
    return line.start < size;
}

// The bytes the parser makes of the text inside a value, for the characters and escapes that
// QSettings' writer uses in a date; none for anything else.
std::optional<QByteArray> writtenBytes(QByteArrayView text, bool quoted)
{
    static const char named[] = "abfnrtv\"\\";
    static const char namedValues[] = "\a\b\f\n\r\t\v\"\\";
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char ch = text.at(i);
        if (ch != '\\') {
            if (ch < 0x20 || ch > 0x7e || ch == '"' || (!quoted && ch == ','))
                return std::nullopt;
            bytes.append(ch);
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        const char escape = text.at(i);
        const bool hex = escape == 'x';
        if (hex || (escape >= '0' && escape <= '7')) {
            const int base = hex ? 16 : 8;
            uint value = hex ? 0 : uint(escape - '0');
            int digits = hex ? 0 : 1;
            // The parser reads every digit that follows; the writer escapes a digit after one.
            while (i + 1 < text.size() && digitValue(text.at(i + 1)) >= 0 &&
                   digitValue(text.at(i + 1)) < base && digits < 4) {
                value = value * uint(base) + uint(digitValue(text.at(++i)));
                ++digits;
            }
            if (digits == 0 || value > 0xff ||
                (i + 1 < text.size() && digitValue(text.at(i + 1)) >= 0 &&
                 digitValue(text.at(i + 1)) < base))
                return std::nullopt;
            bytes.append(char(value));
        } else if (const char* found = escape ? std::strchr(named, escape) : nullptr) {
            bytes.append(namedValues[found - named]);
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

// The data of a QVariant holding a QDateTime, as QDataStream 5.6 writes it: type 16, the null
// flag, the Julian day, the milliseconds of the day, the time spec and, at an offset from UTC,
// the offset.
std::optional<QDateTime> decodedDate(const QByteArray& data)
{
    const QByteArray head("\0\0\0\x10", 4);
    if (!data.startsWith(head) || data.size() < 18 || quint8(data.at(4)) > 1)
        return std::nullopt;
    const char spec = data.at(17);
    if (!(spec == Qt::LocalTime || spec == Qt::UTC || spec == Qt::OffsetFromUTC) ||
        data.size() != (spec == Qt::OffsetFromUTC ? 22 : 18))
        return std::nullopt;
    QDataStream stream(data);
    stream.setVersion(QDataStream::Qt_5_6);
    QVariant value;
    stream >> value;
    if (stream.status() != QDataStream::Ok || value.typeId() != QMetaType::QDateTime)
        return std::nullopt;
    return value.toDateTime();
}

// The plain values QSettings writes behind "@Variant(" with QDataStream 4.0, as the type and the
// exact size of its data: a day, a time of day, and sizes, points, lines and rectangles in
// fractions. Each is a few numbers and decodes into nothing else.
std::optional<QVariant> decodedPlainValue(const QByteArray& data)
{
    static const struct
    {
        int type;
        qsizetype size;
    } plain[] = {{QMetaType::QDate, 4},   {QMetaType::QTime, 4},  {QMetaType::QRectF, 32},
                 {QMetaType::QSizeF, 16}, {QMetaType::QLine, 16}, {QMetaType::QLineF, 32},
                 {QMetaType::QPointF, 16}};
    if (data.size() < 4 || !data.startsWith(QByteArray(3, '\0')))
        return std::nullopt;
    const int type = quint8(data.at(3));
    const auto known = std::find_if(std::begin(plain), std::end(plain),
                                    [type](const auto& entry) { return entry.type == type; });
    if (known == std::end(plain) || data.size() != 4 + known->size)
        return std::nullopt;
    QDataStream stream(data);
    stream.setVersion(QDataStream::Qt_4_0);
    QVariant value;
    stream >> value;
    if (stream.status() != QDataStream::Ok || !stream.atEnd() || value.typeId() != type)
        return std::nullopt;
    return value;
}

// The value a value of a line stands for, when it is a date or a plain value as QSettings
// writes them.
std::optional<QVariant> writtenPlainValue(QByteArrayView value)
{
    const QByteArrayView dateMarker("@DateTime(");
    const QByteArrayView variantMarker("@Variant(");
    const bool quoted = value.startsWith('"');
    const QByteArrayView close = quoted ? QByteArrayView(")\"") : QByteArrayView(")");
    if (quoted)
        value = value.sliced(1);
    const bool isDate = value.startsWith(dateMarker);
    const qsizetype markerSize = isDate ? dateMarker.size() : variantMarker.size();
    if (!(isDate || value.startsWith(variantMarker)) || !value.endsWith(close) ||
        value.size() < markerSize + close.size())
        return std::nullopt;
    const std::optional<QByteArray> data =
        writtenBytes(value.sliced(markerSize, value.size() - markerSize - close.size()), quoted);
    if (!data)
        return std::nullopt;
    if (!isDate)
        return decodedPlainValue(*data);
    const std::optional<QDateTime> date = decodedDate(*data);
    return date ? std::optional<QVariant>(*date) : std::nullopt;
}

// QSettings drops a byte order mark at the start of what it reads: the line after it is the
// first, and the mark stays where it is.
qsizetype firstLineStart(const QByteArray& content)
{
    return content.startsWith(byteOrderMark) ? qsizetype(sizeof byteOrderMark - 1) : 0;
}

} // namespace

QList<QVariant> CSerialisedValueCheck::setPlainValuesAside(QByteArray& content,
                                                           const QByteArray& placeholder)
{
    QList<QVariant> dates;
    QByteArray result;
    qsizetype copied = 0;
    qsizetype position = firstLineStart(content);
    TLine line;
    while (readLine(content, position, line)) {
        if (line.equals < 0 || content.at(line.start) == '[')
            continue;
        qsizetype valueStart = line.equals + 1;
        while (valueStart < line.end &&
               (content.at(valueStart) == ' ' || content.at(valueStart) == '\t'))
            ++valueStart;
        const std::optional<QVariant> date =
            writtenPlainValue(QByteArrayView(content).sliced(valueStart, line.end - valueStart));
        if (!date)
            continue;
        result += QByteArrayView(content).sliced(copied, valueStart - copied);
        result += placeholder + QByteArray::number(dates.size());
        copied = line.end;
        dates.append(*date);
    }
    if (!dates.isEmpty())
        content = result.append(QByteArrayView(content).sliced(copied));
    return dates;
}

QByteArray CSerialisedValueCheck::withoutSkippedLines(const QByteArray& content)
{
    QByteArray result;
    qsizetype copied = 0;
    qsizetype position = firstLineStart(content);
    TLine line;
    while (readLine(content, position, line)) {
        const QByteArrayView text =
            QByteArrayView(content).sliced(line.start, line.end - line.start);
        if (text.startsWith('[')) {
            if (!text.contains(']')) {
                result += QByteArrayView(content).sliced(copied, line.end - copied);
                result += ']';
                copied = line.end;
            }
        } else if (line.equals < 0) {
            result += QByteArrayView(content).sliced(copied, line.start - copied);
            copied = line.end;
        }
    }
    return result.append(QByteArrayView(content).sliced(copied));
}

bool CSerialisedValueCheck::mayHoldSerialisedValue(const QByteArray& content)
{
    return CMarkerScan(content).run();
}
