#pragma once

#include "fsFilter/CFSFilterSetting.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringView>

// The rules of one module in one category, in the order they were added, with what a query needs
// to answer without comparing every rule: the position of each case-folded value, the literals
// a pattern's matches contain, and one expression that joins the first patterns without such
// literals so that a name none of them matches is turned away by a single match. Not locked: the
// filter that holds it guards it.
class CFSFilterRules
{
public:
    const QList<CFSFilterSetting>& settings() const { return list; }
    bool isEmpty() const { return list.isEmpty(); }
    // Changes whenever the rules change; equal stamps mean equal rules, in any filter.
    quint64 stamp() const { return version; }

    // False when a rule with an equal value (ignoring case) is already held.
    bool add(const CFSFilterSetting& setting);
    // Removes the rule with an equal value; false when there is none.
    bool remove(const QString& value);

    // Position of the rule whose folded value is folded, -1 for none.
    qsizetype indexOfFolded(const QString& folded) const { return positions.value(folded, -1); }
    // Position of the first rule whose folded value the folded text contains, starts or ends it.
    qsizetype firstContainedIn(QStringView folded) const;
    qsizetype firstPrefixOf(QStringView folded) const;
    qsizetype firstSuffixOf(QStringView folded) const;
    // What firstPatternMatch asks about its subject, each computed only when a rule needs it.
    class ISubject
    {
    public:
        virtual ~ISubject() = default;
        virtual const CFSPatternLiterals::Mask& mask() = 0;
        virtual const QString& text() = 0;
        virtual const QString& folded() = 0;
    };
    // Position of the first rule whose expression matches the whole subject.
    qsizetype firstPatternMatch(ISubject& subject) const;

private:
    void rebuildPositions();
    void rebuildJoined();

    QList<CFSFilterSetting> list;
    QHash<QString, qsizetype> positions;
    quint64 version = 0;
    QRegularExpression joined;
    qsizetype joinedCount = 0;
    bool joinFailed = false;
    // Per rule: whether the joined expression stands for it.
    QList<bool> inJoined;
};
