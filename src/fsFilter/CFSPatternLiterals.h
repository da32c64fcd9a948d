#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// Text that every name a pattern matches must contain: a list of literals of which a match holds
// at least one (ignoring case). A query first looks for them, a plain substring search, and runs
// the expression only when one is there. Patterns this class cannot read with certainty give an
// empty list, and then the expression always runs.
class CFSPatternLiterals
{
public:
    // The case-folded literals of pattern, empty when nothing is certain.
    static QStringList required(const QString& pattern);
    // One bit per character (by its code modulo 64): a text lacking a bit of a literal's mask
    // cannot contain it.
    static quint64 mask(QStringView folded);
};
