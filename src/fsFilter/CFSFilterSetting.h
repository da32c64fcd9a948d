#pragma once

#include "fsFilter/CFSPatternLiterals.h"

#include <QRegularExpression>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// One filter rule: the value a category compares entries with and the type a query reports when
// the rule matches. A rule of a pattern category carries its expression, compiled once when the
// rule is made; the value is kept as the user wrote it.
class CFSFilterSetting
{
public:
    CFSFilterSetting() = default;
    CFSFilterSetting(const QString& value, quint32 type);
    virtual ~CFSFilterSetting() = default;
    CFSFilterSetting(const CFSFilterSetting&) = default;
    CFSFilterSetting& operator=(const CFSFilterSetting&) = default;

    // Both values equal ignoring case; the type is not compared.
    virtual bool equals(const CFSFilterSetting& other) const;

    // The rule for a pattern category: value compiled as an expression that must match a whole
    // name, ignoring case. isValid() tells whether it compiled.
    static CFSFilterSetting pattern(const QString& value, quint32 type);
    bool isValid() const { return !isPattern || expression.isValid(); }
    bool hasExpression() const { return isPattern; }
    QString errorString() const { return expression.errorString(); }

    // The value in the case-folded form every comparison ignoring case uses.
    const QString& foldedValue() const { return folded; }
    const QRegularExpression& compiled() const { return expression; }
    // Whether the expression may match a subject, by the literals every match contains: false
    // means it cannot, true that it has to be asked. folded gives the case-folded subject and
    // is called only when its mask leaves a literal possible.
    template<typename Folded>
    bool mayMatch(const CFSPatternLiterals::Mask& subject, Folded folded) const
    {
        for (qsizetype i = 0; i < literals.size(); ++i) {
            if (subject.covers(literalMasks.at(i)) &&
                QStringView(folded()).contains(literals.at(i)))
                return true;
        }
        return literals.isEmpty();
    }
    bool hasLiterals() const { return !literals.isEmpty(); }

    // The same case folding QString's comparisons ignoring case apply, code point by code point.
    static QString fold(QStringView text);
    // The same into folded, reusing its storage.
    static void fold(QStringView text, QString& folded);

    QString value;
    quint32 type = 0;

private:
    QString folded;
    bool isPattern = false;
    QRegularExpression expression;
    QStringList literals;
    QList<CFSPatternLiterals::Mask> literalMasks;
};
