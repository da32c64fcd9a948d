#include "IniFile/CDirIterator.h"

#include "common/CTestEnvironment.h"
#include "fsFilter/CFSFilter.h"
#include "threading/threads/CBasicThread.h"

#include <QFile>
#include <QSemaphore>
#include <QTest>

#include <functional>
#include <thread>

namespace {

const QDir::Filters zipperEntries = QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::Hidden |
                                    QDir::System | QDir::NoDotAndDotDot;

QRegularExpression record(const QString& text)
{
    return QRegularExpression(QStringLiteral("^\\[ -?\\d+ : [^\\]]+ \\] \\[ CDirIterator\\.cpp : "
                                             "\\d+ : CDirIterator::dirIterate \\] ") +
                              QRegularExpression::escape(text) + QLatin1Char('$'));
}

QStringList names(const QList<QFileInfo>& infos, const QString& root)
{
    QStringList result;
    for (const QFileInfo& info : infos)
        result.append(info.filePath().mid(root.size()));
    result.sort();
    return result;
}

struct Query
{
    quint32 module;
    QString spacePath;
    QString path;
    QString name;
    bool isDirectory;
};

class CRecordingFilter : public CFSFilter
{
public:
    explicit CRecordingFilter(std::function<bool(const Query&)> answer) : answer(answer) {}

    bool isFiltered(const quint32& module, const QString& spacePath, const QString& path,
                    const QString& name, bool isDirectory, quint32& type) override
    {
        const Query query{module, spacePath, path, name, isDirectory};
        queries.append(query);
        type = 7;
        return answer(query);
    }

    QList<Query> queries;

private:
    std::function<bool(const Query&)> answer;
};

// Scans from its own thread once the test lets it go, so the test can first tell it to stop.
class CScanThread : public CBasicThread
{
public:
    explicit CScanThread(const QString& root)
        : scanner(root, zipperEntries, QDirIterator::Subdirectories, nullptr, {}, 0)
    {}

    QSemaphore started;
    QSemaphore go;
    bool stoppedResult = true;
    qsizetype stoppedCount = -1;
    bool uncheckedResult = false;
    qsizetype uncheckedCount = -1;

protected:
    int runMethod() override
    {
        started.release();
        go.acquire();
        QList<QFileInfo> dirs;
        QList<QFileInfo> files;
        stoppedResult = scanner.dirIterate(dirs, files, true, true);
        stoppedCount = dirs.size() + files.size();
        uncheckedResult = scanner.dirIterate(dirs, files, true, false);
        uncheckedCount = dirs.size() + files.size();
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
    void missingRoot();
    void splitsAndSums();
    void abortSetBeforeScan();
    void stoppedThread();
    void filterDropsEverything();
    void filterSkipsEntryNotSubtree();
    void basePathDefaultsToRoot_data();
    void basePathDefaultsToRoot();
    void nameFilters();
    void fromDir();

private:
    CTestEnvironment environment;
};

void tst_CDirIterator::emptyRoot()
{
    const QString root = environment.makeDir(QStringLiteral("empty"));
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, nullptr, {}, 0);
    QList<QFileInfo> dirs{QFileInfo(root)};
    QList<QFileInfo> files{QFileInfo(root)};
    qint64 totalSize = 7;
    QTest::ignoreMessage(QtDebugMsg, record(QStringLiteral("scanning ") + root));
    QTest::ignoreMessage(QtDebugMsg,
                         record(QStringLiteral("scanning complete. dirs 0 files 0 complete file "
                                               "size 7")));
    // An empty directory never reaches the abort test.
    scanner.setAbort(true);
    QVERIFY(scanner.dirIterate(dirs, files, totalSize, false, true));
    QVERIFY(dirs.isEmpty());
    QVERIFY(files.isEmpty());
    QCOMPARE(totalSize, 7);
}

void tst_CDirIterator::missingRoot()
{
    CDirIterator scanner(environment.root() + QStringLiteral("missing"),
                         QDirIterator::Subdirectories, nullptr, {}, 0);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    QVERIFY(scanner.dirIterate(dirs, files, false, false));
    QVERIFY(dirs.isEmpty() && files.isEmpty());
}

void tst_CDirIterator::splitsAndSums()
{
    const QString root = environment.makeDir(QStringLiteral("tree"));
    environment.writeFile(QStringLiteral("tree/ten.log"), QByteArray(10, 'x'));
    environment.writeFile(QStringLiteral("tree/sub/twenty.log"), QByteArray(20, 'y'));
    environment.writeFile(QStringLiteral("tree/.hidden"), QByteArray());
    environment.makeDir(QStringLiteral("tree/sub/empty dir"));
    environment.writeFile(QStringLiteral("tree/Größe ä.log"), QByteArray(3, 'z'));
    QVERIFY(QFile::link(root + QStringLiteral("ten.log"), root + QStringLiteral("link.log")));
    QVERIFY(QFile::link(root + QStringLiteral("sub"), root + QStringLiteral("linkdir")));

    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, nullptr, {}, 0);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    qint64 totalSize = 100;
    QTest::ignoreMessage(QtDebugMsg, record(QStringLiteral("scanning ") + root));
    QTest::ignoreMessage(QtDebugMsg,
                         record(QStringLiteral("scanning complete. dirs 2 files 4 complete file "
                                               "size 133")));
    QVERIFY(scanner.dirIterate(dirs, files, totalSize, true, false));
    QCOMPARE(totalSize, 133);
    QCOMPARE(names(dirs, root),
             (QStringList{QStringLiteral("sub"), QStringLiteral("sub/empty dir")}));
    QCOMPARE(names(files, root),
             (QStringList{QStringLiteral(".hidden"), QStringLiteral("Größe ä.log"),
                          QStringLiteral("sub/twenty.log"), QStringLiteral("ten.log")}));
}

