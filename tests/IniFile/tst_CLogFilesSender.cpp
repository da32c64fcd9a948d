#include "IniFile/CLogFilesSender.h"

#include "common/CTestEnvironment.h"
#include "system/CShellGlobal.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

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

    void defaults();
    void properties();
    void collectsPacksAndHandsOver();
    void missingDatabaseLog();
    void missingBackupFolder();
    void nothingToPack();
    void staleBackupCopyIsReplaced();
    void secondRunPacksTheCurrentErrorLog();
    void unplaceableArchiveStaysInWorkingDirectory();
    void archiveOfSameNameIsReplaced();
    void emptyDesktopUsesFallbackFolder();
    void unreadableBackupStopsTheRun();
    void unwritableWorkingDirectory();
    void outputFolder_data();
    void outputFolder();
    void supportFormAddress_data();
    void supportFormAddress();

    void rotation_data();
    void rotation();
    void rotationKeepsLogsWhenPackingFails();

private:
    void writeSample(bool errorLog, bool backup, bool logs);
    QString workingArchive(const CLogFilesSender& sender) const;

    std::unique_ptr<CTestEnvironment> env;
    CUrlRecorder recorder;
    QString appData;
    QString logs;
    QString backup;
};

namespace {
QString desktopForTest;

QString testDesktop()
{
    return desktopForTest;
}

QRegularExpression record(const char* function, const QString& text)
{
    return QRegularExpression(
        QStringLiteral("^\\[ -1 : MainThread \\] \\[ CLogFilesSender\\.cpp : \\d+ : %1 \\] %2$")
            .arg(QRegularExpression::escape(QLatin1String(function)),
                 QRegularExpression::escape(text)));
}

void expectCritical(const QString& text)
{
    QTest::ignoreMessage(QtCriticalMsg, record("CLogFilesSender::zipAndSendLogFiles", text));
}

// Entry names as an independent reader sees them, sorted.
QStringList entries(const QString& archive)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
    if (!unzip.waitForFinished(30000) || unzip.exitCode() != 0)
        return {QStringLiteral("<unreadable>")};
    QStringList names = QString::fromUtf8(unzip.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort();
    return names;
}

bool archiveTestsClean(const QString& archive)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive});
    return unzip.waitForFinished(30000) && unzip.exitStatus() == QProcess::NormalExit &&
           unzip.exitCode() == 0;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

const QStringList fullSample = {QStringLiteral("Syncarium.log"),
                                QStringLiteral("Syncarium2DataBase.err"),
                                QStringLiteral("logs_backup/"),
                                QStringLiteral("logs_backup/Syncarium_2026-11-28.log"),
                                QStringLiteral("logs_backup/Syncarium_2026-11-29.log"),
                                QStringLiteral("logs_backup/crash/"),
                                QStringLiteral("logs_backup/crash/dump.txt"),
                                QStringLiteral("sync-2026-12-01.log")};
} // namespace

void tst_CLogFilesSender::init()
{
    env = std::make_unique<CTestEnvironment>();
    QVERIFY(env->isValid());
    appData = CShellGlobal::getShellSpecialFolderPath(APPDATA);
    QVERIFY2(appData.startsWith(env->root()), qPrintable(appData));
    logs = appData + QStringLiteral("Syncarium/logs/");
    backup = appData + QStringLiteral("Syncarium/logs_backup/");
    desktopForTest = env->makeDir(QStringLiteral("home/Schreibtisch Ü"));
    CLogFilesSender::setDesktopLocationLookup(&testDesktop);
    recorder.urls.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "record");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "record");
}

