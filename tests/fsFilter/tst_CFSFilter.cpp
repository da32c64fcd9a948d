#include "fsFilter/CFSFilter.h"

#include "common/CExpect.h"

#include <QScopeGuard>
#include <QSemaphore>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

const quint32 watcher = CFSFilter::Watcher;
const quint32 scanner = CFSFilter::Scanner;
const quint32 synchronizer = CFSFilter::Synchronizer;
const QString space = QStringLiteral("/home/u/Space");

void expectWarning(const char* function, const QString& text)
{
    CExpect::record(QtWarningMsg, "CFSFilter.cpp", function, text);
}

// "true <type>" or "false"; the two forms of the query that take the module's own options must
// agree, one given the absolute parent path, the other the relative one.
QString ask(CFSFilter& filter, quint32 module, const QString& relative, const QString& name,
            bool isDirectory)
{
    quint32 type = 99;
    quint32 relativeType = 99;
    const bool filtered =
        filter.isFiltered(module, space, space + relative, name, isDirectory, type);
    const bool relativeFiltered =
        filter.isFilteredRelative(module, relative, name, isDirectory, relativeType);
    if (filtered != relativeFiltered || type != relativeType)
        return QStringLiteral("disagree");
    return filtered ? QStringLiteral("true %1").arg(type, 0, 16) : QStringLiteral("false");
}

// The same for a file through the file queries.
QString askFile(CFSFilter& filter, quint32 module, const QString& relative, const QString& name)
{
    quint32 type = 99;
    quint32 relativeType = 99;
    const bool filtered = filter.isFileFiltered(module, space, space + relative, name, type);
    const bool relativeFiltered =
        filter.isFileFilteredRelative(module, relative, name, relativeType);
    if (filtered != relativeFiltered || type != relativeType)
        return QStringLiteral("disagree");
    return filtered ? QStringLiteral("true %1").arg(type, 0, 16) : QStringLiteral("false");
}

// A filter whose synchronizer (a module without built-in rules) consults only one category.
struct COneCategory
{
    explicit COneCategory(CFSFilter::TCategory category)
    {
        filter.addModuleOptions(synchronizer, category);
    }
    CFSFilter filter;
};

bool add(CFSFilter& filter, CFSFilter::TCategory category, quint32 module, quint32 type,
         const QString& value)
{
    switch (category) {
    case CFSFilter::Directories:
        return filter.addExcludeDirectory(module, type, value);
    case CFSFilter::Files:
        return filter.addExcludeFile(module, type, value);
    case CFSFilter::Paths:
        return filter.addExcludePath(module, type, value);
    case CFSFilter::FileTypes:
        return filter.addExcludeFileType(module, type, value);
    case CFSFilter::NamePrefixes:
        return filter.addExcludeNamePrefix(module, type, value);
    case CFSFilter::NameSuffixes:
        return filter.addExcludeNameSuffix(module, type, value);
    case CFSFilter::DirPatterns:
        return filter.addExcludeDirPattern(module, type, value);
    case CFSFilter::FilePatterns:
        return filter.addExcludeFilePattern(module, type, value);
    case CFSFilter::PathPatterns:
        return filter.addExcludePathPattern(module, type, value);
    }
    return false;
}

} // namespace

class tst_CFSFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void builtInRules_data();
    void builtInRules();
    void builtInOptions();
    void categories_data();
    void categories();
    void fileQueries_data();
    void fileQueries();
    void firstRuleWins();
    void manyPatterns();
    void addAndRemove();
    void moduleBits_data();
    void moduleBits();
    void invalidPattern();
    void options();
    void spaceRoot();
    void copies();
    void queriesWhileChanging();
};

