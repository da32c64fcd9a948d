#include "fsFilter/CFSPatternLiterals.h"

#include "fsFilter/CFSFilterSetting.h"

namespace {

// What one part of a pattern requires: nothing (any) or one of the literals.
struct CRequirement
{
    bool any = true;
    QStringList literals;
};

// A literal made of separators only says nothing about a path.
int score(const QString& literal)
{
    for (const QChar c : literal) {
        if (c != QLatin1Char('/'))
            return int(literal.size());
    }
    return 0;
}

int score(const CRequirement& requirement)
{
    if (requirement.any || requirement.literals.isEmpty())
        return 0;
    int lowest = INT_MAX;
    for (const QString& literal : requirement.literals)
        lowest = qMin(lowest, score(literal));
    return lowest;
}

// A recursive reading of the expression syntax that knows literals, groups, alternatives,
// classes and quantifiers, and gives up on everything else (references, verbs, inline options,
// quoting, code points given by number).
class CPatternReader
{
public:
    explicit CPatternReader(const QString& pattern) : p(pattern) {}

    CRequirement read()
    {
        CRequirement result = alternation(false);
        if (failed || i != p.size())
            return CRequirement();
        return result;
    }

private:
    bool at(const char* text) const
    {
        return QStringView(p).mid(i).startsWith(QLatin1String(text));
    }

    CRequirement alternation(bool inGroup)
    {
        CRequirement result = sequence(inGroup);
        while (!failed && i < p.size() && p.at(i) == QLatin1Char('|')) {
            ++i;
            const CRequirement branch = sequence(inGroup);
            if (result.any || branch.any) {
                result = CRequirement();
            } else {
                result.literals += branch.literals;
            }
        }
        return result;
    }

    static void consider(CRequirement& best, const CRequirement& candidate)
    {
        if (score(candidate) > score(best))
            best = candidate;
    }

    // Reads a quantifier if one follows: -1 none, else its minimum count.
    int quantifier()
    {
        if (i >= p.size())
            return -1;
        const QChar c = p.at(i);
        int minimum = -1;
        if (c == QLatin1Char('?') || c == QLatin1Char('*')) {
            minimum = 0;
            ++i;
        } else if (c == QLatin1Char('+')) {
            minimum = 1;
            ++i;
        } else if (c == QLatin1Char('{')) {
            qsizetype j = i + 1;
            qsizetype digits = j;
            while (j < p.size() && p.at(j).isDigit())
                ++j;
            if (j == digits)
                return -1;
            bool ok = false;
            minimum = qMin(QStringView(p).mid(digits, j - digits).toInt(&ok), 1);
            if (!ok)
                minimum = 1;
            if (j < p.size() && p.at(j) == QLatin1Char(',')) {
                ++j;
                while (j < p.size() && p.at(j).isDigit())
                    ++j;
            }
            if (j >= p.size() || p.at(j) != QLatin1Char('}'))
                return -1;
            i = j + 1;
        } else {
            return -1;
        }
        if (i < p.size() && (p.at(i) == QLatin1Char('?') || p.at(i) == QLatin1Char('+')))
            ++i;
        return minimum;
    }

    void skipClass()
    {
        ++i;
        if (i < p.size() && p.at(i) == QLatin1Char('^'))
            ++i;
        if (i < p.size() && p.at(i) == QLatin1Char(']'))
            ++i;
        while (i < p.size() && p.at(i) != QLatin1Char(']')) {
            if (p.at(i) == QLatin1Char('\\')) {
                i += 2;
            } else if (at("[:")) {
                const qsizetype end = p.indexOf(QLatin1String(":]"), i + 2);
                if (end < 0) {
                    failed = true;
                    return;
                }
                i = end + 2;
            } else {
                ++i;
            }
        }
        if (i >= p.size())
            failed = true;
        else
            ++i;
    }

