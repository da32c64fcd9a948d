#include "fsFilter/CFSPatternLiterals.h"

#include "fsFilter/CFSFilter.h"

#include <QRegularExpression>
#include <QTest>

namespace {

const QStringList patterns = {
    ".*\\.bak",
    "^qt_temp\\.(.+)$",
    "((^(.*)/..namedfork/(.*)$)|(^(.*)/..namedfork$))",
    "((^(.*)/([A-Z_0-9]{6})((~[0-9]){1})(((\\.{1})([A-Z_0-9]{0,3})){0,1})/(.*)$)|(^(.*)/"
    "[A-Z_0-9]{6})((~[0-9]){1})(((\\.{1})([A-Z_0-9]{0,3})){0,1})$)",
    "a|bc",
    "ab?c",
    "a+bc",
    "x{0,2}yz{1}",
    "(foo|bar)baz",
    "(?=ab)abc",
    "(?!ab)a.*",
    "(?<w>ab)+c",
    "[]a]bc",
    "[^b]ca",
    "[[:alpha:]]+xyz",
    "\\d+abc",
    "\\.\\*\\$",
    "(?i)ABC",
    "\\Qa.b\\E",
    "(a)\\1",
    "ÄRGER.*",
    "a{b",
    "a{,2}",
    "(?:)",
    "",
};

// Separated by blanks, which none holds; the empty subject last.
const QStringList subjects =
    QStringLiteral("x.bak x.BAK x.bak2 qt_temp.x QT_TEMP. /a/..namedfork/rsrc /a/..namedfork "
                   "/d/ABCDEF~1.TXT /d/abcdef~1/x a bc abc ac aabc yz xxyz foobaz barbaz baz abcc "
                   "ab acb ababc ]bc aca bca Zxyz 9abc .*$ ABC a.b aa ärger! a{b a{,2} xabc")
        .split(u' ')
    << QString();

bool matches(const QString& pattern, const QString& subject)
{
    const QRegularExpression expression(QRegularExpression::anchoredPattern(pattern),
                                        QRegularExpression::CaseInsensitiveOption);
    return expression.match(subject).hasMatch();
}

} // namespace

class tst_CFSPatternLiterals : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void required_data();
    void required();
    void filterAgreesWithTheExpression();
};

void tst_CFSPatternLiterals::required_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("literals");
    QTest::newRow("suffix") << ".*\\.bak" << QStringList{".bak"};
    QTest::newRow("working file") << "^qt_temp\\.(.+)$" << QStringList{"qt_temp."};
    QTest::newRow("fork path") << patterns.at(2) << QStringList({"namedfork/", "namedfork"});
    QTest::newRow("short name") << patterns.at(3) << QStringList({"~", "~"});
    QTest::newRow("alternatives") << "a|bc" << QStringList({"a", "bc"});
    QTest::newRow("optional character") << "ab?c" << QStringList{"a"};
    QTest::newRow("repeated character") << "a+bc" << QStringList{"bc"};
    QTest::newRow("counted") << "x{0,2}yz{1}" << QStringList{"yz"};
    QTest::newRow("group of alternatives") << "(foo|bar)baz" << QStringList({"foo", "bar"});
    QTest::newRow("lookahead") << "(?=ab)abc" << QStringList{"abc"};
    QTest::newRow("classes") << "[[:alpha:]]+xyz" << QStringList{"xyz"};
    QTest::newRow("escaped punctuation") << "\\.\\*\\$" << QStringList{".*$"};
    QTest::newRow("folded") << "ÄRGER.*" << QStringList{"ärger"};
    QTest::newRow("inline options") << "(?i)ABC" << QStringList();
    QTest::newRow("quoting") << "\\Qa.b\\E" << QStringList();
    QTest::newRow("back reference") << "(a)\\1" << QStringList();
    QTest::newRow("only optional parts") << "x*" << QStringList();
    QTest::newRow("only separators") << "/.*/" << QStringList();
}

void tst_CFSPatternLiterals::required()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, literals);
    QCOMPARE(CFSPatternLiterals::required(pattern), literals);
}

// The literals only spare work: with each pattern as the only rule, or all of them in one list,
// the filter answers what the expression says.
void tst_CFSPatternLiterals::filterAgreesWithTheExpression()
{
    CFSFilter all;
    for (const QString& pattern : patterns) {
        CFSFilter one;
        QVERIFY(one.addExcludeFilePattern(CFSFilter::Synchronizer, 1, pattern) ||
                pattern.isEmpty());
        QVERIFY(all.addExcludeFilePattern(CFSFilter::Synchronizer, 1, pattern) ||
                pattern.isEmpty());
        for (const QString& subject : subjects) {
            quint32 type = 0;
            QVERIFY2(one.matchesExcludedFilePattern(CFSFilter::Synchronizer, subject, type) ==
                         matches(pattern, subject),
                     qPrintable(pattern + " on " + subject));
        }
    }
    for (const QString& subject : subjects) {
        bool any = false;
        for (const QString& pattern : patterns)
            any = any || matches(pattern, subject);
        quint32 type = 0;
        QVERIFY2(all.matchesExcludedFilePattern(CFSFilter::Synchronizer, subject, type) == any,
                 qPrintable(subject));
    }
}

QTEST_GUILESS_MAIN(tst_CFSPatternLiterals)
#include "tst_CFSPatternLiterals.moc"
