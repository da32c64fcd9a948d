#include "IniFile/zip/CZipper.h"

#include "common/CExpect.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "common/CZipListing.h"
#include "common/CZipperSpies.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

using namespace ZipperRecords;

namespace {

// The largest file compressed whole, in one piece.
const qint64 wholeSize = 2 * blockSize;

QByteArray sha256(const QByteArray& content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
}

// Whether this process holds path open.
bool isOpenHere(const QString& path)
{
    QDirIterator descriptors("/proc/self/fd", QDir::Files | QDir::System);
    while (descriptors.hasNext()) {
        if (QFile::symLinkTarget(descriptors.next()) == path)
            return true;
    }
    return false;
}

// Runs a shell command line, waiting up to timeout ms (-1: without limit); nothing when it ends
// with 0, else the command and its error output.
QString shell(const QString& command, int timeout = 120000)
{
    QProcess process;
    // bsdtar converts names to the locale's character set and refuses UTF-8 names in the C
    // locale, which is what a bare CI shell has.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start("sh", {"-c", command});
    const bool ok = process.waitForFinished(timeout) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? QString() : command + ": " + process.readAllStandardError();
}

} // namespace

class tst_CZipper : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void packs_data();
    void packs();
    void sameArchiveForAnyWorkerCount_data();
    void sameArchiveForAnyWorkerCount();
    void largeEntryBesideNonAsciiName();
    void packsLiveFilesAsOpened_data();
    void packsLiveFilesAsOpened();
    void packsAFullEntryCount_data();
    void packsAFullEntryCount();
    void foldersExtractReadable();
    void storesDatesReadersAccept_data();
    void storesDatesReadersAccept();
    void jobTable();
    void passesOverJobs();
};

void tst_CZipper::packs_data()
{
    QTest::addColumn<QString>("tree");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("single file") << "a/b/log.txt=twelve bytes"
                                 << "a/b/log.txt" << QStringList{"log.txt"};
    QTest::newRow("folders first, trailing slash")
        << "logs/x.txt=xx;logs/sub/y.txt=yyy"
        << "logs/" << QStringList{"sub/", "sub/y.txt", "x.txt"};
    QTest::newRow("empty folder") << "logs/"
                                  << "logs" << QStringList();
    QTest::newRow("hidden, empty, linked and non-ASCII entries")
        << "logs/empty.log=;logs/.hidden.log=hidden;logs/empty folder/;logs/журнал/日本語.txt=ja;"
           "logs/old/Größe 1.log=*5000;logs/link.log->old/Größe 1.log;logs/linked folder->old"
        << "logs" << QStringList{".hidden.log",     "empty folder/", "empty.log",        "old/",
                                 "old/Größe 1.log", "журнал/",       "журнал/日本語.txt"};
    QTest::newRow("ASCII names below a non-ASCII folder")
        << "Jürgen/logs/sub/a.log=a"
        << "Jürgen/logs" << QStringList{"sub/", "sub/a.log"};
}