void tst_CFSFilter::builtInRules_data()
{
    QTest::addColumn<quint32>("module");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<QString>("expected");
    QTest::newRow("watcher: .syncarium folder") << watcher << "/"
                                                << ".syncarium" << true << "true 4";
    QTest::newRow("watcher: .SyncArium folder") << watcher << "/a/"
                                                << ".SyncArium" << true << "true 4";
    QTest::newRow("watcher: file below .syncarium") << watcher << "/a/.Syncarium/b/"
                                                    << "x.txt" << false << "true 4";
    QTest::newRow("watcher: folder below .syncarium") << watcher << "/.syncarium/"
                                                      << "b" << true << "true 4";
    QTest::newRow("watcher: file named .syncarium") << watcher << "/"
                                                    << ".syncarium" << false << "true 4";
    QTest::newRow("watcher: name ending in .SYNCARIUM") << watcher << "/"
                                                        << "state.SYNCARIUM" << false << "true 4";
    QTest::newRow("watcher: qt_temp.abc") << watcher << "/"
                                          << "qt_temp.abc" << false << "false";
    QTest::newRow("scanner: qt_temp.abc") << scanner << "/"
                                          << "qt_temp.abc" << false << "true 4";
    QTest::newRow("scanner: QT_TEMP.x") << scanner << "/d/"
                                        << "QT_TEMP.x" << false << "true 4";
    QTest::newRow("scanner: qt_temp. without suffix") << scanner << "/"
                                                      << "qt_temp." << false << "false";
    QTest::newRow("scanner: xqt_temp.abc") << scanner << "/"
                                           << "xqt_temp.abc" << false << "false";
    QTest::newRow("scanner: ~ file") << scanner << "/d/"
                                     << "~" << false << "true 4";
    QTest::newRow("scanner: ~ folder") << scanner << "/d/"
                                       << "~" << true << "true 4";
    QTest::newRow("scanner: below ~ folder") << scanner << "/d/~/"
                                             << "a" << false << "true 4";
    QTest::newRow("scanner: name ending in ~ is kept") << scanner << "/"
                                                       << "notes.txt~" << false << "false";
    QTest::newRow("scanner: short name alias") << scanner << "/docs/"
                                               << "ABCDEF~1.TXT" << false << "true ffffffff";
    QTest::newRow("scanner: lower-case short name alias")
        << scanner << "/docs/"
        << "abcdef~1.txt" << false << "true ffffffff";
    QTest::newRow("scanner: alias without extension") << scanner << "/docs/"
                                                      << "PROGRA~1" << true << "true ffffffff";
    QTest::newRow("scanner: seven characters before ~") << scanner << "/docs/"
                                                        << "ABCDEFG~1.TXT" << false << "false";
    QTest::newRow("scanner: four-character extension") << scanner << "/docs/"
                                                       << "ABCDEF~1.TEXT" << false << "false";
    QTest::newRow("scanner: below an alias folder") << scanner << "/docs/ABCDEF~2/"
                                                    << "report.txt" << false << "true ffffffff";
    QTest::newRow("scanner: fork folder") << scanner << "/pics/a.jpg/"
                                          << "..namedfork" << true << "true fffffffe";
    QTest::newRow("scanner: below a fork folder") << scanner << "/pics/a.jpg/..namedfork/"
                                                  << "rsrc" << false << "true fffffffe";
    QTest::newRow("scanner: plain file") << scanner << "/docs/"
                                         << "report.txt" << false << "false";
    QTest::newRow("scanner: non-ASCII name") << scanner << "/Документы/"
                                             << "отчёт.txt" << false << "false";
    QTest::newRow("archiver: .syncarium folder") << quint32(CFSFilter::Archiver) << "/"
                                                 << ".syncarium" << true << "true 4";
    QTest::newRow("copy controller: qt_temp.1") << quint32(CFSFilter::CopyController) << "/"
                                                << "qt_temp.1" << false << "true 4";
    QTest::newRow("synchronizer: no options") << synchronizer << "/"
                                              << ".syncarium" << true << "false";
    QTest::newRow("rule engine: no options") << quint32(CFSFilter::RuleEngine) << "/.syncarium/"
                                             << "a" << false << "false";
    QTest::newRow("message builder: no options") << quint32(CFSFilter::MessageBuilder) << "/docs/"
                                                 << "ABCDEF~1.TXT" << false << "false";
}

