#include "IniFile/CLogFilesSender.h"

#include "common/CTestEnvironment.h"
#include "common/CZipListing.h"
#include "system/CShellGlobal.h"

#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <unistd.h>

// Stands in for the desktop: keeps every URL the sender asks it to open.
class CUrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void record(const QUrl& url) { urls.append(url); }
};

class tst_CLogFilesSender : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void collects_data();
    void collects();
    void secondRunReplacesTheArchive();
    void unplaceableArchiveStaysInWorkingDirectory();
    void unreadableBackupStopsTheRun();
    void unwritableWorkingDirectory();
    void supportFormAddress_data();
    void supportFormAddress();
    void rotation_data();
    void rotation();

private:
    // Writes the error log, the backup folder and the log folder of the sample, as asked.
    void writeSample(const QString& parts = "error backup logs");
    bool run(CLogFilesSender& sender);
    QString write(const QString& path, const QByteArray& content);

    std::unique_ptr<CTestEnvironment> env;
    CUrlRecorder recorder;
    QString appData;
    QString output;
    QString errorLog;
    QString logs;
    QString backup;
};

namespace {
QString desktopForTest;

QString testDesktop()
{
    return desktopForTest;
}

QRegularExpression record(const QString& text,
                          const QString& function = "CLogFilesSender::zipAndSendLogFiles",
                          const QString& tail = {})
{
    return QRegularExpression("^\\[ -1 : MainThread \\] \\[ " + function.section("::", 0, 0) +
                              "\\.cpp : \\d+ : " + function + " \\] " +
                              QRegularExpression::escape(text) + tail + '$');
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

const QStringList fullSample =
    QString(
        "Syncarium.log Syncarium2DataBase.err logs_backup/ logs_backup/Syncarium_2026-11-28.log "
        "logs_backup/Syncarium_2026-11-29.log logs_backup/crash/ logs_backup/crash/dump.txt "
        "sync-2026-12-01.log")
        .split(' ');
} // namespace

void tst_CLogFilesSender::init()
{
    env = std::make_unique<CTestEnvironment>();
    QVERIFY(env->isValid());
    appData = CShellGlobal::getShellSpecialFolderPath(APPDATA);
    QVERIFY2(appData.startsWith(env->root()), qPrintable(appData));
    errorLog = appData + "Syncarium/mysql/data/Syncarium2DataBase.err";
    logs = appData + "Syncarium/logs/";
    backup = appData + "Syncarium/logs_backup/";
    // Missing, two levels deep and named without a trailing slash: the sender creates it.
    desktopForTest = env->root() + "home/Desktop Ü/Schreibtisch";
    output = desktopForTest + '/';
    CLogFilesSender::setDesktopLocationLookup(&testDesktop);
    recorder.urls.clear();
    QDesktopServices::setUrlHandler("https", &recorder, "record");
    QDesktopServices::setUrlHandler("file", &recorder, "record");
}

void tst_CLogFilesSender::cleanup()
{
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("file");
    CLogFilesSender::setDesktopLocationLookup(nullptr);
    env.reset();
}

QString tst_CLogFilesSender::write(const QString& path, const QByteArray& content)
{
    return env->writeFile(path.mid(env->root().size()), content);
}

void tst_CLogFilesSender::writeSample(const QString& parts)
{
    if (parts.contains("error"))
        write(errorLog, "2026-12-05 09:12:01 [ERROR] InnoDB: page checksum mismatch\n");
    if (parts.contains("backup")) {
        write(backup + "Syncarium_2026-11-28.log", "sync ok\n");
        write(backup + "Syncarium_2026-11-29.log", "sync failed\n");
        write(backup + "crash/dump.txt", "stack\n");
    }
    if (parts.contains("logs")) {
        write(logs + "Syncarium.log", "started\n");
        write(logs + "sync-2026-12-01.log", "3 files\n");
    }
}

bool tst_CLogFilesSender::run(CLogFilesSender& sender)
{
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    return sender.zipAndSendLogFiles();
}

void tst_CLogFilesSender::collects_data()
{
    QTest::addColumn<QString>("parts");
    QTest::addColumn<bool>("withDesktop");
    // %1 stands for the error log, %2 for the log folder.
    QTest::addColumn<QStringList>("records");
    // The entries of the placed archive; none: no archive is placed.
    QTest::addColumn<QStringList>("entries");
    const auto row = [](const char* tag, const char* parts, bool withDesktop,
                        const QStringList& records, const QStringList& entries) {
        QTest::newRow(tag) << QString(parts) << withDesktop << records << entries;
    };
    const QString noErrorLog = "failed to copy %1";
    const QString noBackup = "Failed to Copy LogsBackupFolder!";
    QStringList withoutErrorLog = fullSample;
    withoutErrorLog.removeOne("Syncarium2DataBase.err");
    row("full sample", "error backup logs", true, {}, fullSample);
    row("empty desktop: fallback folder", "error backup logs", false, {}, fullSample);
    row("no database error log", "backup logs", true, {noErrorLog}, withoutErrorLog);
    row("no backup folder", "error logs", true, {noBackup},
        {"Syncarium.log", "Syncarium2DataBase.err", "sync-2026-12-01.log"});
    row("no log folder: made for the error log", "error", true, {noBackup},
        {"Syncarium2DataBase.err"});
    row("nothing to pack", "", true, {noErrorLog, noBackup, "could not zip %2"}, {});
}

void tst_CLogFilesSender::collects()
{
    QFETCH(QString, parts);
    QFETCH(bool, withDesktop);
    QFETCH(QStringList, records);
    QFETCH(QStringList, entries);
    writeSample(parts);
    // A copy of the backup folder from an earlier run is replaced, not merged.
    if (parts.contains("backup"))
        write(logs + "logs_backup/stale.log", "old");
    const QString folder = withDesktop ? output : appData + "Syncarium/logsForSend/";
    if (!withDesktop)
        desktopForTest.clear();
    for (QString& text : records)
        QTest::ignoreMessage(QtCriticalMsg,
                             record(text.replace("%1", errorLog).replace("%2", logs)));
    CLogFilesSender sender;
    QSignalSpy finished(&sender, &CLogFilesSender::zipFinished);
    QSignalSpy progress(&sender, &CLogFilesSender::zipProgress);
    QVERIFY(run(sender));
    QCOMPARE(finished.size(), 1);
    QVERIFY(filesIn(QDir::currentPath()).isEmpty());
    QCOMPARE(filesIn(folder), entries.isEmpty() ? QStringList() : QStringList{sender.targetFile()});
    if (!entries.isEmpty()) {
        const CZipListing listing(folder + sender.targetFile());
        QVERIFY(listing.valid);
        QCOMPARE(listing.sortedNames(), entries);
        QCOMPARE(progress.size(), entries.size());
        QCOMPARE(progress.last().mid(0, 2),
                 (QList<QVariant>{quint32(entries.size()), quint32(entries.size())}));
    }
    // The hand-off runs even without an archive: the form first, then the output folder.
    QCOMPARE(recorder.urls.size(), 2);
    QCOMPARE(recorder.urls.at(0).scheme(), "https");
    QCOMPARE(recorder.urls.at(1), QUrl::fromLocalFile(folder));
    QCOMPARE(recorder.urls.at(1).toLocalFile(), folder);
}

// A second run stages the current error log and replaces an archive of the same name.
void tst_CLogFilesSender::secondRunReplacesTheArchive()
{
    writeSample();
    CLogFilesSender first;
    QVERIFY(run(first));
    write(errorLog, "newer database errors");
    write(output + first.targetFile(), "not a zip");
    CLogFilesSender second;
    second.setTargetFile(first.targetFile());
    QVERIFY(run(second));
    QCOMPARE(filesIn(output), QStringList{first.targetFile()});
    const CZipListing listing(output + first.targetFile());
    QVERIFY(listing.valid);
    QCOMPARE(listing.sortedNames(), fullSample);
    QFile staged(logs + "Syncarium2DataBase.err");
    QVERIFY(staged.open(QIODevice::ReadOnly));
    QCOMPARE(staged.readAll(), QByteArray("newer database errors"));
    QCOMPARE(recorder.urls.size(), 4);
}

void tst_CLogFilesSender::unplaceableArchiveStaysInWorkingDirectory()
{
    writeSample();
    CLogFilesSender sender;
    // A folder where the archive should land makes placing it fail, as root too.
    QVERIFY(QDir().mkpath(output + sender.targetFile()));
    const QString working = QDir::currentPath() + '/' + sender.targetFile();
    QTest::ignoreMessage(QtCriticalMsg, record("could not place " + working + " in " + output));
    QVERIFY(run(sender));
    const CZipListing listing(working);
    QVERIFY(listing.valid);
    QCOMPARE(listing.sortedNames(), fullSample);
    QCOMPARE(recorder.urls.size(), 2);
}

void tst_CLogFilesSender::unreadableBackupStopsTheRun()
{
    if (::geteuid() == 0)
        QSKIP("root reads files whatever their permission bits");
    writeSample();
    QVERIFY(QFile::setPermissions(backup + "Syncarium_2026-11-29.log", {}));
    CLogFilesSender sender;
    QSignalSpy progress(&sender, &CLogFilesSender::zipProgress);
    // The exception's text: where it was thrown and the call stack down to the collector.
    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression("^\\[ -1 : MainThread \\] \\[ CLogFilesSender\\.cpp : "
                                            "\\d+ : CLogFilesSender::zipAndSendLogFiles \\] .*"
                                            "thrown at .*CLogFilesSender::zipAndSendLogFiles",
                                            QRegularExpression::DotMatchesEverythingOption));
    QVERIFY(!run(sender));
    QCOMPARE(progress.size(), 0);
    QVERIFY(recorder.urls.isEmpty());
    QVERIFY(filesIn(output).isEmpty());
    QVERIFY(filesIn(QDir::currentPath()).isEmpty());
}

