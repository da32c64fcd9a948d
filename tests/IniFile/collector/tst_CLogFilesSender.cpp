// The log sender's runs that succeed: what they collect and place, the masking and the window.
// CQueuedCalls counts the calls queued to the window for one of these cases and has no other use.
#include "IniFile/collector/CLogFilesSender.h"

#include "IniFile/settings/CIniFileSettings.h"
#include "IniFile/zip/CZipper.h"
#include "common/CExpect.h"
#include "common/CLogFilesSenderTest.h"
#include "common/CPrivateSessionBus.h"
#include "common/CTestChild.h"
#include "common/CTestTree.h"
#include "common/CZipListing.h"
#include "sendLogFiles/SendLogFilesApp.h"

#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QThread>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <utility>

#include <quazip/quazipfile.h>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

// What a run collects and where it places the archive, masked as the settings say, and what
// the window shows meanwhile.
class tst_CLogFilesSender : public CLogFilesSenderTest
{
    Q_OBJECT

private Q_SLOTS:
    void collects_data();
    void collects();
    void secondRun();
    void placing_data();
    void placing();
    void eventsFlowDuringTheRun();
    void windowNamesTheLogBeingPacked();
    void masksAsTheSettingsSay_data();
    void masksAsTheSettingsSay();
    void archiveShownSelected_data();
    void archiveShownSelected();
    void supportFormAddress();
};

namespace {
// The client's folders apart from the log folder, which receives the staged copies, and the
// fallback folder for the archive.
QString clientFiles(const QString& syncarium)
{
    QStringList lines = CTestTree::describe(syncarium, true).split(';');
    lines.removeIf([](const QString& line) {
        return line.startsWith("logs/") || line.startsWith("logsForSend");
    });
    return lines.join(';');
}

QStringList without(QStringList list, const QStringList& names)
{
    for (const QString& name : names)
        list.removeOne(name);
    return list;
}
} // namespace

// A second run stages the current error log, replaces an archive of the same name and removes
// what an interrupted run left, recognised by its name; anything else stays. Its archive says
// what machine it came from, and names no user, host or folder.
void tst_CLogFilesSender::secondRun()
{
    writeSample();
    CLogFilesSender first;
    {
        const CRecordCounter scans("CDirIterator::dirIterate \\] scanning " +
                                   QRegularExpression::escape(logs.chopped(1)) + "/?$");
        QVERIFY(run(first));
        // The room check's walk is the one that is packed.
        QCOMPARE(scans.count(), 1);
    }
    const int rootSize = dir.size();
    environment->writeFile(errorLog.mid(rootSize), "newer database errors");
    environment->writeFile((output + first.targetFile()).mid(rootSize), "not a zip");
    const QString working = QDir::currentPath() + '/';
    for (const QString& folder : {working, output})
        QVERIFY(CTestTree::make(folder, ".logs_2026-12-01_10.00.00.zip.part=half an archive;"
                                        ".notes.zip.part=the user's;"
                                        "logs_2026-12-01_09.00.00.zip=a finished archive"));
    // The system report takes a name beside the user's own system.txt.
    QVERIFY(CTestTree::write(logs + "system.txt", "the user's own"));
    qputenv("XDG_CURRENT_DESKTOP", "XFCE");
    const auto restore = qScopeGuard([] { qunsetenv("XDG_CURRENT_DESKTOP"); });
    CLogFilesSender second;
    second.setTargetFile(first.targetFile());
    QVERIFY(run(second));
    const QStringList kept{".notes.zip.part", "logs_2026-12-01_09.00.00.zip"};
    QCOMPARE(filesIn(working), kept);
    QCOMPARE(filesIn(output), kept + QStringList{first.targetFile()});
    QCOMPARE(CZipListing::checkedNames(output + first.targetFile()),
             withReport(fullSample + QStringList{"system-2.txt"}));
    QCOMPARE(CTestTree::content(logs + "Syncarium2DataBase.err"), "newer database errors");
    QCOMPARE(recorder.urls.size(), 4);
    QCOMPARE(filesIn(logs).last(), "system.txt");
    QuaZipFile entry(output + first.targetFile(), "system-2.txt");
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    QMap<QString, QString> fields;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts))
        fields.insert(line.section(": ", 0, 0), line.section(": ", 1));
    QCOMPARE(fields.size(), 15);
    QFile osRelease("/etc/os-release");
    utsname system = {};
    struct statvfs volume = {};
    QVERIFY(osRelease.open(QIODevice::ReadOnly) && ::uname(&system) == 0 &&
            ::statvfs(dir.toUtf8().constData(), &volume) == 0);
    QCOMPARE("PRETTY_NAME=\"" + fields.value("Operating system") + '"',
             QString(osRelease.readAll()).split('\n').filter("PRETTY_NAME=").value(0));
    QCOMPARE(fields.value("Kernel") + ' ' + fields.value("Architecture"),
             QString("linux %1 %2").arg(system.release, system.machine));
    QCOMPARE(fields.value("Desktop") + fields.value("Session type"), "XFCE(not set)");
    QCOMPARE(fields.value("Qt platform plugin") + fields.value("Locale"),
             "offscreen" + QLocale().name());
    QVERIFY(fields.value("Qt").startsWith(qVersion()) && !fields.value("QuaZip").isEmpty());
    QVERIFY(fields.value("Syncarium log sender")
                .contains(QRegularExpression("^1\\.\\d+\\.\\d+, build .+")));
    QVERIFY(fields.value("Logs packed").startsWith(QString("%1 files").arg(fullSample.size() - 1)));
    QCOMPARE(fields.value("Logs left out"), "0 files, 0 bytes");
    const double total = double(volume.f_blocks) * volume.f_frsize;
    for (const char* folder : {"Log folder volume", "Spaces folder volume", "Desktop volume"}) {
        const QStringList room = fields.value(folder).split(' ');
        QCOMPARE(room.value(4).toDouble(), total);
        QVERIFY(qAbs(room.value(0).toDouble() - double(volume.f_bavail) * volume.f_frsize) <
                total / 100);
    }
    QVERIFY(!text.contains(dir) && !text.contains(qEnvironmentVariable("USER", "root")));
    QVERIFY(QSysInfo::machineHostName().size() < 4 || !text.contains(QSysInfo::machineHostName()));
}