void tst_CFSFilter::builtInRules()
{
    QFETCH(quint32, module);
    QFETCH(QString, relative);
    QFETCH(QString, name);
    QFETCH(bool, isDirectory);
    QFETCH(QString, expected);
    CFSFilter filter;
    QCOMPARE(ask(filter, module, relative, name, isDirectory), expected);
}

void tst_CFSFilter::builtInOptions()
{
    const CFSFilter filter;
    const CFSFilter::TOptions expected{{0x01, 0x123}, {0x02, 0x1A3}, {0x04, 0x1A3}, {0x40, 0x1A3}};
    QCOMPARE(filter.moduleOptions(), expected);
    QCOMPARE(filter.excludesDirectory(watcher).size(), 2);
    QCOMPARE(filter.excludesDirectory(watcher).at(0).value, ".syncarium/");
    QCOMPARE(filter.excludesDirectory(watcher).at(1).value, "~/");
    QCOMPARE(filter.excludesFilePattern(watcher).size(), 0);
    QCOMPARE(filter.excludesFilePattern(scanner).size(), 1);
    QCOMPARE(filter.excludesPathPattern(scanner).size(), 2);
    QCOMPARE(filter.excludesPathPattern(scanner).at(0).type, CFSFilter::forkPathType);
    QCOMPARE(filter.excludesPathPattern(scanner).at(1).type, CFSFilter::shortNameType);
    QCOMPARE(filter.excludesNameSuffix().size(), 4);
    QVERIFY(filter.excludesFile(synchronizer).isEmpty());
    QVERIFY(filter.excludesPath().isEmpty());
}