void tst_CLogFilesSender::unwritableWorkingDirectory()
{
    if (::geteuid() == 0)
        QSKIP("root writes into folders whatever their permission bits");
    writeSample();
    const QString work = QDir::currentPath();
    QVERIFY(QFile::setPermissions(work, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    CLogFilesSender sender;
    QTest::ignoreMessage(QtCriticalMsg,
                         record("failed to create zip target: " + work + '/' + sender.targetFile(),
                                "CZipper::zip", " -?\\d+"));
    QTest::ignoreMessage(QtCriticalMsg, record("could not zip " + logs));
    const bool result = run(sender);
    QFile::setPermissions(work,
                          QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    QVERIFY(result);
    QVERIFY(filesIn(output).isEmpty());
    QCOMPARE(recorder.urls.size(), 2);
}

void tst_CLogFilesSender::supportFormAddress_data()
{
    QTest::addColumn<QStringList>("keysAndValues");
    QTest::addColumn<QString>("query");
    const QString fixed = "option=com_content&id=90&Itemid=40&";
    QTest::newRow("empty map") << QStringList()
                               << fixed + "os=&syVersion=&lastVersion=&isUSB=&lang=";
    QTest::newRow("the five in their order, encoded; other keys ignored")
        << QStringList{"lang",  "de", "user",      "ignored", "os",          "Größe&Co=1#x",
                       "isUSB", "0",  "syVersion", "2.1",     "lastVersion", "2.0"}
        << fixed + "os=Gr%C3%B6%C3%9Fe%26Co%3D1%23x&syVersion=2.1&lastVersion=2.0&isUSB=0&lang=de";
}

void tst_CLogFilesSender::supportFormAddress()
{
    QFETCH(QStringList, keysAndValues);
    QFETCH(QString, query);
    QMap<QString, QString> info;
    for (int i = 0; i + 1 < keysAndValues.size(); i += 2)
        info.insert(keysAndValues.at(i), keysAndValues.at(i + 1));
    QVERIFY(CLogFilesSender().openSupportForm(info));
    QCOMPARE(recorder.urls.size(), 2);
    const QUrl form = recorder.urls.at(0);
    QCOMPARE(form.scheme(), "https");
    QVERIFY(!form.host().isEmpty());
    QCOMPARE(form.path(), "/en/forms/index.php");
    QCOMPARE(form.query(QUrl::FullyEncoded), query);
    QVERIFY(QString::fromLatin1(form.toEncoded()).endsWith(query));
    QCOMPARE(recorder.urls.at(1), QUrl::fromLocalFile(output));
}

void tst_CLogFilesSender::rotation_data()
{
    // "MM-DD" stands for the archive logs_2026-MM-DD_10.00.00.zip; the new one is 12-05.
    QTest::addColumn<QString>("present");
    QTest::addColumn<bool>("prefixed");
    QTest::addColumn<QString>("kept");
    const auto row = [](const char* tag, const char* present, const char* kept,
                        bool prefixed = true) {
        QTest::newRow(tag) << QString(present) << prefixed << QString(kept);
    };
    row("seven archives", "11-29 11-30 12-01 12-02 12-03 12-04", "12-01 12-02 12-03 12-04 12-05");
    row("foreign file goes first, until five remain", "a.txt 12-01 12-02 12-03 zz.txt",
        "12-01 12-02 12-03 12-05 zz.txt");
    row("foreign files, then the oldest archives",
        "a.txt b.txt 11-30 12-01 12-02 12-03 12-04 z.txt", "12-01 12-02 12-03 12-04 12-05");
    row("prefix is case-sensitive", "LOGS_2026 12-02", "12-02 12-05");
    row("empty prefix: only the count rule", "a.txt b.txt 12-01 12-02 12-03 12-04",
        "12-01 12-02 12-03 12-04 12-05", false);
    row("directories are neither counted nor deleted",
        "a_dir/ 11-30 12-01 12-02 12-03 12-04 logs_old/",
        "12-01 12-02 12-03 12-04 12-05 a_dir/ logs_old/");
    row("fewer than five", "12-04 notes.txt", "12-04 12-05");
    row("packing fails: the logs stay, the pruning runs",
        "11-01 11-02 11-03 11-04 11-05 11-06 12-05", "11-03 11-04 11-05 11-06 12-05");
}

void tst_CLogFilesSender::rotation()
{
    QFETCH(QString, present);
    QFETCH(bool, prefixed);
    QFETCH(QString, kept);
    const auto fileName = [](const QString& name) {
        return name.at(2) == '-' ? "logs_2026-" + name + "_10.00.00.zip" : name;
    };
    const QString oldLogs = env->makeDir("logs_old");
    env->writeFile("logs_old/Syncarium_2026-12-04.log", "yesterday\n");
    env->writeFile("logs_old/crash/dump.txt", "stack\n");
    const QString archives = env->makeDir("archives");
    QSet<QString> files{fileName("12-05")};
    for (const QString& name : present.split(' ')) {
        if (name.endsWith('/'))
            env->makeDir("archives/" + name);
        else
            files.insert(QFileInfo(env->writeFile("archives/" + fileName(name), "x")).fileName());
    }
    // An archive of the new one's name makes the packing fail.
    const bool fails = present.contains("12-05");
    const QString archive = archives + fileName("12-05");
    CLogFilesSender sender;
    sender.setOldLogsPaths(oldLogs, archive);
    sender.setArchiveNamePrefix(prefixed ? "logs_" : "");
    const auto expect = [](QtMsgType type, const QString& text) {
        QTest::ignoreMessage(type, record(text, "CLogFilesSender::saveLogs"));
    };
    expect(QtDebugMsg, oldLogs + ' ' + archive);
    if (fails)
        expect(QtCriticalMsg, "unable to zip " + oldLogs + " -> " + archive);
    else
        expect(QtDebugMsg, "Logs saved successfully!");
    expect(QtDebugMsg, QStringLiteral("Anzahl Zips:  %1").arg(files.size()));
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
    const CZipListing listing(archive);
    QVERIFY(listing.valid);
    QCOMPARE(listing.sortedNames(),
             (QStringList{"Syncarium_2026-12-04.log", "crash/", "crash/dump.txt"}));
    // The old-logs folder is emptied but stays.
    QVERIFY(QDir(oldLogs).exists());
    QVERIFY(QDir(oldLogs).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

QTEST_MAIN(tst_CLogFilesSender)
#include "tst_CLogFilesSender.moc"
