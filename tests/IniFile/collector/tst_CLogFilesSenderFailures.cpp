#include "IniFile/collector/CLogFilesSender.h"

#include "IniFile/collector/CArchiveSpace.h"
#include "common/CExpect.h"
#include "common/CLogFilesSenderTest.h"
#include "common/CTestChild.h"
#include "common/CTestTree.h"
#include "common/CZipListing.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <functional>

#include <unistd.h>

// What a run leaves when there is no room or the packing or the placing fails, and the rotation
// of old logs, which keeps what no archive holds.
class tst_CLogFilesSenderFailures : public CLogFilesSenderTest
{
    Q_OBJECT

private Q_SLOTS:
    void failures_data();
    void failures();
    void roomBeforePacking_data();
    void roomBeforePacking();
    void rotation_data();
    void rotation();
    void rotationKeepsWhatNoArchiveHolds_data();
    void rotationKeepsWhatNoArchiveHolds();
};

void tst_CLogFilesSenderFailures::failures_data()
{
    // What fails: none: there is nothing to pack; "folder": a folder stands where the archive
    // should land (fails as root too); "desktop", "working": that folder is a full file system
    // (root only, to mount it).
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* tag, const char* cause, const char* message) {
        QTest::newRow(tag) << QString(cause) << QString(message);
    };
    row("nothing to pack: no folder request", "", "could not be packed");
    row("placing fails: the working folder is opened", "folder", "could not be put into");
    // The copy fails: the earlier archive of the name stays whole, the new one stays too.
    row("full desktop keeps both archives", "desktop", "could not be put into");
    // The message names the folder and the zipper's cause, not the logs.
    row("full working directory leaves no partial archive", "working",
        "No log archive could be made in");
}

void tst_CLogFilesSenderFailures::failures()
{
    QFETCH(QString, cause);
    QFETCH(QString, message);
    const bool full = cause == "desktop" || cause == "working";
    const bool archiveKept = cause == "folder" || cause == "desktop";
    if (full && ::geteuid() != 0)
        QSKIP("needs root to mount a small file system");
    writeSample(cause.isEmpty() ? "" : "error backup logs");
    if (full) {
        // Data that compresses to almost nothing wherever the room check samples it, and data
        // that does not between the samples: the room looks ample, and the disk fills all the
        // same.
        QByteArray content;
        for (int share = 0; share < CArchiveSpace::samples; ++share)
            content += QByteArray(CArchiveSpace::sampleSize / CArchiveSpace::samples, '\0') +
                       CTestTree::noise(16 * 1024);
        QVERIFY(CTestTree::write(logs + "noise.log", content));
        const QString folder = cause == "desktop" ? output : environment->makeDir("full");
        if (!mountSmall(folder, "64k"))
            QSKIP("could not mount a tmpfs");
        QVERIFY(cause == "desktop" || QDir::setCurrent(folder));
    }
    CLogFilesSender sender;
    const QString working = QDir::currentPath() + '/' + sender.targetFile();
    if (cause == "folder")
        QVERIFY(QDir().mkpath(output + sender.targetFile()));
    if (cause == "desktop") {
        QVERIFY(CTestTree::write(output + sender.targetFile(), "the earlier archive"));
        // Room for what the check expects, not for the archive.
        QVERIFY(CTestTree::fill(output, 32 * 1024));
    }
    if (archiveKept) {
        expect(QtCriticalMsg, "could not place " + working + " in " + output);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("placing failed: "));
    } else {
        if (cause.isEmpty()) {
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("failed to copy"));
            expect(QtCriticalMsg, "Failed to Copy LogsBackupFolder!");
        }
        expect(QtCriticalMsg, "could not zip " + logs);
    }
    int urlsAtFailure = -1;
    connect(&sender, &CLogFilesSender::failed, this,
            [&urlsAtFailure, this] { urlsAtFailure = recorder.urls.size(); });
    QSignalSpy failed(&sender, &CLogFilesSender::failed);
    QVERIFY(run(sender));
    QCOMPARE(failed.size(), 1);
    // A full desktop is named as the cause, so that the user knows to make room there.
    const QString told = failed.at(0).at(0).toString();
    QVERIFY2(told.contains(message) &&
                 (cause != "working" || !told.contains("could not be packed")) &&
                 (cause != "desktop" || told.contains("No space left on device")),
             qPrintable(told));
    // The user is told before the support form opens.
    QCOMPARE(urlsAtFailure, 0);
    QCOMPARE(recorder.opened(),
             archiveKept ? (QStringList{"form", QDir::currentPath() + '/'}) : QStringList{"form"});
    // The archive that could not be placed stays where it was made, and nothing else does.
    QCOMPARE(filesIn(QDir::currentPath()),
             archiveKept ? QStringList{sender.targetFile()} : QStringList());
    QVERIFY(partialsIn(output).isEmpty());
    if (archiveKept)
        QCOMPARE(CZipListing::checkedNames(working),
                 withReport(fullSample + (full ? QStringList{"noise.log"} : QStringList())));
    if (cause == "folder")
        QVERIFY(QFileInfo(output + sender.targetFile()).isDir());
    if (cause == "desktop")
        QCOMPARE(CTestTree::content(output + sender.targetFile()), "the earlier archive");
    if (cause == "working")
        QVERIFY(filesIn(output).isEmpty());
}

