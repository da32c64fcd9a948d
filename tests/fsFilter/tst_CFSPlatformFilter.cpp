#include "fsFilter/CFSPlatformFilter.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "fsFilter/CFSFilterConfig.h"
#include "fsFilter/CFileSystemFilter.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>
#include <thread>

namespace {

// One of the eight queries, asked about a name in a folder (relative to the space) of a space.
using TQuery = std::function<bool(CFSPlatformFilter&, const QString&, const QString&, quint32&)>;

const QString registryFile = "CFileSystemFilter.cpp";

// Reports the scanner's secret.txt with type 9.
const QByteArray defaultRules = "[files]\nexcludes\\1\\file=secret.txt\nexcludes\\1\\modules=2\n"
                                "excludes\\1\\type=9\nexcludes\\size=1\n";

void expectUnknownSpace(quint32 spaceID)
{
    CExpect::record(QtCriticalMsg, registryFile, "CFileSystemFilter::getSpaceFilter",
                    QStringLiteral("no space filter found for spaceID %1").arg(spaceID));
    CExpect::record(QtCriticalMsg, registryFile, "CFileSystemFilter::getSpaceFilter",
                    "using default filter ...");
}

// The fork and short-name types are reported at critical level, the others at debug level.
void expectFiltering(quint32 spaceID, const QString& path, const QString& name, quint32 type)
{
    const bool found = type == CFSFilter::forkPathType || type == CFSFilter::shortNameType;
    CExpect::record(found ? QtCriticalMsg : QtDebugMsg, "CFSPlatformFilter.cpp",
                    "CFSPlatformFilter::signalPathFiltered",
                    QStringLiteral("%1 %2 %3 %4 %5")
                        .arg(found ? "found:" : "filtering:")
                        .arg(spaceID)
                        .arg(path, name)
                        .arg(type));
}

void expectInvalid(quint32 spaceID, const QString& path, const QString& name)
{
    CExpect::record(
        QtCriticalMsg, "CFSPlatformFilter.cpp", "CFSPlatformFilter::signalPathInvalid",
        QStringLiteral("found invalid path or name %1 %2 %3").arg(spaceID).arg(path, name));
}

bool isScannerFile(CFSFilter* filter, const QString& name, quint32& type)
{
    return filter->isFileFilteredRelative(CFSFilter::Scanner, "/", name, type);
}

} // namespace

Q_DECLARE_METATYPE(TQuery)

class tst_CFSPlatformFilter : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void invalidNamesAndPaths_data();
    void invalidNamesAndPaths();
    void everyQueryReportsOnce_data();
    void everyQueryReportsOnce();
    // The registry of the default and the spaces' filters.
    void withoutDefaultFileOnlyBuiltInRules();
    void spaceFilterCopiesTheDefaultAndIsReplacedInPlace();
    void reportsTravelOnTheQueryingThread();

private:
    void writeDefaultFile();
};

void tst_CFSPlatformFilter::init()
{
    CEnvironmentTest::init();
    CFSFilterConfig::instance()->setBaseFolder(dir + "config/");
    writeDefaultFile();
}

void tst_CFSPlatformFilter::cleanup()
{
    CFileSystemFilter::destroy();
    QVERIFY(!CFileSystemFilter::exists());
    CFSFilterConfig::destroy();
    environment.reset();
}

void tst_CFSPlatformFilter::writeDefaultFile()
{
    const QString path = CFSFilterConfig::instance()->defaultFilterFile();
    QVERIFY(path.startsWith(dir));
    environment->writeFile(path.mid(dir.size()), defaultRules);
    QVERIFY(QFileInfo::exists(path));
}

void tst_CFSPlatformFilter::withoutDefaultFileOnlyBuiltInRules()
{
    QVERIFY(QDir(dir + "config").removeRecursively());
    CExpect::recordMatching(QtCriticalMsg, "CFSFilterFile.cpp", "CFSFilterFile::load",
                            "Error loading file system filter file: .*");
    CExpect::record(QtCriticalMsg, registryFile, "CFileSystemFilter::loadDefaultFilter",
                    "failed to load default filter file ...");
    CFileSystemFilter* registry = CFileSystemFilter::instance();
    CFSPlatformFilter* defaults = registry->defaultFilter();
    QVERIFY(defaults);
    quint32 type = 0;
    QVERIFY(!isScannerFile(defaults, "secret.txt", type));
    QVERIFY(isScannerFile(defaults, "qt_temp.abc", type));
    QCOMPARE(type, 4u);

    // A later load keeps the object handed out and gives it the file's rules.
    writeDefaultFile();
    QVERIFY(registry->loadDefaultFilter());
    QCOMPARE(registry->defaultFilter(), defaults);
    expectFiltering(0, "/", "secret.txt", 9);
    QVERIFY(isScannerFile(defaults, "secret.txt", type));
}

