#include "IniFile/collector/CLogFilesSender.h"

#include "IniFile/collector/CArchiveSpace.h"
#include "IniFile/collector/LogSenderHelpers.h"
#include "IniFile/settings/CIniFileSettings.h"
#include "IniFile/collector/CPackedLogs.h"
#include "IniFile/collector/CPlacedArchive.h"
#include "IniFile/collector/CSystemReport.h"
#include "IniFile/collector/CUndecodableNames.h"
#include "IniFile/zip/CZipper.h"
#include "dbapi/CPathOperations.h"
#include "diagnostics/CAssert.h"
#include "diagnostics/CException.h"
#include "diagnostics/CLogRecord.h"
#include "fsapi/CFSOperations.h"
#include "system/CFSVolumeInformation.h"
#include "system/CFileManager.h"
#include "system/CShellGlobal.h"
#include "threading/threads/CCallStack.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileInfoList>
#include <QLocale>
#include <QLockFile>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <memory>
#include <utility>

namespace {

using namespace LogSenderHelpers;

const QString databaseErrorLog = QStringLiteral("Syncarium/mysql/data/Syncarium2DataBase.err");
const QString databaseErrorLogName = QStringLiteral("Syncarium2DataBase.err");
const QString backupCopyFolder = QStringLiteral("logs_backup/");
// The host is chosen at build time (SY_SUPPORT_HOST).
const char* const supportFormAddress =
    "https://" SY_SUPPORT_HOST "/en/forms/index.php?option=com_content&id=90&Itemid=40";
const char* const supportInfoKeys[] = {"os", "syVersion", "lastVersion", "isUSB", "lang"};
const int keptArchives = 5;
// Names the system report tries in the log folder: system.txt, system-2.txt and on.
const int maxReportNames = 100;
// How often the zipper's reports are taken over from its thread, in milliseconds.
const int reportInterval = 50;
// The staging and placing steps report as part of the collection they belong to.
const char* const collection = "CLogFilesSender::zipAndSendLogFiles";

// Removes the partial archives a note names, and the note.
void removeNoted(const QString& note)
{
    QFile file(note);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QString path = QString::fromUtf8(line);
            // Only what this program names so: a damaged note never costs another file.
            if (!path.isEmpty() && partialPattern().match(QFileInfo(path).fileName()).hasMatch() &&
                QFileInfo(path).isFile() && !QFile::remove(path))
                SY_WARNING_AT("CLogFilesSender::removePartialArchives")
                    << "could not remove" << quoted(path);
        }
    }
    QFile::remove(note);
}

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

QString CLogFilesSender::outputFolder() const
{
    return chooseOutputFolder();
}

void CLogFilesSender::removePartialArchives()
{
    const qint64 self = QCoreApplication::applicationPid();
    const QString ownNote = partialNote(self);
    if (!ownNote.isEmpty()) {
        const QFileInfo notes(ownNote);
        for (const QString& name : notes.dir().entryList({partialNoteStem + QLatin1Char('*')},
                                                         QDir::Files | QDir::Hidden)) {
            const QString lockSuffix = QStringLiteral(".lock");
            const bool isLock = name.endsWith(lockSuffix);
            bool numbered = false;
            const qint64 process = name.mid(partialNoteStem.size())
                                       .chopped(isLock ? lockSuffix.size() : 0)
                                       .toLongLong(&numbered);
            const QString note =
                notes.dir().filePath(isLock ? name.chopped(lockSuffix.size()) : name);
            if (!numbered || (isLock && QFileInfo::exists(note)))
                continue;
            // The lock of a run that still goes on cannot be taken; one of a killed run can,
            // and goes with the lock object.
            QLockFile owner(note + lockSuffix);
            owner.setStaleLockTime(0);
            if (process == self) {
                removeNoted(note);
                QFile::remove(note + lockSuffix);
            } else if (owner.tryLock(0)) {
                removeNoted(note);
            }
        }
    }
    const QString current = QDir::currentPath();
    for (const QString& folder :
         {current.isEmpty() ? QString() : withSlash(current), chooseOutputFolder()}) {
        if (folder.isEmpty())
            continue;
        const QStringList names = QDir(folder).entryList({QStringLiteral(".logs_*.zip.part")},
                                                         QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : names) {
            if (partialPattern().match(name).hasMatch() && !QFile::remove(folder + name))
                SY_WARNING_AT("CLogFilesSender::removePartialArchives")
                    << "could not remove" << quoted(folder + name);
        }
    }
}