void tst_CLogFilesSender::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    CLogFilesSender::setDesktopLocationLookup(nullptr);
    if (env)
        QFile::setPermissions(backup + QStringLiteral("Syncarium_2026-11-29.log"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    env.reset();
}

void tst_CLogFilesSender::writeSample(bool errorLog, bool backupLogs, bool logFolder)
{
    if (errorLog)
        env->writeFile(appData.mid(env->root().size()) +
                           QStringLiteral("Syncarium/mysql/data/Syncarium2DataBase.err"),
                       "2026-12-05 09:12:01 [ERROR] InnoDB: page checksum mismatch\n");
    if (backupLogs) {
        const QString relative = backup.mid(env->root().size());
        env->writeFile(relative + QStringLiteral("Syncarium_2026-11-28.log"), "sync ok\n");
        env->writeFile(relative + QStringLiteral("Syncarium_2026-11-29.log"), "sync failed\n");
        env->writeFile(relative + QStringLiteral("crash/dump.txt"), "stack\n");
    }
    if (logFolder) {
        const QString relative = logs.mid(env->root().size());
        env->writeFile(relative + QStringLiteral("Syncarium.log"), "started\n");
        env->writeFile(relative + QStringLiteral("sync-2026-12-01.log"), "3 files\n");
    }
}

QString tst_CLogFilesSender::workingArchive(const CLogFilesSender& sender) const
{
    return QDir::currentPath() + QLatin1Char('/') + sender.targetFile();
}

void tst_CLogFilesSender::defaults()
{
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    CLogFilesSender sender(nullptr);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    QCOMPARE(sender.logsFolder(), QStringLiteral("logs/"));
    QCOMPARE(sender.logsBackupFolder(), QStringLiteral("logs_backup/"));
    const QRegularExpression name(QStringLiteral("^logs_(.{19})\\.zip$"));
    const QRegularExpressionMatch match = name.match(sender.targetFile());
    QVERIFY2(match.hasMatch(), qPrintable(sender.targetFile()));
    const QDateTime stamp =
        QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
    QVERIFY(stamp.isValid());
    QVERIFY(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after);
}

void tst_CLogFilesSender::properties()
{
    CLogFilesSender sender(nullptr);
    const QMetaObject* meta = sender.metaObject();
    const int first = meta->propertyOffset();
    QCOMPARE(meta->propertyCount() - first, 3);
    const char* const names[] = {"logsFolder", "logsBackupFolder", "targetFile"};
    for (int i = 0; i < 3; ++i) {
        const QMetaProperty property = meta->property(first + i);
        QCOMPARE(QByteArray(property.name()), QByteArray(names[i]));
        QVERIFY(property.isWritable() && property.isStored() && property.isDesignable() &&
                property.isScriptable());
        QVERIFY(sender.setProperty(names[i], QStringLiteral("v%1/").arg(i)));
    }
    QCOMPARE(sender.logsFolder(), QStringLiteral("v0/"));
    QCOMPARE(sender.logsBackupFolder(), QStringLiteral("v1/"));
    QCOMPARE(sender.targetFile(), QStringLiteral("v2/"));
    QCOMPARE(meta->indexOfSignal("zipFinished()"), meta->methodOffset());
    QCOMPARE(meta->indexOfSignal("zipProgress(quint32,quint32,qint64,QString)"),
             meta->methodOffset() + 1);
}

void tst_CLogFilesSender::collectsPacksAndHandsOver()
{
    writeSample(true, true, true);
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    QSignalSpy finished(&sender, &CLogFilesSender::zipFinished);
    QSignalSpy progress(&sender, &CLogFilesSender::zipProgress);

    QVERIFY(sender.zipAndSendLogFiles());

    const QString placed = desktopForTest + sender.targetFile();
    QCOMPARE(filesIn(desktopForTest), QStringList{sender.targetFile()});
    QVERIFY(!QFileInfo::exists(workingArchive(sender)));
    QVERIFY(archiveTestsClean(placed));
    QCOMPARE(entries(placed), fullSample);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(progress.count(), fullSample.size());
    QCOMPARE(progress.last().at(0).toUInt(), quint32(fullSample.size()));
    QCOMPARE(progress.last().at(1).toUInt(), quint32(fullSample.size()));

    // The copies stay in the log folder after the run.
    QVERIFY(QFileInfo::exists(logs + QStringLiteral("Syncarium2DataBase.err")));
    QVERIFY(QFileInfo::exists(logs + QStringLiteral("logs_backup/crash/dump.txt")));

    QCOMPARE(recorder.urls.size(), 2);
    QCOMPARE(recorder.urls.at(0).scheme(), QStringLiteral("https"));
    QCOMPARE(recorder.urls.at(1), QUrl::fromLocalFile(desktopForTest));
    QCOMPARE(recorder.urls.at(1).toLocalFile(), desktopForTest);
}

void tst_CLogFilesSender::missingDatabaseLog()
{
    writeSample(false, true, true);
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    expectCritical(QStringLiteral("failed to copy ") + appData +
                   QStringLiteral("Syncarium/mysql/data/Syncarium2DataBase.err"));
    QVERIFY(sender.zipAndSendLogFiles());
    QStringList expected = fullSample;
    expected.removeOne(QStringLiteral("Syncarium2DataBase.err"));
    QCOMPARE(entries(desktopForTest + sender.targetFile()), expected);
    QCOMPARE(recorder.urls.size(), 2);
}

void tst_CLogFilesSender::missingBackupFolder()
{
    writeSample(true, false, true);
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    expectCritical(QStringLiteral("Failed to Copy LogsBackupFolder!"));
    QVERIFY(sender.zipAndSendLogFiles());
    QCOMPARE(entries(desktopForTest + sender.targetFile()),
             QStringList({QStringLiteral("Syncarium.log"), QStringLiteral("Syncarium2DataBase.err"),
                          QStringLiteral("sync-2026-12-01.log")}));
    QCOMPARE(recorder.urls.size(), 2);
}

void tst_CLogFilesSender::nothingToPack()
{
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    QSignalSpy finished(&sender, &CLogFilesSender::zipFinished);
    expectCritical(QStringLiteral("failed to copy ") + appData +
                   QStringLiteral("Syncarium/mysql/data/Syncarium2DataBase.err"));
    expectCritical(QStringLiteral("Failed to Copy LogsBackupFolder!"));
    expectCritical(QStringLiteral("could not zip ") + logs);
    QVERIFY(sender.zipAndSendLogFiles());
    QCOMPARE(finished.count(), 1);
    QVERIFY(filesIn(desktopForTest).isEmpty());
    QVERIFY(filesIn(QDir::currentPath()).isEmpty());
    // The hand-off still runs: the user sees the folder without a new archive.
    QCOMPARE(recorder.urls.size(), 2);
    QCOMPARE(recorder.urls.at(1).toLocalFile(), desktopForTest);
}

void tst_CLogFilesSender::staleBackupCopyIsReplaced()
{
    writeSample(true, true, true);
    env->writeFile(logs.mid(env->root().size()) + QStringLiteral("logs_backup/stale.log"), "old");
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    QVERIFY(sender.zipAndSendLogFiles());
    QCOMPARE(entries(desktopForTest + sender.targetFile()), fullSample);
    QVERIFY(!QFileInfo::exists(logs + QStringLiteral("logs_backup/stale.log")));
    QVERIFY(!QFileInfo::exists(logs + QStringLiteral("logs_backup/logs_backup")));
}

void tst_CLogFilesSender::secondRunPacksTheCurrentErrorLog()
{
    writeSample(true, true, true);
    {
        CLogFilesSender first(nullptr);
        first.setLogsFolder(logs);
        first.setLogsBackupFolder(backup);
        QVERIFY(first.zipAndSendLogFiles());
    }
    const QString errorLog =
        appData + QStringLiteral("Syncarium/mysql/data/Syncarium2DataBase.err");
    env->writeFile(errorLog.mid(env->root().size()), "newer database errors");
    QDir(desktopForTest).removeRecursively();
    QDir().mkpath(desktopForTest);
    recorder.urls.clear();

    CLogFilesSender second(nullptr);
    second.setLogsFolder(logs);
    second.setLogsBackupFolder(backup);
    QVERIFY(second.zipAndSendLogFiles());
    QCOMPARE(entries(desktopForTest + second.targetFile()), fullSample);
    QFile staged(logs + QStringLiteral("Syncarium2DataBase.err"));
    QVERIFY(staged.open(QIODevice::ReadOnly));
    QCOMPARE(staged.readAll(), QByteArray("newer database errors"));
    QCOMPARE(recorder.urls.size(), 2);
}

void tst_CLogFilesSender::unplaceableArchiveStaysInWorkingDirectory()
{
    writeSample(true, true, true);
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    // A folder where the archive should land makes placing it fail, as root too.
    QVERIFY(QDir().mkpath(desktopForTest + sender.targetFile()));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("could not place")));
    QVERIFY(sender.zipAndSendLogFiles());
    QVERIFY(archiveTestsClean(workingArchive(sender)));
    QCOMPARE(recorder.urls.size(), 2);
}