void tst_CDirIterator::abortSetBeforeScan()
{
    const QString root = environment.makeDir(QStringLiteral("abort"));
    environment.writeFile(QStringLiteral("abort/a.log"), "a");
    environment.writeFile(QStringLiteral("abort/b.log"), "b");
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, nullptr, {}, 0);
    scanner.setAbort(true);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    qint64 totalSize = 5;
    QTest::ignoreMessage(QtDebugMsg, record(QStringLiteral("scanning aborted true false false")));
    QVERIFY(!scanner.dirIterate(dirs, files, totalSize, false, false));
    QVERIFY(dirs.isEmpty() && files.isEmpty());
    QCOMPARE(totalSize, 5);
    // The scanner never clears the flag itself.
    QTest::ignoreMessage(QtDebugMsg, record(QStringLiteral("scanning aborted true true false")));
    QVERIFY(!scanner.dirIterate(dirs, files, false, true));
    scanner.setAbort(false);
    QVERIFY(scanner.dirIterate(dirs, files, totalSize, false, true));
    QCOMPARE(files.size(), 2);
    QCOMPARE(totalSize, 7);
}

void tst_CDirIterator::stoppedThread()
{
    const QString root = environment.makeDir(QStringLiteral("thread"));
    environment.writeFile(QStringLiteral("thread/a.log"), "a");
    environment.writeFile(QStringLiteral("thread/b/c.log"), "c");
    CScanThread thread(root);
    QVERIFY(thread.startThread());
    QVERIFY(thread.started.tryAcquire(1, 10000));
    QTRY_COMPARE(thread.state(), ThreadRunning);
    // exitThread blocks until the thread ends, so the thread is let go from another one once
    // it has been marked as finished.
    std::thread releaser([&thread] {
        for (int i = 0; i < 10000 && thread.state() != ThreadFinished; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        thread.go.release();
    });
    QTest::ignoreMessage(QtDebugMsg, record(QStringLiteral("scanning aborted false true true")));
    thread.exitThread(0, 10000, false);
    releaser.join();
    QVERIFY(thread.wait(10000));
    QVERIFY(!thread.stoppedResult);
    QCOMPARE(thread.stoppedCount, 0);
    QVERIFY(thread.uncheckedResult);
    QCOMPARE(thread.uncheckedCount, 3);
}

void tst_CDirIterator::filterDropsEverything()
{
    const QString root = environment.makeDir(QStringLiteral("filtered"));
    environment.writeFile(QStringLiteral("filtered/a.log"), "abc");
    environment.makeDir(QStringLiteral("filtered/d"));
    CRecordingFilter filter([](const Query&) { return true; });
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, &filter,
                         QStringLiteral("/space/"), 0x04);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    qint64 totalSize = 1;
    QVERIFY(scanner.dirIterate(dirs, files, totalSize, false, false));
    QVERIFY(dirs.isEmpty() && files.isEmpty());
    QCOMPARE(totalSize, 1);
    QCOMPARE(filter.queries.size(), 2);
    for (const Query& query : std::as_const(filter.queries)) {
        QCOMPARE(query.module, 0x04u);
        QCOMPARE(query.spacePath, QStringLiteral("/space/"));
        QCOMPARE(query.path + QLatin1Char('/'), root);
        QCOMPARE(query.isDirectory, query.name == QLatin1String("d"));
    }
}