void tst_CZipper::packs()
{
    QFETCH(QString, tree);
    QFETCH(QString, source);
    QFETCH(QStringList, names);
    QVERIFY(CTestTree::make(dir, tree));
    const QString target = dir + "packed.zip";
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    QSignalSpy verifyStarted(&zipper, &CZipper::verifyStarted);
    QVERIFY(zipper.zip(dir + source, target, false));
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.started.size() + spies.finished.size(), 2);
    QCOMPARE(verifyStarted.size(), 1);
    QCOMPARE(zipper.lastError(), QString());
    const CZipListing listing(target);
    QVERIFY(listing.valid);
    QCOMPARE(listing.sortedNames(), names);
    QVERIFY(std::is_partitioned(listing.names.cbegin(), listing.names.cend(),
                                [](const QString& name) { return name.endsWith('/'); }));
    // Only the names that need it carry the UTF-8 flag.
    QStringList nonAscii;
    std::copy_if(listing.names.cbegin(), listing.names.cend(), std::back_inserter(nonAscii),
                 [](const QString& name) { return name.toUtf8().size() != name.size(); });
    QCOMPARE(listing.utf8Names, nonAscii);
    // Info-ZIP's unzip 6.0 extracts nothing that asks for a version above 4.6.
    for (int version : listing.versionsNeeded)
        QVERIFY2(version <= 20, qPrintable(QString::number(version)));
    // One report per entry, in archive order: total, running count, this file's bytes, name.
    const QFileInfo root(dir + source);
    const QString base = (root.isDir() ? root.filePath() : root.path()) + '/';
    QCOMPARE(spies.progress.size(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        const QFileInfo entry(QDir::cleanPath(base + listing.names.at(i)));
        const qint64 size = entry.isDir() ? 0 : entry.size();
        QCOMPARE(listing.sizes.at(i), size);
        // A file's entry carries its modification time, to the two seconds the format holds.
        if (!entry.isDir()) {
            const QDateTime modified = entry.lastModified();
            QCOMPARE(
                listing.times.at(i),
                modified.addSecs(-(modified.time().second() % 2)).toString("yyyy-MM-dd hh:mm:ss"));
        }
        QCOMPARE(spies.progress.at(i),
                 (QList<QVariant>{quint32(names.size()), quint32(i + 1), size, entry.fileName()}));
    }
}

void tst_CZipper::sameArchiveForAnyWorkerCount_data()
{
    QTest::addColumn<QString>("tree");
    QTest::addColumn<int>("workers");
    // Files of several blocks, one ending exactly on a block boundary, one just past the most
    // that is compressed whole, and files compressed whole: one of exactly that size.
    const QString mixed =
        QString("logs/a/%1=*%2;logs/b/exact.log=*%3;logs/b/one.log=*%4;logs/b/whole.log=*%5;"
                "logs/empty.log=;logs/Größe ü.log=*70000;logs/c/")
            .arg("big.log")
            .arg(2 * blockSize + 12345)
            .arg(3 * blockSize)
            .arg(wholeSize + 1)
            .arg(wholeSize);
    QString small;
    for (int i = 0; i < 300; ++i)
        small += QString("logs/d%1/f%2.log=*%3;").arg(i % 7).arg(i).arg(100 + i * 37);
    // Small whole files run further ahead than the others: files on both sides of that size
    // and of several blocks, among many small ones.
    QString interleaved;
    for (int i = 0; i < 90; ++i)
        interleaved += QString("logs/e%1/f%2.log=*%3;")
                           .arg(i % 5)
                           .arg(i)
                           .arg(i % 9 == 0    ? 65536 + i % 2
                                : i % 30 == 1 ? wholeSize + 70000
                                              : 900);
    for (int workers : {2, 3, 8}) {
        QTest::addRow("mixed sizes, %d workers", workers) << mixed << workers;
        QTest::addRow("small files, %d workers", workers) << small << workers;
        QTest::addRow("small files among large ones, %d workers", workers)
            << interleaved << workers;
    }
}

