#include "fsapi/linux/CLinuxFSOperations.h"

#include "diagnostics/CLogRecord.h"
#include "fsapi/FSArgumentChecks.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/LinuxFSHelpers.h"
#include "threading/threads/CCallStack.h"

#include <sys/stat.h>
#include <unistd.h>

// The safe forms: the object is parked under the safe name while it changes, and moved back
// when the change fails.

using namespace Exceptions;
using namespace LinuxFS;

void CLinuxFSOperations::parkObject(const CCallSiteRecord& syCallSite, const QString& path,
                                    const QString& safePath, bool isDirectory, bool overwrite)
{
    relocate(syCallSite, path, safePath, isDirectory, overwrite,
             QStringLiteral("Could not rename file to safe name: ") + path);
}

void CLinuxFSOperations::moveBack(const CCallSiteRecord& syCallSite, const QString& safePath,
                                  const QString& path, bool isDirectory, bool rollingBack)
{
    // The exception reads the same either way; the record tells where the object is now.
    try {
        relocate(syCallSite, safePath, path, isDirectory, false,
                 QStringLiteral("ERROR at ROLLBACK: ") + path);
    } catch (const FileSystemException& exception) {
        SY_CRITICAL << "ERROR at ROLLBACK: the object is left at" << safePath << "and not back at"
                    << path << "-"
                    << (exception.cause() ? exception.cause()->details()
                                          : QStringLiteral("the move answered false"));
        throw;
    }
    if (rollingBack)
        SY_CRITICAL << "rolled back: the object is back at" << path;
}

void CLinuxFSOperations::restoreParked(const CCallSiteRecord& syCallSite, const QString& path,
                                       const QString& safePath, bool isDirectory)
{
    // The safe name is this operation's own: an object there while none is at path is the one
    // a killed call of it had parked, which goes back before the operation runs again.
    const auto exists = [this, isDirectory](const QString& object) {
        return isDirectory ? directoryExists(object) : fileExists(object);
    };
    if (exists(path) || !exists(safePath))
        return;
    SY_WARNING << "a parked object is back at" << path << "from" << safePath;
    moveBack(syCallSite, safePath, path, isDirectory, false);
}

void CLinuxFSOperations::relocate(const CCallSiteRecord& syCallSite, const QString& from,
                                  const QString& to, bool isDirectory, bool overwrite,
                                  const QString& details)
{
    bool moved = false;
    try {
        moved = isDirectory ? moveDirectory(from, to, false) : moveFile(from, to, false, overwrite);
    } catch (const FileSystemException& exception) {
        SY_THROW_CAUSED(FileSystemException, details, exception);
    }
    if (!moved)
        SY_THROW(FileSystemException, details);
}

bool CLinuxFSOperations::safeDeleteFile(const QString& path, const QString& safePath, bool force)
{
    SY_FUNCTION("CLinuxFSOperations::safeDeleteFile");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    restoreParked(syCallSite, path, safePath, false);
    if (!fileExists(path))
        SY_THROW(FileDoesNotExist, QStringLiteral("File not found: ") + path);
    ReadOnlyKeeper keeper(syCallSite.function, path);
    const bool deleted = deleteParked(syCallSite, path, safePath, force, false);
    if (deleted)
        keeper.succeeded();
    return deleted;
}

bool CLinuxFSOperations::safeDeleteDirectory(const QString& path, const QString& safePath,
                                             bool force)
{
    SY_FUNCTION("CLinuxFSOperations::safeDeleteDirectory");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    restoreParked(syCallSite, path, safePath, true);
    if (!directoryExists(path))
        SY_THROW(DirectoryDoesNotExist, QStringLiteral("Directory not found: ") + path);
    removeReadOnlyOrLog(syCallSite, path);
    requireWriteLock(syCallSite, path);
    return deleteParked(syCallSite, path, safePath, force, true);
}

bool CLinuxFSOperations::deleteParked(const CCallSiteRecord& syCallSite, const QString& path,
                                      const QString& safePath, bool force, bool isDirectory)
{
    parkObject(syCallSite, path, safePath, isDirectory, false);
    bool deleted = false;
    try {
        deleted = isDirectory ? deleteDirectory(safePath, force) : deleteFile(safePath, force);
    } catch (const FileSystemException& exception) {
        // The object goes back where it was if it can; the failure is reported either way.
        try {
            moveBack(syCallSite, safePath, path, isDirectory, true);
        } catch (const FileSystemException&) {
        }
        SY_THROW_CAUSED(FileSystemException, QStringLiteral("ERROR at ROLLBACK: ") + path,
                        exception);
    }
    if (!deleted)
        moveBack(syCallSite, safePath, path, isDirectory, true);
    return deleted;
}

