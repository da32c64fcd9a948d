#pragma once

#include <QByteArray>

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
};
