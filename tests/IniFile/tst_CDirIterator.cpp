#include "IniFile/CDirIterator.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "fsFilter/CFSFilter.h"
#include "threading/threads/CBasicThread.h"

#include <QFile>
#include <QSemaphore>
#include <QTest>

#include <thread>

namespace {

const QDir::Filters zipperEntries = QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::Hidden |
                                    QDir::System | QDir::NoDotAndDotDot;

void expectDebug(const QString& text)
{
    CExpect::record(QtDebugMsg, "CDirIterator.cpp", "CDirIterator::dirIterate", text);
}

QStringList names(const QList<QFileInfo>& infos, const QString& root)
{
    QStringList result;
    for (const QFileInfo& info : infos)
        result.append(info.filePath().mid(root.size()));
    result.sort();
    return result;
}

// Drops every directory, and every file too when asked; records what each query said.
class CTestFilter : public CFSFilter
{
public:
    explicit CTestFilter(bool dropFiles) : dropFiles(dropFiles) {}

    bool isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                    const QString& name, bool isDirectory, quint32& type) override
    {
        const bool typeRight = QFileInfo(path + '/' + name).isDir() == isDirectory;
        queries.append(QStringLiteral("%1 %2 %3").arg(module).arg(spacePath).arg(typeRight));
        type = 7;
        return dropFiles || isDirectory;
    }

    bool dropFiles;
    QStringList queries;
};

// Scans with checkThread true, then false, once the test has stopped it and lets it go.
class CScanThread : public CBasicThread
{
public:
    explicit CScanThread(const QString& root)
        : scanner(root, zipperEntries, QDirIterator::Subdirectories, nullptr, {}, 0)
    {}

    QSemaphore started;
    QSemaphore go;
    QList<bool> results;
    QList<qsizetype> found;

protected:
    int runMethod() override
    {
        started.release();
        go.acquire();
        for (const bool checkThread : {true, false}) {
            QList<QFileInfo> dirs;
            QList<QFileInfo> files;
            results.append(scanner.dirIterate(dirs, files, true, checkThread));
            found.append(dirs.size() + files.size());
        }
        return 0;
    }

private:
    CDirIterator scanner;
};

} // namespace

class tst_CDirIterator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void emptyRoot();
    void splitsAndSums();
    void abortFlag();
    void stoppedThread();
    void filter_data();
    void filter();
    void constructors_data();
    void constructors();

private:
    CTestEnvironment environment;
};

void tst_CDirIterator::emptyRoot()
{
    const QString root = environment.makeDir("empty");
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, nullptr, {}, 0);
    QList<QFileInfo> dirs{QFileInfo(root)};
    QList<QFileInfo> files{QFileInfo(root)};
    qint64 totalSize = 7;
    expectDebug("scanning " + root);
    expectDebug("scanning complete. dirs 0 files 0 complete file size 7");
    // Without entries the abort test is never reached.
    scanner.setAbort(true);
    QVERIFY(scanner.dirIterate(dirs, files, totalSize, false, true));
    QVERIFY(dirs.isEmpty() && files.isEmpty());
    QCOMPARE(totalSize, 7);
}

void tst_CDirIterator::splitsAndSums()
{
    const QString root = environment.makeDir("tree");
    environment.writeFile("tree/ten.log", QByteArray(10, 'x'));
    environment.writeFile("tree/sub/twenty.log", QByteArray(20, 'y'));
    environment.writeFile("tree/.hidden", QByteArray());
    environment.makeDir("tree/sub/empty dir");
    environment.writeFile("tree/Größe ä.log", QByteArray(3, 'z'));
    QVERIFY(QFile::link(root + "ten.log", root + "link.log"));
    QVERIFY(QFile::link(root + "sub", root + "linkdir"));
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, nullptr, {}, 0);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    qint64 totalSize = 100;
    expectDebug("scanning " + root);
    expectDebug("scanning complete. dirs 2 files 4 complete file size 133");
    QVERIFY(scanner.dirIterate(dirs, files, totalSize, true, false));
    QCOMPARE(totalSize, 133);
    QCOMPARE(names(dirs, root), (QStringList{"sub", "sub/empty dir"}));
    QCOMPARE(names(files, root),
             (QStringList{".hidden", "Größe ä.log", "sub/twenty.log", "ten.log"}));
}

void tst_CDirIterator::abortFlag()
{
    const QString root = environment.makeDir("abort");
    environment.writeFile("abort/a.log", "a");
    environment.writeFile("abort/b.log", "b");
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, nullptr, {}, 0);
    scanner.setAbort(true);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    qint64 totalSize = 5;
    // The scanner leaves the flag to its owner: the second scan stops as well.
    expectDebug("scanning aborted true false false");
    QVERIFY(!scanner.dirIterate(dirs, files, totalSize, false, false));
    expectDebug("scanning aborted true true false");
    QVERIFY(!scanner.dirIterate(dirs, files, totalSize, false, true));
    QVERIFY(dirs.isEmpty() && files.isEmpty());
    QCOMPARE(totalSize, 5);
    scanner.setAbort(false);
    QVERIFY(scanner.dirIterate(dirs, files, totalSize, false, true));
    QCOMPARE(files.size(), 2);
    QCOMPARE(totalSize, 7);
}