bool CLogFilesSender::zipAndSendLogFiles()
{
    SY_FUNCTION("CLogFilesSender::zipAndSendLogFiles");
    CFSOperations fsOperations;
    const QMap<QString, QString> supportInfo;

    // A child of the sender, so that whoever watches the sender can reach the run's zipper.
    CZipper zipper(this);
    relayReports(zipper);
    // One log on a failing share must not cost the user the others.
    zipper.setSkipUnreadable(true);
    CIniFileSettings& settings = *CSingleton<CIniFileSettings>::instance();
    if (settings.getMaskCredentials()) {
        QNetworkProxy proxy;
        settings.getProxy(proxy);
        zipper.setCredentialMasking(true, proxy.password().toUtf8());
    }

    removePartialArchives();
    TPacking packing;
    packing.workingFolder = archiveFolder();
    packing.output = outputFolder();
    pack(syCallSite, fsOperations, zipper, packing);
    const QString folder = placePacked(syCallSite, fsOperations, zipper.lastError(), packing);
    // Every partial archive is gone or named by now.
    forgetPartials();
    const QStringList leftOut = zipper.leftOut();
    if (packing.zipped && !leftOut.isEmpty()) {
        const QString partly =
            tr("%n log file(s) are missing from the archive or are in it only in part; its list "
               "of left-out files names them and says why:\n%1",
               nullptr, int(leftOut.size()))
                .arg(leftOut.join(QLatin1Char('\n')));
        packing.notice =
            packing.notice.isEmpty() ? partly : packing.notice + QStringLiteral("\n\n") + partly;
    }
    if (!packing.message.isEmpty())
        Q_EMIT failed(packing.message);
    else if (!packing.notice.isEmpty())
        Q_EMIT notice(packing.notice);
    handOff(supportInfo, folder, folder.isEmpty() ? QString() : folder + m_targetFile);
    return true;
}

void CLogFilesSender::pack(const CCallSiteRecord& syCallSite, IFSOperations& fsOperations,
                           CZipper& zipper, TPacking& packing)
{
    // Staging and packing run on a thread of their own while this thread goes on handling the
    // window's events: a large backup folder or a long file never leaves the window unpainted.
    QString systemReport;
    const std::unique_ptr<QThread> worker(QThread::create([&] {
        SY_FUNCTION("CLogFilesSender::zipAndSendLogFiles");
        // Each entry is copied on its own and one that cannot be is skipped with a warning: a
        // single odd file must not cost the user the whole archive.
        m_unstaged.clear();
        stageErrorLog(fsOperations);
        stageBackupFolder(fsOperations);
        // A log that could not be staged (a full disk, a read error) is named with what the
        // zipper leaves out, so that the window and the archive say it is missing.
        for (const auto& [entry, why] : std::as_const(m_unstaged))
            zipper.noteLeftOut(entry, why);
        // One walk of the log folder serves the report, the room check and the zip.
        CArchiveSpace space(m_logsFolder);
        systemReport = stageSystemReport(packing.output, space);
        packing.roomy = checkRoom(space, packing.workingFolder, packing.output, packing.notice,
                                  packing.message);
        if (packing.roomy) {
            const QString partial = partialName(m_targetFile);
            zipper.useListing(space.takeListing());
            notePartials({packing.workingFolder + partial, packing.output + partial});
            packing.zipped = zipper.zip(m_logsFolder, packing.workingFolder + partial, false);
        }
    }));
    QEventLoop working;
    connect(worker.get(), &QThread::finished, &working, &QEventLoop::quit, Qt::QueuedConnection);
    // Twice per painted frame of the window, so that no frame waits for a report.
    QTimer reports;
    reports.setInterval(reportInterval);
    connect(&reports, &QTimer::timeout, this, &CLogFilesSender::deliverReports);
    reports.start();
    worker->start();
    working.exec();
    worker->wait();
    reports.stop();
    deliverReports();
    // The report describes this run only; the next one writes its own.
    if (!systemReport.isEmpty() && !QFile::remove(systemReport))
        SY_WARNING << "could not remove" << quoted(systemReport);
}

