#include "fsFilter/CFSPlatformFilter.h"

#include "common/CExpect.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace {

enum class TReport
{
    None,
    Filtered,
    Invalid,
};

// One of the eight queries, asked about a name in the folder docs of a space.
using TQuery = std::function<bool(CFSPlatformFilter&, const QString&, quint32&)>;

const char* const file = "CFSPlatformFilter.cpp";

} // namespace

Q_DECLARE_METATYPE(TReport)
Q_DECLARE_METATYPE(TQuery)

class tst_CFSPlatformFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void invalidNamesAndPaths_data();
    void invalidNamesAndPaths();
    void query_data();
    void query();
    void everyQueryReportsOnce_data();
    void everyQueryReportsOnce();
};

// For a name "ivr": which of isInvalidName, isValidFileName and isReservedFileName hold.
void tst_CFSPlatformFilter::invalidNamesAndPaths_data()
{
    QTest::addColumn<bool>("isPath");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("holds");
    const auto name = [](const char* tag, const QString& text, const char* holds) {
        QTest::addRow("name: %s", tag) << false << text << QString::fromLatin1(holds);
    };
    name("CON", "CON", "ivr");
    name("con.txt", "con.txt", "vr");
    name("lpt1.tar.gz", "lpt1.tar.gz", "vr");
    name("CONSOLE", "CONSOLE", "v");
    name("xCON", "xCON", "v");
    name("COM1", "Com1", "ivr");
    name("COM0", "COM0", "v");
    name("LPT9", "lpt9", "ivr");
    name("CLOCK$", "clock$", "ivr");
    name("trailing dot", "report.", "i");
    name("trailing blank", "report ", "i");
    name("leading blank", " a", "");
    name("question mark", "what?.txt", "i");
    name("backslash", "a\\b", "i");
    name("star", "a*", "i");
    name("control", "a" + QString(QChar(0x1F)) + "b", "i");
    name("leading dot", ".hidden", "");
    name("one character", "a", "v");
    name("inner blank", "a b.txt", "v");
    name("non-ASCII", "Zürich Œuvre.txt", "v");
    name("empty", "", "");
    const auto path = [](const char* tag, const QString& text, bool invalid) {
        QTest::addRow("path: %s", tag) << true << text << QString::fromLatin1(invalid ? "i" : "");
    };
    path("plain", "/docs/sub/", false);
    path("root", "/", false);
    path("device name is a name matter", "/CON/", false);
    path("trailing dot", "/docs.", true);
    path("trailing blank", "/docs ", true);
    path("question mark", "/a?b/", true);
    path("backslash", "/a\\b/", true);
    path("control", "/a\nb/", true);
}

void tst_CFSPlatformFilter::invalidNamesAndPaths()
{
    QFETCH(bool, isPath);
    QFETCH(QString, text);
    QFETCH(QString, holds);
    if (isPath) {
        QCOMPARE(CFSPlatformFilter::isInvalidPath(text), holds.contains(u'i'));
        return;
    }
    QCOMPARE(CFSPlatformFilter::isInvalidName(text), holds.contains(u'i'));
    QCOMPARE(CFSPlatformFilter::isValidFileName(text), holds.contains(u'v'));
    QCOMPARE(CFSPlatformFilter::isReservedFileName(text), holds.contains(u'r'));
}

void tst_CFSPlatformFilter::query_data()
{
    QTest::addColumn<quint32>("module");
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<bool>("filtered");
    QTest::addColumn<quint32>("type");
    QTest::addColumn<TReport>("report");
    QTest::addColumn<QString>("record");
    const auto row = [](const char* tag, quint32 module, const QString& relativePath,
                        const QString& name, bool isDirectory, bool filtered, quint32 type,
                        TReport report, const QString& record = {}) {
        QTest::newRow(tag) << module << relativePath << name << isDirectory << filtered << type
                           << report << record;
    };
    const quint32 scanner = CFSFilter::Scanner;
    const QString invalid = "found invalid path or name 7 %1 %2";
    row("CON", scanner, "/docs/", "CON", false, true, 0, TReport::Invalid,
        invalid.arg("/docs/", "CON"));
    row("con.txt passes", scanner, "/docs/", "con.txt", false, false, 0, TReport::None);
    row("trailing dot", scanner, "/docs/", "report.", false, true, 0, TReport::Invalid,
        invalid.arg("/docs/", "report."));
    row("invalid parent path", scanner, "/a|b/", "x.txt", false, true, 0, TReport::Invalid,
        invalid.arg("/a|b/", "x.txt"));
    row("working file pattern is silent", scanner, "/docs/", "qt_temp.abc", false, true, 4,
        TReport::None);
    row("fork path", scanner, "/docs/..namedfork/", "rsrc", false, true, CFSFilter::forkPathType,
        TReport::Filtered, "found: 7 /docs/..namedfork/ rsrc 4294967294");
    row("short name alias", scanner, "/docs/", "ABCDEF~1.TXT", false, true,
        CFSFilter::shortNameType, TReport::Filtered, "found: 7 /docs/ ABCDEF~1.TXT 4294967295");
    row("own rule", scanner, "/docs/", "secret.txt", false, true, 9, TReport::Filtered,
        "filtering: 7 /docs/ secret.txt 9");
    row("rule of another module", CFSFilter::Watcher, "/docs/", "secret.txt", false, false, 0,
        TReport::None);
    row("rule wins over the name check", scanner, "/docs/", "secret.txt.", false, true, 9,
        TReport::Filtered, "filtering: 7 /docs/ secret.txt. 9");
}

