#include "IniFile/CZipper.h"

#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "common/CZipListing.h"
#include "common/CZipperSpies.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

QRegularExpression record(const QString& text, const QString& function = "zip",
                          const QString& pattern = QString())
{
    return QRegularExpression(
        "^\\[ -?\\d+ : [^\\]]+ \\] \\[ CZipper\\.cpp : \\d+ : CZipper::" + function + " \\] " +
        QRegularExpression::escape(text) + pattern + '$');
}

// Counts the "aborting ..." records of zip, whatever QTest does with them.
std::atomic<int> abortRecords;
QtMessageHandler previousHandler = nullptr;

void countAbortRecords(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    abortRecords += text.endsWith(" CZipper::zip ] aborting ...");
    previousHandler(type, context, text);
}

} // namespace

class tst_CZipper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void checkFailures_data();
    void checkFailures();
    void packs_data();
    void packs();
    void failsAfterStart_data();
    void failsAfterStart();
    void skipsWhatIsNoLongerAFile();
    void abortIsConsumed();
    void abortDuringLargeFile();
    void jobTable();
    void passesOverJobs();

private:
    std::unique_ptr<CTestEnvironment> environment;
    QString dir;
};

void tst_CZipper::init()
{
    environment = std::make_unique<CTestEnvironment>();
    QVERIFY(environment->isValid());
    dir = environment->root();
}

void tst_CZipper::checkFailures_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("append");
    QTest::addColumn<QString>("target");
    QTest::newRow("root") << "/" << false << "new.zip";
    QTest::newRow("missing source") << "missing" << false << "new.zip";
    QTest::newRow("new archive over an existing file") << "logs" << false << "existing.zip";
    QTest::newRow("append to a missing archive") << "logs" << true << "new.zip";
    QTest::newRow("target is a folder") << "logs" << false << "folder.zip";
    QTest::newRow("append to a folder") << "logs" << true << "folder.zip";
}

// Failed checks create nothing, log nothing and change nothing.
void tst_CZipper::checkFailures()
{
    QFETCH(QString, source);
    QFETCH(bool, append);
    QFETCH(QString, target);
    environment->writeFile("logs/a.log", "a");
    environment->writeFile("existing.zip", "not touched");
    environment->makeDir("folder.zip");
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    QVERIFY(!zipper.zip(source == "/" ? source : dir + source, dir + target, append));
    QCOMPARE(spies.error.size(), 1);
    QCOMPARE(spies.error.first().first().toUInt(), 0u);
    QCOMPARE(spies.started.size() + spies.progress.size(), 0);
    QVERIFY(!QFileInfo::exists(dir + "new.zip"));
    QFile existing(dir + "existing.zip");
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("not touched"));
    QVERIFY(QDir(dir + "folder.zip").isEmpty());
}

void tst_CZipper::packs_data()
{
    // Below the temporary root, as CTestTree makes it.
    QTest::addColumn<QString>("tree");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("utf8");
    const auto row = [](const char* tag, const char* tree, const char* source,
                        const QStringList& names, bool utf8 = false) {
        QTest::newRow(tag) << QString(tree) << QString(source) << names << utf8;
    };
    row("single file", "a/b/log.txt=twelve bytes", "a/b/log.txt", {"log.txt"});
    row("folder with a trailing slash", "logs/sub/a.log=a", "logs/", {"sub/", "sub/a.log"});
    row("folders first", "logs/x.txt=xx;logs/sub/y.txt=yyy", "logs",
        {"sub/", "sub/y.txt", "x.txt"});
    row("empty folder", "logs/", "logs", {});
    row("zero-byte file", "zero.log=", "zero.log", {"zero.log"});
    row("hidden, empty and linked entries",
        "logs/empty.log=;logs/.hidden.log=hidden;logs/empty folder/;logs/.cache/;"
        "logs/old/Größe 1.log=*5000;logs/link.log->old/Größe 1.log;logs/linked folder->old",
        "logs", {".cache/", ".hidden.log", "empty folder/", "empty.log", "old/", "old/Größe 1.log"},
        true);
    row("names in several scripts",
        "logs/Ordner ä ö/Über mich.txt=de;logs/журнал/ошибки.log=ru;logs/ログ/日本語.txt=ja;"
        "logs/יומן.log=he",
        "logs",
        {"Ordner ä ö/", "Ordner ä ö/Über mich.txt", "журнал/", "журнал/ошибки.log", "יומן.log",
         "ログ/", "ログ/日本語.txt"},
        true);
    row("ASCII names below a non-ASCII folder", "Jürgen/logs/sub/a.log=a", "Jürgen/logs",
        {"sub/", "sub/a.log"});
}