QString CLogFilesSender::placePacked(const CCallSiteRecord& syCallSite, IFSOperations& fsOperations,
                                     const QString& zipError, TPacking& packing)
{
    const QString& workingFolder = packing.workingFolder;
    const QString workingArchive = workingFolder + m_targetFile;
    const QString partialArchive = workingFolder + partialName(m_targetFile);
    QString cause = packing.zipped ? QString() : zipError;
    if (packing.zipped) {
        cause = attempt(
            [&] { return fsOperations.moveFile(partialArchive, workingArchive, false, true); },
            packing.zipped);
        if (!cause.isEmpty())
            SY_WARNING << "could not name the archive:" << cause;
    }
    if (!packing.roomy) {
        SY_CRITICAL << "no room for the archive of" << m_logsFolder;
        return QString();
    }
    if (!packing.zipped) {
        SY_CRITICAL << "could not zip" << m_logsFolder;
        QFile::remove(partialArchive);
        // Where the logs themselves are missing or unreadable, the logs are what failed.
        if (cause.isEmpty() || !QFileInfo(m_logsFolder).isDir())
            packing.message =
                tr("No log archive could be made: the logs in %1 could not be packed. The "
                   "support form opens all the same; please describe the problem there.")
                    .arg(QDir::toNativeSeparators(m_logsFolder));
        else
            packing.message = tr("No log archive could be made in %1: %2. The support form opens "
                                 "all the same; please describe the problem there.")
                                  .arg(QDir::toNativeSeparators(workingFolder), cause);
        return QString();
    }
    QString placingCause;
    if (placeArchive(fsOperations, workingArchive, packing.output, placingCause))
        return packing.output;
    SY_CRITICAL << "could not place" << workingArchive << "in" << packing.output;
    packing.message = tr("The log archive could not be put into %1: %3. It is in %2; that folder "
                         "opens now so that you can attach the archive from there.")
                          .arg(QDir::toNativeSeparators(packing.output),
                               QDir::toNativeSeparators(workingFolder), placingCause);
    return workingFolder;
}

void CLogFilesSender::notePartials(const QStringList& paths)
{
    const QString note = partialNote(QCoreApplication::applicationPid());
    if (note.isEmpty())
        return;
    m_partialNoteLock = std::make_unique<QLockFile>(note + QStringLiteral(".lock"));
    m_partialNoteLock->setStaleLockTime(0);
    QSaveFile file(note);
    if (!m_partialNoteLock->tryLock(0) || !file.open(QIODevice::WriteOnly) ||
        file.write(paths.join(QLatin1Char('\n')).toUtf8()) < 0 || !file.commit())
        SY_WARNING_AT(collection) << "could not note where the archive is written in"
                                  << quoted(note);
}

void CLogFilesSender::forgetPartials()
{
    if (!m_partialNoteLock)
        return;
    QFile::remove(partialNote(QCoreApplication::applicationPid()));
    m_partialNoteLock.reset();
}

bool CLogFilesSender::checkRoom(CArchiveSpace& archive, QString& archiveFolder, QString& output,
                                QString& notice, QString& message)
{
    const TRoom partial = roomIn(archiveFolder);
    // A failed query says nothing of the room: the write itself will find out.
    auto fits = [&archive](const TRoom& room) {
        return !room.known || archive.fitsInto(room.free);
    };
    const auto place = [&](const QString& folder) {
        const TRoom target = roomIn(folder);
        if (!fits(target))
            return false;
        // On one file system the archive is renamed into place and needs its room once;
        // elsewhere it needs it twice, or is written where it goes.
        if (target.root != partial.root && !fits(partial)) {
            SY_WARNING_AT(collection) << QStringLiteral("writing the archive in %1: no room in %2")
                                             .arg(quoted(folder), quoted(archiveFolder));
            archiveFolder = folder;
        }
        return true;
    };
    if (place(output))
        return true;
    const QString fallback = fallbackFolder();
    const TRoom desktop = roomIn(output);
    if (fallback != output && place(fallback)) {
        SY_WARNING_AT(collection) << "no room in" << quoted(output) << "for the archive, about"
                                  << archive.estimate() << "bytes; placing it in"
                                  << quoted(fallback);
        notice = tr("There is not enough free space in %1 for the log archive (about %2 are "
                    "needed, %3 are free), so it was put into %4.")
                     .arg(QDir::toNativeSeparators(output), dataSize(archive.estimate()),
                          dataSize(desktop.free), QDir::toNativeSeparators(fallback));
        output = fallback;
        return true;
    }
    SY_CRITICAL_AT(collection) << "no room for the archive, about" << archive.estimate()
                               << "bytes, in" << quoted(output) << "or" << quoted(fallback);
    QStringList places{roomText(desktop)};
    if (fallback != output)
        places.append(roomText(roomIn(fallback)));
    if (partial.root != desktop.root && !fits(partial))
        places.append(roomText(partial));
    message = tr("No log archive was made: it needs about %1 of free space, but %2. Please "
                 "make room there and start the log sender again. The support form opens all "
                 "the same.")
                  .arg(dataSize(archive.estimate()), places.join(tr(" and ")));
    return false;
}