void tst_CLogFilesSender::collects_data()
{
    // What stands where in the client's folder: a kind, then a path below the Syncarium folder;
    // or "parts" and the parts of the sample written.
    QTest::addColumn<QString>("setup");
    // The entry that is skipped (relative to the Syncarium folder) and why; none: nothing is.
    QTest::addColumn<QString>("skippedEntry");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QStringList>("entries");
    const auto row = [](const char* tag, const char* setup, const char* entry, const char* reason,
                        QStringList entries) {
        QTest::newRow(tag) << QString(setup) << QString(entry) << QString(reason) << entries;
    };
    const char* const special = "a FIFO, socket or device is never read";
    const QStringList withoutErrorLog = without(fullSample, {"Syncarium2DataBase.err"});
    const QStringList withoutDump = without(fullSample, {"logs_backup/crash/dump.txt"});
    const char* const link = "symbolic links are not followed";
    const char* const inside = "it is the log folder or lies inside it, whose logs are packed as "
                               "they are";
    // Nothing to pack at all is a case of failures().
    row("full sample", "parts error backup logs", "", "", fullSample);
    row("no database error log", "parts backup logs", "", "", withoutErrorLog);
    row("no log or backup folder: the log folder is made for the error log", "parts error", "", "",
        {"Syncarium2DataBase.err"});
    // A socket or device takes the FIFO's branch.
    row("FIFO in the backup folder", "fifo logs_backup/pipe.log", "logs_backup/pipe.log", special,
        fullSample);
    row("symbolic link in the backup folder", "link logs_backup/current.log",
        "logs_backup/current.log", link, fullSample);
    // A log that is not staged is named in the archive's list of what it leaves out.
    const QStringList listed = QStringList{"left-out.txt"};
    row("name that is not UTF-8", "badname logs_backup/bad\xff.log", "logs_backup/bad\\xff.log",
        "its name is not valid UTF-8", fullSample + listed);
    row("unreadable file in the backup folder", "chmod000 logs_backup/crash/dump.txt",
        "logs_backup/crash/dump.txt", "it is not readable", withoutDump + listed);
    row("unreadable folder in the backup folder", "chmod000 logs_backup/crash",
        "logs_backup/crash/", "the folder cannot be read",
        without(withoutDump, {"logs_backup/crash/"}) + listed);
    // The log folder is on a data disk that fills while the backups are copied into it.
    row("full disk while staging", "full logs_backup/big.log", "logs_backup/big.log",
        "No space left on device - system error code: 28", fullSample + listed);
    // The database log is checked as the backup folder's files are: one row stands for every kind.
    row("folder as the database log", "folder mysql/data/Syncarium2DataBase.err",
        "mysql/data/Syncarium2DataBase.err", "a folder stands where a file is expected",
        withoutErrorLog);
    // The link is the staging spot itself: it is replaced, what it points to stays as it is.
    row("staged backup copy is a symbolic link", "link logs/logs_backup", "", "", fullSample);
    // The backup folder was moved and replaced by a link: its logs are packed once, from where
    // they are, and nothing of them is removed.
    row("backup folder is a link into the log folder", "backuplink logs/logs_backup",
        "logs_backup/", inside, fullSample);
    row("backup folder is a link to the log folder", "backuplink logs", "logs_backup/", inside,
        {"Syncarium.log", "Syncarium2DataBase.err", "sync-2026-12-01.log"});
    row("read-only Syncarium folder", "readonly", "", "",
        {"Syncarium.log", "left-out.txt", "sync-2026-12-01.log"});
}

