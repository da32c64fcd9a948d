#include "fsapi/linux/CLinuxFSOperations.h"

#include "dbapi/CPathOperations.h"
#include "diagnostics/CLogRecord.h"
#include "fsapi/CRetryCounter.h"
#include "fsapi/FSArgumentChecks.h"
#include "fsapi/FSAttributes.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSLock.h"
#include "fsapi/linux/LinuxFSHelpers.h"
#include "threading/threads/CCallStack.h"

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

// Construction, the steps the operations share, and the queries and changes of one object in
// place: existence, lock probes, time stamps, attributes and identity.

using namespace Exceptions;
using namespace LinuxFS;

namespace {

bool allNull(const QDateTime& creation, const QDateTime& lastAccess, const QDateTime& lastWrite)
{
    return creation.isNull() && lastAccess.isNull() && lastWrite.isNull();
}

} // namespace

CLinuxFSOperations::CLinuxFSOperations() = default;

CLinuxFSOperations::~CLinuxFSOperations() = default;

std::unique_ptr<IFSOperations> createPlatformFSOperations()
{
    return std::make_unique<CLinuxFSOperations>();
}

void CLinuxFSOperations::throwSystemError(const CCallSiteRecord& syCallSite, int error)
{
    SY_THROW(FileSystemException, systemErrorText(error));
}

void CLinuxFSOperations::throwPathError(const CCallSiteRecord& syCallSite, int error,
                                        const QString& path)
{
    switch (classify(error, path)) {
    case ErrorCase::NotFound:
    case ErrorCase::PathNotFound:
        SY_THROW(DoesNotExist, QStringLiteral("Specified path doesn't exist: ") + path);
    default:
        throwSystemError(syCallSite, error);
    }
}

bool CLinuxFSOperations::lookUp(const CCallSiteRecord& syCallSite, const QString& path,
                                struct stat& status)
{
    if (::lstat(nativeBytes(path).constData(), &status) == 0)
        return true;
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR)
        return false;
    throwSystemError(syCallSite, error);
}

QString CLinuxFSOperations::parentOf(const CCallSiteRecord& syCallSite, const QString& path)
{
    QString parent;
    QString name;
    if (!CPathOperations::splitPath(path, parent, name, true, false)) {
        SY_CRITICAL << "could not split path" << path;
        SY_THROW(FileSystemException, QStringLiteral("could not split path: ") + path);
    }
    // The split is relative; an absolute path keeps its root.
    if (path.startsWith(QLatin1Char('/')))
        parent.prepend(QLatin1Char('/'));
    return parent;
}

void CLinuxFSOperations::createParent(const CCallSiteRecord& syCallSite, const QString& path)
{
    const QString parent = parentOf(syCallSite, path);
    if (!createDirectory(parent, QDateTime(), QDateTime(), QDateTime(), 0, true))
        SY_THROW(FileSystemException,
                 QStringLiteral("force = true, createDirectory returned false - ") + parent);
}

void CLinuxFSOperations::createdParentAfter(const CCallSiteRecord& syCallSite, int error,
                                            const QString& path, bool force, bool isDirectory)
{
    switch (classify(error, path)) {
    case ErrorCase::PathNotFound:
        if (!force)
            SY_THROW(DoesNotExist, QStringLiteral("Specified path doesn't exist: ") + path);
        createParent(syCallSite, path);
        return;
    case ErrorCase::Exists:
        if (isDirectory)
            SY_THROW(DirectoryExists, QStringLiteral("Destination already exists: ") + path);
        SY_THROW(FileExists, QStringLiteral("Destination already exists: ") + path);
    default:
        throwSystemError(syCallSite, error);
    }
}

void CLinuxFSOperations::requireSameParent(const CCallSiteRecord& syCallSite, const QString& src,
                                           const QString& dest)
{
    if (parentOf(syCallSite, src) != parentOf(syCallSite, dest))
        SY_THROW(InvalidParameter, QStringLiteral("Paths not equal"));
}

bool CLinuxFSOperations::fileExists(const QString& path)
{
    SY_FUNCTION("CLinuxFSOperations::fileExists");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    struct stat status;
    if (!lookUp(syCallSite, path, status))
        return false;
    if (S_ISDIR(status.st_mode))
        SY_THROW(NotAFile, path + QStringLiteral(" is a directory"));
    return true;
}

bool CLinuxFSOperations::directoryExists(const QString& path)
{
    SY_FUNCTION("CLinuxFSOperations::directoryExists");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    struct stat status;
    if (!lookUp(syCallSite, path, status))
        return false;
    if (!S_ISDIR(status.st_mode))
        SY_THROW(NotADirectory, path + QStringLiteral(" is not a directory"));
    return true;
}

bool CLinuxFSOperations::tryExclusiveLock(const QString& path)
{
    SY_FUNCTION("CLinuxFSOperations::tryExclusiveLock");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    return lockProbe(syCallSite, path, CLinuxFSLock::ShareNone);
}

bool CLinuxFSOperations::tryWriteLock(const QString& path)
{
    SY_FUNCTION("CLinuxFSOperations::tryWriteLock");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    return lockProbe(syCallSite, path, CLinuxFSLock::ShareRead);
}

