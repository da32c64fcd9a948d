#include "fsapi/linux/LinuxFSHelpers.h"

#include "diagnostics/CException.h"
#include "diagnostics/CLogRecord.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSLock.h"
#include "threading/threads/CCallStack.h"

#include <fcntl.h>
#include <stdio.h>

namespace LinuxFS {

namespace {

bool parentDirectoryExists(const QString& path)
{
    struct stat status;
    return ::stat(nativeBytes(parentFolder(path)).constData(), &status) == 0 &&
           S_ISDIR(status.st_mode);
}

} // namespace

QString systemErrorText(int error)
{
    return QStringLiteral("%1 - system error code: %2")
        .arg(CLinuxFSLock::getSystemErrorMsg(error))
        .arg(error);
}

QString withoutTrailingSeparators(const QString& path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == QLatin1Char('/'))
        --end;
    return path.left(end);
}

QString withTrailingSeparator(const QString& path)
{
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString parentFolder(const QString& path)
{
    const QString object = withoutTrailingSeparators(path);
    const qsizetype slash = object.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : object.left(slash);
}

ErrorCase classify(int error, const QString& path)
{
    switch (error) {
    case 0:
        return ErrorCase::Other;
    case ENOENT:
        return parentDirectoryExists(path) ? ErrorCase::NotFound : ErrorCase::PathNotFound;
    case ENOTDIR:
        return ErrorCase::PathNotFound;
    case EACCES:
    case EPERM:
        return ErrorCase::AccessDenied;
    case EEXIST:
        return ErrorCase::Exists;
    case ENOTEMPTY:
        return ErrorCase::NotEmpty;
    default:
        return error == CLinuxFSLock::SharingViolation ? ErrorCase::SharingViolation
                                                       : ErrorCase::Other;
    }
}

bool isReadOnlyFile(const struct stat& status)
{
    return S_ISREG(status.st_mode) && (status.st_mode & 0222) == 0;
}

bool isReadOnlyFile(const QString& path)
{
    struct stat status;
    return ::lstat(nativeBytes(path).constData(), &status) == 0 && isReadOnlyFile(status);
}

struct timespec convertUTCQDateTimeToFileTime(const CCallSiteRecord& syCallSite,
                                              const QDateTime& time)
{
    timespec stamp{};
    if (time.isNull()) {
        stamp.tv_nsec = UTIME_OMIT;
        return stamp;
    }
    if (!time.isValid())
        SY_THROW(Exceptions::InvalidParameter, QStringLiteral("Timestamp is invalid"));
    const qint64 milliseconds = time.toMSecsSinceEpoch();
    // Times before 1970 count back from it; the nanoseconds of a file time count forward.
    qint64 seconds = milliseconds / 1000;
    qint64 remainder = milliseconds % 1000;
    if (remainder < 0) {
        --seconds;
        remainder += 1000;
    }
    stamp.tv_sec = static_cast<time_t>(seconds);
    stamp.tv_nsec = static_cast<long>(remainder) * 1000000L;
    return stamp;
}

int moveWithoutReplacing(int fromFolder, const QByteArray& from, int toFolder, const QByteArray& to,
                         bool isDirectory)
{
    if (::renameat2(fromFolder, from.constData(), toFolder, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    // EINVAL also answers a folder moved into itself, which the plain rename below refuses
    // the same way.
    if (errno != EINVAL)
        return errno;
    if (!isDirectory) {
        // A second name fails on a taken one, atomically, wherever hard links exist.
        if (::linkat(fromFolder, from.constData(), toFolder, to.constData(), 0) == 0) {
            if (::unlinkat(fromFolder, from.constData(), 0) == 0)
                return 0;
            const int error = errno;
            // The new name is a second link to the same file: dropping it loses nothing.
            ::unlinkat(toFolder, to.constData(), 0);
            return error;
        }
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
            return errno;
    }
    // Folders, and files where hard links are refused: a rename once the name is seen free.
    // An object another process creates under to between the check and the rename is
    // replaced (or, for a folder, kept when it is not empty); no atomic way exists there.
    struct stat status;
    if (::fstatat(toFolder, to.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::renameat(fromFolder, from.constData(), toFolder, to.constData()) == 0 ? 0 : errno;
}

int syncFolder(int fd)
{
    // Some file systems cannot sync a folder and say so with EINVAL: nothing more to do there.
    return ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
}

int syncFolderOf(const QString& path)
{
    const CUniqueDescriptorLinux folder(
        ::open(nativeBytes(parentFolder(path)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.get() < 0 ? errno : syncFolder(folder.get());
}

ReadOnlyKeeper::ReadOnlyKeeper(const char* function, const QString& path)
    : function(function), path(path), bytes(nativeBytes(path))
{
    kept = ::lstat(bytes.constData(), &status) == 0 && isReadOnlyFile(status);
}

ReadOnlyKeeper::~ReadOnlyKeeper()
{
    struct stat now;
    // Only the same file, still at its place, gets its mode back.
    if (!kept || ::lstat(bytes.constData(), &now) != 0 || now.st_dev != status.st_dev ||
        now.st_ino != status.st_ino || (now.st_mode & 0222) == 0)
        return;
    if (::chmod(bytes.constData(), status.st_mode & 07777) != 0)
        SY_CRITICAL_AT(function) << "could not restore the readonly attribute of" << path << "-"
                                 << systemErrorText(errno);
}

} // namespace LinuxFS