void tst_CLogFilesSender::collects()
{
    QFETCH(QString, setup);
    QFETCH(QString, skippedEntry);
    QFETCH(QString, reason);
    QFETCH(QStringList, entries);
    const QString syncarium = appData + "Syncarium/";
    const QString kind = setup.section(' ', 0, 0);
    if ((kind == "chmod000" || kind == "readonly") && ::geteuid() == 0)
        QSKIP("root reads and writes files whatever their permission bits");
    if (kind == "full" && ::geteuid() != 0)
        QSKIP("needs root to mount a small file system");
    if (kind == "full" && !mountSmall(logs, "64k"))
        QSKIP("could not mount a tmpfs");
    const QString path = syncarium + setup.section(' ', 1);
    const QString parts = kind == "parts"    ? setup.section(' ', 1)
                          : path == errorLog ? "backup logs"
                                             : "error backup logs";
    writeSample(parts);
    // A copy of the backup folder from an earlier run is replaced, not merged.
    if (kind == "parts" && parts.contains("backup"))
        QVERIFY(CTestTree::write(logs + "logs_backup/stale.log", "old"));
    if (kind == "parts" && !parts.contains("error"))
        expect(QtCriticalMsg, "failed to copy " + errorLog);
    if (!parts.contains("backup"))
        expect(QtCriticalMsg, "Failed to Copy LogsBackupFolder!");
    // The temporary folder cannot remove a name it cannot decode.
    const QByteArray badName = QFile::encodeName(backup) + "bad\xff.log";
    const auto removeBadName = qScopeGuard([&badName] { ::unlink(badName.constData()); });
    const QString elsewhere = environment->writeFile("elsewhere/secret.log", "not the client's");
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    } else if (kind == "link") {
        QVERIFY(QFile::link(path.endsWith("logs_backup") ? dir + "elsewhere" : elsewhere, path));
    } else if (kind == "backuplink") {
        QVERIFY(path.endsWith("logs_backup") ? QDir().rename(backup, path)
                                             : QDir(backup).removeRecursively());
        QVERIFY(QFile::link(path, backup.chopped(1)));
    } else if (kind == "badname") {
        QVERIFY(CTestTree::makeByName(backup, {"bad\xff.log"}));
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(path + "/inner"));
    } else if (kind == "chmod000") {
        QVERIFY(QFile::setPermissions(path, {}));
    } else if (kind == "full") {
        QVERIFY(CTestTree::write(path, CTestTree::noise(256 * 1024)));
    } else if (kind == "readonly") {
        for (const QString& folder : {syncarium, logs, syncarium + "mysql/data/"})
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    // The copy an earlier run staged of a database log that is not read now goes: it is not
    // packed as if it were current.
    if (parts == "backup logs") {
        QVERIFY(CTestTree::write(logs + "Syncarium2DataBase.err", "database errors of last week"));
        expect(QtWarningMsg,
               "removed the earlier run's copy \"" + logs + "Syncarium2DataBase.err\"");
    }
    const QString before = clientFiles(syncarium);
    const QString elsewhereBefore = CTestTree::describe(dir + "elsewhere/", true);
    if (!skippedEntry.isEmpty())
        expect(QtWarningMsg, "skipped \"" + syncarium + skippedEntry + "\": " + reason);
    if (kind == "readonly") {
        for (const QString& unstaged : {errorLog, backup})
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression("^\\[.*\\] skipped \"" +
                                                 QRegularExpression::escape(unstaged) + "\": .+"));
        expect(QtCriticalMsg, "Failed to Copy LogsBackupFolder!");
        // The report is written into the log folder, which takes nothing here.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no system report: .+"));
    }
    const QStringList packed = kind == "readonly" ? entries : withReport(entries);
    // Exactly one record for each skipped entry.
    QTest::failOnWarning(QRegularExpression("skipped"));

    CLogFilesSender sender;
    QSignalSpy finished(&sender, &CLogFilesSender::zipFinished);
    QSignalSpy progress(&sender, &CLogFilesSender::zipProgress);
    QSignalSpy failed(&sender, &CLogFilesSender::failed);
    QSignalSpy notice(&sender, &CLogFilesSender::notice);
    QVERIFY(run(sender));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(failed.size(), 0);
    // The window and the archive name the log that is missing, and why.
    const bool listed = entries.contains("left-out.txt");
    QCOMPARE(notice.size(), listed ? 1 : 0);
    // The backup folder's entries keep their names in the archive.
    if (listed && !skippedEntry.isEmpty())
        QVERIFY2(notice.at(0).at(0).toString().contains(skippedEntry + ": "),
                 qPrintable(notice.at(0).at(0).toString()));
    // Nothing is left beside the archive, not even a partial one.
    QVERIFY(filesIn(QDir::currentPath()).isEmpty());
    QCOMPARE(filesIn(output), QStringList{sender.targetFile()});
    QCOMPARE(CZipListing::checkedNames(output + sender.targetFile()), packed);
    // The list of what is left out is the zipper's own and reports no progress.
    const qsizetype reported = packed.size() - packed.count("left-out.txt");
    QCOMPARE(progress.size(), reported);
    QCOMPARE(progress.last().mid(0, 2), (QList<QVariant>{quint32(reported), quint32(reported)}));
    QCOMPARE(clientFiles(syncarium), before);
    QCOMPARE(CTestTree::describe(dir + "elsewhere/", true), elsewhereBefore);
    QCOMPARE(CTestTree::content(elsewhere), "not the client's");
    QCOMPARE(recorder.opened(), (QStringList{"form", output}));
}