bool CLinuxFSOperations::safeCleanDirectory(const QString& path, const QString& safePath,
                                            bool force)
{
    SY_FUNCTION("CLinuxFSOperations::safeCleanDirectory");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    // Every entry passes through the one safe name, which keeps no trace of the entry's own: an
    // object there is one a killed call of this clean was removing, and its removal is finished.
    struct stat parked;
    if (lookUp(syCallSite, safePath, parked)) {
        SY_WARNING << "removing what a killed call left parked at" << safePath;
        if (S_ISDIR(parked.st_mode) ? !deleteDirectory(safePath, force)
                                    : !deleteFile(safePath, force))
            return false;
    }
    return removeEntries(syCallSite, path,
                         [this, &safePath, force](const QString& entry, bool isDirectory) {
                             return isDirectory ? safeDeleteDirectory(entry, safePath, force)
                                                : safeDeleteFile(entry, safePath, force);
                         });
}

bool CLinuxFSOperations::safeCopyFile(const QString& src, const QString& dest,
                                      const QString& safePath, bool force, bool checkLock,
                                      bool failIfExists)
{
    SY_FUNCTION("CLinuxFSOperations::safeCopyFile");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    if (!fileExists(src))
        SY_THROW(FileDoesNotExist, QStringLiteral("File not found: ") + src);
    if (!failIfExists && fileExists(dest))
        SY_THROW(FileExists, QStringLiteral("Destination already exists: ") + dest);
    removeFinishedCopy(syCallSite, src, safePath);
    bool copied = false;
    try {
        copied = copyFile(src, safePath, force, checkLock, failIfExists);
        if (copied && moveFile(safePath, dest, force, failIfExists))
            return true;
    } catch (const FileSystemException& exception) {
        SY_WARNING << exception.what();
    }
    // The copy under the safe name is this call's own: it must not stay behind.
    if (copied) {
        try {
            deleteFile(safePath, true);
        } catch (const FileSystemException& exception) {
            SY_WARNING << exception.what();
        }
    }
    return false;
}

void CLinuxFSOperations::removeFinishedCopy(const CCallSiteRecord& syCallSite, const QString& src,
                                            const QString& safePath)
{
    // A copy is named only when complete and keeps its source's size, mode and time: a file
    // under the safe name that matches them is a killed call's copy, not someone's file.
    struct stat source;
    struct stat safe;
    if (!lookUp(syCallSite, src, source) || !lookUp(syCallSite, safePath, safe) ||
        !S_ISREG(safe.st_mode) || safe.st_size != source.st_size ||
        safe.st_mode != source.st_mode || safe.st_mtim.tv_sec != source.st_mtim.tv_sec ||
        safe.st_mtim.tv_nsec != source.st_mtim.tv_nsec)
        return;
    SY_WARNING << "removing the copy a killed call left at" << safePath;
    deleteFile(safePath, false);
}

bool CLinuxFSOperations::safeMoveFile(const QString& src, const QString& dest,
                                      const QString& safePath, bool force, bool overwrite)
{
    SY_FUNCTION("CLinuxFSOperations::safeMoveFile");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    if (!fileExists(src))
        SY_THROW(FileDoesNotExist, QStringLiteral("Source doesn't exists: ") + src);
    if (!tryExclusiveLock(src))
        SY_THROW(Locked, QStringLiteral("File is locked: ") + src);
    // A killed call may have left the file under both names: the move is done but for the
    // old name.
    if (src != dest && sameFile(src, dest)) {
        dropSecondName(src, dest);
        return true;
    }
    if (!overwrite && src != dest && fileExists(dest))
        SY_THROW(FileExists, QStringLiteral("Destination already exists: ") + dest);
    const QString parent = parentOf(syCallSite, dest);
    if (!directoryExists(parent)) {
        bool created = false;
        try {
            created = createDirectory(parent, QDateTime(), QDateTime(), QDateTime(), 0, true);
        } catch (const FileSystemException&) {
            SY_CRITICAL << "Could not force Directory" << parent;
            throw;
        }
        if (!created) {
            SY_CRITICAL << "Could not force Directory" << parent;
            return false;
        }
    }
    // The safe name is a second link while src keeps the first, so that a crash at any point
    // leaves the file under src or dest; where hard links are refused it is a rename. A stale
    // object under the safe name is replaced.
    if (!parkAsLink(syCallSite, src, safePath)) {
        parkObject(syCallSite, src, safePath, false, true);
        return placeParked(syCallSite, src, dest, safePath, force, overwrite, false);
    }
    bool placed = false;
    try {
        placed = moveFile(safePath, dest, force, overwrite);
    } catch (const FileSystemException&) {
        dropSecondName(safePath, src);
        SY_CRITICAL << "rolled back: the object is back at" << src;
        throw;
    }
    if (!placed) {
        dropSecondName(safePath, src);
        SY_CRITICAL << "rolled back: the object is back at" << src;
        return false;
    }
    dropSecondName(src, dest);
    return true;
}

