#include "IniFile/CSerialisedValueCheck.h"

#include <QByteArrayView>

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
    enum class EPart { LineStart, Comment, Key, Value };

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

} // namespace

bool CSerialisedValueCheck::mayHoldSerialisedValue(const QByteArray& content)
{
    return CMarkerScan(content).run();
}