// Entries, their order, names, times, content and the progress reports do not depend on how
// many threads compress; the content is the source's, byte for byte, for every reader.
void tst_CZipper::sameArchiveForAnyWorkerCount()
{
    QFETCH(QString, tree);
    QFETCH(int, workers);
    QVERIFY(CTestTree::make(dir, tree));
    QList<QList<QVariant>> progress[2];
    for (int run = 0; run < 2; ++run) {
        CZipper zipper;
        QCOMPARE(zipper.workerCount(), 0);
        zipper.setWorkerCount(run == 0 ? 1 : workers);
        CZipperSpies spies(zipper, false);
        QVERIFY(zipper.zip(dir + "logs", dir + QString("w%1.zip").arg(run), false));
        QCOMPARE(spies.error.size(), 0);
        QCOMPARE(spies.finished.size(), 1);
        for (const QList<QVariant>& report : std::as_const(spies.progress))
            progress[run].append(report);
    }
    QCOMPARE(progress[1], progress[0]);
    const CZipListing single(dir + "w0.zip");
    const CZipListing parallel(dir + "w1.zip");
    QVERIFY(single.valid);
    QVERIFY(parallel.valid);
    QCOMPARE(parallel.names, single.names);
    QCOMPARE(parallel.sizes, single.sizes);
    QCOMPARE(parallel.hashes, single.hashes);
    // A folder's entry carries the time it was packed; a file's, the file's time and content.
    for (int i = 0; i < single.names.size(); ++i) {
        const QString& name = single.names.at(i);
        if (name.endsWith('/'))
            continue;
        QCOMPARE(parallel.times.at(i), single.times.at(i));
        QCOMPARE(single.hashes.at(i), sha256(CTestTree::content(dir + "logs/" + name)));
    }
    QCOMPARE(
        shell(QString("7z t '%1' >/dev/null && bsdtar -xOf '%1' >/dev/null").arg(dir + "w1.zip")),
        QString());
}

// Every reader extracts an entry of more than 4 GiB in an archive that also holds a non-ASCII
// name, streaming readers too: the file passes 4 GiB after the scan, before it is opened, and
// its local header still carries zip64 sizes. Slow (it deflates and checks 4.5 GiB several
// times): runs with SY_SLOW_TESTS=1.
void tst_CZipper::largeEntryBesideNonAsciiName()
{
    if (qEnvironmentVariableIntValue("SY_SLOW_TESTS") != 1)
        QSKIP("slow: set SY_SLOW_TESTS=1 to run it");
    const qint64 size = Q_INT64_C(4608) * 1024 * 1024 + 77;
    const QString source = environment->makeDir("logs");
    QVERIFY(CTestTree::write(source + "Größe ü.log", "klein"));
    QVERIFY(CTestTree::write(source + "big.log", "small at first"));
    // A sparse file: it takes no room on the disk.
    const auto grow = [&] { QVERIFY(QFile::resize(source + "big.log", size)); };
    const QString target = dir + "large.zip";
    CZipper zipper;
    connect(&zipper, &CZipper::zipStarted, &zipper, grow);
    QVERIFY(zipper.zip(source, target, false));
    // Each reader checks every entry's data; none is given a time limit.
    const QString python = "python3 -c \"import sys, zipfile\n"
                           "z = zipfile.ZipFile(sys.argv[1])\n"
                           "assert z.testzip() is None\n"
                           "assert sorted((i.filename, i.file_size) for i in z.infolist()) == "
                           "[('Größe ü.log', 5), ('big.log', %2)]\n"
                           "assert max(i.extract_version for i in z.infolist()) <= 45\" '%1'";
    for (const QString& check :
         {python, QString("unzip -tqq '%1'"), QString("7z t '%1' >/dev/null"),
          QString("bsdtar -xOf '%1' | wc -c | grep -qx %3"),
          QString("bsdtar -xOf - < '%1' | wc -c | grep -qx %3"),
          QString("unzip -p '%1' | wc -c | grep -qx %3")}) {
        QCOMPARE(shell(QString(check)
                           .replace("%1", target)
                           .replace("%2", QString::number(size))
                           .replace("%3", QString::number(size + 5)),
                       -1),
                 QString());
    }
}

void tst_CZipper::packsLiveFilesAsOpened_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("workers");
    QTest::addColumn<qint64>("size");
    // Longer than the blocks two workers hold ahead, plus one.
    const qint64 blocks = 6 * blockSize + 4321;
    for (int workers : {1, 2}) {
        // The zipper reads what it opened: a file renamed away is the deleted one's case.
        for (const char* change : {"truncated", "replaced by rename", "deleted", "grown",
                                   "removed before it was opened"})
            QTest::addRow("%s, %d worker(s)", change, workers)
                << QString(change) << workers << blocks;
        // Small enough to be compressed whole when it is opened, and past that size later.
        QTest::addRow("grown past the whole size, %d worker(s)", workers)
            << QString("grown") << workers << wholeSize;
        QTest::addRow("grown past the whole size before it was opened, %d worker(s)", workers)
            << QString("grown before it was opened") << workers << wholeSize;
    }
}