void tst_CFSFilter::categories_data()
{
    QTest::addColumn<quint32>("category");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<bool>("filtered");
    const quint32 directories = CFSFilter::Directories;
    QTest::newRow("directory: the folder itself") << directories << "tmp/"
                                                  << "/"
                                                  << "TMP" << true << true;
    QTest::newRow("directory: a folder given with /") << directories << "tmp/"
                                                      << "/a/"
                                                      << "tmp/" << true << true;
    QTest::newRow("directory: a file inside") << directories << "tmp/"
                                              << "/a/Tmp/b/"
                                              << "f" << false << true;
    QTest::newRow("directory: a file of that name") << directories << "tmp/"
                                                    << "/"
                                                    << "tmp" << false << false;
    QTest::newRow("directory: a folder ending in it") << directories << "tmp/"
                                                      << "/"
                                                      << "xtmp" << true << false;
    QTest::newRow("directory: contained anywhere in the path") << directories << "tmp/"
                                                               << "/xtmp/"
                                                               << "f" << false << true;
    QTest::newRow("directory: a value with a leading /") << directories << "/build/"
                                                         << "/src/build/"
                                                         << "f" << false << true;
    QTest::newRow("directory: a leading / keeps whole names") << directories << "/build/"
                                                              << "/xbuild/"
                                                              << "f" << false << false;
    const quint32 files = CFSFilter::Files;
    QTest::newRow("file: equal ignoring case") << files << "Thumbs.db"
                                               << "/x/"
                                               << "THUMBS.DB" << false << true;
    QTest::newRow("file: a folder is not a file") << files << "Thumbs.db"
                                                  << "/x/"
                                                  << "Thumbs.db" << true << false;
    QTest::newRow("file: longer name") << files << "Thumbs.db"
                                       << "/x/"
                                       << "Thumbs.db.bak" << false << false;
    QTest::newRow("file: non-ASCII case") << files << "Ärger.TXT"
                                          << "/"
                                          << "äRGER.txt" << false << true;
    const quint32 paths = CFSFilter::Paths;
    QTest::newRow("path: parent and name") << paths << "/docs/a.txt"
                                           << "/Docs/"
                                           << "A.TXT" << false << true;
    QTest::newRow("path: applies to folders") << paths << "/docs/a"
                                              << "/docs/"
                                              << "a" << true << true;
    QTest::newRow("path: other parent") << paths << "/docs/a.txt"
                                        << "/x/docs/"
                                        << "a.txt" << false << false;
    const quint32 fileTypes = CFSFilter::FileTypes;
    QTest::newRow("file type: a.txt") << fileTypes << "txt"
                                      << "/"
                                      << "a.txt" << false << true;
    QTest::newRow("file type: a.TXT") << fileTypes << "txt"
                                      << "/"
                                      << "a.TXT" << false << true;
    QTest::newRow("file type: a.tar.txt") << fileTypes << "txt"
                                          << "/"
                                          << "a.tar.txt" << false << false;
    QTest::newRow("file type: complete suffix") << fileTypes << "tar.gz"
                                                << "/"
                                                << "a.TAR.gz" << false << true;
    QTest::newRow("file type: not for folders") << fileTypes << "txt"
                                                << "/"
                                                << "a.txt" << true << false;
    QTest::newRow("file type: no dot") << fileTypes << "txt"
                                       << "/"
                                       << "txt" << false << false;
    QTest::newRow("file type: leading dot") << fileTypes << "bashrc"
                                            << "/"
                                            << ".bashrc" << false << true;
    const quint32 prefixes = CFSFilter::NamePrefixes;
    QTest::newRow("prefix: starts with") << prefixes << "~$"
                                         << "/"
                                         << "~$report.doc" << false << true;
    QTest::newRow("prefix: folders too") << prefixes << ".#"
                                         << "/"
                                         << ".#lock" << true << true;
    QTest::newRow("prefix: inside") << prefixes << "~$"
                                    << "/"
                                    << "a~$b" << false << false;
    const quint32 suffixes = CFSFilter::NameSuffixes;
    QTest::newRow("suffix: ends with") << suffixes << ".PART"
                                       << "/"
                                       << "movie.part" << false << true;
    QTest::newRow("suffix: not at the end") << suffixes << ".part"
                                            << "/"
                                            << "a.part.1" << false << false;
    const quint32 dirPatterns = CFSFilter::DirPatterns;
    QTest::newRow("dir pattern: whole name") << dirPatterns << "cache[0-9]+"
                                             << "/"
                                             << "Cache12" << true << true;
    QTest::newRow("dir pattern: part of the name") << dirPatterns << "cache[0-9]+"
                                                   << "/"
                                                   << "mycache12" << true << false;
    QTest::newRow("dir pattern: anchors kept") << dirPatterns << "^cache$"
                                               << "/"
                                               << "CACHE" << true << true;
    QTest::newRow("dir pattern: alternatives stay whole") << dirPatterns << "a|b"
                                                          << "/"
                                                          << "ab" << true << false;
    const quint32 filePatterns = CFSFilter::FilePatterns;
    QTest::newRow("file pattern: whole name") << filePatterns << ".*\\.tmp"
                                              << "/x/"
                                              << "A.TMP" << false << true;
    QTest::newRow("file pattern: prefix only") << filePatterns << ".*\\.tmp"
                                               << "/x/"
                                               << "a.tmp.txt" << false << false;
    QTest::newRow("file pattern: back reference") << filePatterns << "(a)\\1"
                                                  << "/"
                                                  << "aA" << false << true;
    const quint32 pathPatterns = CFSFilter::PathPatterns;
    QTest::newRow("path pattern: parent and name") << pathPatterns << "/build/.*"
                                                   << "/build/obj/"
                                                   << "a.o" << false << true;
    QTest::newRow("path pattern: whole path") << pathPatterns << "build/.*"
                                              << "/build/obj/"
                                              << "a.o" << false << false;
}