void tst_CLogFilesSender::placing_data()
{
    // The desktop as the user's folder settings name it; "-" leaves HOME unset, "+" points the
    // desktop below a plain file, where no folder can be made, "shm" to another file system.
    QTest::addColumn<QString>("desktop");
    // The working directory, relative to the home folder; "@555": read-only, "-": deleted.
    QTest::addColumn<QString>("working");
    // Where the archive must land, relative to the home folder; or "fallback".
    QTest::addColumn<QString>("landing");
    const auto row = [](const char* tag, const char* desktop, const char* working,
                        const char* landing) {
        QTest::newRow(tag) << QString(desktop) << QString(working) << QString(landing);
    };
    // Read as the desktop's own tools read the file: My "Desk". Started in the output folder, the
    // archive is already where it goes, as in a home that is also the desktop.
    row("escaped quotes in the name, started there", "$HOME/My \\\"Desk\\\"", "My \"Desk\"",
        "My \"Desk\"/");
    row("desktop on another file system", "shm", "work", "shm");
    // The desktop lives on a data disk and is bind-mounted into the home; started there by
    // the other path, the archive is already in place and must stay.
    row("bind-mounted desktop, started there by its other path", "bind", "data/Desktop",
        "Desktop/");
    row("no HOME", "-", "work", "fallback");
    row("desktop cannot be made", "+", "work", "fallback");
    row("desktop not writable", "$HOME/Desktop@555", "work", "fallback");
    // The archive is written where it goes then, and nowhere else.
    row("working folder read-only", "$HOME/Desktop", "work@555", "Desktop/");
    row("working folder deleted", "$HOME/Desktop", "work-", "Desktop/");
}