bool CLinuxFSOperations::parkAsLink(const CCallSiteRecord& syCallSite, const QString& src,
                                    const QString& safePath)
{
    const QByteArray from = nativeBytes(src);
    const QByteArray to = nativeBytes(safePath);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::link(from.constData(), to.constData()) == 0)
            return true;
        const int error = errno;
        if (error == EPERM || error == EOPNOTSUPP || error == EMLINK)
            return false;
        struct stat stale;
        if (error != EEXIST || attempt > 0 || ::lstat(to.constData(), &stale) != 0 ||
            S_ISDIR(stale.st_mode) || ::unlink(to.constData()) != 0)
            SY_THROW(FileSystemException,
                     QStringLiteral("Could not rename file to safe name: ") + src);
    }
    return false;
}

void CLinuxFSOperations::dropSecondName(const QString& name, const QString& kept)
{
    SY_FUNCTION("CLinuxFSOperations::safeMoveFile");
    struct stat dropped;
    struct stat staying;
    const QByteArray bytes = nativeBytes(name);
    // Only a name of the very file that stays under kept goes.
    if (::lstat(bytes.constData(), &dropped) != 0 ||
        ::lstat(nativeBytes(kept).constData(), &staying) != 0 || dropped.st_dev != staying.st_dev ||
        dropped.st_ino != staying.st_ino)
        return;
    if (::unlink(bytes.constData()) != 0 || syncFolderOf(name) != 0)
        SY_CRITICAL << "the file keeps a second name at" << name << "beside" << kept << "-"
                    << systemErrorText(errno);
}

