#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QVariant>

// QSettings turns an ini value that starts with "@Variant(" into whatever the serialised data
// names: decoding a list reserves the element count it claims, gigabytes from a few bytes, and
// some types (cursors, pixmaps) end a program that has no GUI. Readers of files they did not
// write ask this before they let QSettings parse them.
class CSerialisedValueCheck
{
public:
    // Whether the settings parser could turn some value of content into a serialised value. It
    // follows the parser's lines, quotes, escapes and list items, and where its reading is not
    // certain takes the one that finds a marker; a marker inside a text is only text, so the
    // files QSettings writes pass unless a text of theirs starts with one hidden behind a byte
    // order mark, which the parser would drop.
    static bool mayHoldSerialisedValue(const QByteArray& content);

    // A value that is exactly what QSettings writes for a date ("@DateTime(", then a date in
    // local time, in UTC or at an offset from UTC, quoted or not) decodes into that date and
    // nothing else: no allocation, no file (a date in a named time zone would make Qt open a
    // time zone file of that name, so it is not one of them). So does one that is exactly what it
    // writes behind "@Variant(" for a day, a time of day, or a size, point, line or rectangle in
    // fractions. Replaces each such value in content by placeholder followed by its number, from
    // 0, and returns the values in that order; anything else is left for mayHoldSerialisedValue()
    // to find.
    static QList<QVariant> setPlainValuesAside(QByteArray& content, const QByteArray& placeholder);

    // The content without the lines the settings parser skips with a format error (no "=", no
    // section header) and with a section header that lacks its "]" closed: QSettings reads the
    // same keys from it without a format error, and then writes them all back.
    static QByteArray withoutSkippedLines(const QByteArray& content);
};
