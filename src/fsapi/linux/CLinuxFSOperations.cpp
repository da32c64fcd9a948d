#include "fsapi/linux/CLinuxFSOperations.h"

#include "dbapi/CPathOperations.h"
#include "diagnostics/CLogRecord.h"
#include "fsapi/CRetryCounter.h"
#include "fsapi/FSArgumentChecks.h"
#include "fsapi/FSAttributes.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSLock.h"
#include "threading/threads/CCallStack.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Exceptions;

namespace {

// How an errno value answers the question the operations ask of it.
enum class ErrorCase
{
    NotFound,
    PathNotFound,
    AccessDenied,
    SharingViolation,
    Exists,
    NotEmpty,
    Other
};

QByteArray nativeBytes(const QString& path)
{
    return QFile::encodeName(path);
}

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

// The folder that holds path ("." for a bare name).
QString parentFolder(const QString& path)
{
    const QString object = withoutTrailingSeparators(path);
    const qsizetype slash = object.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : object.left(slash);
}

bool parentDirectoryExists(const QString& path)
{
    struct stat status;
    return ::stat(nativeBytes(parentFolder(path)).constData(), &status) == 0 &&
           S_ISDIR(status.st_mode);
}

// ENOENT names the object when its parent is there, a missing part of the path otherwise.
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

// A rename answers ENOENT both for a vanished source and for a missing destination folder.
ErrorCase classifyMove(int error, const QString& src, const QString& dest)
{
    struct stat status;
    if (error == ENOENT && ::lstat(nativeBytes(src).constData(), &status) != 0)
        return ErrorCase::Other;
    return error == ENOENT ? ErrorCase::PathNotFound : classify(error, dest);
}

int renameObject(const QString& src, const QString& dest, bool overwrite)
{
    const int result =
        ::renameat2(AT_FDCWD, nativeBytes(src).constData(), AT_FDCWD, nativeBytes(dest).constData(),
                    overwrite ? 0u : static_cast<unsigned>(RENAME_NOREPLACE));
    return result == 0 ? 0 : errno;
}

bool isDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Gives the unnamed file open at fd the name to; fails with EEXIST rather than replace.
int linkUnnamed(int fd, const QByteArray& to)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    return ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, to.constData(), AT_SYMLINK_FOLLOW) == 0
               ? 0
               : errno;
}

