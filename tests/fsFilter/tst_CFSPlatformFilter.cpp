#include "fsFilter/CFSPlatformFilter.h"

#include "common/CExpect.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

namespace {

// Counts every record written while it lives and passes it on, so that QTest::ignoreMessage
// still sees the expected ones.
class CRecordCounter
{
public:
    CRecordCounter()
    {
        s_count = 0;
        s_previous = qInstallMessageHandler(&CRecordCounter::handle);
    }
    ~CRecordCounter() { qInstallMessageHandler(s_previous); }
    CRecordCounter(const CRecordCounter&) = delete;
    CRecordCounter& operator=(const CRecordCounter&) = delete;

    int count() const { return s_count; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        ++s_count;
        s_previous(type, context, text);
    }

    static inline int s_count = 0;
    static inline QtMessageHandler s_previous = nullptr;
};

enum class TReport
{
    None,
    Filtered,
    Invalid,
};

// One of the eight queries, asked about a name in the folder docs of a space.
using TQuery = std::function<bool(CFSPlatformFilter&, const QString&, quint32&)>;

const QString file = QStringLiteral("CFSPlatformFilter.cpp");

} // namespace

Q_DECLARE_METATYPE(TReport)
Q_DECLARE_METATYPE(TQuery)

class tst_CFSPlatformFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nameCheck_data();
    void nameCheck();
    void pathCheck_data();
    void pathCheck();
    void wholeNameChecks_data();
    void wholeNameChecks();
    void query_data();
    void query();
    void everyQueryReportsOnce_data();
    void everyQueryReportsOnce();
    void copyKeepsRulesAndSpace();
};

void tst_CFSPlatformFilter::nameCheck_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("invalid");
    QTest::newRow("CON") << "CON" << true;
    QTest::newRow("con lower case") << "con" << true;
    QTest::newRow("con.txt") << "con.txt" << false;
    QTest::newRow("CONSOLE") << "CONSOLE" << false;
    QTest::newRow("xCON") << "xCON" << false;
    QTest::newRow("COM1") << "Com1" << true;
    QTest::newRow("COM0") << "COM0" << false;
    QTest::newRow("LPT9") << "lpt9" << true;
    QTest::newRow("CLOCK$") << "clock$" << true;
    QTest::newRow("NUL") << "NUL" << true;
    QTest::newRow("trailing dot") << "report." << true;
    QTest::newRow("trailing blank") << "report " << true;
    QTest::newRow("trailing tab") << "report\t" << true;
    QTest::newRow("question mark") << "what?.txt" << true;
    QTest::newRow("double quote") << "a\"b" << true;
    QTest::newRow("angle brackets") << "a<b>" << true;
    QTest::newRow("colon") << "a:b" << true;
    QTest::newRow("backslash") << "a\\b" << true;
    QTest::newRow("slash") << "a/b" << true;
    QTest::newRow("pipe") << "a|b" << true;
    QTest::newRow("star") << "a*b" << true;
    QTest::newRow("control") << QStringLiteral("a") + QChar(0x1F) + QStringLiteral("b") << true;
    QTest::newRow("leading dot") << ".hidden" << false;
    QTest::newRow("inner blank") << "a b.txt" << false;
    QTest::newRow("non-ASCII") << QStringLiteral("Zürich Œuvre.txt") << false;
    QTest::newRow("empty") << "" << false;
}

void tst_CFSPlatformFilter::nameCheck()
{
    QFETCH(QString, name);
    QFETCH(bool, invalid);
    QCOMPARE(CFSPlatformFilter::isInvalidName(name), invalid);
}