void tst_CLogFilesSenderFailures::roomBeforePacking_data()
{
    // A small file system is mounted on the desktop, and on the fallback folder too.
    QTest::addColumn<bool>("smallFallback");
    QTest::newRow("desktop full: the fallback folder takes the archive") << false;
    QTest::newRow("no room anywhere: nothing is written") << true;
}

// The room is compared before packing; the file systems are mounted in a mount namespace of
// the test's own, so they vanish with it.
void tst_CLogFilesSenderFailures::roomBeforePacking()
{
    QFETCH(bool, smallFallback);
    SY_IN_MOUNT_NAMESPACE();
    writeSample();
    // Data that does not compress: its archive needs all of its size.
    QVERIFY(CTestTree::write(logs + "noise.log", CTestTree::noise(1 << 20)));
    const QString fallback = appData + "Syncarium/logsForSend/";
    QVERIFY(mountSmall(output, "256k"));
    QVERIFY(!smallFallback || mountSmall(fallback, "256k"));
    QVERIFY(CTestTree::write(output + "earlier.zip", "the user's"));

    CLogFilesSender sender;
    QSignalSpy failed(&sender, &CLogFilesSender::failed);
    QSignalSpy notice(&sender, &CLogFilesSender::notice);
    int urlsWhenTold = -1;
    for (const auto signal : {&CLogFilesSender::failed, &CLogFilesSender::notice})
        connect(&sender, signal, this,
                [&urlsWhenTold, this] { urlsWhenTold = recorder.urls.size(); });
    if (smallFallback) {
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("no room for the archive, about "));
        expect(QtCriticalMsg, "no room for the archive of " + logs);
    } else {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no room in .* for the archive"));
    }
    QVERIFY(run(sender));
    QCOMPARE(urlsWhenTold, 0);
    QCOMPARE(CTestTree::content(output + "earlier.zip"), "the user's");
    for (const QString& folder : {QDir::currentPath() + '/', output, fallback})
        QVERIFY2(partialsIn(folder).isEmpty(), qPrintable(folder));
    QCOMPARE(failed.size(), smallFallback ? 1 : 0);
    QCOMPARE(notice.size(), smallFallback ? 0 : 1);
    QCOMPARE(filesIn(output), QStringList{"earlier.zip"});
    if (smallFallback) {
        const QString message = failed.at(0).at(0).toString();
        QVERIFY2(message.contains(QRegularExpression(
                     "^No log archive was made: it needs about 1\\.\\d+ MiB of free space, but "
                     ".*Schreibtisch/ has .* free and .*logsForSend/ has .* free\\.")),
                 qPrintable(message));
        QVERIFY(filesIn(fallback).isEmpty());
        QVERIFY(filesIn(QDir::currentPath()).isEmpty());
        QCOMPARE(recorder.opened(), QStringList{"form"});
        return;
    }
    const QString message = notice.at(0).at(0).toString();
    QVERIFY2(message.contains("Schreibtisch/") && message.contains(fallback), qPrintable(message));
    QCOMPARE(filesIn(fallback), QStringList{sender.targetFile()});
    QVERIFY(CZipListing(fallback + sender.targetFile()).valid);
    QCOMPARE(recorder.opened(), (QStringList{"form", fallback}));
}

void tst_CLogFilesSenderFailures::rotation_data()
{
    // "MM-DD" stands for the archive logs_2026-MM-DD_10.00.00.zip; the new one is 12-05.
    QTest::addColumn<QString>("present");
    QTest::addColumn<QString>("kept");
    const auto row = [](const char* tag, const char* present, const char* kept) {
        QTest::newRow(tag) << QString(present) << QString(kept);
    };
    row("foreign file goes first, until five remain", "a.txt 12-01 12-02 12-03 zz.txt",
        "12-01 12-02 12-03 12-05 zz.txt");
    row("prefix is case-sensitive; fewer than five", "LOGS_2026 12-02", "12-02 12-05");
    row("directories are neither counted nor deleted",
        "a_dir/ 11-30 12-01 12-02 12-03 12-04 logs_old/",
        "12-01 12-02 12-03 12-04 12-05 a_dir/ logs_old/");
    row("packing fails: the logs stay, the pruning runs",
        "11-01 11-02 11-03 11-04 11-05 11-06 12-05", "11-03 11-04 11-05 11-06 12-05");
}