void tst_CFSPlatformFilter::query()
{
    QFETCH(quint32, module);
    QFETCH(QString, relativePath);
    QFETCH(QString, name);
    QFETCH(bool, isDirectory);
    QFETCH(bool, filtered);
    QFETCH(quint32, type);
    QFETCH(TReport, report);
    QFETCH(QString, record);

    CFSPlatformFilter filter;
    filter.setSpaceID(7);
    QVERIFY(filter.addExcludeFile(CFSFilter::Scanner, 9, "secret.txt"));
    QVERIFY(filter.addExcludeNamePrefix(CFSFilter::Scanner, 9, "secret.txt."));
    filter.addModuleOptions(CFSFilter::Scanner, CFSFilter::NamePrefixes);
    QSignalSpy filteredSpy(&filter, &CFSPlatformFilter::pathFiltered);
    QSignalSpy invalidSpy(&filter, &CFSPlatformFilter::pathInvalid);

    if (report == TReport::Filtered)
        CExpect::record(type == 9 ? QtDebugMsg : QtCriticalMsg, file,
                        "CFSPlatformFilter::signalPathFiltered", record);
    else if (report == TReport::Invalid)
        CExpect::record(QtCriticalMsg, file, "CFSPlatformFilter::signalPathInvalid", record);
    quint32 answeredType = 12345;
    QCOMPARE(filter.isFilteredRelative(module, relativePath, name, isDirectory, answeredType),
             filtered);
    QCOMPARE(answeredType, type);
    QCOMPARE(filteredSpy.count(), report == TReport::Filtered ? 1 : 0);
    QCOMPARE(invalidSpy.count(), report == TReport::Invalid ? 1 : 0);
    if (report == TReport::Filtered)
        QCOMPARE(filteredSpy.first(), (QVariantList{7u, relativePath, name, type}));
    if (report == TReport::Invalid)
        QCOMPARE(invalidSpy.first(), (QVariantList{7u, relativePath, name}));
}

void tst_CFSPlatformFilter::everyQueryReportsOnce_data()
{
    QTest::addColumn<TQuery>("query");
    const quint32 module = CFSFilter::Scanner;
    const quint32 options = CFSFilter::Files;
    const QString space = "/home/user/space";
    const QString parent = "/home/user/space/docs";
    const QString relative = "/docs/";
    QTest::newRow("isFiltered with options") << TQuery([=](auto& f, auto& n, auto& t) {
        return f.isFiltered(module, space, parent, n, options, false, t);
    });
    QTest::newRow("isFileFiltered with options") << TQuery([=](auto& f, auto& n, auto& t) {
        return f.isFileFiltered(module, space, parent, n, options, t);
    });
    QTest::newRow("isFiltered") << TQuery([=](auto& f, auto& n, auto& t) {
        return f.isFiltered(module, space, parent, n, false, t);
    });
    QTest::newRow("isFileFiltered") << TQuery(
        [=](auto& f, auto& n, auto& t) { return f.isFileFiltered(module, space, parent, n, t); });
    QTest::newRow("isFilteredRelative with options") << TQuery([=](auto& f, auto& n, auto& t) {
        return f.isFilteredRelative(module, relative, n, options, false, t);
    });
    QTest::newRow("isFileFilteredRelative with options") << TQuery([=](auto& f, auto& n, auto& t) {
        return f.isFileFilteredRelative(module, relative, n, options, t);
    });
    QTest::newRow("isFilteredRelative") << TQuery([=](auto& f, auto& n, auto& t) {
        return f.isFilteredRelative(module, relative, n, false, t);
    });
    QTest::newRow("isFileFilteredRelative") << TQuery([=](auto& f, auto& n, auto& t) {
        return f.isFileFilteredRelative(module, relative, n, t);
    });
}

// Every query names the entry relative to the space and reports it exactly once.
void tst_CFSPlatformFilter::everyQueryReportsOnce()
{
    QFETCH(TQuery, query);
    CFSPlatformFilter filter;
    filter.setSpaceID(3);
    QVERIFY(filter.addExcludeFile(CFSFilter::Scanner, 9, "secret.txt"));
    QSignalSpy filteredSpy(&filter, &CFSPlatformFilter::pathFiltered);
    QSignalSpy invalidSpy(&filter, &CFSPlatformFilter::pathInvalid);
    quint32 type = 0;

    CExpect::record(QtDebugMsg, file, "CFSPlatformFilter::signalPathFiltered",
                    "filtering: 3 /docs/ secret.txt 9");
    QVERIFY(query(filter, "secret.txt", type));
    QCOMPARE(type, 9u);
    CExpect::record(QtCriticalMsg, file, "CFSPlatformFilter::signalPathInvalid",
                    "found invalid path or name 3 /docs/ aux");
    QVERIFY(query(filter, "aux", type));
    QCOMPARE(type, 0u);
    QVERIFY(!query(filter, "aux.txt", type));

    QCOMPARE(filteredSpy.count(), 1);
    QCOMPARE(filteredSpy.first(), (QVariantList{3u, "/docs/", "secret.txt", 9u}));
    QCOMPARE(invalidSpy.count(), 1);
    QCOMPARE(invalidSpy.first(), (QVariantList{3u, "/docs/", "aux"}));
}

QTEST_GUILESS_MAIN(tst_CFSPlatformFilter)
#include "tst_CFSPlatformFilter.moc"