void tst_CLogFilesSender::placing()
{
    QFETCH(QString, desktop);
    QFETCH(QString, working);
    QFETCH(QString, landing);
    if ((desktop + working).contains("@555") && ::geteuid() == 0)
        QSKIP("root writes into any folder");
    if (desktop == "bind" && ::geteuid() != 0)
        QSKIP("needs root to bind-mount the desktop");
    writeSample();
    const auto make = [&](QString relative) {
        const bool readOnly = relative.endsWith("@555");
        relative.chop(readOnly ? 4 : 0);
        const QString made = environment->makeDir("home/" + relative);
        if (readOnly)
            QFile::setPermissions(made, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        return made;
    };
    QString folder =
        landing == "fallback" ? appData + "Syncarium/logsForSend/" : environment->home() + landing;
    std::unique_ptr<QTemporaryDir> otherFileSystem;
    if (desktop == "shm") {
        otherFileSystem = std::make_unique<QTemporaryDir>("/dev/shm/tst_CLogFilesSender-XXXXXX");
        if (!otherFileSystem->isValid() ||
            QStorageInfo(otherFileSystem->path()).device() == QStorageInfo(dir).device())
            QSKIP("needs /dev/shm on a file system of its own");
        folder = otherFileSystem->path() + "/Desktop/";
        setDesktop(folder);
    } else if (desktop == "bind") {
        QVERIFY(CTestChild::mount({"--bind", make(working), make("Desktop")}));
        mounts << folder;
        setDesktop("$HOME/Desktop");
    } else if (desktop == "-") {
        qunsetenv("HOME");
    } else if (desktop == "+") {
        environment->writeFile("home/file", "x");
        setDesktop("$HOME/file/Desktop");
    } else {
        if (desktop.endsWith("@555"))
            make(desktop.mid(6));
        setDesktop(desktop.remove("@555"));
    }
    const QString why = working.endsWith('-')      ? "no longer exists"
                        : working.endsWith("@555") ? "cannot be written"
                                                   : "";
    const QString workingFolder = make(working.remove('-'));
    QVERIFY(QDir::setCurrent(workingFolder));
    if (why == "no longer exists")
        QVERIFY(QDir().rmdir(workingFolder));
    if (!why.isEmpty())
        expect(QtWarningMsg,
               QString("writing the archive in \"%1\": the working folder %2").arg(folder, why));
    const QString before = clientFiles(appData + "Syncarium/");
    // Without HOME the toolkit's home is "/": no desktop may appear there.
    const bool rootDesktop = QFileInfo::exists("/Desktop");

    CLogFilesSender sender;
    // While the entries are packed, the partial archive is in the folder it is written in.
    const QString partial = '.' + sender.targetFile() + ".part";
    const QString packedIn = why.isEmpty() ? workingFolder : folder;
    int reports = 0;
    bool partialWhereWritten = true;
    connect(&sender, &CLogFilesSender::zipProgress, this, [&] {
        ++reports;
        partialWhereWritten = partialWhereWritten && QFileInfo::exists(packedIn + partial) &&
                              !QFileInfo::exists('/' + partial);
    });
    QSignalSpy failed(&sender, &CLogFilesSender::failed);
    QVERIFY(run(sender));
    QCOMPARE(failed.size(), 0);
    QVERIFY(reports > 0 && partialWhereWritten);
    QCOMPARE(sender.outputFolder(), folder);
    QCOMPARE(QFileInfo::exists("/Desktop"), rootDesktop);
    QVERIFY(!QFileInfo::exists('/' + sender.targetFile()));
    QVERIFY(!QFileInfo(environment->home() + "file").isDir());
    QCOMPARE(CZipListing::checkedNames(folder + sender.targetFile()), withReport(fullSample));
    if (QFileInfo(workingFolder).canonicalFilePath() != QFileInfo(folder).canonicalFilePath() &&
        desktop != "bind")
        QVERIFY(
            QDir(workingFolder)
                .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    QVERIFY(partialsIn(folder).isEmpty());
    if (!why.isEmpty())
        QCOMPARE(filesIn(folder), QStringList{sender.targetFile()});
    QCOMPARE(clientFiles(appData + "Syncarium/"), before);
    QCOMPARE(recorder.opened(), (QStringList{"form", folder}));
}

// Counts the queued calls an object is sent.
class CQueuedCalls : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::MetaCall ? 1 : 0;
        return false;
    }
};