void tst_CZipper::packs()
{
    QFETCH(QString, tree);
    QFETCH(QString, source);
    QFETCH(QStringList, names);
    QFETCH(bool, utf8);
    QVERIFY(CTestTree::make(dir, tree));
    const QString target = dir + "packed.zip";
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    QVERIFY(zipper.zip(dir + source, target, false));
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.started.size() + spies.finished.size(), 2);
    const CZipListing listing(target);
    QVERIFY(listing.valid);
    QCOMPARE(listing.sortedNames(), names);
    QVERIFY(std::is_partitioned(listing.names.cbegin(), listing.names.cend(),
                                [](const QString& name) { return name.endsWith('/'); }));
    QCOMPARE(listing.utf8Names, utf8 ? listing.names : QStringList());
    // One report per entry, in archive order: total, running count, this file's bytes, name.
    const QFileInfo root(dir + source);
    const QString base = (root.isDir() ? root.filePath() : root.path()) + '/';
    QCOMPARE(spies.progress.size(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        const QFileInfo entry(QDir::cleanPath(base + listing.names.at(i)));
        const qint64 size = entry.isDir() ? 0 : entry.size();
        QCOMPARE(listing.sizes.at(i), size);
        QCOMPARE(spies.progress.at(i),
                 (QList<QVariant>{quint32(names.size()), quint32(i + 1), size, entry.fileName()}));
    }
}

void tst_CZipper::failsAfterStart_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("append");
    QTest::addColumn<QString>("target");
    // %1 stands for the target, %2 for the unreadable file; a "zip target" record ends with
    // the library's error code.
    QTest::addColumn<QString>("text");
    // The entries the archive keeps.
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("target folder missing") << "logs/sub/locked.log" << false << "missing/a.zip"
                                           << "failed to create zip target: %1" << QStringList();
    QTest::newRow("append to a file that is no archive")
        << "logs/sub/locked.log" << true << "text.zip"
        << "failed to open zip target: %1" << QStringList();
    QTest::newRow("unreadable file") << "logs" << false << "locked.zip"
                                     << "failed to open sourceFile: %2" << QStringList{"sub/"};
}

void tst_CZipper::failsAfterStart()
{
    QFETCH(QString, source);
    QFETCH(bool, append);
    QFETCH(QString, target);
    QFETCH(QString, text);
    QFETCH(QStringList, kept);
    environment->writeFile("text.zip", "plain text");
    const QString locked = environment->writeFile("logs/sub/locked.log", "x");
    if (!kept.isEmpty()) {
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
        if (QFile(locked).open(QIODevice::ReadOnly))
            QSKIP("permission bits do not apply to this user");
    }
    text.replace("%1", dir + target).replace("%2", locked);
    QTest::ignoreMessage(QtCriticalMsg,
                         record(text, "zip", text.contains("zip target") ? " -?\\d+" : ""));
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    QVERIFY(!zipper.zip(dir + source, dir + target, append));
    QCOMPARE(spies.started.size(), 1);
    QCOMPARE(spies.finished.size(), 0);
    QCOMPARE(spies.error.size(), 1);
    // What was written before the failure stays, as a complete archive.
    if (!append)
        QCOMPARE(CZipListing(dir + target).names, kept);
    if (!kept.isEmpty())
        QVERIFY(CZipListing(dir + target).valid);
}