bool CLinuxFSOperations::lockProbe(const CCallSiteRecord& syCallSite, const QString& path,
                                   quint32 share)
{
    // A link cannot be held open itself, and what it points to is not this object.
    struct stat status;
    if (::lstat(nativeBytes(path).constData(), &status) == 0 && S_ISLNK(status.st_mode))
        return true;
    // Another process may hold the object only for a moment, hence the retries.
    CRetryCounter counter(true, 2);
    int error = 0;
    do {
        int handle = -1;
        error = CLinuxFSLock::getFileHandle(path, handle, CLinuxFSLock::AccessAll, share);
        if (handle != -1)
            ::close(handle);
        if (error == 0) {
            // The probe asks for write access, which a read-only file refuses until it loses
            // its read-only attribute.
            if (!isReadOnlyFile(path))
                break;
            error = EACCES;
            counter = removeAttributes(path, FSAttributes::ReadOnly);
            continue;
        }
        switch (classify(error, path)) {
        case ErrorCase::SharingViolation:
            counter = true;
            break;
        case ErrorCase::NotFound:
        case ErrorCase::PathNotFound:
            SY_THROW(DoesNotExist, systemErrorText(error));
        default:
            throwSystemError(syCallSite, error);
        }
    } while (counter);
    return error == 0;
}

int CLinuxFSOperations::holdForChange(const CCallSiteRecord& syCallSite, const QString& path,
                                      quint32 access, const QString& lockedText)
{
    struct stat status;
    if (::lstat(nativeBytes(path).constData(), &status) != 0 || S_ISLNK(status.st_mode))
        return -1;
    int handle = -1;
    const int error = CLinuxFSLock::getFileHandle(
        path, handle, access, CLinuxFSLock::ShareReadWrite | CLinuxFSLock::ShareDelete);
    if (error == CLinuxFSLock::SharingViolation) {
        if (S_ISDIR(status.st_mode))
            SY_CRITICAL << "Directory locked";
        SY_THROW(Locked, lockedText + path);
    }
    return handle;
}

bool CLinuxFSOperations::safeExchangeFile(const QString&, const QString&, const QString&,
                                          const QString&, const QString&, const QDateTime&,
                                          const QDateTime&)
{
    return false;
}

bool CLinuxFSOperations::setTimeStamps(const QString& path, const QDateTime& creation,
                                       const QDateTime& lastAccess, const QDateTime& lastWrite,
                                       bool)
{
    SY_FUNCTION("CLinuxFSOperations::setTimeStamps");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    if (allNull(creation, lastAccess, lastWrite))
        return true;
    convertUTCQDateTimeToFileTime(syCallSite, creation);
    const struct timespec times[2] = {convertUTCQDateTimeToFileTime(syCallSite, lastAccess),
                                      convertUTCQDateTimeToFileTime(syCallSite, lastWrite)};
    const QByteArray bytes = nativeBytes(path);
    const CUniqueDescriptorLinux held(holdForChange(syCallSite, path, CLinuxFSLock::AccessWrite,
                                                    QStringLiteral("File is locked: ")));
    struct stat status;
    // utimensat does not look at the path when both stamps are left out. A link gets the
    // times itself, so that nothing outside the tree is changed through it.
    const int result = times[0].tv_nsec == UTIME_OMIT && times[1].tv_nsec == UTIME_OMIT
                           ? ::lstat(bytes.constData(), &status)
                           : ::utimensat(AT_FDCWD, bytes.constData(), times, AT_SYMLINK_NOFOLLOW);
    if (result == 0)
        return true;
    const int error = errno;
    if (classify(error, path) == ErrorCase::SharingViolation)
        SY_THROW(Locked, QStringLiteral("File is locked: ") + path);
    throwPathError(syCallSite, error, path);
}

bool CLinuxFSOperations::setAttributes(const QString& path, quint32 attributes)
{
    SY_FUNCTION("CLinuxFSOperations::setAttributes");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    return changeReadOnly(syCallSite, path, attributes, true);
}

bool CLinuxFSOperations::removeAttributes(const QString& path, quint32 attributes)
{
    SY_FUNCTION("CLinuxFSOperations::removeAttributes");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    return changeReadOnly(syCallSite, path, attributes, false);
}

bool CLinuxFSOperations::changeReadOnly(const CCallSiteRecord& syCallSite, const QString& path,
                                        quint32 attributes, bool readOnly)
{
    const QByteArray bytes = nativeBytes(path);
    struct stat status;
    int error = ::lstat(bytes.constData(), &status) == 0 ? 0 : errno;
    // A link has no permissions of its own; its target is not this object.
    if (error == 0 && !S_ISLNK(status.st_mode) && (attributes & FSAttributes::ReadOnly) &&
        ((status.st_mode & 0222) != 0) == readOnly) {
        const mode_t mode = readOnly ? status.st_mode & 07555 : (status.st_mode & 07777) | S_IWUSR;
        const CUniqueDescriptorLinux held(holdForChange(syCallSite, path, CLinuxFSLock::AccessWrite,
                                                        QStringLiteral("File is locked: ")));
        if (::chmod(bytes.constData(), mode) != 0)
            error = errno;
    }
    if (error == 0)
        return true;
    throwPathError(syCallSite, error, path);
}

bool CLinuxFSOperations::getFSID(const QString& path, QString& id)
{
    SY_FUNCTION("CLinuxFSOperations::getFSID");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    struct stat status;
    if (!lookUp(syCallSite, path, status))
        SY_THROW(DoesNotExist, QStringLiteral("Specified path doesn't exist: ") + path);
    id = QStringLiteral("%1:%2")
             .arg(static_cast<quint64>(status.st_dev))
             .arg(static_cast<quint64>(status.st_ino));
    return true;
}

bool CLinuxFSOperations::isSymbolicLink(const QString& path)
{
    SY_FUNCTION("CLinuxFSOperations::isSymbolicLink");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    struct stat status;
    return lookUp(syCallSite, path, status) && S_ISLNK(status.st_mode);
}