void tst_CLogFilesSenderFailures::rotation()
{
    QFETCH(QString, present);
    QFETCH(QString, kept);
    const auto fileName = [](const QString& name) {
        return name.at(2) == '-' ? "logs_2026-" + name + "_10.00.00.zip" : name;
    };
    const QString oldLogs = environment->makeDir("logs_old");
    QVERIFY(CTestTree::make(oldLogs, "Syncarium_2026-12-04.log=yesterday;crash/dump.txt=stack"));
    const QString archives = environment->makeDir("archives");
    QStringList tree;
    for (const QString& name : present.split(' '))
        tree << (name.endsWith('/') ? name : fileName(name) + "=x");
    QVERIFY(CTestTree::make(archives, tree.join(';')));
    // An archive of the new one's name makes the packing fail.
    const bool fails = present.contains("12-05");
    const qsizetype zips = filesIn(archives).size() + (fails ? 0 : 1);
    const QString archive = archives + fileName("12-05");
    CLogFilesSender sender;
    sender.setOldLogsPaths(oldLogs, archive);
    sender.setArchiveNamePrefix("logs_");
    expect(QtDebugMsg, oldLogs + ' ' + archive, "saveLogs");
    if (fails)
        expect(QtCriticalMsg, "unable to zip " + oldLogs + " -> " + archive, "saveLogs");
    else
        expect(QtDebugMsg, "Logs saved successfully!", "saveLogs");
    expect(QtDebugMsg, QStringLiteral("Anzahl Zips:  %1").arg(zips), "saveLogs");
    sender.saveLogs();

    QStringList expected;
    for (const QString& name : kept.split(' '))
        expected.append(fileName(name));
    QStringList remaining = filesIn(archives);
    for (const QString& name : QDir(archives).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        remaining.append(name + '/');
    QCOMPARE(remaining, expected);
    if (fails) {
        QVERIFY(QFileInfo::exists(oldLogs + "Syncarium_2026-12-04.log"));
        return;
    }
    QCOMPARE(CZipListing::checkedNames(archive),
             (QStringList{"Syncarium_2026-12-04.log", "crash/", "crash/dump.txt"}));
    // The old-logs folder is emptied but stays.
    QVERIFY(QDir(oldLogs).exists());
    QCOMPARE(CTestTree::describe(oldLogs), "");
}

namespace {
// Lets a case touch the folder or the archive between the packing and the removal of the logs.
class CInterruptedSender : public CLogFilesSender
{
public:
    std::function<void()> meanwhile;

protected:
    void oldLogsPacked() override { meanwhile(); }
};
} // namespace

void tst_CLogFilesSenderFailures::rotationKeepsWhatNoArchiveHolds_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("kept");
    QTest::newRow("a log comes in") << "new.log"
                                    << "new.log=fresh";
    QTest::newRow("a log grows") << "a.log"
                                 << "a.log=packedfresh";
    QTest::newRow("the archive goes") << "archive"
                                      << "a.log=packed;crash/;crash/dump.txt=stack";
}

void tst_CLogFilesSenderFailures::rotationKeepsWhatNoArchiveHolds()
{
    QFETCH(QString, change);
    QFETCH(QString, kept);
    const QString oldLogs = environment->makeDir("logs_old");
    QVERIFY(CTestTree::make(oldLogs, "a.log=packed;crash/dump.txt=stack"));
    const QString archive = environment->makeDir("archives") + "logs_2026-12-05_10.00.00.zip";
    CInterruptedSender sender;
    sender.setOldLogsPaths(oldLogs, archive);
    sender.meanwhile = [&] {
        QFile log(oldLogs + change);
        if (change == "archive")
            QVERIFY(QFile::remove(archive));
        else
            QVERIFY(log.open(QIODevice::Append) && log.write("fresh") == 5 && log.flush());
    };
    const auto removal = [](QtMsgType type, const QString& text) {
        CExpect::record(type, "CPackedLogs.cpp", "CPackedLogs::removeFrom", text);
    };
    expect(QtDebugMsg, oldLogs + ' ' + archive, "saveLogs");
    if (change == "archive") {
        removal(QtCriticalMsg, "keeping the logs, the archive cannot be read back: " + archive +
                                   " - No such file or directory");
        expect(QtCriticalMsg, "Could not delete logs_old!", "saveLogs");
    } else {
        if (change == "a.log")
            removal(QtWarningMsg, "keeping " + oldLogs + "a.log , it changed after it was packed");
        expect(QtDebugMsg, "Logs saved successfully!", "saveLogs");
    }
    sender.saveLogs();
    QCOMPARE(CTestTree::describe(oldLogs), kept);
}

QTEST_MAIN(tst_CLogFilesSenderFailures)
#include "tst_CLogFilesSenderFailures.moc"