void tst_CFSPlatformFilter::pathCheck_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("invalid");
    QTest::newRow("plain") << "/docs/sub/" << false;
    QTest::newRow("root") << "/" << false;
    QTest::newRow("device name is a name matter") << "/CON/" << false;
    QTest::newRow("upper and lower case") << "/Docs/A/" << false;
    QTest::newRow("trailing dot") << "/docs." << true;
    QTest::newRow("trailing blank") << "/docs " << true;
    QTest::newRow("question mark") << "/a?b/" << true;
    QTest::newRow("pipe") << "/a|b/" << true;
    QTest::newRow("colon") << "/a:b/" << true;
    QTest::newRow("backslash") << "/a\\b/" << true;
    QTest::newRow("control") << QStringLiteral("/a\nb/") << true;
}

void tst_CFSPlatformFilter::pathCheck()
{
    QFETCH(QString, path);
    QFETCH(bool, invalid);
    QCOMPARE(CFSPlatformFilter::isInvalidPath(path), invalid);
}

void tst_CFSPlatformFilter::wholeNameChecks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("reserved");
    QTest::newRow("plain") << "a.txt" << true << false;
    QTest::newRow("one character") << "a" << true << false;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("leading dot") << ".a" << false << false;
    QTest::newRow("leading blank") << " a" << false << false;
    QTest::newRow("trailing dot") << "a." << false << false;
    QTest::newRow("inner blank and dot") << "a b.c" << true << false;
    QTest::newRow("star") << "a*" << false << false;
    QTest::newRow("CON") << "CON" << true << true;
    QTest::newRow("con.txt") << "con.txt" << true << true;
    QTest::newRow("lpt1.tar.gz") << "lpt1.tar.gz" << true << true;
    QTest::newRow("CONSOLE.txt") << "CONSOLE.txt" << true << false;
}

