#include "IniFile/zip/CZipper.h"

#include "common/CExpect.h"
#include "common/CFaultInjection.h"
#include "common/CTestChild.h"
#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
#include "common/CZipListing.h"
#include "common/CZipperSpies.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <thread>

#include <unistd.h>

using namespace ZipperRecords;

class tst_CZipperFailures : public CEnvironmentTest
{
    Q_OBJECT

private Q_SLOTS:
    void checkFailures_data();
    void checkFailures();
    void failsAfterStart_data();
    void failsAfterStart();
    void skipsWhatIsNoFile();
    void leavesNothingOutSilently_data();
    void leavesNothingOutSilently();
    void failsOnFullDisk_data();
    void failsOnFullDisk();
    void killedWhileAdding();
    void checkReadsTheStorage_data();
    void checkReadsTheStorage();
    void checkCatchesCorruption_data();
    void checkCatchesCorruption();
    void readErrorFails();
    void keepsGoingPastUnreadableFiles_data();
    void keepsGoingPastUnreadableFiles();
    void abortDuringLargeFile();
};

void tst_CZipperFailures::checkFailures_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("append");
    QTest::addColumn<QString>("target");
    QTest::newRow("root") << "/" << false << "new.zip";
    QTest::newRow("missing source") << "missing" << false << "new.zip";
    QTest::newRow("new archive over an existing file") << "logs" << false << "existing.zip";
    QTest::newRow("append to a missing archive") << "logs" << true << "new.zip";
    QTest::newRow("target is a folder") << "logs" << false << "folder.zip";
}

// Failed checks create nothing, log nothing and change nothing.
void tst_CZipperFailures::checkFailures()
{
    QFETCH(QString, source);
    QFETCH(bool, append);
    QFETCH(QString, target);
    const QString base = environment->makeDir("work");
    QVERIFY(CTestTree::make(base, "logs/a.log=a;existing.zip=not touched;folder.zip/"));
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    QVERIFY(!zipper.zip(source == "/" ? source : base + source, base + target, append));
    QCOMPARE(spies.error.size(), 1);
    QCOMPARE(spies.error.first().first().toUInt(), 0u);
    QCOMPARE(spies.started.size() + spies.progress.size(), 0);
    QCOMPARE(CTestTree::describe(base), "existing.zip=not touched;folder.zip/;logs/;logs/a.log=a");
}

void tst_CZipperFailures::failsAfterStart_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    // %1 stands for the target, %2 for the unreadable file.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("target folder missing") << "logs/sub/locked.log"
                                           << "missing/a.zip"
                                           << "failed to create zip target: %1" << QStringList();
    QTest::newRow("unreadable file") << "logs"
                                     << "locked.zip"
                                     << "failed to open sourceFile: %2" << QStringList{"sub/"};
}

void tst_CZipperFailures::failsAfterStart()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(QString, text);
    QFETCH(QStringList, kept);
    const QString locked = environment->writeFile("logs/sub/locked.log", "x");
    if (!kept.isEmpty()) {
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
        if (QFile(locked).open(QIODevice::ReadOnly))
            QSKIP("permission bits do not apply to this user");
    }
    text.replace("%1", dir + target).replace("%2", locked);
    // A "zip target" record ends with the library's error code.
    CExpect::recordMatching(QtCriticalMsg, "CZipper.cpp", "CZipper::zip",
                            QRegularExpression::escape(text) +
                                (text.contains("zip target") ? " -?\\d+( - .+)?" : ""));
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    QVERIFY(!zipper.zip(dir + source, dir + target, false));
    QCOMPARE(spies.started.size() + spies.error.size(), 2);
    QCOMPARE(spies.finished.size(), 0);
    // What was written before the failure stays, as a complete archive.
    const CZipListing listing(dir + target);
    QCOMPARE(listing.names, kept);
    QCOMPARE(listing.valid, !kept.isEmpty());
}

