#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <array>

// Finds the places in a text where one of a few byte strings may start, case folded: a place
// it passes over starts none of them, a place it answers is to be compared exactly. Each
// string is looked for by its first three bytes, so every string is three bytes or longer.
// The credential masker passes every byte of every log through here; on processors with AVX2
// 32 places are tried at once (the nibble-table method of Hyperscan's "Teddy"), elsewhere and
// near the text's end one place at a time through a hashed bit table.
class CKeyStartFilter
{
public:
    explicit CKeyStartFilter(const QList<QByteArray>& strings = {});

    // The first place in [from, end) where a string may start, or end.
    const char* next(const char* from, const char* end) const;

    // For each of the three first bytes of a string: by the low and by the high half of the
    // folded byte, the groups of strings whose byte at that place has that half, twice over
    // for both halves of a 256-bit register.
    struct TNibbles
    {
        alignas(32) quint8 low[32];
        alignas(32) quint8 high[32];
    };

private:
    const char* nextOneByOne(const char* from, const char* end) const;

    std::array<TNibbles, 3> nibbles = {};
    // One bit for each hashed, folded first three bytes of a string.
    std::array<quint64, 1024> hashed = {};
};