// A log that changes while it is packed is packed as the file that was opened, up to its size
// then; no other entry is touched. The file is changed once the zipper holds it open, or before
// anything was opened.
void tst_CZipper::packsLiveFilesAsOpened()
{
    QFETCH(QString, change);
    QFETCH(int, workers);
    QFETCH(qint64, size);
    const qint64 truncated = blockSize + 7;
    QVERIFY(CTestTree::make(dir, QString("logs/sub/;logs/a.log=*1000;logs/sub/b.log=*%1;"
                                         "logs/z.log=*70000;logs/live.log=*%2")
                                     .arg(blockSize + 5)
                                     .arg(size)));
    const QString live = dir + "logs/live.log";
    const QString canonical = QFileInfo(live).canonicalFilePath();
    const QByteArray original = CTestTree::content(live);
    bool changed = false;
    const auto changeLive = [&] {
        changed = true;
        if (change == "truncated") {
            QVERIFY(QFile::resize(live, truncated));
        } else if (change == "replaced by rename") {
            QVERIFY(CTestTree::write(dir + "new.log", QByteArray(3 * blockSize, 'n')));
            QVERIFY(std::rename(QFile::encodeName(dir + "new.log").constData(),
                                QFile::encodeName(live).constData()) == 0);
        } else if (change == "deleted" || change == "removed before it was opened") {
            QVERIFY(QFile::remove(live));
        } else {
            QFile file(live);
            QVERIFY(file.open(QIODevice::Append));
            QVERIFY(file.write(QByteArray(blockSize, 'g')) == blockSize);
        }
    };
    const bool grownFirst = change == "grown before it was opened";
    CZipper zipper;
    zipper.setWorkerCount(workers);
    CZipperSpies spies(zipper, false);
    const bool beforeOpen = change == "removed before it was opened";
    if (beforeOpen || grownFirst)
        connect(&zipper, &CZipper::zipStarted, &zipper, changeLive);
    else
        connect(&zipper, &CZipper::zipProgress, &zipper, [&] {
            if (!changed && isOpenHere(canonical))
                changeLive();
        });
    if (beforeOpen)
        expect(QtWarningMsg, "skipping " + live + " , it was removed before it could be packed");
    if (change == "truncated")
        CExpect::recordMatching(QtWarningMsg, "CZipper.cpp", "CZipper::zip",
                                QRegularExpression::escape(live) +
                                    " shrank while it was packed: packed \\d+ of " +
                                    QString::number(size) + " bytes");
    QVERIFY(zipper.zip(dir + "logs", dir + "live.zip", false));
    QVERIFY(changed);
    QCOMPARE(spies.error.size(), 0);
    QCOMPARE(spies.progress.size(), beforeOpen ? 4 : 5);
    const CZipListing listing(dir + "live.zip");
    QVERIFY(listing.valid);
    QStringList names{"a.log", "live.log", "sub/", "sub/b.log", "z.log"};
    if (beforeOpen)
        names.removeOne("live.log");
    QCOMPARE(listing.sortedNames(), names);
    for (int i = 0; i < listing.names.size(); ++i) {
        const QString& name = listing.names.at(i);
        if (name == "live.log") {
            const qint64 packed = listing.sizes.at(i);
            if (change == "truncated")
                QVERIFY2(packed >= truncated && packed < size, qPrintable(QString::number(packed)));
            else
                QCOMPARE(packed, grownFirst ? size + blockSize : size);
            QCOMPARE(listing.hashes.at(i), sha256(grownFirst ? original + QByteArray(blockSize, 'g')
                                                             : original.left(packed)));
        } else if (!name.endsWith('/')) {
            QCOMPARE(listing.hashes.at(i), sha256(CTestTree::content(dir + "logs/" + name)));
        }
    }
}