// A FIFO and a dangling link are skipped with a warning, without blocking; they still count.
void tst_CZipperFailures::skipsWhatIsNoFile()
{
    const QString source = environment->writeFile("logs/a.log", "a").chopped(5);
    QVERIFY(QProcess::execute("mkfifo", {source + "pipe"}) == 0);
    QVERIFY(QFile::link(dir + "nowhere", source + "dangling"));
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    for (const char* name : {"pipe", "dangling"})
        expect(QtWarningMsg, "skipping " + source + name + " , not a file ...");
    QVERIFY(zipper.zip(source, dir + "skip.zip", false));
    QCOMPARE(spies.progress.size(), 1);
    QCOMPARE(spies.progress.first().at(0).toUInt(), 3u);
    QCOMPARE(CZipListing(dir + "skip.zip").names, QStringList{"a.log"});
}

void tst_CZipperFailures::leavesNothingOutSilently_data()
{
    QTest::addColumn<QList<QByteArray>>("paths");
    QTest::addColumn<QString>("locked");
    // %R stands for the packed folder.
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QList<QByteArray>>("names");
    QByteArray deep;
    for (int level = 0; level < 24; ++level)
        deep += QByteArray(180, char('a' + level)) + '/';
    const auto row = [](const char* tag, const QList<QByteArray>& paths, const char* locked,
                        const QStringList& warnings, const QList<QByteArray>& names) {
        QTest::newRow(tag) << paths << QString(locked) << warnings << names;
    };
    row("file name not UTF-8", {"ok.log", "caf\xe9.log"}, nullptr, {}, {"caf\xe9.log", "ok.log"});
    row("folder name not UTF-8", {"bad\xff/inner.log", "bad\xff/Größe/", "ok/"}, nullptr, {},
        {"bad\xff/", "bad\xff/Größe/", "bad\xff/inner.log", "ok/"});
    row("path longer than the system opens", {"ok.log", deep + "deep.log"}, nullptr,
        {"skipping %R" + QString::fromLatin1(deep) + "deep.log , path longer than 4095 bytes"},
        {"ok.log"});
    row("unreadable folder", {"ok.log", "locked/inner.log"}, "locked",
        {"skipping %Rlocked , cannot read folder: Permission denied"}, {"locked/", "ok.log"});
}

// What cannot be packed is named in a warning; names that are not UTF-8 are packed as they
// are, without the UTF-8 flag.
void tst_CZipperFailures::leavesNothingOutSilently()
{
    QFETCH(QList<QByteArray>, paths);
    QFETCH(QString, locked);
    QFETCH(QStringList, warnings);
    QFETCH(QList<QByteArray>, names);
    const QString root = environment->makeDir("logs");
    QVERIFY(CTestTree::makeByName(root, paths));
    if (!locked.isEmpty()) {
        QVERIFY(QFile::setPermissions(root + locked, QFileDevice::Permissions()));
        if (QDir(root + locked).isReadable()) {
            CTestTree::unlock(root);
            QSKIP("permission bits do not apply to this user");
        }
    }
    for (const QString& warning : std::as_const(warnings))
        CExpect::record(QtWarningMsg, "CDirIterator.cpp", "CDirIterator::dirIterate",
                        QString(warning).replace("%R", root));
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    const bool zipped = zipper.zip(root, dir + "out.zip", false);
    CTestTree::unlock(root);
    CTestTree::removeByName(root);
    QVERIFY(zipped);
    const CZipListing listing(dir + "out.zip");
    QVERIFY(listing.valid);
    QList<QByteArray> stored = listing.rawNames;
    // The folders on the way to the long path are packed as far as they can be named.
    stored.removeIf([&](const QByteArray& name) { return name.startsWith("aaaa"); });
    std::sort(stored.begin(), stored.end());
    QCOMPARE(stored, names);
    QCOMPARE(spies.progress.size(), listing.names.size());
    for (const QByteArray& name : names) {
        const bool nonAscii =
            std::any_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) >= 0x80; });
        QCOMPARE(listing.utf8Names.contains(QString::fromUtf8(name)),
                 nonAscii && QString::fromUtf8(name).toUtf8() == name);
    }
}

