#include "fsapi/linux/LinuxFSHelpers.h"

#include "diagnostics/CException.h"
#include "diagnostics/CLogRecord.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSLock.h"
#include "threading/threads/CCallStack.h"

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