void tst_CZipper::packsAFullEntryCount_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("one short of the end record's count") << 0xFFFE;
    // The count that says a zip64 record follows: it is written, and both forms are read back.
    QTest::newRow("the end record's largest count") << 0xFFFF;
    QTest::newRow("one past it") << 0x10000;
}

// Entry counts around the end record's 16-bit limit: every reader finds every entry.
void tst_CZipper::packsAFullEntryCount()
{
    QFETCH(int, count);
    const QString logs = environment->makeDir("logs");
    for (int i = 0; i < count; ++i) {
        QFile file(logs + QString::number(i));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    CZipper zipper;
    QVERIFY2(zipper.zip(logs, dir + "full.zip", false), qPrintable(zipper.lastError()));
    const CZipListing listing(dir + "full.zip");
    QVERIFY(listing.valid);
    QCOMPARE(listing.names.size(), count);
    QCOMPARE(shell(QString("bsdtar -tf '%1' | wc -l | grep -qx %2 && 7z t '%1' >/dev/null")
                       .arg(dir + "full.zip")
                       .arg(count)),
             QString());
}

// Info-ZIP's unzip restores the stored modes: run as an ordinary user, it extracts every folder
// and file readable, keeping the modes the folders had.
void tst_CZipper::foldersExtractReadable()
{
    QVERIFY(CTestTree::make(dir, "logs/a/b/deep.log=deep;logs/private/@750;"
                                 "logs/private/p.log=p@600;logs/top.log=top@640"));
    const QString target = dir + "modes.zip";
    CZipper zipper;
    QVERIFY(zipper.zip(dir + "logs", target, false));
    const QString out = dir + "out/";
    QVERIFY(QDir().mkpath(out));
    QString asUser;
    if (::geteuid() == 0) {
        QVERIFY(QFile::setPermissions(dir, QFile::Permissions(0x7755)));
        QVERIFY(QFile::setPermissions(out, QFile::Permissions(0x7777)));
        QVERIFY(QFile::setPermissions(target, QFile::Permissions(0x6644)));
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    QCOMPARE(shell(asUser + QString("sh -c 'unzip -q \"$0\" -d \"$1\" && "
                                    "find \"$1\" -type f -exec cat {} + >/dev/null' '%1' '%2'")
                                .arg(target, out)),
             QString());
    QCOMPARE(CTestTree::describe(out), "a/;a/b/;a/b/deep.log=deep;private/@750;"
                                       "private/p.log=p@600;top.log=top@640");
}

void tst_CZipper::storesDatesReadersAccept_data()
{
    QTest::addColumn<QString>("modified");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("restored");
    // A clock that starts at 1970 before the network time arrives, and one far ahead.
    QTest::newRow("1970") << "1970-01-02 00:00:00"
                          << "1980-01-01 00:00:00"
                          << "1970-01-02 00:00:00";
    QTest::newRow("2020") << "2020-05-05 12:34:56"
                          << "2020-05-05 12:34:56"
                          << "2020-05-05 12:34:56";
    QTest::newRow("2110") << "2110-06-01 00:00:00"
                          << "2107-12-31 23:59:58" << QString();
}

void tst_CZipper::storesDatesReadersAccept()
{
    QFETCH(QString, modified);
    QFETCH(QString, stored);
    QFETCH(QString, restored);
    QVERIFY(CTestTree::make(dir, "logs/a.log=a"));
    const QDateTime time = QDateTime::fromString(modified, "yyyy-MM-dd hh:mm:ss");
    QFile log(dir + "logs/a.log");
    QVERIFY(log.open(QIODevice::ReadWrite));
    QVERIFY(log.setFileTime(time, QFileDevice::FileModificationTime));
    log.close();
    const QString target = dir + "dates.zip";
    CZipper zipper;
    QVERIFY(zipper.zip(dir + "logs", target, false));
    const CZipListing listing(target);
    QVERIFY(listing.valid);
    QCOMPARE(listing.times, QStringList{stored});
    QCOMPARE(shell(QString("bsdtar -tvf '%1' | grep -q ' a.log$'").arg(target)), QString());
    // Info-ZIP's unzip restores the true time from the extended time stamp where it fits.
    if (!restored.isEmpty()) {
        QCOMPARE(shell(QString("unzip -q '%1' -d '%2'").arg(target, dir + "out")), QString());
        QCOMPARE(QFileInfo(dir + "out/a.log").lastModified().toString("yyyy-MM-dd hh:mm:ss"),
                 restored);
    }
}

void tst_CZipper::jobTable()
{
    CZipper zipper;
    QVERIFY(zipper.addZipJob("/a", "/t.zip"));
    expect(QtCriticalMsg, "job already exists: /a /t.zip", "addZipJob");
    QVERIFY(!zipper.addZipJob("/a", "/t.zip"));
    // One target per source: the new one replaces the old.
    QVERIFY(zipper.addZipJob("/a", "/u.zip"));
    QVERIFY(!zipper.removeZipJob("/a", "/t.zip"));
    QVERIFY(!zipper.removeZipJob("/b", "/u.zip"));
    QVERIFY(zipper.removeZipJob("/a", "/u.zip"));
    QVERIFY(zipper.addZipJob("/b", "/t.zip"));
    zipper.clearZipJobs();
    QSignalSpy jobsStarted(&zipper, &CZipper::jobsStarted);
    QSignalSpy jobsFinished(&zipper, &CZipper::jobsFinished);
    CZipperSpies spies(zipper, false);
    expect(QtWarningMsg, "nothing to do ..", "processZipJobs");
    zipper.processZipJobs();
    QCOMPARE(jobsStarted.size() + jobsFinished.size(), 2);
    QCOMPARE(spies.started.size() + spies.error.size(), 0);
}

// A vanished source leaves the table silently, a failing job does not stop the pass, and the
// next pass appends to the archive the first one wrote what the folder holds then.
void tst_CZipper::passesOverJobs()
{
    const QString failing = environment->writeFile("a.log", "a");
    const QString folder = environment->makeDir("folder.zip");
    const QString good = environment->writeFile("logs/first.log", "first").chopped(9);
    CZipper zipper;
    QVERIFY(zipper.addZipJob(failing, folder));
    QVERIFY(zipper.addZipJob(good, dir + "good.zip"));
    QVERIFY(zipper.addZipJob(dir + "missing", dir + "missing.zip"));
    QSignalSpy jobsFinished(&zipper, &CZipper::jobsFinished);
    CZipperSpies spies(zipper, false);
    for (int pass = 1; pass <= 2; ++pass) {
        expect(QtCriticalMsg, "failed to zip: " + failing + ' ' + folder, "processZipJobs");
        zipper.processZipJobs();
        QCOMPARE(jobsFinished.size(), pass);
        QCOMPARE(spies.error.size(), pass);
        QCOMPARE(spies.started.size(), pass);
        environment->writeFile("logs/first.log", "newer");
        environment->writeFile("logs/second.log", "second");
    }
    // The second pass packed the folder again, and unpacking takes the newer versions.
    QCOMPARE(spies.progress.size(), 3);
    const CZipListing listing(dir + "good.zip");
    QVERIFY(listing.valid);
    QCOMPARE(listing.sortedNames(), (QStringList{"first.log", "first.log", "second.log"}));
    QVERIFY(zipper.unzip(dir + "good.zip", dir + "out"));
    QCOMPARE(CTestTree::describe(dir + "out/"), "first.log=newer;second.log=second");
    QVERIFY(!QFileInfo::exists(dir + "missing.zip"));
    QVERIFY(!zipper.removeZipJob(dir + "missing", dir + "missing.zip"));
    QVERIFY(zipper.removeZipJob(good, dir + "good.zip"));
}

QTEST_GUILESS_MAIN(tst_CZipper)
#include "tst_CZipper.moc"