QString CLogFilesSender::archiveFolder() const
{
    const QString current = QDir::currentPath();
    const QFileInfo working(current);
    QString why;
    // A deleted working directory has no path: "/" must not take its place.
    if (current.isEmpty() || !working.isDir())
        why = QStringLiteral("no longer exists");
    else if (!working.isWritable())
        why = QStringLiteral("cannot be written");
    else
        return withSlash(current);
    const QString folder = outputFolder();
    SY_WARNING_AT(collection) << QStringLiteral("writing the archive in %1: the working folder %2")
                                     .arg(quoted(folder), why);
    return folder;
}

void CLogFilesSender::skippedEscaped(const QString& escapedPath, const QString& reason,
                                     bool holdsLogs)
{
    SY_WARNING_AT(collection) << QStringLiteral("skipped \"%1\": %2").arg(escapedPath, reason);
    if (!holdsLogs)
        return;
    const QString backup = escaped(m_logsBackupFolder);
    QString entry = QFileInfo(escapedPath).fileName();
    if (escapedPath.startsWith(backup))
        entry = backupCopyFolder + escapedPath.mid(backup.size());
    else if (withSlash(escapedPath) == backup)
        entry = backupCopyFolder;
    m_unstaged.append({entry, reason});
}

void CLogFilesSender::skipped(const QString& path, const QString& reason, bool holdsLogs)
{
    skippedEscaped(escaped(path), reason, holdsLogs);
}

void CLogFilesSender::stageErrorLog(IFSOperations& fsOperations)
{
    const QString errorLog = CShellGlobal::getShellSpecialFolderPath(APPDATA) + databaseErrorLog;
    const QFileInfo source(errorLog);
    const QString stagedErrorLog = m_logsFolder + databaseErrorLogName;
    // A client without a database log is normal: that is only logged.
    if (!source.exists() && !source.isSymLink()) {
        SY_CRITICAL_AT(collection) << "failed to copy" << errorLog;
        removeStaleCopy(stagedErrorLog);
        return;
    }
    const QString reason = unstageable(source);
    if (!reason.isEmpty()) {
        skipped(errorLog, reason, holdsLogs(source));
        removeStaleCopy(stagedErrorLog);
        return;
    }
    bool copied = false;
    const QString failure = attempt(
        [&] {
            // The copy an earlier run left behind is replaced by the current log: the file
            // layer never overwrites, and a second run must work like the first.
            if (fsOperations.fileExists(stagedErrorLog))
                fsOperations.deleteFile(stagedErrorLog, true);
            // The log folder is made only for a log that exists, so a client without any
            // logs still ends in "could not zip".
            if (!fsOperations.directoryExists(m_logsFolder))
                fsOperations.createDirectory(m_logsFolder, QDateTime(), QDateTime(), QDateTime(), 0,
                                             true);
            return fsOperations.copyFile(errorLog, stagedErrorLog, false, false, true);
        },
        copied);
    if (!failure.isEmpty())
        skipped(errorLog, failure);
    else if (!copied)
        SY_CRITICAL_AT(collection) << "failed to copy" << errorLog;
}

