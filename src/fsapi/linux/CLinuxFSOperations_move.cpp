#include "fsapi/linux/CLinuxFSOperations.h"

#include "diagnostics/CLogRecord.h"
#include "fsapi/CRetryCounter.h"
#include "fsapi/FSArgumentChecks.h"
#include "fsapi/FSAttributes.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSLock.h"
#include "fsapi/linux/LinuxFSHelpers.h"
#include "threading/threads/CCallStack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Renaming, moving and deleting single objects.

using namespace Exceptions;
using namespace LinuxFS;

namespace {

// A rename answers ENOENT both for a vanished source and for a missing destination folder.
ErrorCase classifyMove(int error, const QString& src, const QString& dest)
{
    struct stat status;
    if (error == ENOENT && ::lstat(nativeBytes(src).constData(), &status) != 0)
        return ErrorCase::Other;
    return error == ENOENT ? ErrorCase::PathNotFound : classify(error, dest);
}

int renameObject(const QString& src, const QString& dest, bool overwrite, bool isDirectory)
{
    const QByteArray from = nativeBytes(src);
    const QByteArray to = nativeBytes(dest);
    if (!overwrite)
        return moveWithoutReplacing(AT_FDCWD, from, AT_FDCWD, to, isDirectory);
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

// The data of a file is on the disk before the file takes a new name, so that a crash never
// leaves a name on a file whose data is lost. What cannot be opened to read is left as it is.
int syncData(const QString& path)
{
    const CUniqueDescriptorLinux file(::open(
        nativeBytes(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status;
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return 0;
    return ::fsync(file.get()) == 0 || errno == EINVAL ? 0 : errno;
}

} // namespace

bool CLinuxFSOperations::renameFile(const QString& src, const QString& dest, bool overwrite)
{
    SY_FUNCTION("CLinuxFSOperations::renameFile");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    requireSameParent(syCallSite, src, dest);
    return moveFile(src, dest, false, overwrite);
}

bool CLinuxFSOperations::renameDirectory(const QString& src, const QString& dest)
{
    SY_FUNCTION("CLinuxFSOperations::renameDirectory");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    requireSameParent(syCallSite, src, dest);
    return moveDirectory(src, dest, false);
}

bool CLinuxFSOperations::moveFile(const QString& src, const QString& dest, bool force,
                                  bool overwrite)
{
    SY_FUNCTION("CLinuxFSOperations::moveFile");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    if (!fileExists(src))
        SY_THROW(FileDoesNotExist, QStringLiteral("Source doesn't exists: ") + src);
    // The lock probe takes the read-only attribute away.
    ReadOnlyKeeper keeper(syCallSite.function, src);
    if (!tryExclusiveLock(src))
        SY_THROW(Locked, QStringLiteral("File is locked: ") + src);
    // A file that is replaced is deleted: whoever holds it open must allow that.
    const CUniqueDescriptorLinux replaced(
        overwrite ? holdForChange(syCallSite, dest, CLinuxFSLock::AccessDelete,
                                  QStringLiteral("File is locked: "))
                  : -1);
    const bool moved = renameWithRetries(syCallSite, src, dest, force, overwrite, false);
    if (moved)
        keeper.succeeded();
    return moved;
}

bool CLinuxFSOperations::moveDirectory(const QString& src, const QString& dest, bool force)
{
    SY_FUNCTION("CLinuxFSOperations::moveDirectory");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    if (!directoryExists(src))
        SY_THROW(DirectoryDoesNotExist, QStringLiteral("Source doesn't exists: ") + src);
    requireWriteLock(syCallSite, src);
    requireNothingHeldInside(syCallSite, src);
    return renameWithRetries(syCallSite, src, dest, force, false, true);
}

bool CLinuxFSOperations::renameWithRetries(const CCallSiteRecord& syCallSite, const QString& src,
                                           const QString& dest, bool force, bool overwrite,
                                           bool isDirectory)
{
    // Only a rename: a move that cannot be one (another file system) fails, the source intact.
    if (!isDirectory) {
        if (const int error = syncData(src))
            throwSystemError(syCallSite, error);
    }
    CRetryCounter counter(true, 2);
    do {
        const int error = renameObject(src, dest, overwrite, isDirectory);
        if (error == 0) {
            placeDurably(syCallSite, src, dest, overwrite, isDirectory);
            return true;
        }
        const ErrorCase errorCase = classifyMove(error, src, dest);
        if (errorCase == ErrorCase::PathNotFound && force) {
            createParent(syCallSite, dest);
            counter = true;
        } else if (errorCase == ErrorCase::Exists && !isDirectory) {
            SY_THROW(FileExists, QStringLiteral("Destination already exists: ") + dest);
        } else if ((errorCase == ErrorCase::Exists || errorCase == ErrorCase::NotEmpty) &&
                   isDirectory) {
            SY_THROW(DirectoryExists, QStringLiteral("Destination already exists: ") + dest);
        } else {
            throwSystemError(syCallSite, error);
        }
    } while (counter);
    return false;
}

void CLinuxFSOperations::placeDurably(const CCallSiteRecord& syCallSite, const QString& src,
                                      const QString& dest, bool overwrite, bool isDirectory)
{
    // Until its folder is synced the new name may vanish in a crash; callers remove the old
    // version only after a move that answered true.
    const int error = syncFolderOf(dest);
    if (error == 0)
        return;
    // What a replacing rename replaced is gone: the object stays where it now is.
    if (overwrite || moveWithoutReplacing(AT_FDCWD, nativeBytes(dest), AT_FDCWD, nativeBytes(src),
                                          isDirectory) != 0)
        SY_CRITICAL << "the object is left at" << dest << "and not back at" << src;
    throwSystemError(syCallSite, error);
}

void CLinuxFSOperations::removeReadOnlyOrLog(const CCallSiteRecord& syCallSite, const QString& path)
{
    bool removed = false;
    try {
        removed = removeAttributes(path, FSAttributes::ReadOnly);
    } catch (const FileSystemException&) {
    }
    if (!removed)
        SY_CRITICAL << "Failed to remove readonly attribute for" << path;
}

bool CLinuxFSOperations::deleteFile(const QString& path, bool force)
{
    SY_FUNCTION("CLinuxFSOperations::deleteFile");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    ReadOnlyKeeper keeper(syCallSite.function, path);
    removeReadOnlyOrLog(syCallSite, path);
    if (!force) {
        if (!fileExists(path))
            SY_THROW(FileDoesNotExist, QStringLiteral("File not found: ") + path);
        if (!tryExclusiveLock(path))
            SY_THROW(Locked, QStringLiteral("File is locked: ") + path);
    }
    // force skips the checks above, never the locks of others.
    const CUniqueDescriptorLinux held(holdForChange(syCallSite, path, CLinuxFSLock::AccessDelete,
                                                    QStringLiteral("File is locked: ")));
    if (::unlink(nativeBytes(path).constData()) == 0) {
        keeper.succeeded();
        return true;
    }
    const int error = errno;
    switch (classify(error, path)) {
    case ErrorCase::NotFound:
    case ErrorCase::PathNotFound:
        SY_THROW(FileDoesNotExist, QStringLiteral("File not found: ") + path);
    default:
        throwSystemError(syCallSite, error);
    }
}
