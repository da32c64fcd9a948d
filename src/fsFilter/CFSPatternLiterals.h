#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>

// Text that every name a pattern matches must contain: a list of literals of which a match holds
// at least one (ignoring case). A query first looks for them, a plain substring search, and runs
// the expression only when one is there. Patterns this class cannot read with certainty give an
// empty list, and then the expression always runs.
class CFSPatternLiterals
{
public:
    // The case-folded literals of pattern, empty when nothing is certain.
    static QStringList required(const QString& pattern);

    // The characters and the pairs of neighbouring characters a text holds, hashed into bits:
    // a text whose mask lacks a bit of a literal's mask cannot contain the literal.
    struct Mask
    {
        quint64 chars = 0;
        std::array<quint64, 4> pairs{};

        bool covers(const Mask& literal) const
        {
            return (literal.chars & ~chars) == 0 && (literal.pairs[0] & ~pairs[0]) == 0 &&
                   (literal.pairs[1] & ~pairs[1]) == 0 && (literal.pairs[2] & ~pairs[2]) == 0 &&
                   (literal.pairs[3] & ~pairs[3]) == 0;
        }
        void addPair(QChar first, QChar second);
    };
    static Mask mask(QStringView folded);
    // The mask of first followed directly by second.
    static Mask joined(const Mask& first, QStringView firstText, const Mask& second,
                       QStringView secondText);
};