QString CLogFilesSender::stageSystemReport(const QString& desktop, CArchiveSpace& space)
{
    // Without a log folder there is nothing to describe: the run ends in "could not zip".
    if (!QFileInfo(m_logsFolder).isDir())
        return QString();
    CSystemReport::TTally leftOut = CSystemReport::tally(m_logsBackupFolder);
    const CSystemReport::TTally staged = space.tally(QFile::encodeName(backupCopyFolder));
    const QFileInfo errorLog(CShellGlobal::getShellSpecialFolderPath(APPDATA) + databaseErrorLog);
    const QFileInfo stagedErrorLog(m_logsFolder + databaseErrorLogName);
    if (errorLog.isFile() && !errorLog.isSymLink() && !stagedErrorLog.isFile()) {
        ++leftOut.files;
        leftOut.bytes += errorLog.size();
    }
    leftOut.files = qMax<qint64>(0, leftOut.files - staged.files);
    leftOut.bytes = qMax<qint64>(0, leftOut.bytes - staged.bytes);
    const QByteArray text =
        CSystemReport::text(space.tally(), leftOut, m_logsFolder,
                            CSingleton<CIniFileSettings>::instance()->getUserSpacePath(), desktop);
    // Made only under a name that is free, so that a file of the user's is never replaced nor
    // removed with the report.
    for (int number = 1; number <= maxReportNames; ++number) {
        const QString name = number == 1 ? QStringLiteral("system.txt")
                                         : QStringLiteral("system-%1.txt").arg(number);
        const QString path = m_logsFolder + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
                continue;
            SY_WARNING_AT(collection) << "no system report:" << file.errorString();
            return QString();
        }
        const bool written = file.write(text) == text.size() && file.flush();
        file.close();
        if (written && file.error() == QFileDevice::NoError) {
            space.addMade(QFile::encodeName(name), text.size());
            return path;
        }
        SY_WARNING_AT(collection) << "no system report:" << file.errorString();
        QFile::remove(path);
        return QString();
    }
    SY_WARNING_AT(collection) << "no system report: no free name in" << quoted(m_logsFolder);
    return QString();
}

void CLogFilesSender::removeStaleCopy(const QString& staged)
{
    // The log folder holds what exists now: a copy an earlier run staged would be packed as if
    // it were current.
    const QFileInfo copy(staged);
    if (!copy.isFile() && !copy.isSymLink())
        return;
    if (QFile::remove(staged))
        SY_WARNING_AT(collection) << "removed the earlier run's copy" << quoted(staged);
    else
        SY_WARNING_AT(collection) << "could not remove the earlier run's copy" << quoted(staged);
}

void CLogFilesSender::stageBackupFolder(IFSOperations& fsOperations)
{
    // A backup folder that was moved into the log folder and left as a link is packed where it
    // is: removing the earlier copy would remove the backed-up logs themselves. One that holds
    // the log folder would be copied into itself, level by level.
    if (liesWithin(m_logsBackupFolder, m_logsFolder)) {
        skipped(m_logsBackupFolder,
                QStringLiteral(
                    "it is the log folder or lies inside it, whose logs are packed as they are"),
                false);
        return;
    }
    if (liesWithin(m_logsFolder, m_logsBackupFolder)) {
        skipped(m_logsBackupFolder,
                QStringLiteral("it holds the log folder, which would be copied into itself"));
        return;
    }
    const QString backupCopy = m_logsFolder + backupCopyFolder;
    const QFileInfo earlier(backupCopy.chopped(1));
    QString failure;
    bool removed = true;
    // The copy of an earlier run is replaced, not merged. Whatever else stands at its name is
    // removed as the entry itself: a link is never followed into what it points to.
    if (earlier.isDir() && !earlier.isSymLink())
        failure = attempt([&] { return fsOperations.deleteDirectory(backupCopy, true); }, removed);
    else if (earlier.exists() || earlier.isSymLink())
        removed = QFile::remove(earlier.filePath());
    if (!failure.isEmpty() || !removed) {
        skipped(m_logsBackupFolder,
                QStringLiteral("the earlier copy %1 could not be removed%2")
                    .arg(quoted(backupCopy), failure.isEmpty() ? QString() : ": " + failure));
        return;
    }
    if (!QFileInfo(m_logsBackupFolder).isDir() ||
        !stageFolder(fsOperations, m_logsBackupFolder, backupCopy))
        SY_CRITICAL_AT(collection) << "Failed to Copy LogsBackupFolder!";
}

bool CLogFilesSender::stageFolder(IFSOperations& fsOperations, const QString& from,
                                  const QString& to)
{
    const QFileInfo source(from);
    if (!source.isReadable() || !source.isExecutable()) {
        skipped(from, QStringLiteral("the folder cannot be read"));
        return false;
    }
    bool made = false;
    const QString failure = attempt(
        [&] {
            return fsOperations.createDirectory(to, QDateTime(), QDateTime(), QDateTime(), 0, true);
        },
        made);
    if (!made) {
        skipped(from, failure.isEmpty() ? QStringLiteral("the copy could not be made") : failure);
        return false;
    }
    // The toolkit's listing leaves out names it cannot decode; they are reported here.
    for (const QString& name : CUndecodableNames::in(from))
        skippedEscaped(escaped(from) + name, QStringLiteral("its name is not valid UTF-8"));
    const QFileInfoList entries = QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                           QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString target = to + entry.fileName();
        if (entry.isDir() && !entry.isSymLink()) {
            stageFolder(fsOperations, withSlash(entry.filePath()), withSlash(target));
            continue;
        }
        QString reason = unstageable(entry);
        if (reason.isEmpty()) {
            bool copied = false;
            reason = attempt(
                [&] {
                    return fsOperations.copyFile(entry.filePath(), target, false, false, false);
                },
                copied);
            if (reason.isEmpty() && !copied)
                reason = QStringLiteral("the copy could not be made");
        }
        if (!reason.isEmpty())
            skipped(entry.filePath(), reason, holdsLogs(entry));
    }
    return true;
}