void tst_CFSPlatformFilter::spaceFilterCopiesTheDefaultAndIsReplacedInPlace()
{
    CFileSystemFilter* registry = CFileSystemFilter::instance();
    QVERIFY(registry->loadSpaceFilter(5, "/spaces/five"));
    CFSPlatformFilter* space = registry->getSpaceFilter(5);
    QVERIFY(space);
    QVERIFY(space != registry->defaultFilter());
    QCOMPARE(space->spaceID(), 5u);
    QCOMPARE(space->spacePath(), "/spaces/five");
    const CFSFilter::TSettings copied = space->excludesFile(CFSFilter::Scanner);
    QCOMPARE(copied.size(), 2); // after the built-in "~"
    QCOMPARE(copied.last().value, "secret.txt");
    QCOMPARE(copied.last().type, 9u);

    // Rules added to the space stay with it.
    QVERIFY(space->addExcludeFile(CFSFilter::Scanner, 6, "only.txt"));
    quint32 type = 0;
    QVERIFY(!isScannerFile(registry->defaultFilter(), "only.txt", type));

    // Replacing the rules keeps the space object.
    auto replacement = std::make_unique<CFSPlatformFilter>();
    QVERIFY(replacement->addExcludeFile(CFSFilter::Scanner, 8, "new.txt"));
    replacement->setSpaceID(99);
    const QPointer<CFSPlatformFilter> given(replacement.get());
    CExpect::record(QtDebugMsg, registryFile, "CFileSystemFilter::addSpaceFilter",
                    "replacing filter for spaceID 5");
    QVERIFY(registry->addSpaceFilter(5, std::move(replacement)));
    QVERIFY(given.isNull());

    QCOMPARE(registry->getSpaceFilter(5), space);
    QCOMPARE(space->spaceID(), 5u);
    QCOMPARE(space->spacePath(), "/spaces/five");
    QVERIFY(!isScannerFile(space, "secret.txt", type));
    expectFiltering(5, "/", "new.txt", 8);
    QSignalSpy relayed(registry, &CFileSystemFilter::pathFiltered);
    QVERIFY(isScannerFile(space, "new.txt", type));
    QCOMPARE(type, 8u);
    QCOMPARE(relayed.count(), 1);
    QCOMPARE(relayed.first(), (QVariantList{5u, "/", "new.txt", 8u}));

    // Removed, the space gets the default filter, whatever other spaces hold; a filter added
    // for a new space takes its number.
    QVERIFY(registry->addSpaceFilter(43, std::make_unique<CFSPlatformFilter>()));
    QCOMPARE(registry->getSpaceFilter(43)->spaceID(), 43u);
    const QPointer<CFSPlatformFilter> registered(space);
    QVERIFY(registry->removeSpaceFilter(5));
    QVERIFY(registered.isNull());
    QVERIFY(!registry->removeSpaceFilter(5));
    expectUnknownSpace(5);
    QCOMPARE(registry->getSpaceFilter(5), registry->defaultFilter());
}

// The reports of every space's filter are relayed, on the thread that asked.
void tst_CFSPlatformFilter::reportsTravelOnTheQueryingThread()
{
    CFileSystemFilter* registry = CFileSystemFilter::instance();
    QVERIFY(registry->loadSpaceFilter(1, "/spaces/one"));
    QVERIFY(registry->loadSpaceFilter(2, "/spaces/two"));
    QThread* reportedOn = nullptr;
    QVariantList reported;
    const QMetaObject::Connection connection = connect(
        registry, &CFileSystemFilter::pathInvalid, registry,
        [&](quint32 spaceID, const QString& path, const QString& name) {
            reportedOn = QThread::currentThread();
            reported = {spaceID, path, name};
        },
        Qt::DirectConnection);
    QVERIFY(connection);

    bool answer = false;
    QThread* queriedOn = nullptr;
    expectInvalid(2, "/docs/", "nul");
    // std::thread rather than QThread: ThreadSanitizer sees its join, and an uninstrumented Qt
    // hides QThread::wait from it.
    std::thread querying([registry, &answer, &queriedOn] {
        queriedOn = QThread::currentThread();
        quint32 type = 0;
        answer = registry->getSpaceFilter(2)->isFileFilteredRelative(CFSFilter::Scanner, "/docs/",
                                                                     "nul", type);
    });
    querying.join();
    disconnect(connection);
    QVERIFY(answer);
    QVERIFY(queriedOn != QThread::currentThread());
    QCOMPARE(reportedOn, queriedOn);
    QCOMPARE(reported, (QVariantList{2u, "/docs/", "nul"}));
}

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
    name("leading blank", " a", "");
    name("question mark", "what?.txt", "i");
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
    path("question mark", "/a?b/", true);
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