void tst_CDirIterator::filterSkipsEntryNotSubtree()
{
    const QString root = environment.makeDir(QStringLiteral("subtree"));
    environment.writeFile(QStringLiteral("subtree/skip/inner/f.log"), "f");
    environment.writeFile(QStringLiteral("subtree/keep.log"), "k");
    CRecordingFilter filter([](const Query& query) { return query.isDirectory; });
    CDirIterator scanner(root, zipperEntries, QDirIterator::Subdirectories, &filter, {}, 0);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    QVERIFY(scanner.dirIterate(dirs, files, false, false));
    QVERIFY(dirs.isEmpty());
    QCOMPARE(names(files, root),
             (QStringList{QStringLiteral("keep.log"), QStringLiteral("skip/inner/f.log")}));
}

void tst_CDirIterator::basePathDefaultsToRoot_data()
{
    QTest::addColumn<int>("form");
    QTest::newRow("root path") << 2;
    QTest::newRow("root path and entry filter") << 3;
    QTest::newRow("root path, name filters and entry filter") << 4;
}

void tst_CDirIterator::basePathDefaultsToRoot()
{
    QFETCH(int, form);
    const QString root = environment.makeDir(QStringLiteral("base%1").arg(form));
    environment.writeFile(QStringLiteral("base%1/x.log").arg(form), "x");
    CRecordingFilter filter([](const Query&) { return false; });
    std::unique_ptr<CDirIterator> scanner;
    if (form == 2)
        scanner = std::make_unique<CDirIterator>(root, QDirIterator::NoIteratorFlags, &filter,
                                                 QString(), 3);
    else if (form == 3)
        scanner = std::make_unique<CDirIterator>(root, zipperEntries, QDirIterator::NoIteratorFlags,
                                                 &filter, QString(), 3);
    else
        scanner =
            std::make_unique<CDirIterator>(root, QStringList(), zipperEntries,
                                           QDirIterator::NoIteratorFlags, &filter, QString(), 3);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    QVERIFY(scanner->dirIterate(dirs, files, false, false));
    QVERIFY(!filter.queries.isEmpty());
    for (const Query& query : std::as_const(filter.queries)) {
        QCOMPARE(query.spacePath, root);
        QCOMPARE(query.module, 3u);
    }
    QCOMPARE(names(files, root), QStringList{QStringLiteral("x.log")});
}

void tst_CDirIterator::nameFilters()
{
    const QString root = environment.makeDir(QStringLiteral("names"));
    environment.writeFile(QStringLiteral("names/a.log"), "a");
    environment.writeFile(QStringLiteral("names/b.txt"), "b");
    environment.writeFile(QStringLiteral("names/c.log.1"), "c");
    CDirIterator scanner(root, QStringList{QStringLiteral("*.log")}, QDir::Files,
                         QDirIterator::NoIteratorFlags, nullptr, {}, 0);
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    QVERIFY(scanner.dirIterate(dirs, files, false, false));
    QCOMPARE(names(files, root), QStringList{QStringLiteral("a.log")});
}

void tst_CDirIterator::fromDir()
{
    const QString root = environment.makeDir(QStringLiteral("qdir"));
    environment.writeFile(QStringLiteral("qdir/a.log"), "a");
    environment.writeFile(QStringLiteral("qdir/b.txt"), "bb");
    environment.writeFile(QStringLiteral("qdir/.hidden.log"), "h");
    environment.writeFile(QStringLiteral("qdir/sub/c.log"), "ccc");
    QDir::setCurrent(root);
    // A relative QDir: the scanner works on its absolute path, with its filters.
    const QDir dir(QStringLiteral("."), QStringLiteral("*.log"), QDir::NoSort, QDir::Files);
    CRecordingFilter filter([](const Query&) { return false; });
    CDirIterator scanner(dir, QDirIterator::Subdirectories, &filter, QString(), 1);
    QDir::setCurrent(environment.root());
    QList<QFileInfo> dirs;
    QList<QFileInfo> files;
    qint64 totalSize = 0;
    QTest::ignoreMessage(QtDebugMsg, record(QStringLiteral("scanning ") + root));
    QTest::ignoreMessage(QtDebugMsg, record(QStringLiteral("scanning complete. dirs 0 files 2 "
                                                           "complete file size 4")));
    QVERIFY(scanner.dirIterate(dirs, files, totalSize, false, false));
    QCOMPARE(names(files, root),
             (QStringList{QStringLiteral("a.log"), QStringLiteral("sub/c.log")}));
    QCOMPARE(filter.queries.first().spacePath, root);
}

QTEST_GUILESS_MAIN(tst_CDirIterator)
#include "tst_CDirIterator.moc"