bool CLogFilesSender::placeArchive(IFSOperations& fsOperations, const QString& working,
                                   const QString& folder, QString& cause)
{
    // Started in the output folder (a terminal on the desktop, a launcher in a home that is
    // also the desktop, a desktop reached through a bind mount), the working archive already is
    // the placed one: removing an existing copy before placing would remove the archive itself.
    if (CPlacedArchive::sameObject(QFileInfo(working).absolutePath(), folder))
        return true;
    const QString placed = folder + m_targetFile;
    // On one file system a rename replaces an earlier archive of the name at once and needs
    // no second copy of the space.
    bool moved = false;
    attempt([&] { return fsOperations.moveFile(working, placed, false, true); }, moved);
    if (moved)
        return true;
    // Elsewhere the copy is made under a temporary name and replaces an earlier archive only
    // once it is complete and reads back as the checked archive, so that a full or faulty
    // desktop loses neither.
    const QString partial = folder + partialName(m_targetFile);
    cause = attempt([&] { return fsOperations.copyFile(working, partial, false, false, false); },
                    moved);
    if (moved && !CPlacedArchive::confirmCopy(working, partial, cause))
        moved = false;
    if (moved)
        cause = attempt([&] { return fsOperations.moveFile(partial, placed, false, true); }, moved);
    if (!moved) {
        QFile::remove(partial);
        if (cause.isEmpty())
            cause = tr("the copy could not be made");
        SY_WARNING_AT(collection) << "placing failed:" << cause;
        return false;
    }
    if (!QFile::remove(working))
        SY_WARNING_AT(collection) << "could not remove" << quoted(working);
    return true;
}

bool CLogFilesSender::openSupportForm(QMap<QString, QString> supportInfo)
{
    SY_FUNCTION("CLogFilesSender::openSupportForm");
    handOff(supportInfo, outputFolder(), QString());
    return true;
}

void CLogFilesSender::handOff(QMap<QString, QString> supportInfo, const QString& folder,
                              const QString& archive)
{
    QUrl form(tr(supportFormAddress));
    QUrlQuery query(form);
    for (const char* key : supportInfoKeys) {
        const QString& value = supportInfo[QLatin1String(key)];
        // A null value would drop the "=" and leave the bare key in the address.
        query.addQueryItem(QLatin1String(key), value.isNull() ? QStringLiteral("") : value);
    }
    form.setQuery(query);
    QDesktopServices::openUrl(form);
    // The archive shown selected saves the user looking for it; a desktop whose file manager
    // cannot do that gets its folder. QUrl keeps the folder's name as Unicode, umlauts
    // included. Without an archive there is nothing to attach, and an empty folder would look
    // like success.
    if (!archive.isEmpty() && CFileManager::showItem(archive))
        return;
    if (!folder.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void CLogFilesSender::saveLogs()
{
    SY_FUNCTION("CLogFilesSender::saveLogs");
    try {
        SY_DEBUG << m_oldLogsFolder << m_oldLogsArchive;
        CZipper zipper(nullptr);
        CFSOperations fsOperations;
        // Stamped before the zipper opens them, so that a log which changes while it is packed
        // or afterwards is told from the version the archive holds. The folder is not emptied:
        // a log that no archive holds, or holds only in part, stays for the next rotation.
        const CPackedLogs logs(m_oldLogsFolder);
        if (!zipper.zip(m_oldLogsFolder, m_oldLogsArchive, false)) {
            SY_CRITICAL << "unable to zip" << m_oldLogsFolder << "->" << m_oldLogsArchive;
        } else {
            oldLogsPacked();
            if (logs.removeFrom(m_oldLogsArchive, fsOperations))
                SY_DEBUG << "Logs saved successfully!";
            else
                SY_CRITICAL << "Could not delete logs_old!";
        }

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