void tst_CFSFilter::categories()
{
    QFETCH(quint32, category);
    QFETCH(QString, value);
    QFETCH(QString, relative);
    QFETCH(QString, name);
    QFETCH(bool, isDirectory);
    QFETCH(bool, filtered);
    COneCategory one{CFSFilter::TCategory(category)};
    QVERIFY(add(one.filter, CFSFilter::TCategory(category), synchronizer, 7, value));
    QCOMPARE(ask(one.filter, synchronizer, relative, name, isDirectory),
             filtered ? QStringLiteral("true 7") : QStringLiteral("false"));
    // The category is consulted only while its option bit is set.
    one.filter.setModuleOptions(synchronizer, 0x1FF & ~category);
    QCOMPARE(ask(one.filter, synchronizer, relative, name, isDirectory), QStringLiteral("false"));
    // A rule of another module changes nothing.
    COneCategory other{CFSFilter::TCategory(category)};
    QVERIFY(add(other.filter, CFSFilter::TCategory(category), CFSFilter::RuleEngine, 7, value));
    QCOMPARE(ask(other.filter, synchronizer, relative, name, isDirectory), QStringLiteral("false"));
}

void tst_CFSFilter::fileQueries_data()
{
    QTest::addColumn<quint32>("category");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("filtered");
    QTest::newRow("directory: parent path only") << quint32(CFSFilter::Directories) << "tmp/"
                                                 << "/tmp/"
                                                 << "a" << true;
    QTest::newRow("directory: the name is not a folder")
        << quint32(CFSFilter::Directories) << "tmp/"
        << "/"
        << "tmp" << false;
    QTest::newRow("file") << quint32(CFSFilter::Files) << "a.txt"
                          << "/"
                          << "A.txt" << true;
    QTest::newRow("file type") << quint32(CFSFilter::FileTypes) << "txt"
                               << "/"
                               << "a.txt" << true;
    QTest::newRow("path pattern") << quint32(CFSFilter::PathPatterns) << "/a/.*"
                                  << "/a/"
                                  << "b" << true;
}

void tst_CFSFilter::fileQueries()
{
    QFETCH(quint32, category);
    QFETCH(QString, value);
    QFETCH(QString, relative);
    QFETCH(QString, name);
    QFETCH(bool, filtered);
    COneCategory one{CFSFilter::TCategory(category)};
    QVERIFY(add(one.filter, CFSFilter::TCategory(category), synchronizer, 5, value));
    QCOMPARE(askFile(one.filter, synchronizer, relative, name),
             filtered ? QStringLiteral("true 5") : QStringLiteral("false"));
    quint32 type = 9;
    QCOMPARE(one.filter.isFileFiltered(synchronizer, space, space + relative, name,
                                       CFSFilter::Files | CFSFilter::Directories |
                                           CFSFilter::FileTypes | CFSFilter::PathPatterns,
                                       type),
             filtered);
    QCOMPARE(type, filtered ? 5U : 0U);
}

// Categories are asked in their order and rules in the order they were added; the first rule
// that matches gives the type.
void tst_CFSFilter::firstRuleWins()
{
    COneCategory one(CFSFilter::TCategory(0x1FF));
    CFSFilter& filter = one.filter;
    QVERIFY(filter.addExcludeFilePattern(synchronizer, 3, ".*\\.log"));
    QVERIFY(filter.addExcludeFilePattern(synchronizer, 2, "app.*"));
    QCOMPARE(ask(filter, synchronizer, "/", "app.log", false), "true 3");
    QVERIFY(filter.addExcludeNameSuffix(synchronizer, 6, ".log"));
    QCOMPARE(ask(filter, synchronizer, "/", "app.log", false), "true 6");
    QVERIFY(filter.addExcludeFile(synchronizer, 8, "APP.LOG"));
    QCOMPARE(ask(filter, synchronizer, "/", "app.log", false), "true 8");
    QVERIFY(filter.addExcludeDirectory(synchronizer, 11, "logs/"));
    QVERIFY(filter.addExcludeDirectory(synchronizer, 10, "app/"));
    QCOMPARE(ask(filter, synchronizer, "/logs/", "app", true), "true b");
    QCOMPARE(ask(filter, synchronizer, "/x/", "app", true), "true a");
    QVERIFY(filter.removeExcludeFile(synchronizer, "app.log"));
    QCOMPARE(ask(filter, synchronizer, "/", "app.log", false), "true 6");
}