void tst_CZipperFailures::failsOnFullDisk_data()
{
    QTest::addColumn<qint64>("logSize");
    QTest::addColumn<qint64>("free");
    QTest::addColumn<bool>("append");
    QTest::addColumn<bool>("masked");
    // Small enough to stay in the archive file's buffer until the last flush.
    QTest::newRow("at the last flush") << qint64(4000) << qint64(4096) << false << false;
    QTest::newRow("while the entries are written")
        << 3 * blockSize << qint64(256 * 1024) << false << false;
    QTest::newRow("added to an archive") << 3 * blockSize << qint64(256 * 1024) << true << false;
    // A value on every line: the list of what was masked, kept beside the archive, fills the
    // disk long before the archive does.
    QTest::newRow("the list of masked values")
        << 3 * blockSize << qint64(256 * 1024) << false << true;
}

// A disk that fills up while the archive is written makes zip fail with the system's cause,
// however late the failure comes; an archive added to keeps its old version whole.
void tst_CZipperFailures::failsOnFullDisk()
{
    QFETCH(qint64, logSize);
    QFETCH(qint64, free);
    QFETCH(bool, append);
    QFETCH(bool, masked);
    SY_IN_MOUNT_NAMESPACE();
    const QString disk = environment->makeDir("disk");
    if (!CTestChild::mount({"-t", "tmpfs", "-o", "size=1m", "sy-full", disk}))
        QSKIP("tmpfs cannot be mounted here");
    // A mount point left behind would keep the temporary folders from being removed.
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {disk}); });
    QByteArray old;
    if (append) {
        QVERIFY(CTestTree::write(dir + "old/old.log", "old"));
        QVERIFY(CZipper().zip(dir + "old", disk + "out.zip", false));
        old = CTestTree::content(disk + "out.zip");
    }
    QByteArray log = CTestTree::noise(masked ? 0 : logSize);
    while (log.size() < (masked ? logSize : 0))
        log += "GET /a Authorization: Bearer abc\n";
    QVERIFY(CTestTree::write(dir + "logs/a.log", log));
    QVERIFY(CTestTree::fill(disk, free));
    CExpect::recordMatching(QtCriticalMsg, "CZipper.cpp", "CZipper::zip",
                            "(failed to write|error zipping file): .* - No space left on device");
    CZipper zipper;
    zipper.setCredentialMasking(masked);
    CZipperSpies spies(zipper, false);
    QVERIFY(!zipper.zip(dir + "logs", disk + "out.zip", append));
    QCOMPARE(zipper.lastError(), "No space left on device");
    QCOMPARE(spies.error.size(), 1);
    QCOMPARE(spies.finished.size(), 0);
    if (append) {
        QCOMPARE(CTestTree::content(disk + "out.zip"), old);
        QCOMPARE(QDir(disk).entryList(QDir::Hidden | QDir::Files).filter(".syncarium"), {});
    }
    QCOMPARE(QDir(disk).entryList(QDir::Hidden | QDir::Files).filter(".masked-"), {});
}

// Killed at any point, adding to an archive leaves it old, byte for byte, or new and whole, and
// the next addition leaves nothing of the killed one behind.
void tst_CZipperFailures::killedWhileAdding()
{
    if (CFaultInjection::isInjected()) {
        CZipper zipper;
        CFaultInjection::arm();
        // The files to add lie beside the folder, out of the shim's reach.
        QVERIFY(zipper.zip(QFileInfo(CFaultInjection::folder()).path() + "/new",
                           CFaultInjection::folder() + "/out.zip", true));
        return;
    }
    QVERIFY(CTestTree::make(dir, "new/c.log=c;old/a.log=a"));
    // Larger than what the archive file gathers before it writes.
    QVERIFY(CTestTree::write(dir + "new/b.log", CTestTree::noise(600 * 1024)));
    const QString archive = environment->makeDir("archive") + "out.zip";
    QVERIFY(CZipper().zip(dir + "old", archive, false));
    const QByteArray old = CTestTree::content(archive);
    CFaultPlan plan;
    plan.pathPrefix = dir + "archive";
    CZipper zipper;
    const int points = CFaultInjection::killSweep(
        plan,
        [&] {
            QDir(dir + "archive").removeRecursively();
            QVERIFY(CTestTree::write(archive, old));
        },
        [&](int) {
            const QStringList added{"a.log", "b.log", "c.log"};
            QVERIFY(CTestTree::content(archive) == old ||
                    CZipListing::checkedNames(archive) == added);
            QVERIFY(zipper.zip(dir + "new", archive, true));
            QCOMPARE(QDir(dir + "archive").entryList(QDir::Files | QDir::Hidden), {"out.zip"});
        });
    qInfo("adding to an archive: %d kill points", points);
}