// Staging a large backup folder and packing run off the window's thread, which goes on handling
// its events meanwhile; the check of the finished archive is announced before it is placed.
// Every entry's report is relayed, but they come over in batches, not as a queued call each.
void tst_CLogFilesSender::eventsFlowDuringTheRun()
{
    writeSample("error logs");
    const int count = 3000;
    QStringList tree;
    for (int index = 0; index < count; ++index)
        tree << QString("Syncarium_%1.log=line %1").arg(index);
    QVERIFY(CTestTree::make(backup, tree.join(';')));
    const QString stagedBackup = logs + "logs_backup/";
    int ticksWhileStaging = 0;
    QTimer ticker;
    ticker.setInterval(1);
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (QFileInfo::exists(logs + "Syncarium2DataBase.err") &&
            QDir(stagedBackup).entryList(QDir::Files).size() < count)
            ++ticksWhileStaging;
    });
    ticker.start();
    CLogFilesSender sender;
    const QString placed = output + sender.targetFile();
    bool announced = false;
    connect(&sender, &CLogFilesSender::zipProgress, this, [&] {
        // The run's zipper announces the check once the archive is written; here it is made
        // to announce one while it packs, as a zipper that checks as it goes would.
        CZipper* zipper = sender.findChild<CZipper*>();
        if (zipper && !std::exchange(announced, true))
            Q_EMIT zipper->verifyStarted();
    });
    CQueuedCalls queued;
    sender.installEventFilter(&queued);
    QSignalSpy progress(&sender, &CLogFilesSender::zipProgress);
    int beforePlacing = 0;
    QSignalSpy relayed(&sender, &CLogFilesSender::verifyStarted);
    connect(&sender, &CLogFilesSender::verifyStarted, this,
            [&] { beforePlacing += QFileInfo::exists(placed) ? 0 : 1; });
    QVERIFY(run(sender));
    ticker.stop();
    QVERIFY(ticksWhileStaging > 0);
    QCOMPARE(QDir(stagedBackup).entryList(QDir::Files).size(), count);
    QVERIFY(announced);
    QVERIFY(!relayed.isEmpty());
    QCOMPARE(beforePlacing, relayed.size());
    const CZipListing listing(placed);
    QVERIFY(listing.valid);
    QCOMPARE(progress.size(), listing.names.size());
    QVERIFY2(queued.count < count / 10, qPrintable(QString::number(queued.count)));
}

// The window's label names a large log and its bar moves by the log's bytes while it is packed,
// every report on the window's thread, the log's start first and its end last.
void tst_CLogFilesSender::windowNamesTheLogBeingPacked()
{
    writeSample();
    QVERIFY(CTestTree::write(logs + "big.log", CTestTree::noise(48 << 20)));
    CLogFilesSender sender;
    SendLogFilesApp window;
    connect(&sender, &CLogFilesSender::entryProgress, &window, &SendLogFilesApp::onEntryProgress);
    connect(&sender, &CLogFilesSender::zipProgress, &window, &SendLogFilesApp::onCompressLogs);
    QSignalSpy entries(&sender, &CLogFilesSender::entryProgress);
    QStringList order;
    QList<int> values;
    connect(&sender, &CLogFilesSender::entryProgress, this, [&](auto, auto, qint64 done) {
        QCOMPARE(QThread::currentThread(), thread());
        if (entries.constLast().constLast() == "big.log") {
            order << (done == 0 ? "start" : window.findChild<QLabel*>("lblTextCopyFiles")->text());
            values << window.findChild<QProgressBar*>("prgrBarCopyDialag")->value();
        }
    });
    connect(&sender, &CLogFilesSender::zipProgress, this,
            [&](auto, auto, auto, QString name) { order << (name == "big.log" ? "end" : ""); });
    QVERIFY(run(sender));
    order.removeAll("");
    QVERIFY2(order.size() >= 3 && order.takeFirst() == "start" && order.takeLast() == "end",
             qPrintable(order.join(',')));
    QCOMPARE(order, QStringList(order.size(), "Kompremiere: big.log"));
    QVERIFY(std::is_sorted(values.cbegin(), values.cend()) && values.constLast() > values.first());
}