// Patterns that cannot stand together in one expression (numbered references, a name used
// twice, verbs) still answer alone, and the first one that matches still gives the type.
void tst_CFSFilter::manyPatterns()
{
    COneCategory one(CFSFilter::FilePatterns);
    CFSFilter& filter = one.filter;
    for (int i = 0; i < 100; ++i)
        QVERIFY(filter.addExcludeFilePattern(synchronizer, 1000 + i, QStringLiteral("f%1").arg(i)));
    QVERIFY(filter.addExcludeFilePattern(synchronizer, 1, "(?<n>x)y"));
    QVERIFY(filter.addExcludeFilePattern(synchronizer, 2, "(?<n>z)y"));
    QVERIFY(filter.addExcludeFilePattern(synchronizer, 3, "(b)\\1"));
    QVERIFY(filter.addExcludeFilePattern(synchronizer, 4, "(*COMMIT)c|cd"));
    QVERIFY(filter.addExcludeFilePattern(synchronizer, 5, "c.*"));
    QCOMPARE(ask(filter, synchronizer, "/", "f7", false), "true 3ef");
    QCOMPARE(ask(filter, synchronizer, "/", "F99", false), "true 44b");
    QCOMPARE(ask(filter, synchronizer, "/", "zy", false), "true 2");
    QCOMPARE(ask(filter, synchronizer, "/", "bb", false), "true 3");
    QCOMPARE(ask(filter, synchronizer, "/", "cd", false), "true 5");
    QCOMPARE(ask(filter, synchronizer, "/", "f100", false), "false");
    QVERIFY(filter.removeExcludeFilePattern(synchronizer, "F7"));
    QCOMPARE(ask(filter, synchronizer, "/", "f7", false), "false");
    QCOMPARE(ask(filter, synchronizer, "/", "f8", false), "true 3f0");
}

void tst_CFSFilter::addAndRemove()
{
    CFSFilter filter;
    QVERIFY(filter.addExcludeDirectory(synchronizer, 1, "foo/"));
    QVERIFY(!filter.addExcludeDirectory(synchronizer, 2, "Foo/"));
    QCOMPARE(filter.excludesDirectory(synchronizer).size(), 1);
    QCOMPARE(filter.excludesDirectory(synchronizer).at(0).type, 1U);
    // The same value in another category or for another module is another rule.
    QVERIFY(filter.addExcludeFile(synchronizer, 2, "Foo/"));
    QVERIFY(filter.addExcludeDirectory(CFSFilter::RuleEngine, 2, "Foo/"));
    filter.addModuleOptions(synchronizer, CFSFilter::Directories);
    QCOMPARE(ask(filter, synchronizer, "/foo/", "a", false), "true 1");
    QVERIFY(filter.removeExcludeDirectory(synchronizer, "FOO/"));
    QVERIFY(!filter.removeExcludeDirectory(synchronizer, "foo/"));
    QCOMPARE(ask(filter, synchronizer, "/foo/", "a", false), "false");
    QVERIFY(filter.excludesDirectory(synchronizer).isEmpty());
    QVERIFY(!filter.excludesDirectory().contains(synchronizer));
    QVERIFY(filter.excludesDirectory().contains(CFSFilter::RuleEngine));
    // Removing a built-in rule is allowed like any other.
    QVERIFY(filter.removeExcludeDirectory(watcher, ".syncarium/"));
    QCOMPARE(ask(filter, watcher, "/.syncarium/", "a", false), "false");
    QCOMPARE(ask(filter, scanner, "/.syncarium/", "a", false), "true 4");
}

void tst_CFSFilter::moduleBits_data()
{
    QTest::addColumn<quint32>("module");
    QTest::newRow("none") << 0U;
    QTest::newRow("watcher and copy controller") << 0x41U;
    QTest::newRow("beyond the copy controller") << 0x80U;
}