// Renames from to to, failing with EEXIST rather than replace.
int renameWithoutReplacing(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return errno;
    // File systems without renameat2 flags: a second link, which fails on an existing name,
    // then the first one goes.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

// A regular file without any write permission bit: the read-only attribute of the platform.
bool isReadOnlyFile(const QString& path)
{
    struct stat status;
    return ::lstat(nativeBytes(path).constData(), &status) == 0 && S_ISREG(status.st_mode) &&
           (status.st_mode & 0222) == 0;
}

class Descriptor
{
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    Descriptor& operator=(Descriptor&& other) noexcept
    {
        std::swap(fd, other.fd);
        return *this;
    }

    int get() const { return fd; }
    // Closes now and reports the result; Linux frees the descriptor even when close fails.
    int close()
    {
        const int result = ::close(fd);
        fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd;
};

// Puts back the read-only attribute that an operation may take away from a file, unless the
// operation succeeds: a failed operation leaves the file as it found it.
class ReadOnlyKeeper
{
public:
    ReadOnlyKeeper(const char* function, const QString& path)
        : function(function), path(path), bytes(nativeBytes(path))
    {
        kept = ::lstat(bytes.constData(), &status) == 0 && S_ISREG(status.st_mode) &&
               (status.st_mode & 0222) == 0;
    }
    ~ReadOnlyKeeper()
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
    ReadOnlyKeeper(const ReadOnlyKeeper&) = delete;
    ReadOnlyKeeper& operator=(const ReadOnlyKeeper&) = delete;

    void succeeded() { kept = false; }

private:
    const char* function;
    QString path;
    QByteArray bytes;
    struct stat status;
    bool kept;
};

struct DirectoryCloser
{
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// Every valid time fits the 64-bit seconds of a file time; the file system rounds what it
// cannot hold.
struct timespec convertUTCQDateTimeToFileTime(const CCallSiteRecord& syCallSite,
                                              const QDateTime& time)
{
    timespec stamp{};
    if (time.isNull()) {
        stamp.tv_nsec = UTIME_OMIT;
        return stamp;
    }
    if (!time.isValid())
        SY_THROW(InvalidParameter, QStringLiteral("Timestamp is invalid"));
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

void CLinuxFSOperations::requireTreeUnlocked(const CCallSiteRecord& syCallSite, const QString& path)
{
    const QString folder = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    QList<Entry> entries;
    if (const int error = listDirectory(folder, entries))
        throwSystemError(syCallSite, error);
    for (const Entry& entry : std::as_const(entries)) {
        const QString entryPath = folder + entry.name;
        const Descriptor held(holdForChange(syCallSite, entryPath, CLinuxFSLock::AccessDelete,
                                            entry.isDirectory
                                                ? QStringLiteral("Directory is locked: ")
                                                : QStringLiteral("File is locked: ")));
        if (entry.isDirectory)
            requireTreeUnlocked(syCallSite, entryPath);
    }
}

bool CLinuxFSOperations::safeExchangeFile(const QString&, const QString&, const QString&,
                                          const QString&, const QString&, const QDateTime&,
                                          const QDateTime&)
{
    return false;
}

bool CLinuxFSOperations::copyFile(const QString& src, const QString& dest, bool force,
                                  bool checkLock, bool failIfExists)
{
    SY_FUNCTION("CLinuxFSOperations::copyFile");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    if (!fileExists(src))
        SY_THROW(FileDoesNotExist, QStringLiteral("File not found: ") + src);
    if (checkLock && !tryExclusiveLock(src))
        SY_THROW(Locked, QStringLiteral("File is locked: ") + src);
    if (!failIfExists && fileExists(dest))
        SY_THROW(FileExists, QStringLiteral("Destination already exists: ") + dest);

    CRetryCounter counter(true, 2);
    do {
        bool sourceSide = false;
        const int error = copyObject(src, dest, sourceSide);
        if (error == 0)
            return true;
        if (sourceSide)
            throwSystemError(syCallSite, error);
        createdParentAfter(syCallSite, error, dest, force, false);
        counter = true;
    } while (counter);
    return false;
}

int CLinuxFSOperations::copyObject(const QString& src, const QString& dest, bool& sourceSide)
{
    const QByteArray from = nativeBytes(src);
    const QByteArray to = nativeBytes(dest);
    sourceSide = true;
    struct stat status;
    if (::lstat(from.constData(), &status) != 0)
        return errno;
    // A link is copied as the link itself: its target is never read.
    if (S_ISLNK(status.st_mode)) {
        QByteArray target(static_cast<qsizetype>(status.st_size) + 1, '\0');
        const ssize_t length = ::readlink(from.constData(), target.data(), target.size());
        if (length < 0)
            return errno;
        if (length >= target.size())
            return ENAMETOOLONG;
        target.truncate(length);
        sourceSide = false;
        return ::symlink(target.constData(), to.constData()) == 0 ? 0 : errno;
    }

    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below.
    Descriptor input(::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (input.get() < 0)
        return errno;
    if (::fstat(input.get(), &status) != 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EINVAL;

    sourceSide = false;
    // The copy is written where no one sees it and given its name only when complete, by a
    // call that never replaces an existing object (not even a dangling link): a crash leaves
    // nothing under the final name.
    const QString folder = parentFolder(dest);
    const QByteArray folderBytes = nativeBytes(folder);
    QByteArray temporaryName;
    Descriptor output(openTemporary(folderBytes));
    if (output.get() < 0) {
        if (errno != EOPNOTSUPP && errno != EISDIR)
            return errno;
        // No unnamed files on this file system: a hidden name in the same folder instead.
        temporaryName = folderBytes + "/.syncarium-copy-XXXXXX";
        output = Descriptor(::mkostemp(temporaryName.data(), O_CLOEXEC));
        if (output.get() < 0)
            return errno;
    }

    int error = copyContents(input.get(), output.get());
    if (error == 0 && ::fchmod(output.get(), status.st_mode & 07777) != 0)
        error = errno;
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (error == 0 && ::futimens(output.get(), times) != 0)
        error = errno;
    if (error == 0)
        error = temporaryName.isEmpty() ? linkUnnamed(output.get(), to)
                                        : renameWithoutReplacing(temporaryName, to);
    const int closeError = output.close();
    if (error == 0)
        error = closeError;
    if (error != 0 && !temporaryName.isEmpty())
        ::unlink(temporaryName.constData());
    return error;
}

int CLinuxFSOperations::openTemporary(const QByteArray& folder)
{
    return ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
}

int CLinuxFSOperations::copyContents(int from, int to)
{
    const qint64 chunk = Q_INT64_C(1) << 20;
    for (;;) {
        const qint64 copied = copyChunk(from, to, chunk);
        if (copied == 0)
            return 0;
        if (copied < 0 && errno != EINTR)
            return errno;
    }
}

qint64 CLinuxFSOperations::copyChunk(int from, int to, qint64 length)
{
    const ssize_t copied =
        ::copy_file_range(from, nullptr, to, nullptr, static_cast<size_t>(length), 0);
    if (copied >= 0)
        return copied;
    // File systems and kernels without copy_file_range for this pair: copy by hand.
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
        errno != EBADF)
        return -1;
    char buffer[65536];
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got <= 0)
        return got;
    for (ssize_t written = 0; written < got;) {
        const ssize_t put = ::write(to, buffer + written, static_cast<size_t>(got - written));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        written += put;
    }
    return got;
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

bool CLinuxFSOperations::copyDirectory(const QString& src, const QString& dest)
{
    SY_FUNCTION("CLinuxFSOperations::copyDirectory");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    if (!directoryExists(src))
        SY_THROW(FileDoesNotExist, QStringLiteral("File not found: ") + src);
    return copyDirContents(src, dest);
}

bool CLinuxFSOperations::copyDirContents(const QString& src, const QString& dest)
{
    SY_FUNCTION("CLinuxFSOperations::copyDirContents");
    const QString from = src.endsWith(QLatin1Char('/')) ? src : src + QLatin1Char('/');
    const QString to = dest.endsWith(QLatin1Char('/')) ? dest : dest + QLatin1Char('/');
    QList<Entry> entries;
    if (listDirectory(from, entries) != 0)
        return false;
    if (!directoryExists(to) &&
        !createDirectory(to, QDateTime(), QDateTime(), QDateTime(), 0, true))
        return false;
    bool copied = true;
    for (const Entry& entry : std::as_const(entries)) {
        const bool done = entry.isDirectory
                              ? copyDirectory(from + entry.name, to + entry.name)
                              : copyFile(from + entry.name, to + entry.name, false, false, false);
        copied = done && copied;
    }
    return copied;
}

int CLinuxFSOperations::listDirectory(const QString& path, QList<Entry>& entries)
{
    const std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(nativeBytes(path).constData()));
    if (!directory)
        return errno;
    for (;;) {
        // readdir reports an error only through errno, so it is cleared before each call.
        errno = 0;
        const struct dirent* entry = ::readdir(directory.get());
        if (!entry)
            return errno;
        if (isDot(entry->d_name))
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status;
            if (::fstatat(::dirfd(directory.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) !=
                0) {
                if (errno == ENOENT)
                    continue;
                return errno;
            }
            isDirectory = S_ISDIR(status.st_mode);
        }
        entries.append({QFile::decodeName(entry->d_name), isDirectory});
    }
}

bool CLinuxFSOperations::createFile(const QString& path, const QDateTime& creation,
                                    const QDateTime& lastAccess, const QDateTime& lastWrite,
                                    quint32 attributes)
{
    SY_FUNCTION("CLinuxFSOperations::createFile");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    convertUTCQDateTimeToFileTime(syCallSite, creation);
    const struct timespec times[2] = {convertUTCQDateTimeToFileTime(syCallSite, lastAccess),
                                      convertUTCQDateTimeToFileTime(syCallSite, lastWrite)};
    const mode_t mode = attributes & FSAttributes::ReadOnly ? 0444 : 0666;
    Descriptor file(::open(nativeBytes(path).constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (file.get() < 0) {
        const int error = errno;
        switch (classify(error, path)) {
        case ErrorCase::PathNotFound:
            SY_THROW(DoesNotExist, QStringLiteral("Specified path doesn't exist: ") + path);
        case ErrorCase::Exists:
            SY_THROW(FileExists, QStringLiteral("Destination already exists: ") + path);
        default:
            throwSystemError(syCallSite, error);
        }
    }
    if (::futimens(file.get(), times) != 0)
        throwSystemError(syCallSite, errno);
    if (const int error = file.close())
        throwSystemError(syCallSite, error);
    return true;
}

bool CLinuxFSOperations::createDirectory(const QString& path, const QDateTime& creation,
                                         const QDateTime& lastAccess, const QDateTime& lastWrite,
                                         quint32 attributes, bool force)
{
    SY_FUNCTION("CLinuxFSOperations::createDirectory");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    // Checked before anything is created, so that a bad time leaves no folder behind.
    for (const QDateTime* time : {&creation, &lastAccess, &lastWrite})
        convertUTCQDateTimeToFileTime(syCallSite, *time);
    if (directoryExists(path))
        SY_THROW(DirectoryExists, QStringLiteral("Destination already exists: ") + path);
    // No client can create a directory that another could not reach.
    if (withoutTrailingSeparators(path).size() > CPathOperations::maxDirectoryLength)
        throwSystemError(syCallSite, ENAMETOOLONG);

    CRetryCounter counter(true, 2);
    bool created = false;
    do {
        if (::mkdir(nativeBytes(path).constData(), 0777) == 0) {
            created = true;
            break;
        }
        createdParentAfter(syCallSite, errno, path, force, true);
        counter = true;
    } while (counter);
    if (!created)
        return false;

    bool applied = false;
    try {
        applied = setAttributes(path, attributes);
        if (!applied)
            SY_CRITICAL << "could not set attributes";
        applied = applied && setTimeStamps(path, creation, lastAccess, lastWrite, true);
    } catch (const FileSystemException&) {
        rollbackCreatedDirectory(syCallSite, path);
        throw;
    }
    if (!applied)
        rollbackCreatedDirectory(syCallSite, path);
    return applied;
}

void CLinuxFSOperations::rollbackCreatedDirectory(const CCallSiteRecord& syCallSite,
                                                  const QString& path)
{
    try {
        if (!deleteDirectory(path, false))
            SY_CRITICAL << "ERROR at ROLLBACK: deleteDirectory returned false -" << path;
    } catch (const CException& exception) {
        SY_CRITICAL << "ERROR at ROLLBACK:" << exception.what();
    }
}

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
    const Descriptor replaced(overwrite
                                  ? holdForChange(syCallSite, dest, CLinuxFSLock::AccessDelete,
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
    return renameWithRetries(syCallSite, src, dest, force, false, true);
}

bool CLinuxFSOperations::renameWithRetries(const CCallSiteRecord& syCallSite, const QString& src,
                                           const QString& dest, bool force, bool overwrite,
                                           bool isDirectory)
{
    // Only a rename: a move that cannot be one (another file system) fails, the source intact.
    CRetryCounter counter(true, 2);
    do {
        const int error = renameObject(src, dest, overwrite);
        if (error == 0)
            return true;
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

void CLinuxFSOperations::requireSameParent(const CCallSiteRecord& syCallSite, const QString& src,
                                           const QString& dest)
{
    if (parentOf(syCallSite, src) != parentOf(syCallSite, dest))
        SY_THROW(InvalidParameter, QStringLiteral("Paths not equal"));
}

void CLinuxFSOperations::requireWriteLock(const CCallSiteRecord& syCallSite, const QString& path)
{
    if (!tryWriteLock(path)) {
        SY_CRITICAL << "Directory locked";
        SY_THROW(Locked, QStringLiteral("Directory is locked: ") + path);
    }
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
    const Descriptor held(holdForChange(syCallSite, path, CLinuxFSLock::AccessDelete,
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

bool CLinuxFSOperations::deleteDirectory(const QString& path, bool force)
{
    SY_FUNCTION("CLinuxFSOperations::deleteDirectory");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    if (!directoryExists(path))
        SY_THROW(DirectoryDoesNotExist, QStringLiteral("Directory not found: ") + path);
    removeReadOnlyOrLog(syCallSite, path);
    requireWriteLock(syCallSite, path);

    CRetryCounter counter(true, 2);
    do {
        if (::rmdir(nativeBytes(path).constData()) == 0)
            return true;
        const int error = errno;
        switch (error == EEXIST ? ErrorCase::NotEmpty : classify(error, path)) {
        case ErrorCase::NotEmpty:
            // Nothing is deleted while anything inside is held by someone else. Someone may
            // fill the directory again while it is cleaned: try again.
            if (force)
                requireTreeUnlocked(syCallSite, path);
            if (!force || !cleanDirectory(path, true))
                SY_THROW(DirectoryNotEmpty, QStringLiteral("Could not delete directory: ") + path);
            counter = true;
            break;
        case ErrorCase::NotFound:
        case ErrorCase::PathNotFound:
            SY_THROW(DirectoryDoesNotExist, QStringLiteral("Directory not found: ") + path);
        default:
            throwSystemError(syCallSite, error);
        }
    } while (counter);
    SY_THROW(DirectoryNotEmpty, QStringLiteral("Could not delete directory: ") + path);
}

bool CLinuxFSOperations::cleanDirectory(const QString& path, bool force)
{
    SY_FUNCTION("CLinuxFSOperations::cleanDirectory");
    SY_FS_CHECK_PATH(path, "Empty path ...");
    return removeEntries(syCallSite, path, [this, force](const QString& entry, bool isDirectory) {
        return isDirectory ? deleteDirectory(entry, force) : deleteFile(entry, force);
    });
}

bool CLinuxFSOperations::removeEntries(const CCallSiteRecord& syCallSite, const QString& path,
                                       const std::function<bool(const QString&, bool)>& remove)
{
    if (!directoryExists(path)) {
        SY_CRITICAL << "directory doesn't exists";
        return false;
    }
    if (!tryWriteLock(path)) {
        SY_CRITICAL << "tryWirteLock failed";
        return false;
    }
    const QString folder = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    QList<Entry> entries;
    if (const int error = listDirectory(folder, entries))
        throwSystemError(syCallSite, error);
    bool cleaned = true;
    for (const Entry& entry : std::as_const(entries))
        cleaned = remove(folder + entry.name, entry.isDirectory) && cleaned;
    return cleaned;
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
    const Descriptor held(holdForChange(syCallSite, path, CLinuxFSLock::AccessWrite,
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
        const Descriptor held(holdForChange(syCallSite, path, CLinuxFSLock::AccessWrite,
                                            QStringLiteral("File is locked: ")));
        if (::chmod(bytes.constData(), mode) != 0)
            error = errno;
    }
    if (error == 0)
        return true;
    throwPathError(syCallSite, error, path);
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
    // A stale object under the safe name is replaced.
    parkObject(syCallSite, src, safePath, false, true);
    return placeParked(syCallSite, src, dest, safePath, force, overwrite, false);
}

bool CLinuxFSOperations::safeMoveDirectory(const QString& src, const QString& dest,
                                           const QString& safePath, bool force)
{
    SY_FUNCTION("CLinuxFSOperations::safeMoveDirectory");
    SY_FS_CHECK_PATH(src, "Empty src path ...");
    SY_FS_CHECK_PATH(dest, "Empty dest path ...");
    SY_FS_CHECK_PATH(safePath, "Empty safePath ...");
    if (!directoryExists(src))
        SY_THROW(DirectoryDoesNotExist, QStringLiteral("Source doesn't exists: ") + src);
    requireWriteLock(syCallSite, src);
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
    bool parked = false;
    try {
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
        moveBack(syCallSite, safePath, path, isDirectory, true);
        throw;
    }
    moveBack(syCallSite, safePath, path, isDirectory, false);
    return stamped;
}