void tst_CFSPlatformFilter::wholeNameChecks()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(bool, reserved);
    QCOMPARE(CFSPlatformFilter::isValidFileName(name), valid);
    QCOMPARE(CFSPlatformFilter::isReservedFileName(name), reserved);
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

    const quint32 scanner = CFSFilter::Scanner;
    QTest::newRow("CON") << scanner << "/docs/"
                         << "CON" << false << true << 0u << TReport::Invalid
                         << "found invalid path or name 7 /docs/ CON";
    QTest::newRow("con.txt passes") << scanner << "/docs/"
                                    << "con.txt" << false << false << 0u << TReport::None << "";
    QTest::newRow("trailing dot") << scanner << "/docs/"
                                  << "report." << false << true << 0u << TReport::Invalid
                                  << "found invalid path or name 7 /docs/ report.";
    QTest::newRow("question mark") << scanner << "/docs/"
                                   << "what?.txt" << false << true << 0u << TReport::Invalid
                                   << "found invalid path or name 7 /docs/ what?.txt";
    QTest::newRow("invalid parent path") << scanner << "/a|b/"
                                         << "x.txt" << false << true << 0u << TReport::Invalid
                                         << "found invalid path or name 7 /a|b/ x.txt";
    QTest::newRow("working file pattern is silent")
        << scanner << "/docs/"
        << "qt_temp.abc" << false << true << 4u << TReport::None << "";
    QTest::newRow("working folder is silent")
        << scanner << "/"
        << ".syncarium" << true << true << 4u << TReport::None << "";
    QTest::newRow("fork path") << scanner << "/docs/..namedfork/"
                               << "rsrc" << false << true << CFSFilter::forkPathType
                               << TReport::Filtered
                               << "found: 7 /docs/..namedfork/ rsrc 4294967294";
    QTest::newRow("short name alias")
        << scanner << "/docs/"
        << "ABCDEF~1.TXT" << false << true << CFSFilter::shortNameType << TReport::Filtered
        << "found: 7 /docs/ ABCDEF~1.TXT 4294967295";
    QTest::newRow("own rule") << scanner << "/docs/"
                              << "secret.txt" << false << true << 9u << TReport::Filtered
                              << "filtering: 7 /docs/ secret.txt 9";
    QTest::newRow("rule of another module")
        << quint32(CFSFilter::Watcher) << "/docs/"
        << "secret.txt" << false << false << 0u << TReport::None << "";
    QTest::newRow("rule wins over the name check")
        << scanner << "/docs/"
        << "secret.txt." << false << true << 9u << TReport::Filtered
        << "filtering: 7 /docs/ secret.txt. 9";
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
    QVERIFY(filter.addExcludeFile(CFSFilter::Scanner, 9, QStringLiteral("secret.txt")));
    QVERIFY(filter.addExcludeNamePrefix(CFSFilter::Scanner, 9, QStringLiteral("secret.txt.")));
    filter.addModuleOptions(CFSFilter::Scanner, CFSFilter::NamePrefixes);
    QSignalSpy filteredSpy(&filter, &CFSPlatformFilter::pathFiltered);
    QSignalSpy invalidSpy(&filter, &CFSPlatformFilter::pathInvalid);

    if (report == TReport::Filtered)
        CExpect::record(type == 9 ? QtDebugMsg : QtCriticalMsg, file,
                        QStringLiteral("CFSPlatformFilter::signalPathFiltered"), record);
    else if (report == TReport::Invalid)
        CExpect::record(QtCriticalMsg, file, QStringLiteral("CFSPlatformFilter::signalPathInvalid"),
                        record);
    quint32 answeredType = 12345;
    bool answer = false;
    int records = 0;
    {
        const CRecordCounter counter;
        answer = filter.isFilteredRelative(module, relativePath, name, isDirectory, answeredType);
        records = counter.count();
    }
    QCOMPARE(answer, filtered);
    QCOMPARE(answeredType, type);
    QCOMPARE(records, report == TReport::None ? 0 : 1);
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
    const QString space = QStringLiteral("/home/user/space");
    const QString parent = QStringLiteral("/home/user/space/docs");
    const QString relative = QStringLiteral("/docs/");
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
    QVERIFY(filter.addExcludeFile(CFSFilter::Scanner, 9, QStringLiteral("secret.txt")));
    QSignalSpy filteredSpy(&filter, &CFSPlatformFilter::pathFiltered);
    QSignalSpy invalidSpy(&filter, &CFSPlatformFilter::pathInvalid);
    quint32 type = 0;

    CExpect::record(QtDebugMsg, file, QStringLiteral("CFSPlatformFilter::signalPathFiltered"),
                    QStringLiteral("filtering: 3 /docs/ secret.txt 9"));
    QVERIFY(query(filter, QStringLiteral("secret.txt"), type));
    QCOMPARE(type, 9u);
    CExpect::record(QtCriticalMsg, file, QStringLiteral("CFSPlatformFilter::signalPathInvalid"),
                    QStringLiteral("found invalid path or name 3 /docs/ aux"));
    QVERIFY(query(filter, QStringLiteral("aux"), type));
    QCOMPARE(type, 0u);
    QVERIFY(!query(filter, QStringLiteral("aux.txt"), type));

    QCOMPARE(filteredSpy.count(), 1);
    QCOMPARE(filteredSpy.first(), (QVariantList{3u, "/docs/", "secret.txt", 9u}));
    QCOMPARE(invalidSpy.count(), 1);
    QCOMPARE(invalidSpy.first(), (QVariantList{3u, "/docs/", "aux"}));
}

void tst_CFSPlatformFilter::copyKeepsRulesAndSpace()
{
    CFSFilter rules;
    QVERIFY(rules.addExcludeFile(CFSFilter::Watcher, 5, QStringLiteral("a.log")));
    rules.setSpaceID(11);
    CFSPlatformFilter copy(rules);
    QCOMPARE(copy.spaceID(), 11u);
    const CFSFilter::TSettings copied = copy.excludesFile(CFSFilter::Watcher);
    QCOMPARE(copied.size(), 2); // after the built-in "~"
    QCOMPARE(copied.last().value, QStringLiteral("a.log"));
    QCOMPARE(copied.last().type, 5u);
    QCOMPARE(copy.moduleOptions(), rules.moduleOptions());
}

QTEST_GUILESS_MAIN(tst_CFSPlatformFilter)
#include "tst_CFSPlatformFilter.moc"