void tst_CLogFilesSender::archiveOfSameNameIsReplaced()
{
    writeSample(true, true, true);
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    env->writeFile(desktopForTest.mid(env->root().size()) + sender.targetFile(), "not a zip");
    QVERIFY(sender.zipAndSendLogFiles());
    QVERIFY(archiveTestsClean(desktopForTest + sender.targetFile()));
    QCOMPARE(entries(desktopForTest + sender.targetFile()), fullSample);
}

void tst_CLogFilesSender::emptyDesktopUsesFallbackFolder()
{
    writeSample(true, true, true);
    desktopForTest.clear();
    const QString fallback = appData + QStringLiteral("Syncarium/logsForSend/");
    QVERIFY(!QFileInfo::exists(fallback));
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    QVERIFY(sender.zipAndSendLogFiles());
    QCOMPARE(filesIn(fallback), QStringList{sender.targetFile()});
    QVERIFY(archiveTestsClean(fallback + sender.targetFile()));
    QCOMPARE(recorder.urls.size(), 2);
    QCOMPARE(recorder.urls.at(1).toLocalFile(), fallback);
}

void tst_CLogFilesSender::unreadableBackupStopsTheRun()
{
    if (runningAsRoot())
        QSKIP("root reads files whatever their permission bits");
    writeSample(true, true, true);
    QVERIFY(QFile::setPermissions(backup + QStringLiteral("Syncarium_2026-11-29.log"), {}));
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    QSignalSpy progress(&sender, &CLogFilesSender::zipProgress);
    // The exception's text: where it was thrown and the call stack down to the collector.
    QTest::ignoreMessage(
        QtCriticalMsg,
        QRegularExpression(QStringLiteral("^\\[ -1 : MainThread \\] \\[ CLogFilesSender\\.cpp : "
                                          "\\d+ : CLogFilesSender::zipAndSendLogFiles \\] .*"
                                          "thrown at .*CLogFilesSender::zipAndSendLogFiles"),
                           QRegularExpression::DotMatchesEverythingOption));
    QVERIFY(!sender.zipAndSendLogFiles());
    QCOMPARE(progress.count(), 0);
    QVERIFY(recorder.urls.isEmpty());
    QVERIFY(filesIn(desktopForTest).isEmpty());
    QVERIFY(filesIn(QDir::currentPath()).isEmpty());
}