void tst_CZipperFailures::checkReadsTheStorage_data()
{
    QTest::addColumn<bool>("fuse");
    // The loop device's image is changed behind the file system.
    QTest::newRow("loop-mounted ext4 changed behind it") << false;
    // A network or FUSE home that keeps other bytes than it was given.
    QTest::newRow("FUSE home storing a flipped bit") << true;
}

// A disk that stores other bytes than it was given is caught, though the system's cache still
// holds the right ones.
void tst_CZipperFailures::checkReadsTheStorage()
{
    QFETCH(bool, fuse);
    SY_IN_MOUNT_NAMESPACE();
    const QString disk = environment->makeDir("disk");
    const QString image = dir + "disk.img";
    const QString logs = environment->makeDir("logs");
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {disk}); });
    if (fuse) {
        if (!CFaultInjection::mountCorrupting(environment->makeDir("store"), disk, 100000))
            QSKIP("no /dev/fuse or no bindfs here");
    } else {
        QVERIFY(CTestTree::write(image, {}) && QFile::resize(image, 32 << 20));
        if (QProcess::execute("mkfs.ext4", {"-q", "-F", image}) != 0 ||
            !CTestChild::mount({"-o", "loop", image, disk}))
            QSKIP("no loop-mounted ext4 here");
    }
    QVERIFY(CTestTree::write(logs + "dump.bin", CTestTree::noise(256 * 1024)));
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    connect(&zipper, &CZipper::verifyStarted, this, [&] {
        if (fuse)
            return;
        QProcess extents;
        extents.start("filefrag", {"-v", "-b4096", disk + "out.zip"});
        QVERIFY(extents.waitForFinished(30000));
        // "   0:        0..      63:      34816..     34879:     64:   last,eof"
        const QRegularExpressionMatch first =
            QRegularExpression(R"(^\s*0:\s+0\.\.\s*\d+:\s+(\d+)\.\.)",
                               QRegularExpression::MultilineOption)
                .match(QString::fromLatin1(extents.readAllStandardOutput()));
        QVERIFY(first.hasMatch());
        QFile raw(image);
        QVERIFY(raw.open(QIODevice::ReadWrite));
        QVERIFY(raw.seek(first.captured(1).toLongLong() * 4096 + 100000));
        const char byte = raw.peek(1).at(0);
        QCOMPARE(raw.write(QByteArray(1, char(byte ^ 0x20))), 1);
        QVERIFY(raw.flush());
    });
    CExpect::recordMatching(QtCriticalMsg, "CZipper.cpp", "CZipper::zip",
                            "archive check failed: .*dump.bin - .*");
    QVERIFY(!zipper.zip(logs, disk + "out.zip", false));
    QVERIFY2(zipper.lastError().contains("did not read back"), qPrintable(zipper.lastError()));
}

void tst_CZipperFailures::checkCatchesCorruption_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("entry data") << QString("data");
    QTest::newRow("name in a local header") << QString("local name");
    QTest::newRow("central directory") << QString("central");
    QTest::newRow("end record") << QString("end");
    // Fields only some readers act on: bsdtar compares the local CRC-32, unzip skips an entry
    // asking for a newer version, 7-Zip refuses other disks, unzip restores the file type.
    QTest::newRow("local CRC-32 before the data descriptor") << QString("local crc");
    QTest::newRow("local version needed") << QString("local version");
    QTest::newRow("central version needed") << QString("central version");
    QTest::newRow("central disk number") << QString("central disk");
    QTest::newRow("central file type") << QString("central type");
    QTest::newRow("end record's disk number") << QString("end disk");
}

