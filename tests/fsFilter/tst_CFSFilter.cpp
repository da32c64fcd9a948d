// The filter's rules and queries; COneCategory, a filter that consults one category, serves only
// these cases.
#include "fsFilter/CFSFilter.h"

#include "common/CExpect.h"
#include "fsFilter/CFSPatternLiterals.h"

#include <QRegularExpression>
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

// Both forms of the query that take the module's own options, the file queries when file is
// set: "true <type>" or "false", or "disagree" when the one given the absolute parent path and
// the one given the relative path answer differently.
QString ask(CFSFilter& filter, quint32 module, const QString& relative, const QString& name,
            bool isDirectory, bool file = false)
{
    quint32 type = 99;
    quint32 relativeType = 99;
    const QString parent = space + relative;
    const bool filtered = file ? filter.isFileFiltered(module, space, parent, name, type)
                               : filter.isFiltered(module, space, parent, name, isDirectory, type);
    const bool relativeFiltered =
        file ? filter.isFileFilteredRelative(module, relative, name, relativeType)
             : filter.isFilteredRelative(module, relative, name, isDirectory, relativeType);
    if (filtered != relativeFiltered || type != relativeType)
        return QStringLiteral("disagree");
    return filtered ? QStringLiteral("true %1").arg(type, 0, 16) : QStringLiteral("false");
}

// A filter whose synchronizer (a module without built-in rules) consults only one category.
struct COneCategory
{
    explicit COneCategory(quint32 category) { filter.addModuleOptions(synchronizer, category); }
    CFSFilter filter;
};

// Adds a rule to the category given as its option bit.
bool add(CFSFilter& filter, quint32 category, quint32 module, quint32 type, const QString& value)
{
    using TAdd = bool (CFSFilter::*)(quint32, quint32, const QString&);
    static const TAdd adders[] = {
        &CFSFilter::addExcludeDirectory,  &CFSFilter::addExcludeFile,
        &CFSFilter::addExcludePath,       &CFSFilter::addExcludeFileType,
        &CFSFilter::addExcludeNamePrefix, &CFSFilter::addExcludeNameSuffix,
        &CFSFilter::addExcludeDirPattern, &CFSFilter::addExcludeFilePattern,
        &CFSFilter::addExcludePathPattern};
    return (filter.*adders[qCountTrailingZeroBits(category)])(module, type, value);
}

// Patterns (tag, pattern, the literals a name must hold for it to match, none: any name may), and
// subjects to try them on.
const QList<std::tuple<const char*, QString, QStringList>> patterns = {
    {"suffix", ".*\\.bak", {".bak"}},
    {"working file", "^qt_temp\\.(.+)$", {"qt_temp."}},
    {"fork path", "((^(.*)/..namedfork/(.*)$)|(^(.*)/..namedfork$))", {"namedfork/", "namedfork"}},
    {"short name",
     "((^(.*)/([A-Z_0-9]{6})((~[0-9]){1})(((\\.{1})([A-Z_0-9]{0,3})){0,1})/(.*)$)|(^(.*)/"
     "[A-Z_0-9]{6})((~[0-9]){1})(((\\.{1})([A-Z_0-9]{0,3})){0,1})$)",
     {"~", "~"}},
    {"alternatives", "a|bc", {"a", "bc"}},
    {"optional character", "ab?c", {"a"}},
    {"repeated character", "a+bc", {"bc"}},
    {"counted", "x{0,2}yz{1}", {"yz"}},
    {"group of alternatives", "(foo|bar)baz", {"foo", "bar"}},
    {"lookahead", "(?=ab)abc", {"abc"}},
    {"negative lookahead", "(?!ab)a.*", {"a"}},
    {"repeated named group", "(?<w>ab)+c", {"ab"}},
    {"class holding a bracket", "[]a]bc", {"bc"}},
    {"negated class", "[^b]ca", {"ca"}},
    {"classes", "[[:alpha:]]+xyz", {"xyz"}},
    {"escaped class", "\\d+abc", {"abc"}},
    {"escaped punctuation", "\\.\\*\\$", {".*$"}},
    {"inline options", "(?i)ABC", {}},
    {"quoting", "\\Qa.b\\E", {}},
    {"back reference", "(a)\\1", {}},
    {"folded", "ÄRGER.*", {"ärger"}},
    {"brace as text", "a{b", {}},
    {"count without a lower bound", "a{,2}", {}},
    {"empty group", "(?:)", {}},
    {"only optional parts", "x*", {}},
    {"only separators", "/.*/", {}},
    {"empty", "", {}},
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

class tst_CFSFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void builtInRules_data();
    void builtInRules();
    void categories_data();
    void categories();
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
    void requiredLiterals_data();
    void requiredLiterals();
    void literalsAgreeWithTheExpression();
};

