#include "fsFilter/CFSFilterRules.h"

#include "fsFilter/CFSPatternLiterals.h"

#include <atomic>

namespace {

std::atomic<quint64> s_lastStamp{0};

quint64 nextStamp()
{
    return s_lastStamp.fetch_add(1, std::memory_order_relaxed) + 1;
}

// More joined patterns cost more to compile at every change than they save in a query.
constexpr qsizetype maxJoined = 64;

// A pattern may stand in an alternation of whole-name patterns only when nothing in it refers to
// group numbers or to the whole expression, and no verb can end the alternation early.
bool isJoinable(const QString& pattern)
{
    static const QRegularExpression risky(
        QStringLiteral(R"(\\[0-9gkQ]|\(\?(?:[0-9+\-|&(CRP]|P[=>])|\(\*)"));
    return !risky.match(pattern).hasMatch();
}

} // namespace

bool CFSFilterRules::add(const CFSFilterSetting& setting)
{
    if (positions.contains(setting.foldedValue()))
        return false;
    positions.insert(setting.foldedValue(), list.size());
    list.append(setting);
    inJoined.append(false);
    version = nextStamp();
    if (setting.hasExpression() && !setting.hasLiterals() && !joinFailed &&
        joinedCount < maxJoined && isJoinable(setting.value))
        rebuildJoined();
    return true;
}

bool CFSFilterRules::remove(const QString& value)
{
    const qsizetype index = positions.value(CFSFilterSetting::fold(value), -1);
    if (index < 0)
        return false;
    list.removeAt(index);
    inJoined.removeAt(index);
    version = nextStamp();
    rebuildPositions();
    joinFailed = false;
    rebuildJoined();
    return true;
}

void CFSFilterRules::rebuildPositions()
{
    positions.clear();
    positions.reserve(list.size());
    for (qsizetype i = 0; i < list.size(); ++i)
        positions.insert(list.at(i).foldedValue(), i);
}

void CFSFilterRules::rebuildJoined()
{
    inJoined.fill(false);
    joined = QRegularExpression();
    joinedCount = 0;
    QString pattern;
    qsizetype count = 0;
    for (qsizetype i = 0; i < list.size() && count < maxJoined; ++i) {
        const CFSFilterSetting& setting = list.at(i);
        if (!setting.hasExpression() || setting.hasLiterals() || !isJoinable(setting.value))
            continue;
        pattern += (count ? QStringLiteral("|(?:") : QStringLiteral("(?:")) + setting.value +
                   QLatin1Char(')');
        inJoined[i] = true;
        ++count;
    }
    if (count == 0)
        return;
    QRegularExpression expression(QRegularExpression::anchoredPattern(pattern),
                                  QRegularExpression::CaseInsensitiveOption);
    if (!expression.isValid()) {
        // Patterns that are valid alone but clash when joined (the same group name twice) are
        // asked one by one.
        joinFailed = true;
        inJoined.fill(false);
        return;
    }
    expression.optimize();
    joined = expression;
    joinedCount = count;
}

qsizetype CFSFilterRules::firstContainedIn(QStringView folded) const
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (folded.contains(list.at(i).foldedValue()))
            return i;
    }
    return -1;
}

qsizetype CFSFilterRules::firstPrefixOf(QStringView folded) const
{
    if (folded.isEmpty())
        return indexOfFolded(QString());
    // Comparing the first character inline turns most rules away without a call.
    const QChar first = folded.front();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString& value = list.at(i).foldedValue();
        if (value.isEmpty() || (value.front() == first && folded.startsWith(value)))
            return i;
    }
    return -1;
}

qsizetype CFSFilterRules::firstSuffixOf(QStringView folded) const
{
    if (folded.isEmpty())
        return indexOfFolded(QString());
    const QChar last = folded.back();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString& value = list.at(i).foldedValue();
        if (value.isEmpty() || (value.back() == last && folded.endsWith(value)))
            return i;
    }
    return -1;
}

qsizetype CFSFilterRules::firstPatternMatch(ISubject& subject) const
{
    const CFSPatternLiterals::Mask& mask = subject.mask();
    int joinedMatches = -1;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const CFSFilterSetting& setting = list.at(i);
        if (!setting.hasExpression() ||
            !setting.mayMatch(mask, [&subject]() -> const QString& { return subject.folded(); }))
            continue;
        if (inJoined.at(i)) {
            if (joinedMatches < 0)
                joinedMatches = joined.match(subject.text()).hasMatch() ? 1 : 0;
            if (joinedMatches == 0)
                continue;
        }
        if (setting.compiled().match(subject.text()).hasMatch())
            return i;
    }
    return -1;
}