void tst_CFSPlatformFilter::everyQueryReportsOnce_data()
{
    QTest::addColumn<TQuery>("query");
    const quint32 module = CFSFilter::Scanner;
    // The scanner's own: files, file patterns (the working files) and path patterns.
    const quint32 options = CFSFilter().moduleOptions(module);
    const QString space = "/home/user/space";
    // The filter f asked about the name n in the folder r, its type in t; p is the absolute
    // parent path.
#define QUERY(call)                                                                                \
    TQuery([=](CFSPlatformFilter& f, const QString& r, const QString& n, quint32& t) {             \
        const QString p = space + r.chopped(1);                                                    \
        return call;                                                                               \
    })
    QTest::newRow("isFiltered with options")
        << QUERY(f.isFiltered(module, space, p, n, options, false, t));
    QTest::newRow("isFileFiltered with options")
        << QUERY(f.isFileFiltered(module, space, p, n, options, t));
    QTest::newRow("isFiltered") << QUERY(f.isFiltered(module, space, p, n, false, t));
    QTest::newRow("isFileFiltered") << QUERY(f.isFileFiltered(module, space, p, n, t));
    QTest::newRow("isFilteredRelative with options")
        << QUERY(f.isFilteredRelative(module, r, n, options, false, t));
    QTest::newRow("isFileFilteredRelative with options")
        << QUERY(f.isFileFilteredRelative(module, r, n, options, t));
    QTest::newRow("isFilteredRelative") << QUERY(f.isFilteredRelative(module, r, n, false, t));
    QTest::newRow("isFileFilteredRelative") << QUERY(f.isFileFilteredRelative(module, r, n, t));
#undef QUERY
}

// Every query names the entry relative to the space and reports it exactly once: a rule's type,
// which wins over the name check; the fork and short-name types; an invalid name or parent path
// (type 0); the working files (type 4) not at all.
void tst_CFSPlatformFilter::everyQueryReportsOnce()
{
    QFETCH(TQuery, query);
    CFSPlatformFilter filter;
    filter.setSpaceID(3);
    QVERIFY(filter.addExcludeFile(CFSFilter::Scanner, 9, "secret.txt"));
    QVERIFY(filter.addExcludeFile(CFSFilter::Scanner, 9, "secret.txt."));
    QSignalSpy filteredSpy(&filter, &CFSPlatformFilter::pathFiltered);
    QSignalSpy invalidSpy(&filter, &CFSPlatformFilter::pathInvalid);
    const QList<std::tuple<QString, QString, quint32>> entries = {
        {"/docs/", "secret.txt", 9},
        {"/docs/", "secret.txt.", 9},
        {"/docs/", "aux", 0},
        {"/a|b/", "x.txt", 0},
        {"/docs/", "qt_temp.abc", CFSFilter::workingFileType},
        {"/docs/..namedfork/", "rsrc", CFSFilter::forkPathType},
        {"/docs/", "ABCDEF~1.TXT", CFSFilter::shortNameType}};
    QList<QVariantList> filtered;
    QList<QVariantList> invalid;
    for (const auto& [path, name, type] : entries) {
        if (type == 0) {
            expectInvalid(3, path, name);
            invalid.append({3u, path, name});
        } else if (type != CFSFilter::workingFileType) {
            expectFiltering(3, path, name, type);
            filtered.append({3u, path, name, type});
        }
        quint32 answered = 12345;
        QVERIFY2(query(filter, path, name, answered), qPrintable(name));
        QCOMPARE(answered, type);
    }
    quint32 type = 12345;
    QVERIFY(!query(filter, "/docs/", "aux.txt", type));
    QCOMPARE(static_cast<const QList<QVariantList>&>(filteredSpy), filtered);
    QCOMPARE(static_cast<const QList<QVariantList>&>(invalidSpy), invalid);
}

QTEST_GUILESS_MAIN(tst_CFSPlatformFilter)
#include "tst_CFSPlatformFilter.moc"