void tst_CLogFilesSender::unwritableWorkingDirectory()
{
    if (runningAsRoot())
        QSKIP("root writes into folders whatever their permission bits");
    writeSample(true, true, true);
    const QString work = QDir::currentPath();
    QVERIFY(QFile::setPermissions(work, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    CLogFilesSender sender(nullptr);
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression(QStringLiteral("failed to create zip target:.*") +
                                            QRegularExpression::escape(workingArchive(sender))));
    expectCritical(QStringLiteral("could not zip ") + logs);
    const bool result = sender.zipAndSendLogFiles();
    QFile::setPermissions(work,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(result);
    QVERIFY(filesIn(desktopForTest).isEmpty());
    QCOMPARE(recorder.urls.size(), 2);
}

void tst_CLogFilesSender::outputFolder_data()
{
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QString>("expected");
    QTest::newRow("existing, with slash")
        << QStringLiteral("home/Desktop/") << QStringLiteral("home/Desktop/");
    QTest::newRow("missing, without slash")
        << QStringLiteral("home/Arbeitsfläche") << QStringLiteral("home/Arbeitsfläche/");
    QTest::newRow("nested and missing")
        << QStringLiteral("home/a/b/Bureau") << QStringLiteral("home/a/b/Bureau/");
    QTest::newRow("empty: fallback")
        << QString() << QStringLiteral("<appdata>Syncarium/logsForSend/");
}

void tst_CLogFilesSender::outputFolder()
{
    QFETCH(QString, desktop);
    QFETCH(QString, expected);
    desktopForTest = desktop.isEmpty() ? QString() : env->root() + desktop;
    expected = expected.startsWith(QStringLiteral("<appdata>")) ? appData + expected.mid(9)
                                                                : env->root() + expected;
    const CLogFilesSender sender(nullptr);
    QCOMPARE(sender.outputFolder(), expected);
    QVERIFY(QFileInfo(expected).isDir());
}

void tst_CLogFilesSender::supportFormAddress_data()
{
    QTest::addColumn<QStringList>("keysAndValues");
    QTest::addColumn<QString>("query");
    QTest::newRow("empty map") << QStringList()
                               << QStringLiteral("option=com_content&id=90&Itemid=40&os=&"
                                                 "syVersion=&lastVersion=&isUSB=&lang=");
    QTest::newRow("all five, in their order")
        << QStringList({QStringLiteral("lang"), QStringLiteral("de"), QStringLiteral("os"),
                        QStringLiteral("Debian 12"), QStringLiteral("isUSB"), QStringLiteral("0"),
                        QStringLiteral("syVersion"), QStringLiteral("2.1"),
                        QStringLiteral("lastVersion"), QStringLiteral("2.0")})
        << QStringLiteral("option=com_content&id=90&Itemid=40&os=Debian%2012&syVersion=2.1&"
                          "lastVersion=2.0&isUSB=0&lang=de");
    QTest::newRow("encoded values and extra keys")
        << QStringList({QStringLiteral("os"), QStringLiteral("Größe&Co=1#x"),
                        QStringLiteral("user"), QStringLiteral("ignored")})
        << QStringLiteral("option=com_content&id=90&Itemid=40&os=Gr%C3%B6%C3%9Fe%26Co%3D1%23x&"
                          "syVersion=&lastVersion=&isUSB=&lang=");
}

void tst_CLogFilesSender::supportFormAddress()
{
    QFETCH(QStringList, keysAndValues);
    QFETCH(QString, query);
    QMap<QString, QString> info;
    for (int i = 0; i + 1 < keysAndValues.size(); i += 2)
        info.insert(keysAndValues.at(i), keysAndValues.at(i + 1));
    CLogFilesSender sender(nullptr);
    QVERIFY(sender.openSupportForm(info));
    QCOMPARE(recorder.urls.size(), 2);
    const QUrl form = recorder.urls.at(0);
    QCOMPARE(form.scheme(), QStringLiteral("https"));
    QVERIFY(!form.host().isEmpty());
    QCOMPARE(form.path(), QStringLiteral("/en/forms/index.php"));
    QCOMPARE(form.query(QUrl::FullyEncoded), query);
    QVERIFY(QString::fromLatin1(form.toEncoded()).endsWith(query));
    QCOMPARE(recorder.urls.at(1), QUrl::fromLocalFile(desktopForTest));
}

void tst_CLogFilesSender::rotation_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("kept");

    const auto names = [](std::initializer_list<const char*> list) {
        QStringList result;
        for (const char* name : list)
            result.append(QString::fromUtf8(name));
        return result;
    };
    // The new archive is always logs_2026-12-05_10.00.00.zip.
    QTest::newRow("seven archives")
        << QStringLiteral("logs_")
        << names({"logs_2026-11-29_10.00.00.zip", "logs_2026-11-30_10.00.00.zip",
                  "logs_2026-12-01_10.00.00.zip", "logs_2026-12-02_10.00.00.zip",
                  "logs_2026-12-03_10.00.00.zip", "logs_2026-12-04_10.00.00.zip"})
        << names({"logs_2026-12-01_10.00.00.zip", "logs_2026-12-02_10.00.00.zip",
                  "logs_2026-12-03_10.00.00.zip", "logs_2026-12-04_10.00.00.zip",
                  "logs_2026-12-05_10.00.00.zip"});
    QTest::newRow("foreign file goes first, until five remain")
        << QStringLiteral("logs_")
        << names({"a.txt", "logs_2026-12-01_10.00.00.zip", "logs_2026-12-02_10.00.00.zip",
                  "logs_2026-12-03_10.00.00.zip", "zz.txt"})
        << names({"logs_2026-12-01_10.00.00.zip", "logs_2026-12-02_10.00.00.zip",
                  "logs_2026-12-03_10.00.00.zip", "logs_2026-12-05_10.00.00.zip", "zz.txt"});
    QTest::newRow("foreign files, then the oldest archives")
        << QStringLiteral("logs_")
        << names({"a.txt", "b.txt", "logs_2026-11-30_10.00.00.zip", "logs_2026-12-01_10.00.00.zip",
                  "logs_2026-12-02_10.00.00.zip", "logs_2026-12-03_10.00.00.zip",
                  "logs_2026-12-04_10.00.00.zip", "z.txt"})
        << names({"logs_2026-12-01_10.00.00.zip", "logs_2026-12-02_10.00.00.zip",
                  "logs_2026-12-03_10.00.00.zip", "logs_2026-12-04_10.00.00.zip",
                  "logs_2026-12-05_10.00.00.zip"});
    QTest::newRow("prefix is case-sensitive")
        << QStringLiteral("logs_")
        << names({"LOGS_2026-12-01_10.00.00.zip", "logs_2026-12-02_10.00.00.zip"})
        << names({"logs_2026-12-02_10.00.00.zip", "logs_2026-12-05_10.00.00.zip"});
    QTest::newRow("empty prefix: only the count rule")
        << QString()
        << names({"a.txt", "b.txt", "logs_2026-12-01_10.00.00.zip", "logs_2026-12-02_10.00.00.zip",
                  "logs_2026-12-03_10.00.00.zip", "logs_2026-12-04_10.00.00.zip"})
        << names({"logs_2026-12-01_10.00.00.zip", "logs_2026-12-02_10.00.00.zip",
                  "logs_2026-12-03_10.00.00.zip", "logs_2026-12-04_10.00.00.zip",
                  "logs_2026-12-05_10.00.00.zip"});
    QTest::newRow("directories are neither counted nor deleted")
        << QStringLiteral("logs_")
        << names({"a_dir/", "logs_2026-11-30_10.00.00.zip", "logs_2026-12-01_10.00.00.zip",
                  "logs_2026-12-02_10.00.00.zip", "logs_2026-12-03_10.00.00.zip",
                  "logs_2026-12-04_10.00.00.zip", "logs_old/"})
        << names({"a_dir/", "logs_2026-12-01_10.00.00.zip", "logs_2026-12-02_10.00.00.zip",
                  "logs_2026-12-03_10.00.00.zip", "logs_2026-12-04_10.00.00.zip",
                  "logs_2026-12-05_10.00.00.zip", "logs_old/"});
    QTest::newRow("fewer than five")
        << QStringLiteral("logs_") << names({"logs_2026-12-04_10.00.00.zip", "notes.txt"})
        << names({"logs_2026-12-04_10.00.00.zip", "logs_2026-12-05_10.00.00.zip"});
}

void tst_CLogFilesSender::rotation()
{
    QFETCH(QString, prefix);
    QFETCH(QStringList, present);
    QFETCH(QStringList, kept);
    const QString oldLogs = env->makeDir(QStringLiteral("logs_old"));
    env->writeFile(QStringLiteral("logs_old/Syncarium_2026-12-04.log"), "yesterday\n");
    env->writeFile(QStringLiteral("logs_old/crash/dump.txt"), "stack\n");
    const QString archives = env->makeDir(QStringLiteral("archives"));
    for (const QString& name : std::as_const(present)) {
        if (name.endsWith(QLatin1Char('/')))
            env->makeDir(QStringLiteral("archives/") + name);
        else
            env->writeFile(QStringLiteral("archives/") + name, "x");
    }
    const QString archive = archives + QStringLiteral("logs_2026-12-05_10.00.00.zip");

    CLogFilesSender sender(nullptr);
    sender.setOldLogsPaths(oldLogs, archive);
    sender.setArchiveNamePrefix(prefix);
    const auto debug = [](const QString& text) {
        QTest::ignoreMessage(QtDebugMsg, record("CLogFilesSender::saveLogs", text));
    };
    debug(oldLogs + QLatin1Char(' ') + archive);
    debug(QStringLiteral("Logs saved successfully!"));
    debug(QStringLiteral("Anzahl Zips:  %1").arg(filesIn(archives).size() + 1));
    sender.saveLogs();

    QStringList remaining = filesIn(archives);
    for (const QString& name : QDir(archives).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        remaining.append(name + QLatin1Char('/'));
    remaining.sort();
    QCOMPARE(remaining, kept);
    QVERIFY(archiveTestsClean(archive));
    QCOMPARE(entries(archive),
             QStringList({QStringLiteral("Syncarium_2026-12-04.log"), QStringLiteral("crash/"),
                          QStringLiteral("crash/dump.txt")}));
    // The old-logs folder is emptied but stays.
    QVERIFY(QFileInfo(oldLogs).isDir());
    QVERIFY(QDir(oldLogs).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

void tst_CLogFilesSender::rotationKeepsLogsWhenPackingFails()
{
    const QString oldLogs = env->makeDir(QStringLiteral("logs_old"));
    env->writeFile(QStringLiteral("logs_old/Syncarium_2026-12-04.log"), "yesterday\n");
    // An archive of that name already exists: packing into a new archive must fail.
    const QString archive = env->writeFile(QStringLiteral("archives/logs_2026-12-05.zip"), "x");
    for (int day = 1; day <= 6; ++day)
        env->writeFile(QStringLiteral("archives/logs_2026-11-0%1.zip").arg(day), "x");

    CLogFilesSender sender(nullptr);
    sender.setOldLogsPaths(oldLogs, archive);
    sender.setArchiveNamePrefix(QStringLiteral("logs_"));
    QTest::ignoreMessage(QtCriticalMsg,
                         record("CLogFilesSender::saveLogs",
                                QStringLiteral("unable to zip %1 -> %2").arg(oldLogs, archive)));
    sender.saveLogs();
    QVERIFY(QFileInfo::exists(oldLogs + QStringLiteral("Syncarium_2026-12-04.log")));
    // The pruning runs all the same.
    QCOMPARE(filesIn(env->root() + QStringLiteral("archives")).size(), 5);
}

QTEST_MAIN(tst_CLogFilesSender)
#include "tst_CLogFilesSender.moc"