void tst_CDirIterator::stoppedThread()
{
    const QString root = environment.makeDir("thread");
    environment.writeFile("thread/a.log", "a");
    environment.writeFile("thread/b/c.log", "c");
    CScanThread thread(root);
    QVERIFY(thread.startThread());
    QVERIFY(thread.started.tryAcquire(1, 10000));
    QTRY_COMPARE(thread.state(), ThreadRunning);
    // exitThread blocks until the thread ends, so another thread lets the scan go once the
    // thread is marked as finished.
    std::thread releaser([&thread] {
        for (int i = 0; i < 10000 && thread.state() != ThreadFinished; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        thread.go.release();
    });
    expectDebug("scanning aborted false true true");
    thread.exitThread(0, 10000, false);
    releaser.join();
    QVERIFY(thread.wait(10000));
    QCOMPARE(thread.results, (QList<bool>{false, true}));
    QCOMPARE(thread.found, (QList<qsizetype>{0, 3}));
}

void tst_CDirIterator::filter_data()
{
    QTest::addColumn<bool>("dropFiles");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<qint64>("totalSize");
    QTest::newRow("drops everything") << true << QStringList() << qint64(1);
    QTest::newRow("a dropped folder's files stay")
        << false << QStringList{"keep.log", "skip/inner/f.log"} << qint64(3);
}

void tst_CDirIterator::filter()
{
    QFETCH(bool, dropFiles);
    QFETCH(QStringList, files);
    QFETCH(qint64, totalSize);
    const QString root = environment.makeDir(QTest::currentDataTag());
    environment.writeFile(QTest::currentDataTag() + QString("/skip/inner/f.log"), "f");
    environment.writeFile(QTest::currentDataTag() + QString("/keep.log"), "k");
    CTestFilter filter(dropFiles);
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, &filter, "/space/", 4);
    QList<QFileInfo> dirs;
    QList<QFileInfo> found;
    qint64 size = 1;
    QVERIFY(scanner.dirIterate(dirs, found, size, false, false));
    QVERIFY(dirs.isEmpty());
    QCOMPARE(names(found, root), files);
    QCOMPARE(size, totalSize);
    QCOMPARE(filter.queries, QStringList(4, "4 /space/ 1"));
}

void tst_CDirIterator::constructors_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("relative QDir: its absolute path and filters") << 1 << QStringList{"a.log"};
    QTest::newRow("root path") << 2 << QStringList{"a.log", "b.txt"};
    QTest::newRow("entry filter") << 3 << QStringList{"a.log", "b.txt"};
    QTest::newRow("name filters") << 4 << QStringList{"a.log"};
}

// Without a base path the filter is asked with the root path.
void tst_CDirIterator::constructors()
{
    QFETCH(int, form);
    QFETCH(QStringList, files);
    const QString root = environment.makeDir(QStringLiteral("form%1").arg(form));
    for (const char* name : {"a.log", "b.txt", "sub/c.log"})
        environment.writeFile(root.mid(environment.root().size()) + name, "x");
    CTestFilter filter(false);
    const auto flags = QDirIterator::NoIteratorFlags;
    std::unique_ptr<CDirIterator> scanner;
    QDir::setCurrent(root);
    if (form == 1)
        scanner = std::make_unique<CDirIterator>(QDir(".", "*.log", QDir::NoSort, QDir::Files),
                                                 flags, &filter, QString(), 3);
    else if (form == 2)
        scanner = std::make_unique<CDirIterator>(root, flags, &filter, QString(), 3);
    else if (form == 3)
        scanner = std::make_unique<CDirIterator>(root, QDir::Files, flags, &filter, QString(), 3);
    else
        scanner = std::make_unique<CDirIterator>(root, QStringList{"*.log"}, QDir::Files, flags,
                                                 &filter, QString(), 3);
    QDir::setCurrent(environment.root());
    QList<QFileInfo> dirs;
    QList<QFileInfo> found;
    QVERIFY(scanner->dirIterate(dirs, found, false, false));
    QCOMPARE(names(found, root), files);
    QVERIFY(!filter.queries.isEmpty());
    QCOMPARE(filter.queries, QStringList(filter.queries.size(), "3 " + root + " 1"));
}

QTEST_GUILESS_MAIN(tst_CDirIterator)
#include "tst_CDirIterator.moc"