    // Reads a group after its "(": its requirement, or any for lookarounds.
    CRequirement group()
    {
        bool counts = true;
        if (at("?:") || at("?>")) {
            i += 2;
        } else if (at("?=") || at("?!")) {
            i += 2;
            counts = false;
        } else if (at("?<=") || at("?<!")) {
            i += 3;
            counts = false;
        } else if (at("?<") || at("?P<") || at("?'")) {
            const QChar close = at("?'") ? QLatin1Char('\'') : QLatin1Char('>');
            const qsizetype end = p.indexOf(close, i + 2);
            if (end < 0) {
                failed = true;
                return CRequirement();
            }
            i = end + 1;
        } else if (at("?") || at("*")) {
            failed = true;
            return CRequirement();
        }
        const CRequirement inner = alternation(true);
        if (i >= p.size() || p.at(i) != QLatin1Char(')')) {
            failed = true;
            return CRequirement();
        }
        ++i;
        return counts ? inner : CRequirement();
    }

    CRequirement sequence(bool inGroup)
    {
        CRequirement best;
        QString run;
        const auto flush = [&] {
            if (!run.isEmpty())
                consider(best, CRequirement{false, {run}});
            run.clear();
        };
        while (!failed && i < p.size()) {
            const QChar c = p.at(i);
            if (c == QLatin1Char('|') || (c == QLatin1Char(')') && inGroup))
                break;
            bool isLiteral = false;
            QChar literal;
            CRequirement item;
            if (c == QLatin1Char('(')) {
                ++i;
                item = group();
            } else if (c == QLatin1Char('[')) {
                skipClass();
            } else if (c == QLatin1Char('\\')) {
                if (i + 1 >= p.size()) {
                    failed = true;
                    break;
                }
                const QChar d = p.at(i + 1);
                i += 2;
                if (d.isLetterOrNumber()) {
                    if (!QStringLiteral("dDwWsShHvVbBAzZG").contains(d))
                        failed = true;
                } else {
                    isLiteral = true;
                    literal = d;
                }
            } else if (c == QLatin1Char('.') || c == QLatin1Char('^') || c == QLatin1Char('$')) {
                ++i;
            } else if (c == QLatin1Char(')') || c == QLatin1Char('*') || c == QLatin1Char('+') ||
                       c == QLatin1Char('?') || c == QLatin1Char('{')) {
                // A brace that is no quantifier here is one in other versions of the syntax.
                failed = true;
                break;
            } else {
                isLiteral = true;
                literal = c;
                ++i;
            }
            if (failed)
                break;
            const int minimum = quantifier();
            if (isLiteral) {
                if (minimum != 0)
                    run += literal;
                if (minimum >= 0)
                    flush();
            } else {
                flush();
                if (minimum != 0)
                    consider(best, item);
            }
        }
        flush();
        return best;
    }

    const QString& p;
    qsizetype i = 0;
    bool failed = false;
};

} // namespace

QStringList CFSPatternLiterals::required(const QString& pattern)
{
    const CRequirement requirement = CPatternReader(pattern).read();
    if (score(requirement) == 0)
        return QStringList();
    QStringList folded;
    for (const QString& literal : requirement.literals)
        folded.append(CFSFilterSetting::fold(literal));
    return folded;
}

void CFSPatternLiterals::Mask::addPair(QChar first, QChar second)
{
    const quint32 hash =
        (quint32(first.unicode()) * 0x9E3779B1U) ^ (quint32(second.unicode()) * 0x85EBCA77U);
    const quint32 bit = hash >> 24;
    pairs[bit >> 6] |= quint64(1) << (bit & 63);
}

CFSPatternLiterals::Mask CFSPatternLiterals::mask(QStringView folded)
{
    Mask result;
    for (qsizetype i = 0; i < folded.size(); ++i) {
        result.chars |= quint64(1) << (folded.at(i).unicode() & 63);
        if (i > 0)
            result.addPair(folded.at(i - 1), folded.at(i));
    }
    return result;
}

CFSPatternLiterals::Mask CFSPatternLiterals::joined(const Mask& first, QStringView firstText,
                                                    const Mask& second, QStringView secondText)
{
    Mask result = first;
    result.chars |= second.chars;
    for (int i = 0; i < 4; ++i)
        result.pairs[i] |= second.pairs[i];
    if (!firstText.isEmpty() && !secondText.isEmpty())
        result.addPair(firstText.back(), secondText.front());
    return result;
}