void tst_CFSFilter::builtInRules_data()
{
    QTest::addColumn<quint32>("module");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* tag, quint32 module, const QString& relative,
                        const QString& name, bool isDirectory, const QString& expected) {
        QTest::newRow(tag) << module << relative << name << isDirectory << expected;
    };
    row("watcher: .SyncArium folder", watcher, "/a/", ".SyncArium", true, "true 4");
    row("watcher: file below .syncarium", watcher, "/a/.Syncarium/b/", "x.txt", false, "true 4");
    row("watcher: name ending in .SYNCARIUM", watcher, "/", "state.SYNCARIUM", false, "true 4");
    row("watcher: qt_temp.abc", watcher, "/", "qt_temp.abc", false, "false");
    row("scanner: qt_temp.abc", scanner, "/", "qt_temp.abc", false, "true 4");
    row("scanner: qt_temp. without suffix", scanner, "/", "qt_temp.", false, "false");
    row("scanner: ~ file", scanner, "/d/", "~", false, "true 4");
    row("scanner: ~ folder", scanner, "/d/", "~", true, "true 4");
    row("scanner: name ending in ~ is kept", scanner, "/", "notes.txt~", false, "false");
    const QString alias = QStringLiteral("true ffffffff");
    row("scanner: short name alias", scanner, "/docs/", "ABCDEF~1.TXT", false, alias);
    row("scanner: alias without extension", scanner, "/docs/", "PROGRA~1", true, alias);
    row("scanner: seven characters before ~", scanner, "/docs/", "ABCDEFG~1.TXT", false, "false");
    row("scanner: below an alias folder", scanner, "/docs/ABCDEF~2/", "report.txt", false, alias);
    const QString fork = QStringLiteral("true fffffffe");
    row("scanner: fork folder", scanner, "/pics/a.jpg/", "..namedfork", true, fork);
    row("scanner: below a fork folder", scanner, "/pics/a.jpg/..namedfork/", "rsrc", false, fork);
    row("synchronizer: no options", synchronizer, "/", ".syncarium", true, "false");
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

void tst_CFSFilter::categories_data()
{
    QTest::addColumn<quint32>("category");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<bool>("filtered");
    const auto row = [](const char* tag, quint32 category, const QString& value,
                        const QString& relative, const QString& name, bool isDirectory,
                        bool filtered) {
        QTest::newRow(tag) << category << value << relative << name << isDirectory << filtered;
    };
    using C = CFSFilter;
    row("directory: the folder itself", C::Directories, "tmp/", "/", "TMP", true, true);
    row("directory: a folder given with /", C::Directories, "tmp/", "/a/", "tmp/", true, true);
    row("directory: a file inside", C::Directories, "tmp/", "/a/Tmp/b/", "f", false, true);
    row("directory: a file of that name", C::Directories, "tmp/", "/", "tmp", false, false);
    row("directory: a folder ending in it", C::Directories, "tmp/", "/", "xtmp", true, false);
    row("directory: contained anywhere in the path", C::Directories, "tmp/", "/xtmp/", "f", false,
        true);
    row("directory: a value with a leading /", C::Directories, "/build/", "/src/build/", "f", false,
        true);
    row("directory: a leading / keeps whole names", C::Directories, "/build/", "/xbuild/", "f",
        false, false);
    row("file: a folder is not a file", C::Files, "Thumbs.db", "/x/", "Thumbs.db", true, false);
    row("file: longer name", C::Files, "Thumbs.db", "/x/", "Thumbs.db.bak", false, false);
    row("file: non-ASCII case", C::Files, "Ärger.TXT", "/", "äRGER.txt", false, true);
    row("path: parent and name", C::Paths, "/docs/a.txt", "/Docs/", "A.TXT", false, true);
    row("path: applies to folders", C::Paths, "/docs/a", "/docs/", "a", true, true);
    row("path: other parent", C::Paths, "/docs/a.txt", "/x/docs/", "a.txt", false, false);
    row("file type: a.TXT", C::FileTypes, "txt", "/", "a.TXT", false, true);
    row("file type: complete suffix", C::FileTypes, "tar.gz", "/", "a.TAR.gz", false, true);
    row("file type: not for folders", C::FileTypes, "txt", "/", "a.txt", true, false);
    row("file type: no dot", C::FileTypes, "txt", "/", "txt", false, false);
    row("file type: leading dot", C::FileTypes, "bashrc", "/", ".bashrc", false, true);
    row("prefix: starts with", C::NamePrefixes, "~$", "/", "~$report.doc", false, true);
    row("prefix: folders too", C::NamePrefixes, ".#", "/", ".#lock", true, true);
    row("prefix: inside", C::NamePrefixes, "~$", "/", "a~$b", false, false);
    row("suffix: ends with", C::NameSuffixes, ".PART", "/", "movie.part", false, true);
    row("suffix: not at the end", C::NameSuffixes, ".part", "/", "a.part.1", false, false);
    row("dir pattern: whole name", C::DirPatterns, "cache[0-9]+", "/", "Cache12", true, true);
    row("dir pattern: part of the name", C::DirPatterns, "cache[0-9]+", "/", "mycache12", true,
        false);
    row("dir pattern: anchors kept", C::DirPatterns, "^cache$", "/", "CACHE", true, true);
    row("dir pattern: alternatives stay whole", C::DirPatterns, "a|b", "/", "ab", true, false);
    row("file pattern: whole name", C::FilePatterns, ".*\\.tmp", "/x/", "A.TMP", false, true);
    row("file pattern: back reference", C::FilePatterns, "(a)\\1", "/", "aA", false, true);
    row("path pattern: parent and name", C::PathPatterns, "/build/.*", "/build/obj/", "a.o", false,
        true);
    row("path pattern: whole path", C::PathPatterns, "build/.*", "/build/obj/", "a.o", false,
        false);
}

