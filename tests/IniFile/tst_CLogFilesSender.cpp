#include "IniFile/CLogFilesSender.h"

#include "common/CTestEnvironment.h"
#include "common/CTestTree.h"
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
    void supportFormAddress();
    void rotation_data();
    void rotation();

private:
    // Writes the error log, the backup folder and the log folder of the sample, as asked.
    void writeSample(const QString& parts = "error backup logs");
    bool run(CLogFilesSender& sender);

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
                          const QString& function = "CLogFilesSender::zipAndSendLogFiles")
{
    return QRegularExpression("^\\[ -1 : MainThread \\] \\[ CLogFilesSender\\.cpp : \\d+ : " +
                              function + " \\] " + QRegularExpression::escape(text) + '$');
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

void tst_CLogFilesSender::writeSample(const QString& parts)
{
    QStringList tree;
    if (parts.contains("error"))
        tree << "mysql/data/Syncarium2DataBase.err=[ERROR] InnoDB: page checksum mismatch";
    if (parts.contains("backup"))
        tree << "logs_backup/Syncarium_2026-11-28.log=sync ok"
             << "logs_backup/Syncarium_2026-11-29.log=sync failed"
             << "logs_backup/crash/dump.txt=stack";
    if (parts.contains("logs"))
        tree << "logs/Syncarium.log=started"
             << "logs/sync-2026-12-01.log=3 files";
    QVERIFY(CTestTree::make(appData + "Syncarium/", tree.join(';')));
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
        CTestTree::write(logs + "logs_backup/stale.log", "old");
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
    const int rootSize = env->root().size();
    env->writeFile(errorLog.mid(rootSize), "newer database errors");
    env->writeFile((output + first.targetFile()).mid(rootSize), "not a zip");
    CLogFilesSender second;
    second.setTargetFile(first.targetFile());
    QVERIFY(run(second));
    QCOMPARE(filesIn(output), QStringList{first.targetFile()});
    const CZipListing listing(output + first.targetFile());
    QVERIFY(listing.valid);
    QCOMPARE(listing.sortedNames(), fullSample);
    QCOMPARE(CTestTree::content(logs + "Syncarium2DataBase.err"), "newer database errors");
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

// The five values in their order, encoded; other keys are ignored.
void tst_CLogFilesSender::supportFormAddress()
{
    const QMap<QString, QString> info{{"lang", "de"}, {"user", "ignored"},  {"os", "Größe&Co=1#x"},
                                      {"isUSB", "0"}, {"syVersion", "2.1"}, {"lastVersion", "2.0"}};
    const QString query = "option=com_content&id=90&Itemid=40&os=Gr%C3%B6%C3%9Fe%26Co%3D1%23x&"
                          "syVersion=2.1&lastVersion=2.0&isUSB=0&lang=de";
    QVERIFY(CLogFilesSender().openSupportForm(info));
    QCOMPARE(recorder.urls.size(), 2);
    const QUrl form = recorder.urls.at(0);
    QVERIFY(form.scheme() == "https" && form.path() == "/en/forms/index.php");
    QCOMPARE(form.query(QUrl::FullyEncoded), query);
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
    row("prefix is case-sensitive; fewer than five", "LOGS_2026 12-02", "12-02 12-05");
    row("empty prefix: only the count rule", "a.txt b.txt 12-01 12-02 12-03 12-04",
        "12-01 12-02 12-03 12-04 12-05", false);
    row("directories are neither counted nor deleted",
        "a_dir/ 11-30 12-01 12-02 12-03 12-04 logs_old/",
        "12-01 12-02 12-03 12-04 12-05 a_dir/ logs_old/");
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
    QVERIFY(CTestTree::make(oldLogs, "Syncarium_2026-12-04.log=yesterday;crash/dump.txt=stack"));
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
    QCOMPARE(CTestTree::describe(oldLogs), "");
}

QTEST_MAIN(tst_CLogFilesSender)
#include "tst_CLogFilesSender.moc"