// A byte changed in the archive between its writing and its check fails zip, naming the entry.
void tst_CZipperFailures::checkCatchesCorruption()
{
    QFETCH(QString, where);
    // The entry the failure names; none for the end record.
    const QString entry = where.startsWith("end") ? "-" : "b.log";
    QVERIFY(CTestTree::make(dir, "logs/b.log=*300000"));
    const QString target = dir + "bad.zip";
    CZipper zipper;
    CZipperSpies spies(zipper, false);
    QSignalSpy verifyStarted(&zipper, &CZipper::verifyStarted);
    connect(&zipper, &CZipper::verifyStarted, &zipper, [&] {
        QFile archive(target);
        QVERIFY(archive.open(QIODevice::ReadWrite));
        const QByteArray bytes = archive.readAll();
        // The only entry's local header is at the start, the central directory's offset is
        // given in the end record.
        const auto at16 = [&](qsizetype at) {
            return qsizetype(uchar(bytes.at(at)) | uchar(bytes.at(at + 1)) << 8);
        };
        const qsizetype directory = at16(bytes.size() - 6) | at16(bytes.size() - 4) << 16;
        const QMap<QString, qsizetype> offsets{{"data", 30 + at16(26) + at16(28) + 20},
                                               {"local name", 30},
                                               {"local crc", 14},
                                               {"local version", 4},
                                               {"central", directory + 10},
                                               {"central version", directory + 6},
                                               {"central disk", directory + 34},
                                               {"central type", directory + 41},
                                               {"end", bytes.size() - 22},
                                               {"end disk", bytes.size() - 22 + 4}};
        const qsizetype offset = offsets.value(where);
        QVERIFY(archive.seek(offset));
        QVERIFY(archive.putChar(char(bytes.at(offset) ^ 0x10)));
    });
    CExpect::recordMatching(QtCriticalMsg, "CZipper.cpp", "CZipper::zip",
                            "archive check failed: " + QRegularExpression::escape(target) + ' ' +
                                entry + " - .+");
    QVERIFY(!zipper.zip(dir + "logs", target, false));
    QCOMPARE(verifyStarted.size(), 1);
    QCOMPARE(spies.error.size(), 1);
    QCOMPARE(spies.finished.size(), 0);
    QVERIFY2(zipper.lastError().startsWith(entry == "-"
                                               ? QString("the archive did not read back")
                                               : "entry \"" + entry + "\" did not read back"),
             qPrintable(zipper.lastError()));
}

// A device's power attribute opens as a regular file of one page, and reading it fails while
// the device does not suspend on its own.
void tst_CZipperFailures::readErrorFails()
{
    const QString source = "/sys/devices/software/power/autosuspend_delay_ms";
    QFile probe(source);
    char byte = 0;
    if (!QFileInfo(source).isFile() || !probe.open(QIODevice::ReadOnly) ||
        probe.read(&byte, 1) >= 0)
        QSKIP("no file whose read fails here");
    for (int workers : {1, 4}) {
        const QString target = dir + QString("attribute%1.zip").arg(workers);
        CZipper zipper;
        zipper.setWorkerCount(workers);
        CZipperSpies spies(zipper, false);
        expect(QtCriticalMsg, "failed to read: " + source);
        QVERIFY(!zipper.zip(source, target, false));
        QCOMPARE(spies.error.size(), 1);
        QCOMPARE(spies.finished.size() + spies.progress.size(), 0);
        QCOMPARE(zipper.lastError(), "\"" + source + "\" could not be read");
        QCOMPARE(CZipListing::checkedNames(target), QStringList{"autosuspend_delay_ms"});
    }
}

void tst_CZipperFailures::keepsGoingPastUnreadableFiles_data()
{
    QTest::addColumn<QString>("calls");
    QTest::addColumn<int>("at");
    QTest::addColumn<QString>("why");
    QTest::addColumn<qint64>("packed");
    // A log on a share that answers EIO: at its open, or after its first block.
    QTest::newRow("open fails") << "open" << 1 << "it could not be opened: Input/output error"
                                << qint64(-1);
    QTest::newRow("read fails after the first block")
        << "read" << 2 << "a read failed; packed 4194304 of 12582912 bytes" << blockSize;
}

