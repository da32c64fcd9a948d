#include "IniFile/CLogFilesSender.h"

#include "IniFile/CZipper.h"
#include "dbapi/CPathOperations.h"
#include "diagnostics/CAssert.h"
#include "diagnostics/CException.h"
#include "diagnostics/CLogRecord.h"
#include "fsapi/CFSOperations.h"
#include "system/CShellGlobal.h"
#include "threading/threads/CCallStack.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileInfoList>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

namespace {
const QString databaseErrorLog = QStringLiteral("Syncarium/mysql/data/Syncarium2DataBase.err");
const QString databaseErrorLogName = QStringLiteral("Syncarium2DataBase.err");
const QString fallbackOutputFolder =
    QCoreApplication::translate("CLogFilesSender", "Syncarium/logsForSend/");
const QString backupCopyFolder = QStringLiteral("logs_backup/");
// The host is chosen at build time (SY_SUPPORT_HOST).
const char* const supportFormAddress =
    "https://" SY_SUPPORT_HOST "/en/forms/index.php?option=com_content&id=90&Itemid=40";
const char* const supportInfoKeys[] = {"os", "syVersion", "lastVersion", "isUSB", "lang"};
const int keptArchives = 5;

QString standardDesktopLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

CLogFilesSender::DesktopLocationLookup desktopLocation = &standardDesktopLocation;
} // namespace

CLogFilesSender::CLogFilesSender(QObject* parent)
    : QObject(parent), m_logsFolder(QStringLiteral("logs/")),
      m_logsBackupFolder(QStringLiteral("logs_backup/")),
      m_targetFile(tr("logs_%1.zip")
                       .arg(QDateTime::currentDateTime().toString(tr("yyyy-MM-dd_hh.mm.ss")), 0,
                            QLatin1Char(' ')))
{}

CLogFilesSender::~CLogFilesSender() = default;

void CLogFilesSender::setOldLogsPaths(const QString& folder, const QString& archive)
{
    m_oldLogsFolder = folder;
    m_oldLogsArchive = archive;
}

void CLogFilesSender::setDesktopLocationLookup(DesktopLocationLookup lookup)
{
    desktopLocation = lookup ? lookup : &standardDesktopLocation;
}

