#include "IniFile/collector/CPackedLogs.h"

#include "diagnostics/CLogRecord.h"
#include "fsapi/IFSOperations.h"
#include "threading/threads/CCallStack.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QStringList>

#include <quazip/quazip.h>
#include <quazip/quazipfileinfo.h>

#include <algorithm>

CPackedLogs::CPackedLogs(const QString& folder)
    : folder(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'))
{
    QDirIterator entries(this->folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        TLog log{path, {}};
        // A name that is not valid UTF-8 does not survive decoding; such a log is never
        // matched and so is kept.
        if (CFileStamp::of(QFile::encodeName(path), log.stamp))
            logs.insert(path.mid(this->folder.size()).toUtf8(), log);
    }
}

bool CPackedLogs::removeFrom(const QString& archive, IFSOperations& fsOperations) const
{
    SY_FUNCTION("CPackedLogs::removeFrom");
    if (logs.isEmpty())
        return true;
    QFile archiveFile(archive);
    CFileStamp archiveStamp;
    if (!archiveFile.open(QIODevice::ReadOnly) || !CFileStamp::of(archiveFile, archiveStamp)) {
        SY_CRITICAL << "keeping the logs, the archive cannot be read back:" << archive << "-"
                    << archiveFile.errorString();
        return false;
    }
    QuaZip zip(&archiveFile);
    if (!zip.open(QuaZip::mdUnzip)) {
        SY_CRITICAL << "keeping the logs, the archive cannot be read back:" << archive << "-"
                    << zip.getZipError();
        return false;
    }
    QHash<QByteArray, quint64> sizes;
    QStringList folders;
    for (const QuaZipFileInfo64& entry : zip.getFileInfoList64()) {
        if (entry.name.endsWith(QLatin1Char('/')))
            folders.append(entry.name);
        else
            sizes.insert(entry.name.toUtf8(), entry.uncompressedSize);
    }
    zip.close();

    bool removed = true;
    for (auto log = logs.cbegin(); log != logs.cend(); ++log) {
        const auto held = sizes.constFind(log.key());
        if (held == sizes.cend())
            continue;
        // The archive is checked again before each log goes: one that was moved away or
        // replaced since it was read back no longer holds the logs.
        CFileStamp now;
        if (!CFileStamp::of(QFile::encodeName(archive), now) || now != archiveStamp) {
            SY_CRITICAL << "keeping the logs, the archive changed after it was read back:"
                        << archive;
            return false;
        }
        if (qint64(held.value()) != log->stamp.size ||
            !CFileStamp::of(QFile::encodeName(log->path), now) || now != log->stamp) {
            SY_WARNING << "keeping" << log->path << ", it changed after it was packed";
            continue;
        }
        if (!fsOperations.deleteFile(log->path, true))
            removed = false;
    }
    // Deepest first; a folder that still holds something is kept.
    std::sort(folders.begin(), folders.end(), std::greater<QString>());
    const QDir root(folder);
    for (const QString& name : std::as_const(folders))
        root.rmdir(name);
    return removed;
}