// A FIFO, a dangling link and a file removed after the scan listed it are skipped with a
// warning; they still count.
void tst_CZipper::skipsWhatIsNoLongerAFile()
{
    const QString source = environment->makeDir("logs");
    environment->writeFile("logs/a.log", "a");
    environment->writeFile("logs/b.log", "b");
    QProcess mkfifo;
    mkfifo.start("mkfifo", {source + "pipe"});
    QVERIFY(mkfifo.waitForFinished(10000) && mkfifo.exitCode() == 0);
    QVERIFY(QFile::link(dir + "nowhere", source + "dangling"));
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    QString removed;
    connect(&zipper, &CZipper::zipProgress, this,
            [&](quint32, quint32, qint64, const QString& name) {
                if (removed.isEmpty())
                    QFile::remove(removed = source + (name == "a.log" ? "b.log" : "a.log"));
            });
    for (const char* name : {"pipe", "dangling"})
        QTest::ignoreMessage(QtWarningMsg,
                             record("skipping " + source + name + " , not a file ..."));
    QTest::ignoreMessage(QtWarningMsg,
                         record("skipping ", "zip", ".*/[ab]\\.log , not a file ..."));
    QVERIFY(zipper.zip(source, dir + "skip.zip", false));
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.progress.size(), 1);
    QCOMPARE(spies.progress.first().at(0).toUInt(), 4u);
    const CZipListing listing(dir + "skip.zip");
    QVERIFY(listing.valid);
    QCOMPARE(listing.names.size(), 1);
    QVERIFY(!removed.endsWith(listing.names.first()));
}

// An abort that comes while nothing runs is consumed by the next zip or pass, which stops
// before touching anything.
void tst_CZipper::abortIsConsumed()
{
    const QString source = environment->writeFile("a.log", "a");
    const QString target = dir + "aborted.zip";
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    QSignalSpy jobsFinished(&zipper, &CZipper::jobsFinished);
    zipper.abort();
    QVERIFY(zipper.isAborted());
    QTest::ignoreMessage(QtCriticalMsg, record("aborting ..."));
    QVERIFY(!zipper.zip(source, target, false));
    QVERIFY(!zipper.isAborted());
    QVERIFY(zipper.addZipJob(source, target));
    zipper.abort();
    QTest::ignoreMessage(QtCriticalMsg, record("aborting ...", "processZipJobs"));
    zipper.processZipJobs();
    QVERIFY(!zipper.isAborted());
    QCOMPARE(jobsFinished.size(), 0);
    QCOMPARE(spies.error.size() + spies.started.size() + spies.finished.size(), 0);
    QVERIFY(!QFileInfo::exists(target));
    // The job stayed in the table.
    zipper.processZipJobs();
    QCOMPARE(jobsFinished.size(), 1);
    QCOMPARE(CZipListing(target).names, QStringList{"a.log"});
}