void tst_CFSFilter::moduleBits()
{
    QFETCH(quint32, module);
    CFSFilter filter;
    const QString bits = QStringLiteral("not a single module bit: 0x%1").arg(module, 0, 16);
    expectWarning("CFSFilter::isFiltered", bits);
    quint32 type = 5;
    QVERIFY(!filter.isFiltered(module, space, space, ".syncarium", true, type));
    QCOMPARE(type, 0U);
    expectWarning("CFSFilter::addExcludeDirectory", bits);
    QVERIFY(!filter.addExcludeDirectory(module, 1, "x/"));
    expectWarning("CFSFilter::addModuleOptions", bits);
    QCOMPARE(filter.addModuleOptions(module, 1), 0U);
    expectWarning("CFSFilter::excludesFile", bits);
    QVERIFY(filter.excludesFile(module).isEmpty());
    expectWarning("CFSFilter::removeExcludeFile", bits);
    QVERIFY(!filter.removeExcludeFile(module, "~"));
    QCOMPARE(filter.excludesDirectory().size(), 4);
    QCOMPARE(filter.moduleOptions().size(), 4);
}

void tst_CFSFilter::invalidPattern()
{
    CFSFilter filter;
    CExpect::recordMatching(QtWarningMsg, "CFSFilter.cpp", "CFSFilter::addExcludeFilePattern",
                            QStringLiteral("invalid pattern a\\(b refused: .+"));
    QVERIFY(!filter.addExcludeFilePattern(scanner, 1, "a(b"));
    QCOMPARE(filter.excludesFilePattern(scanner).size(), 1);
    QCOMPARE(ask(filter, scanner, "/", "a(b", false), "false");
    // Other categories take the same text as it stands.
    QVERIFY(filter.addExcludeFile(scanner, 1, "a(b"));
    QCOMPARE(ask(filter, scanner, "/", "a(b", false), "true 1");
}

void tst_CFSFilter::options()
{
    CFSFilter filter;
    QCOMPARE(filter.moduleOptions(synchronizer), 0U);
    QVERIFY(!filter.excludesFileEnabled(synchronizer));
    QCOMPARE(filter.addModuleOptions(synchronizer, 0), 0U);
    QVERIFY(filter.moduleOptions().contains(synchronizer));
    QVERIFY(filter.addExcludeFile(synchronizer, 1, "a"));
    QCOMPARE(ask(filter, synchronizer, "/", "a", false), "false");
    QCOMPARE(filter.addModuleOptions(synchronizer, CFSFilter::Files), 0U);
    QCOMPARE(ask(filter, synchronizer, "/", "a", false), "true 1");
    QCOMPARE(filter.addModuleOptions(synchronizer, CFSFilter::Paths), quint32(CFSFilter::Files));
    QCOMPARE(filter.moduleOptions(synchronizer), quint32(CFSFilter::Files | CFSFilter::Paths));
    QVERIFY(filter.excludesFileEnabled(synchronizer));
    QVERIFY(filter.excludesPathEnabled(synchronizer));
    QVERIFY(!filter.excludesFileTypeEnabled(synchronizer));
    QCOMPARE(filter.setModuleOptions(synchronizer, CFSFilter::FileTypes),
             quint32(CFSFilter::Files | CFSFilter::Paths));
    QVERIFY(!filter.excludesFileEnabled(synchronizer));
    QVERIFY(filter.excludesFileTypeEnabled(synchronizer));
    // Options 0 switch every category off, built-in rules included; options given with the
    // query replace the module's own.
    QCOMPARE(filter.setModuleOptions(scanner, 0), 0x1A3U);
    QCOMPARE(ask(filter, scanner, "/", ".syncarium", true), "false");
    quint32 type = 0;
    QVERIFY(
        filter.isFiltered(scanner, space, space, ".syncarium", CFSFilter::Directories, true, type));
    QCOMPARE(type, 4U);
    QVERIFY(!filter.isFilteredRelative(scanner, "/", ".syncarium", 0, true, type));
    QVERIFY(filter.excludesDirectoryEnabled(watcher));
    QVERIFY(filter.excludesPathPatternEnabled(watcher));
    QVERIFY(!filter.excludesFilePatternEnabled(watcher));
    QVERIFY(filter.excludesFilePatternEnabled(CFSFilter::Archiver));
}