QString CLogFilesSender::outputFolder() const
{
    QString folder = desktopLocation();
    if (!folder.isEmpty())
        folder = CPathOperations::toGenericPath(folder, false);
    else
        folder = CShellGlobal::getShellSpecialFolderPath(APPDATA) + fallbackOutputFolder;
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

bool CLogFilesSender::zipAndSendLogFiles()
{
    SY_FUNCTION("CLogFilesSender::zipAndSendLogFiles");
    CFSOperations fsOperations;
    const QMap<QString, QString> supportInfo;
    try {
        // The file operations throw for a missing source; a client without a database log or
        // without backed-up logs is normal, so those two are tested first and only logged.
        const QString errorLog =
            CShellGlobal::getShellSpecialFolderPath(APPDATA) + databaseErrorLog;
        const QString stagedErrorLog = m_logsFolder + databaseErrorLogName;
        bool copied = false;
        if (fsOperations.fileExists(errorLog)) {
            // The copy an earlier run left behind is replaced by the current log: the file
            // layer never overwrites, and a second run must work like the first.
            if (fsOperations.fileExists(stagedErrorLog))
                fsOperations.deleteFile(stagedErrorLog, true);
            // The log folder is made only for a log that exists, so a client without any logs
            // still ends in "could not zip".
            if (!fsOperations.directoryExists(m_logsFolder))
                fsOperations.createDirectory(m_logsFolder, QDateTime(), QDateTime(), QDateTime(), 0,
                                             true);
            copied = fsOperations.copyFile(errorLog, stagedErrorLog, false, false, true);
        }
        if (!copied)
            SY_CRITICAL << "failed to copy" << errorLog;
        const QString backupCopy = m_logsFolder + backupCopyFolder;
        if (fsOperations.directoryExists(backupCopy))
            fsOperations.deleteDirectory(backupCopy, true);
        if (!fsOperations.directoryExists(m_logsBackupFolder) ||
            !fsOperations.copyDirectory(m_logsBackupFolder, backupCopy))
            SY_CRITICAL << "Failed to Copy LogsBackupFolder!";
    } catch (CException* exception) {
        SY_CRITICAL << exception->what();
        delete exception;
        return false;
    } catch (const CException& exception) {
        SY_CRITICAL << exception.what();
        return false;
    } catch (...) {
        SY_CRITICAL << "Failed to zip files! unknown exception";
        return false;
    }

    CZipper zipper(nullptr);
    bool connResult = connect(&zipper, &CZipper::error, this, &CLogFilesSender::zipFinished);
    SY_ASSERT(connResult);
    connResult = connect(&zipper, &CZipper::zipFinished, this, &CLogFilesSender::zipFinished);
    SY_ASSERT(connResult);
    connResult = connect(&zipper, &CZipper::zipProgress, this, &CLogFilesSender::zipProgress);
    SY_ASSERT(connResult);

    const QString workingArchive = QDir::currentPath() + QLatin1Char('/') + m_targetFile;
    if (zipper.zip(m_logsFolder, workingArchive, false)) {
        const QString placedArchive = outputFolder() + m_targetFile;
        if (QFileInfo::exists(placedArchive))
            QFile::remove(placedArchive);
        // The working copy is the only one left when placing fails (a full or read-only
        // desktop), so it is removed only once the placed copy exists.
        if (QFile::copy(workingArchive, placedArchive))
            QFile::remove(workingArchive);
        else
            SY_CRITICAL << "could not place" << workingArchive << "in" << outputFolder();
    } else {
        SY_CRITICAL << "could not zip" << m_logsFolder;
    }
    openSupportForm(supportInfo);
    return true;
}

bool CLogFilesSender::openSupportForm(QMap<QString, QString> supportInfo)
{
    SY_FUNCTION("CLogFilesSender::openSupportForm");
    QUrl form(tr(supportFormAddress));
    QUrlQuery query(form);
    for (const char* key : supportInfoKeys) {
        const QString& value = supportInfo[QLatin1String(key)];
        // A null value would drop the "=" and leave the bare key in the address.
        query.addQueryItem(QLatin1String(key), value.isNull() ? QStringLiteral("") : value);
    }
    form.setQuery(query);
    QDesktopServices::openUrl(form);
    // QUrl keeps the folder's name as Unicode, umlauts included.
    QDesktopServices::openUrl(QUrl::fromLocalFile(outputFolder()));
    return true;
}

void CLogFilesSender::saveLogs()
{
    SY_FUNCTION("CLogFilesSender::saveLogs");
    try {
        SY_DEBUG << m_oldLogsFolder << m_oldLogsArchive;
        CZipper zipper(nullptr);
        CFSOperations fsOperations;
        // The old logs are only removed once they are safely in the archive.
        if (!zipper.zip(m_oldLogsFolder, m_oldLogsArchive, false))
            SY_CRITICAL << "unable to zip" << m_oldLogsFolder << "->" << m_oldLogsArchive;
        else if (fsOperations.cleanDirectory(m_oldLogsFolder, true))
            SY_DEBUG << "Logs saved successfully!";
        else
            SY_CRITICAL << "Could not delete logs_old!";

        // Archive names carry their time stamp, so name order is age order.
        QFileInfoList archives =
            QFileInfo(m_oldLogsArchive).dir().entryInfoList(QDir::Files, QDir::Name);
        SY_DEBUG << "Anzahl Zips: " << archives.size();
        for (qsizetype i = 0; i < archives.size();) {
            const QFileInfo& archive = archives.at(i);
            SY_DEBUG << "Pruefe: " << archive.fileName();
            if (archive.fileName().startsWith(m_archiveNamePrefix)) {
                ++i;
                continue;
            }
            SY_DEBUG << "Deleting: " << archive.absoluteFilePath();
            QFile::remove(archive.absoluteFilePath());
            archives.removeAt(i);
            if (archives.size() == keptArchives)
                break;
        }
        while (archives.size() > keptArchives) {
            SY_DEBUG << "Deleting: " << archives.constFirst().absoluteFilePath();
            QFile::remove(archives.constFirst().absoluteFilePath());
            archives.removeFirst();
        }
    } catch (CException* exception) {
        SY_CRITICAL << exception->what();
        delete exception;
    } catch (const CException& exception) {
        SY_CRITICAL << exception.what();
    } catch (...) {
        SY_CRITICAL << "unknown exception";
    }
}