bool CLinuxFSOperations::sameFile(const QString& first, const QString& second)
{
    struct stat one;
    struct stat other;
    return ::lstat(nativeBytes(first).constData(), &one) == 0 &&
           ::lstat(nativeBytes(second).constData(), &other) == 0 && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

bool CLinuxFSOperations::safeMoveDirectory(const QString& src, const QString& dest,
                                           const QString& safePath, bool force)
{
    SY_FUNCTION("CLinuxFSOperations::safeMoveDirectory");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    restoreParked(syCallSite, src, safePath, true);
    if (!directoryExists(src))
        SY_THROW(DirectoryDoesNotExist, QStringLiteral("Source doesn't exists: ") + src);
    requireWriteLock(syCallSite, src);
    requireNothingHeldInside(syCallSite, src);
    parkObject(syCallSite, src, safePath, true, false);
    return placeParked(syCallSite, src, dest, safePath, force, false, true);
}

bool CLinuxFSOperations::placeParked(const CCallSiteRecord& syCallSite, const QString& src,
                                     const QString& dest, const QString& safePath, bool force,
                                     bool overwrite, bool isDirectory)
{
    bool placed = false;
    try {
        placed = isDirectory ? moveDirectory(safePath, dest, force)
                             : moveFile(safePath, dest, force, overwrite);
    } catch (const FileSystemException&) {
        moveBack(syCallSite, safePath, src, isDirectory, true);
        throw;
    }
    if (!placed)
        moveBack(syCallSite, safePath, src, isDirectory, true);
    return placed;
}

bool CLinuxFSOperations::safeRenameFile(const QString& src, const QString& dest,
                                        const QString& safePath, bool overwrite)
{
    SY_FUNCTION("CLinuxFSOperations::safeRenameFile");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    requireSameParent(syCallSite, src, dest);
    return safeMoveFile(src, dest, safePath, false, overwrite);
}

bool CLinuxFSOperations::safeRenameDirectory(const QString& src, const QString& dest,
                                             const QString& safePath)
{
    SY_FUNCTION("CLinuxFSOperations::safeRenameDirectory");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    requireSameParent(syCallSite, src, dest);
    return safeMoveDirectory(src, dest, safePath, false);
}

bool CLinuxFSOperations::safeCreateDirectory(const QString& path, const QString& safePath,
                                             const QDateTime& creation, const QDateTime& lastAccess,
                                             const QDateTime& lastWrite, quint32 attributes,
                                             bool force)
{
    SY_FUNCTION("CLinuxFSOperations::safeCreateDirectory");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    if (directoryExists(path))
        SY_THROW(DirectoryExists, QStringLiteral("Destination already exists: ") + path);
    // An empty folder under the safe name is one a killed call of this operation made.
    if (::rmdir(nativeBytes(safePath).constData()) == 0)
        SY_WARNING << "removed the folder a killed call left at" << safePath;
    bool created = false;
    try {
        created = createDirectory(safePath, creation, lastAccess, lastWrite, attributes, force);
    } catch (const FileSystemException& exception) {
        SY_THROW_CAUSED(FileSystemException,
                        QStringLiteral("createDirectory failed. Errno: ") + exception.details(),
                        exception);
    }
    if (!created)
        SY_THROW(FileSystemException,
                 QStringLiteral("createDirectory failed. Errno: %1").arg(errno));

    // Made under the safe name, the directory appears under its own name in one rename.
    bool placed = false;
    try {
        placed = moveDirectory(safePath, path, false);
    } catch (const FileSystemException&) {
        rollbackCreatedDirectory(syCallSite, safePath);
        throw;
    }
    if (!placed) {
        rollbackCreatedDirectory(syCallSite, safePath);
        return false;
    }

    bool stamped = false;
    try {
        stamped = setTimeStamps(path, creation, lastAccess, lastWrite, true);
    } catch (const FileSystemException&) {
    }
    if (stamped)
        return true;
    SY_CRITICAL << "could not set TimeStamp";
    bool removed = false;
    try {
        removed = deleteDirectory(path, false);
    } catch (const FileSystemException& exception) {
        SY_THROW_CAUSED(FileSystemException, QStringLiteral("ERROR at ROLLBACK: ") + path,
                        exception);
    }
    if (!removed)
        SY_THROW(FileSystemException, QStringLiteral("ERROR at ROLLBACK: ") + path);
    return false;
}

bool CLinuxFSOperations::safeSetTimeStamps(const QString& path, const QString& safePath,
                                           const QDateTime& creation, const QDateTime& lastAccess,
                                           const QDateTime& lastWrite, bool isDirectory)
{
    SY_FUNCTION("CLinuxFSOperations::safeSetTimeStamps");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    restoreParked(syCallSite, path, safePath, isDirectory);
    // A second name of the file under the safe name is what a killed call of this left.
    if (!isDirectory && sameFile(path, safePath))
        dropSecondName(safePath, path);
    // A file is parked as a second link, so that its own name holds it at every moment; a
    // folder, or a file where hard links are refused, is renamed. A taken safe name is left.
    const bool linked = !isDirectory && ::link(nativeBytes(path).constData(),
                                               nativeBytes(safePath).constData()) == 0;
    bool parked = linked;
    try {
        if (!linked && (isDirectory || errno != EEXIST))
            parked = isDirectory ? moveDirectory(path, safePath, false)
                                 : moveFile(path, safePath, false, false);
    } catch (const FileSystemException&) {
    }
    if (!parked) {
        SY_CRITICAL << "could not rename file/dir to safename before setting timestamps -> now "
                       "set timestamps to original file/dir";
        return setTimeStamps(path, creation, lastAccess, lastWrite, isDirectory);
    }
    bool stamped = false;
    try {
        stamped = setTimeStamps(safePath, creation, lastAccess, lastWrite, isDirectory);
    } catch (const FileSystemException&) {
        if (linked)
            dropSecondName(safePath, path);
        else
            moveBack(syCallSite, safePath, path, isDirectory, true);
        throw;
    }
    if (linked)
        dropSecondName(safePath, path);
    else
        moveBack(syCallSite, safePath, path, isDirectory, false);
    return stamped;
}