// The parent path the scanner gives for an entry of the space root has no trailing "/".
void tst_CFSFilter::spaceRoot()
{
    CFSFilter filter;
    QVERIFY(filter.addExcludePath(scanner, 3, "/notes.txt"));
    filter.addModuleOptions(scanner, CFSFilter::Paths);
    quint32 type = 0;
    QVERIFY(filter.isFiltered(scanner, space, space, "notes.txt", false, type));
    QCOMPARE(type, 3U);
    QVERIFY(filter.isFiltered(scanner, space + "/", space + "/", "NOTES.txt", false, type));
    QVERIFY(!filter.isFiltered(scanner, space, space + "/sub", "notes.txt", false, type));
    QCOMPARE(type, 0U);
    CExpect::record(QtCriticalMsg, "CPathOperations.cpp", "CPathOperations::makeSpaceRelativePath",
                    "spacePath is empty !!!");
    QVERIFY(filter.isFiltered(scanner, QString(), "/", "notes.txt", false, type));
}

void tst_CFSFilter::copies()
{
    CFSFilter original;
    original.setSpaceID(12);
    original.setSpacePath(space);
    QVERIFY(original.addExcludeFileType(synchronizer, 2, "tmp"));
    original.addModuleOptions(synchronizer, CFSFilter::FileTypes);
    CFSFilter copy(original);
    QVERIFY(original.removeExcludeFileType(synchronizer, "tmp"));
    QCOMPARE(ask(copy, synchronizer, "/", "a.tmp", false), "true 2");
    QCOMPARE(ask(original, synchronizer, "/", "a.tmp", false), "false");
    QCOMPARE(copy.spaceID(), 12U);
    QCOMPARE(copy.spacePath(), space);
    QCOMPARE(copy.moduleOptions(), original.moduleOptions());
    CFSFilter assigned;
    assigned.setModuleOptions(watcher, 0);
    assigned = copy;
    QCOMPARE(ask(assigned, synchronizer, "/", "a.tmp", false), "true 2");
    QCOMPARE(assigned.moduleOptions(watcher), 0x123U);
}

// Queries on several threads while another one adds and removes rules; run under
// ThreadSanitizer this shows the locking.
void tst_CFSFilter::queriesWhileChanging()
{
    CFSFilter filter;
    filter.addModuleOptions(scanner, 0x1FF);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    QSemaphore started;
    auto query = [&] {
        started.release();
        while (!stop.load()) {
            quint32 type = 0;
            if (!filter.isFiltered(scanner, space, space + "/a/.syncarium", "x", false, type) ||
                type != 4)
                ++wrong;
            filter.isFiltered(scanner, space, space + "/b", "c.tmp", false, type);
        }
    };
    // std::thread rather than QThread: ThreadSanitizer sees its join, and an uninstrumented Qt
    // hides QThread::wait from it.
    std::thread first(query);
    std::thread second(query);
    {
        const auto joinBoth = qScopeGuard([&] {
            stop = true;
            first.join();
            second.join();
        });
        QVERIFY(started.tryAcquire(2, 10000));
        for (int i = 0; i < 300; ++i) {
            QVERIFY(filter.addExcludeFilePattern(scanner, 1, ".*\\.tmp"));
            QVERIFY(filter.addExcludeFileType(scanner, 1, "tmp"));
            QVERIFY(filter.removeExcludeFilePattern(scanner, ".*\\.TMP"));
            QVERIFY(filter.removeExcludeFileType(scanner, "TMP"));
            filter.addModuleOptions(scanner, 0x1FF);
        }
    }
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(tst_CFSFilter)
#include "tst_CFSFilter.moc"
