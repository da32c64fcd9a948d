#include "common/CLogFilesSenderTest.h"

#include "IniFile/collector/CLogFilesSender.h"
#include "IniFile/settings/CIniFileSettings.h"
#include "common/CTestChild.h"
#include "common/CTestTree.h"
#include "system/CShellGlobal.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <utility>

QStringList CUrlRecorder::opened() const
{
    QStringList result;
    for (const QUrl& url : urls)
        result << (url.scheme() == "https" ? QString("form") : url.toLocalFile());
    return result;
}

void CLogFilesSenderTest::expect(QtMsgType type, const QString& text, const QString& function)
{
    QTest::ignoreMessage(
        type, QRegularExpression("^\\[ -1 : MainThread \\] \\[ CLogFilesSender\\.cpp : "
                                 "\\d+ : CLogFilesSender::" +
                                 function + " \\] " + QRegularExpression::escape(text) + '$'));
}

const QStringList CLogFilesSenderTest::fullSample =
    QString(
        "Syncarium.log Syncarium2DataBase.err logs_backup/ logs_backup/Syncarium_2026-11-28.log "
        "logs_backup/Syncarium_2026-11-29.log logs_backup/crash/ logs_backup/crash/dump.txt "
        "sync-2026-12-01.log")
        .split(' ');

void CLogFilesSenderTest::init()
{
    CEnvironmentTest::init();
    appData = CShellGlobal::getShellSpecialFolderPath(APPDATA);
    QVERIFY2(appData.startsWith(dir), qPrintable(appData));
    errorLog = appData + "Syncarium/mysql/data/Syncarium2DataBase.err";
    logs = appData + "Syncarium/logs/";
    backup = appData + "Syncarium/logs_backup/";
    // Missing, two levels deep and named without a trailing slash: the sender creates it.
    output = environment->home() + "Desktop Ü/Schreibtisch/";
    setDesktop("$HOME/Desktop Ü/Schreibtisch");
    recorder.urls.clear();
    QDesktopServices::setUrlHandler("https", &recorder, "record");
    QDesktopServices::setUrlHandler("file", &recorder, "record");
}

void CLogFilesSenderTest::cleanup()
{
    // The next case reads the settings of its own home.
    CSingleton<CIniFileSettings>::destroy();
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("file");
    // Unmounted so that the temporary folder can be removed; a busy working directory cannot be.
    QDir::setCurrent(dir);
    for (const QString& folder : std::exchange(mounts, {}))
        QProcess::execute("umount", {folder});
    CTestTree::unlock(dir);
    environment.reset();
}

void CLogFilesSenderTest::writeSample(const QString& parts)
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

void CLogFilesSenderTest::setDesktop(const QString& path)
{
    environment->writeFile("home/.config/user-dirs.dirs",
                           QString("XDG_DESKTOP_DIR=\"%1\"\n").arg(path).toUtf8());
}

bool CLogFilesSenderTest::mountSmall(const QString& folder, const QString& size)
{
    if (!QDir().mkpath(folder) ||
        !CTestChild::mount({"-t", "tmpfs", "-o", "size=" + size, "none", folder}))
        return false;
    mounts << folder;
    return true;
}

bool CLogFilesSenderTest::run(CLogFilesSender& sender)
{
    sender.setLogsFolder(logs);
    sender.setLogsBackupFolder(backup);
    return sender.zipAndSendLogFiles();
}
