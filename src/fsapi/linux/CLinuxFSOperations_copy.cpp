#include "fsapi/linux/CLinuxFSOperations.h"

#include "diagnostics/CLogRecord.h"
#include "fsapi/CRetryCounter.h"
#include "fsapi/FSArgumentChecks.h"
#include "fsapi/FSAttributes.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSLock.h"
#include "fsapi/linux/LinuxFSHelpers.h"
#include "threading/threads/CCallStack.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QHash>

#include <cstring>
#include <ctime>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Copying and creating files.

using namespace Exceptions;
using namespace LinuxFS;

namespace {

// Gives the unnamed file open at fd the name to; fails with EEXIST rather than replace.
int linkUnnamed(int fd, const QByteArray& to)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    return ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, to.constData(), AT_SYMLINK_FOLLOW) == 0
               ? 0
               : errno;
}

const char hiddenPrefix[] = ".syncarium-copy-";

// A new hidden file in the folder open at folder, its name left in name. The name is given
// relative to the folder, so that it is taken wherever the destination's shorter name is. The
// file is held against deletion for as long as it is open, which tells a running copy from
// what a killed one left.
int createHiddenFile(int folder, QByteArray& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = hiddenPrefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        const int fd =
            ::openat(folder, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd >= 0 && CLinuxFSLock::lockOpenFile(fd, CLinuxFSLock::AccessWrite,
                                                  CLinuxFSLock::ShareReadWrite) != 0) {
            const int error = errno;
            ::close(fd);
            ::unlinkat(folder, name.constData(), 0);
            errno = error;
            return -1;
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

// Removes the hidden files that killed copies left in the folder open at folder: ours by
// name and owner, a minute old, and held by no open. A running copy holds its file from just
// after creating it, and the minute covers that moment; it also spares the file of an older
// program that copies without holding it, for as long as that copy writes.
void removeStaleCopies(int folder)
{
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return;
    const std::unique_ptr<DIR, int (*)(DIR*)> directory(::fdopendir(listing), ::closedir);
    if (!directory) {
        ::close(listing);
        return;
    }
    const time_t old = ::time(nullptr) - 60;
    while (const struct dirent* entry = ::readdir(directory.get())) {
        struct stat status;
        if (std::strncmp(entry->d_name, hiddenPrefix, sizeof hiddenPrefix - 1) != 0 ||
            ::fstatat(listing, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() || status.st_mtime > old)
            continue;
        const CUniqueDescriptorLinux file(
            ::openat(listing, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened;
        // Only the file looked at, and only while no one holds it.
        if (file.get() >= 0 && ::fstat(file.get(), &opened) == 0 &&
            opened.st_ino == status.st_ino && opened.st_dev == status.st_dev &&
            CLinuxFSLock::lockOpenFile(file.get(), CLinuxFSLock::AccessDelete,
                                       CLinuxFSLock::ShareReadWrite | CLinuxFSLock::ShareDelete) ==
                0)
            ::unlinkat(listing, entry->d_name, 0);
    }
}

// Whether the folder at path with status is due for a clean: once a minute at most, since no
// hidden file grows old enough to go in less, so that copying many files into one folder lists
// it once. The path is part of the key, as a new folder may take a removed one's inode.
bool cleanDue(const QByteArray& path, const struct stat& folder)
{
    static QMutex mutex;
    static QHash<QByteArray, qint64> cleaned;
    const QByteArray key = path + '\0' + QByteArray::number(quint64(folder.st_dev)) + ':' +
                           QByteArray::number(quint64(folder.st_ino));
    const qint64 now = ::time(nullptr);
    const QMutexLocker locker(&mutex);
    const auto last = cleaned.constFind(key);
    if (last != cleaned.constEnd() && now - *last < 60)
        return false;
    cleaned.insert(key, now);
    return true;
}

// Removes the copy this call has named, unless something else has taken the name since.
void removeIfSame(const QByteArray& path, const struct stat& copy)
{
    struct stat now;
    if (::lstat(path.constData(), &now) == 0 && now.st_dev == copy.st_dev &&
        now.st_ino == copy.st_ino)
        ::unlink(path.constData());
}

} // namespace

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
        if (sourceSide && error == CLinuxFSLock::SharingViolation)
            SY_THROW(Locked, QStringLiteral("File is locked: ") + src);
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
    CUniqueDescriptorLinux input(
        ::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (input.get() < 0)
        return errno;
    if (::fstat(input.get(), &status) != 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EINVAL;
    // Reading is what an exclusive holder denies, with or without checkLock.
    if (const int error =
            CLinuxFSLock::lockOpenFile(input.get(), CLinuxFSLock::AccessRead,
                                       CLinuxFSLock::ShareReadWrite | CLinuxFSLock::ShareDelete))
        return error;

    sourceSide = false;
    const int error = writeCopy(input.get(), status, dest, true);
    if (error != EOPNOTSUPP)
        return error;
    // No unnamed files, or no way to name one (no hard links): a hidden name in the same
    // folder instead.
    if (::lseek(input.get(), 0, SEEK_SET) != 0)
        return errno;
    return writeCopy(input.get(), status, dest, false);
}

int CLinuxFSOperations::writeCopy(int input, const struct stat& status, const QString& dest,
                                  bool unnamed)
{
    // The copy is written where no one sees it and given its name only when complete, by a
    // call that never replaces an existing object (not even a dangling link): a crash leaves
    // nothing under the final name.
    const QByteArray to = nativeBytes(dest);
    const QByteArray folderBytes = nativeBytes(parentFolder(dest));
    CUniqueDescriptorLinux folder(-1);
    QByteArray temporaryName;
    CUniqueDescriptorLinux output(-1);
    if (unnamed) {
        output = CUniqueDescriptorLinux(openTemporary(folderBytes));
        if (output.get() < 0)
            return errno == EISDIR ? EOPNOTSUPP : errno;
    } else {
        folder = CUniqueDescriptorLinux(
            ::open(folderBytes.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() < 0)
            return errno;
        struct stat folderStatus;
        if (::fstat(folder.get(), &folderStatus) == 0 && cleanDue(folderBytes, folderStatus))
            removeStaleCopies(folder.get());
        output = CUniqueDescriptorLinux(createHiddenFile(folder.get(), temporaryName));
        if (output.get() < 0)
            return errno;
    }

    // Who the copy is, so that a failure after it is named removes this copy and nothing else.
    struct stat copied;
    if (::fstat(output.get(), &copied) != 0) {
        const int error = errno;
        if (!unnamed)
            ::unlinkat(folder.get(), temporaryName.constData(), 0);
        return error;
    }
    int error = copyContents(input, output.get());
    if (error == 0 && ::fchmod(output.get(), status.st_mode & 07777) != 0)
        error = errno;
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (error == 0 && ::futimens(output.get(), times) != 0)
        error = errno;
    // The data is on the disk before the copy has a name; NFS and FUSE report a failed write
    // only at fsync or close.
    if (error == 0 && ::fsync(output.get()) != 0)
        error = errno;
    if (!unnamed) {
        const int closeError = output.close();
        if (error == 0)
            error = closeError;
        if (error == 0)
            error = moveWithoutReplacing(folder.get(), temporaryName, AT_FDCWD, to, false);
        if (error != 0)
            ::unlinkat(folder.get(), temporaryName.constData(), 0);
    } else if (error == 0) {
        // An unnamed file can only be named while it is open.
        error = linkUnnamed(output.get(), to);
        const int closeError = output.close();
        if (error == EPERM)
            return EOPNOTSUPP;
        if (error == 0 && closeError != 0) {
            error = closeError;
            removeIfSame(to, copied);
        }
    }
    if (error == 0 && (error = syncFolderOf(dest)) != 0)
        removeIfSame(to, copied);
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
    CUniqueDescriptorLinux file(::open(nativeBytes(path).constData(),
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
