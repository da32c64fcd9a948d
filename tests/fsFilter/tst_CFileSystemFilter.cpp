#include "fsFilter/CFileSystemFilter.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "fsFilter/CFSFilterConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>
#include <thread>

namespace {

const QString file = "CFileSystemFilter.cpp";

// Reports the scanner's secret.txt with type 9.
const QByteArray defaultRules = "[files]\nexcludes\\1\\file=secret.txt\nexcludes\\1\\modules=2\n"
                                "excludes\\1\\type=9\nexcludes\\size=1\n";

void expectUnknownSpace(quint32 spaceID)
{
    CExpect::record(QtCriticalMsg, file, "CFileSystemFilter::getSpaceFilter",
                    QStringLiteral("no space filter found for spaceID %1").arg(spaceID));
    CExpect::record(QtCriticalMsg, file, "CFileSystemFilter::getSpaceFilter",
                    "using default filter ...");
}

void expectFiltering(quint32 spaceID, const QString& path, const QString& name, quint32 type)
{
    CExpect::record(
        QtDebugMsg, "CFSPlatformFilter.cpp", "CFSPlatformFilter::signalPathFiltered",
        QStringLiteral("filtering: %1 %2 %3 %4").arg(spaceID).arg(path, name).arg(type));
}

void expectInvalid(quint32 spaceID, const QString& name)
{
    CExpect::record(
        QtCriticalMsg, "CFSPlatformFilter.cpp", "CFSPlatformFilter::signalPathInvalid",
        QStringLiteral("found invalid path or name %1 /docs/ %2").arg(spaceID).arg(name));
}

bool isScannerFile(CFSFilter* filter, const QString& name, quint32& type)
{
    return filter->isFileFilteredRelative(CFSFilter::Scanner, "/", name, type);
}

} // namespace

class tst_CFileSystemFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void withoutDefaultFileOnlyBuiltInRules();
    void spaceFilterCopiesTheDefaultAndIsReplacedInPlace();
    void removeSpaceFilter();
    void reportsOfEverySpaceAreRelayed_data();
    void reportsOfEverySpaceAreRelayed();
    void reportsTravelOnTheQueryingThread();

private:
    void writeDefaultFile();

    std::unique_ptr<CTestEnvironment> env;
};

void tst_CFileSystemFilter::init()
{
    QVERIFY(CTestEnvironment::renew(env));
    CFSFilterConfig::instance()->setBaseFolder(env->root() + "config/");
    writeDefaultFile();
}

void tst_CFileSystemFilter::cleanup()
{
    CFileSystemFilter::destroy();
    QVERIFY(!CFileSystemFilter::exists());
    CFSFilterConfig::destroy();
    env.reset();
}

void tst_CFileSystemFilter::writeDefaultFile()
{
    const QString path = CFSFilterConfig::instance()->defaultFilterFile();
    QVERIFY(path.startsWith(env->root()));
    env->writeFile(path.mid(env->root().size()), defaultRules);
    QVERIFY(QFileInfo::exists(path));
}

void tst_CFileSystemFilter::withoutDefaultFileOnlyBuiltInRules()
{
    QVERIFY(QDir(env->root() + "config").removeRecursively());
    CExpect::recordMatching(QtCriticalMsg, "CFSFilterFile.cpp", "CFSFilterFile::load",
                            "Error loading file system filter file: .*");
    CExpect::record(QtCriticalMsg, file, "CFileSystemFilter::loadDefaultFilter",
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

void tst_CFileSystemFilter::spaceFilterCopiesTheDefaultAndIsReplacedInPlace()
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
    CExpect::record(QtDebugMsg, file, "CFileSystemFilter::addSpaceFilter",
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
}

// A space without a filter of its own, also once removed, gets the default filter, whatever
// other spaces hold.
void tst_CFileSystemFilter::removeSpaceFilter()
{
    CFileSystemFilter* registry = CFileSystemFilter::instance();
    QVERIFY(registry->loadSpaceFilter(43, "/other"));
    QVERIFY(!registry->removeSpaceFilter(5));
    QVERIFY(registry->addSpaceFilter(5, std::make_unique<CFSPlatformFilter>()));
    const QPointer<CFSPlatformFilter> registered(registry->getSpaceFilter(5));
    QCOMPARE(registered->spaceID(), 5u);
    QVERIFY(registry->removeSpaceFilter(5));
    QVERIFY(registered.isNull());
    QVERIFY(!registry->removeSpaceFilter(5));
    expectUnknownSpace(5);
    QCOMPARE(registry->getSpaceFilter(5), registry->defaultFilter());
}

void tst_CFileSystemFilter::reportsOfEverySpaceAreRelayed_data()
{
    QTest::addColumn<quint32>("spaceID");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("invalid");
    QTest::newRow("first space, rule") << 1u << "secret.txt" << false;
    QTest::newRow("second space, device name") << 2u << "PRN" << true;
}

void tst_CFileSystemFilter::reportsOfEverySpaceAreRelayed()
{
    QFETCH(quint32, spaceID);
    QFETCH(QString, name);
    QFETCH(bool, invalid);
    CFileSystemFilter* registry = CFileSystemFilter::instance();
    QVERIFY(registry->loadSpaceFilter(1, "/spaces/one"));
    QVERIFY(registry->loadSpaceFilter(2, "/spaces/two"));
    QSignalSpy filtered(registry, &CFileSystemFilter::pathFiltered);
    QSignalSpy invalids(registry, &CFileSystemFilter::pathInvalid);

    if (invalid)
        expectInvalid(spaceID, name);
    else
        expectFiltering(spaceID, "/docs/", name, 9);
    quint32 type = 0;
    QVERIFY(registry->getSpaceFilter(spaceID)->isFileFiltered(CFSFilter::Scanner, "/spaces/x",
                                                              "/spaces/x/docs", name, type));

    QCOMPARE(filtered.count(), invalid ? 0 : 1);
    QCOMPARE(invalids.count(), invalid ? 1 : 0);
    if (invalid)
        QCOMPARE(invalids.first(), (QVariantList{spaceID, "/docs/", name}));
    else
        QCOMPARE(filtered.first(), (QVariantList{spaceID, "/docs/", name, 9u}));
}

void tst_CFileSystemFilter::reportsTravelOnTheQueryingThread()
{
    CFileSystemFilter* registry = CFileSystemFilter::instance();
    QVERIFY(registry->loadSpaceFilter(1, "/spaces/one"));
    QThread* reportedOn = nullptr;
    const QMetaObject::Connection connection = connect(
        registry, &CFileSystemFilter::pathInvalid, registry,
        [&reportedOn] { reportedOn = QThread::currentThread(); }, Qt::DirectConnection);
    QVERIFY(connection);

    bool answer = false;
    QThread* queriedOn = nullptr;
    expectInvalid(1, "nul");
    // std::thread rather than QThread: ThreadSanitizer sees its join, and an uninstrumented Qt
    // hides QThread::wait from it.
    std::thread querying([registry, &answer, &queriedOn] {
        queriedOn = QThread::currentThread();
        quint32 type = 0;
        answer = registry->getSpaceFilter(1)->isFileFilteredRelative(CFSFilter::Scanner, "/docs/",
                                                                     "nul", type);
    });
    querying.join();
    disconnect(connection);
    QVERIFY(answer);
    QVERIFY(queriedOn != QThread::currentThread());
    QCOMPARE(reportedOn, queriedOn);
}

QTEST_GUILESS_MAIN(tst_CFileSystemFilter)
#include "tst_CFileSystemFilter.moc"