// One log that cannot be read must not cost the others their archive: the log is left out or
// packed as far as it could be read, and the archive says so.
void tst_CZipperFailures::keepsGoingPastUnreadableFiles()
{
    QFETCH(QString, calls);
    QFETCH(int, at);
    QFETCH(QString, why);
    QFETCH(qint64, packed);
    if (CFaultInjection::isInjected()) {
        const QString logs = QFileInfo(CFaultInjection::folder()).path() + '/';
        CZipper zipper;
        zipper.setSkipUnreadable(true);
        // Workers of their own would read blocks ahead, in any order: the second read would
        // not always be the second block's.
        zipper.setWorkerCount(1);
        CFaultInjection::arm();
        QVERIFY(zipper.zip(logs, logs + "../packed.zip", false));
        QCOMPARE(zipper.leftOut(), QStringList{"share.log: " + why});
        return;
    }
    QVERIFY(CTestTree::make(dir, "logs/a.log=first;logs/z.log=last;logs/left-out.txt=mine"));
    QVERIFY(CTestTree::write(dir + "logs/share.log", CTestTree::noise(3 * blockSize)));
    CFaultPlan plan;
    plan.calls = calls;
    plan.pathPrefix = dir + "logs/share.log";
    plan.at = at;
    plan.sticky = true;
    const CFaultOutcome outcome = CFaultInjection::runCurrentCase(plan);
    QVERIFY2(outcome.passed, outcome.output.right(3000).constData());
    QVERIFY(outcome.output.contains(why.startsWith("it") ? "skipping" : "could not be read"));
    const CZipListing listing(dir + "packed.zip");
    QVERIFY(listing.valid);
    QStringList names{"a.log", "left-out-2.txt", "left-out.txt", "z.log"};
    if (packed >= 0)
        names.insert(3, "share.log");
    QCOMPARE(listing.sortedNames(), names);
    if (packed >= 0)
        QCOMPARE(listing.sizes.at(listing.names.indexOf("share.log")), packed);
}

void tst_CZipperFailures::abortDuringLargeFile()
{
    const qint64 chunk = 4 * 1024 * 1024;
    const qint64 size = 16 * chunk + 123;
    const QString source = environment->writeFile("big.bin", CTestTree::noise(size));
    for (int workers : {1, 4}) {
        const QString target = dir + QString("big%1.zip").arg(workers);
        CZipper zipper;
        zipper.setWorkerCount(workers);
        CZipperSpies spies(zipper, false);
        std::atomic<bool> done(false);
        // Random data deflates slowly: the copy is still in its first chunks when it grows.
        std::thread aborter([&] {
            for (int i = 0; i < 60000 && !done; ++i) {
                if (QFileInfo(target).size() > 64 * 1024)
                    return zipper.abort();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const CRecordCounter aborts(" CZipper::zip \\] aborting \\.\\.\\.$");
        expect(QtCriticalMsg, "aborting ...");
        const bool result = zipper.zip(source, target, false);
        done = true;
        aborter.join();
        QVERIFY(result);
        QCOMPARE(aborts.count(), 1);
        QVERIFY(!zipper.isAborted());
        QCOMPARE(spies.error.size(), 0);
        QCOMPARE(spies.finished.size(), 1);
        QCOMPARE(spies.progress.size(), 1);
        const qint64 bytes = spies.progress.first().at(2).toLongLong();
        QVERIFY2(bytes > 0 && bytes < size && bytes % chunk == 0,
                 qPrintable(QString::number(bytes)));
        const CZipListing listing(target);
        QVERIFY(listing.valid);
        QCOMPARE(listing.names, QStringList{"big.bin"});
        QCOMPARE(listing.sizes, QList<qint64>{bytes});
    }
}

QTEST_GUILESS_MAIN(tst_CZipperFailures)
#include "tst_CZipperFailures.moc"