void tst_CFSFilter::categories()
{
    QFETCH(quint32, category);
    QFETCH(QString, value);
    QFETCH(QString, relative);
    QFETCH(QString, name);
    QFETCH(bool, isDirectory);
    QFETCH(bool, filtered);
    COneCategory one{category};
    QVERIFY(add(one.filter, category, synchronizer, 7, value));
    const QString expected = filtered ? QStringLiteral("true 7") : QStringLiteral("false");
    QCOMPARE(ask(one.filter, synchronizer, relative, name, isDirectory), expected);
    // The file queries answer as the others do for a file, also given the options.
    if (!isDirectory) {
        QCOMPARE(ask(one.filter, synchronizer, relative, name, false, true), expected);
        quint32 type = 9;
        QCOMPARE(
            one.filter.isFileFiltered(synchronizer, space, space + relative, name, category, type),
            filtered);
        QCOMPARE(type, filtered ? 7U : 0U);
    }
    // The category is consulted only while its option bit is set.
    one.filter.setModuleOptions(synchronizer, 0x1FF & ~category);
    QCOMPARE(ask(one.filter, synchronizer, relative, name, isDirectory), QStringLiteral("false"));
    // A rule of another module changes nothing.
    COneCategory other{category};
    QVERIFY(add(other.filter, category, CFSFilter::RuleEngine, 7, value));
    QCOMPARE(ask(other.filter, synchronizer, relative, name, isDirectory), QStringLiteral("false"));
}

// Categories are asked in their order and rules in the order they were added; the first rule
// that matches gives the type.
void tst_CFSFilter::firstRuleWins()
{
    COneCategory one(0x1FF);
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
    quint32 type = 0;
    for (const char* pattern : {"(?<n>x)y", "(?<n>z)y", "(b)\\1", "(*COMMIT)c|cd", "c.*"})
        QVERIFY2(filter.addExcludeFilePattern(synchronizer, ++type, pattern), pattern);
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
    // Every module with built-in rules keeps its own, the working-file suffix among them.
    QCOMPARE(filter.excludesDirectory().size(), 4);
    QCOMPARE(filter.excludesNameSuffix().size(), 4);
    QVERIFY(filter.excludesPath().isEmpty());
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

void tst_CFSFilter::requiredLiterals_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("literals");
    for (const auto& [tag, pattern, literals] : patterns)
        QTest::newRow(tag) << pattern << literals;
}

void tst_CFSFilter::requiredLiterals()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, literals);
    QCOMPARE(CFSPatternLiterals::required(pattern), literals);
}

// The literals only spare work: with each pattern as the only rule, or all of them in one list,
// the filter answers what the expression says.
void tst_CFSFilter::literalsAgreeWithTheExpression()
{
    CFSFilter all;
    for (const auto& [tag, pattern, literals] : patterns) {
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
        for (const auto& [tag, pattern, literals] : patterns)
            any = any || matches(pattern, subject);
        quint32 type = 0;
        QVERIFY2(all.matchesExcludedFilePattern(CFSFilter::Synchronizer, subject, type) == any,
                 qPrintable(subject));
    }
}

QTEST_GUILESS_MAIN(tst_CFSFilter)
#include "tst_CFSFilter.moc"