void tst_CZipper::abortDuringLargeFile()
{
    const qint64 chunk = 4 * 1024 * 1024;
    const qint64 size = 16 * chunk + 123;
    QByteArray random(size, Qt::Uninitialized);
    QRandomGenerator(4711).fillRange(reinterpret_cast<quint32*>(random.data()), size / 4);
    const QString source = environment->writeFile("big.bin", random);
    const QString target = dir + "big.zip";
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    std::atomic<bool> done(false);
    // Random data deflates slowly, so the copy is still in its first chunks when the archive
    // starts to grow on disk.
    std::thread aborter([&] {
        for (int i = 0; i < 60000 && !done; ++i) {
            if (QFileInfo(target).size() > 64 * 1024)
                return zipper.abort();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    abortRecords = 0;
    previousHandler = qInstallMessageHandler(&countAbortRecords);
    QTest::ignoreMessage(QtCriticalMsg, record("aborting ..."));
    const bool result = zipper.zip(source, target, false);
    qInstallMessageHandler(previousHandler);
    done = true;
    aborter.join();
    QVERIFY(result);
    QCOMPARE(abortRecords, 1);
    QVERIFY(!zipper.isAborted());
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.finished.size(), 1);
    QCOMPARE(spies.progress.size(), 1);
    const qint64 bytes = spies.progress.first().at(2).toLongLong();
    QVERIFY2(bytes > 0 && bytes < size && bytes % chunk == 0, qPrintable(QString::number(bytes)));
    const CZipListing listing(target);
    QVERIFY(listing.valid);
    QCOMPARE(listing.names, QStringList{"big.bin"});
    QCOMPARE(listing.sizes, QList<qint64>{bytes});
}

void tst_CZipper::jobTable()
{
    CZipper zipper;
    QVERIFY(zipper.addZipJob("/a", "/t.zip"));
    QTest::ignoreMessage(QtCriticalMsg, record("job already exists: /a /t.zip", "addZipJob"));
    QVERIFY(!zipper.addZipJob("/a", "/t.zip"));
    // One target per source: the new one replaces the old.
    QVERIFY(zipper.addZipJob("/a", "/u.zip"));
    QVERIFY(!zipper.removeZipJob("/a", "/t.zip"));
    QVERIFY(!zipper.removeZipJob("/b", "/u.zip"));
    QVERIFY(zipper.removeZipJob("/a", "/u.zip"));
    QVERIFY(!zipper.removeZipJob("/a", "/u.zip"));
    QVERIFY(zipper.addZipJob("/a", "/t.zip"));
    QVERIFY(zipper.addZipJob("/b", "/t.zip"));
    zipper.clearZipJobs();
    QVERIFY(!zipper.removeZipJob("/a", "/t.zip"));
    QVERIFY(!zipper.removeZipJob("/b", "/t.zip"));
    QSignalSpy jobsStarted(&zipper, &CZipper::jobsStarted);
    QSignalSpy jobsFinished(&zipper, &CZipper::jobsFinished);
    CZipperSpies spies(zipper, false);
    QTest::ignoreMessage(QtWarningMsg, record("nothing to do ..", "processZipJobs"));
    zipper.processZipJobs();
    QCOMPARE(jobsStarted.size(), 1);
    QCOMPARE(jobsFinished.size(), 1);
    QCOMPARE(spies.started.size() + spies.error.size(), 0);
}

// A vanished source leaves the table silently, a failing job does not stop the pass, and the
// next pass appends to the archive the first one wrote.
void tst_CZipper::passesOverJobs()
{
    const QString failing = environment->writeFile("a.log", "a");
    const QString folder = environment->makeDir("folder.zip");
    const QString good = environment->makeDir("logs");
    environment->writeFile("logs/first.log", "first");
    CZipper zipper;
    QVERIFY(zipper.addZipJob(failing, folder));
    QVERIFY(zipper.addZipJob(good, dir + "good.zip"));
    QVERIFY(zipper.addZipJob(dir + "missing", dir + "missing.zip"));
    QSignalSpy jobsFinished(&zipper, &CZipper::jobsFinished);
    CZipperSpies spies(zipper, false);
    for (int pass = 1; pass <= 2; ++pass) {
        QTest::ignoreMessage(QtCriticalMsg,
                             record("failed to zip: " + failing + ' ' + folder, "processZipJobs"));
        zipper.processZipJobs();
        QCOMPARE(jobsFinished.size(), pass);
        QCOMPARE(spies.error.size(), pass);
        QCOMPARE(spies.started.size(), pass);
        QFile::remove(good + "first.log");
        environment->writeFile("logs/second.log", "second");
    }
    // The second pass appended, reporting only what it added.
    QCOMPARE(spies.progress.last(), (QList<QVariant>{1u, 1u, qint64(6), QString("second.log")}));
    const CZipListing listing(dir + "good.zip");
    QVERIFY(listing.valid);
    QCOMPARE(listing.names, (QStringList{"first.log", "second.log"}));
    QVERIFY(!QFileInfo::exists(dir + "missing.zip"));
    QVERIFY(!zipper.removeZipJob(dir + "missing", dir + "missing.zip"));
    QVERIFY(zipper.removeZipJob(failing, folder));
    QVERIFY(zipper.removeZipJob(good, dir + "good.zip"));
}

QTEST_GUILESS_MAIN(tst_CZipper)
#include "tst_CZipper.moc"