void tst_CLogFilesSender::masksAsTheSettingsSay_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QByteArray>("packed");
    QTest::addColumn<qint64>("count");
    const QByteArray proxy = "[ProxySettings]\nPassW=V2ludDNyIQ==\n";
    QTest::newRow("by default") << QByteArray()
                                << QByteArray("password=[masked] Wint3r! V2ludDNyIQ==\n")
                                << qint64(1);
    QTest::newRow("with the proxy password")
        << proxy << QByteArray("password=[masked] [masked] [masked]\n") << qint64(3);
    QTest::newRow("maskCredentials=false")
        << "[logSender]\nmaskCredentials=false\n" + proxy
        << QByteArray("password=hunter2 Wint3r! V2ludDNyIQ==\n") << qint64(0);
}

// The client's ini file turns masking off and holds the proxy password that is masked too;
// the user's log stays as it was either way.
void tst_CLogFilesSender::masksAsTheSettingsSay()
{
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, packed);
    QFETCH(qint64, count);
    writeSample("error backup");
    const QByteArray log = "password=hunter2 Wint3r! V2ludDNyIQ==\n";
    QVERIFY(CTestTree::write(logs + "Syncarium.log", log));
    const QString iniFile = CSingleton<CIniFileSettings>::instance()->iniFilePath();
    CSingleton<CIniFileSettings>::destroy();
    QVERIFY(iniFile.startsWith(dir));
    if (!ini.isEmpty())
        QVERIFY(CTestTree::write(iniFile, ini));
    CLogFilesSender sender;
    QSignalSpy masked(&sender, &CLogFilesSender::credentialsMasked);
    QVERIFY(run(sender));
    QCOMPARE(masked.isEmpty() ? 0 : masked.last().at(0).toLongLong(), count);
    QVERIFY(CZipper().unzip(output + sender.targetFile(), dir + "out"));
    QCOMPARE(CTestTree::content(dir + "out/Syncarium.log"), packed);
    QCOMPARE(QFileInfo::exists(dir + "out/masked.txt"), count > 0);
    QCOMPARE(CTestTree::content(logs + "Syncarium.log"), log);
}

void tst_CLogFilesSender::archiveShownSelected_data()
{
    QTest::addColumn<bool>("fileManager");
    QTest::newRow("file manager on the bus shows the archive") << true;
    QTest::newRow("no file manager: its folder opens") << false;
}

// Qt keeps one session bus connection a process, so the cases run in a child whose bus is
// the test's own from the start.
void tst_CLogFilesSender::archiveShownSelected()
{
    QFETCH(bool, fileManager);
    if (!CTestChild::isChild()) {
        const QByteArray row =
            QByteArray(QTest::currentTestFunction()) + ':' + QTest::currentDataTag();
        QVERIFY(CTestChild::run(row.constData()));
        return;
    }
    static CPrivateSessionBus bus;
    if (!bus.isValid())
        QSKIP(qPrintable(bus.why()));
    const QString calls = dir + "calls";
    QVERIFY(!fileManager || bus.startFileManager(calls));
    const auto stop = qScopeGuard([] { bus.stopFileManager(); });
    writeSample();

    CLogFilesSender sender;
    QVERIFY(run(sender));
    const QString archive = output + sender.targetFile();
    QVERIFY(CZipListing(archive).valid);
    // The support form is asked for first, either way.
    QCOMPARE(recorder.opened(), fileManager ? QStringList{"form"} : (QStringList{"form", output}));
    if (fileManager)
        QCOMPARE(CTestTree::content(calls),
                 "ShowItems\t" + QUrl::fromLocalFile(archive).toEncoded() + "\t\n");
}

// The five values in their order, encoded; other keys are ignored.
void tst_CLogFilesSender::supportFormAddress()
{
    const QMap<QString, QString> info{{"lang", "de"}, {"user", "ignored"},  {"os", "Größe&Co=1#x"},
                                      {"isUSB", "0"}, {"syVersion", "2.1"}, {"lastVersion", "2.0"}};
    const QString query = "option=com_content&id=90&Itemid=40&os=Gr%C3%B6%C3%9Fe%26Co%3D1%23x&"
                          "syVersion=2.1&lastVersion=2.0&isUSB=0&lang=de";
    QVERIFY(CLogFilesSender().openSupportForm(info));
    QCOMPARE(recorder.opened(), (QStringList{"form", output}));
    QCOMPARE(recorder.urls.at(0).path(), "/en/forms/index.php");
    QCOMPARE(recorder.urls.at(0).query(QUrl::FullyEncoded), query);
}

QTEST_MAIN(tst_CLogFilesSender)
#include "tst_CLogFilesSender.moc"
