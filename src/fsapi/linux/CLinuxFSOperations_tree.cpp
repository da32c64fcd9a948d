#include "fsapi/linux/CLinuxFSOperations.h"

#include "diagnostics/CLogRecord.h"
#include "fsapi/CRetryCounter.h"
#include "fsapi/FSArgumentChecks.h"
#include "fsapi/FileSystemExceptions.h"
#include "fsapi/linux/CLinuxFSLock.h"
#include "fsapi/linux/LinuxFSHelpers.h"
#include "threading/threads/CCallStack.h"

#include <QFile>

#include <functional>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Whole directories: copying, creating, cleaning and deleting trees.

using namespace Exceptions;
using namespace LinuxFS;

namespace {

bool isDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

struct DirectoryCloser
{
    void operator()(DIR* directory) const { ::closedir(directory); }
};

} // namespace

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
    // The folders are named as given: a separator added would make a folder as long as a path
    // one byte too long.
    QList<Entry> entries;
    if (listDirectory(src, entries) != 0)
        return false;
    if (!directoryExists(dest) &&
        !createDirectory(dest, QDateTime(), QDateTime(), QDateTime(), 0, true))
        return false;
    const QString from = withTrailingSeparator(src);
    const QString to = withTrailingSeparator(dest);
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

void CLinuxFSOperations::requireWriteLock(const CCallSiteRecord& syCallSite, const QString& path)
{
    if (!tryWriteLock(path)) {
        SY_CRITICAL << "Directory locked";
        SY_THROW(Locked, QStringLiteral("Directory is locked: ") + path);
    }
}

void CLinuxFSOperations::requireTreeUnlocked(const CCallSiteRecord& syCallSite, const QString& path)
{
    QList<Entry> entries;
    if (const int error = listDirectory(path, entries))
        throwSystemError(syCallSite, error);
    const QString folder = withTrailingSeparator(path);
    for (const Entry& entry : std::as_const(entries)) {
        const QString entryPath = folder + entry.name;
        const CUniqueDescriptorLinux held(
            holdForChange(syCallSite, entryPath, CLinuxFSLock::AccessDelete,
                          entry.isDirectory ? QStringLiteral("Directory is locked: ")
                                            : QStringLiteral("File is locked: ")));
        if (entry.isDirectory)
            requireTreeUnlocked(syCallSite, entryPath);
    }
}

bool CLinuxFSOperations::holdsAny(const QString& path, const QSet<QString>& held)
{
    QList<Entry> entries;
    if (listDirectory(path, entries) != 0)
        return false;
    const QString folder = withTrailingSeparator(path);
    for (const Entry& entry : std::as_const(entries)) {
        struct stat status;
        if (::lstat(nativeBytes(folder + entry.name).constData(), &status) != 0)
            continue;
        if (held.contains(
                QStringLiteral("%1:%2").arg(quint64(status.st_dev)).arg(quint64(status.st_ino))) ||
            (S_ISDIR(status.st_mode) && holdsAny(folder + entry.name, held)))
            return true;
    }
    return false;
}

void CLinuxFSOperations::requireNothingHeldInside(const CCallSiteRecord& syCallSite,
                                                  const QString& path)
{
    // Moving a folder renames everything inside it, which a lock on any of it forbids. The
    // kernel's table of locks names the held objects, so that with nothing held (the common
    // case) the tree is not looked at, and otherwise nothing inside it is opened.
    QSet<QString> held;
    bool inside = false;
    if (CLinuxFSLock::objectsHeldAgainstDeletion(held)) {
        inside = !held.isEmpty() && holdsAny(path, held);
    } else {
        try {
            requireTreeUnlocked(syCallSite, path);
        } catch (const Locked&) {
            inside = true;
        }
    }
    if (inside) {
        SY_CRITICAL << "Directory locked";
        SY_THROW(Locked, QStringLiteral("Directory is locked: ") + path);
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
    QList<Entry> entries;
    if (const int error = listDirectory(path, entries))
        throwSystemError(syCallSite, error);
    const QString folder = withTrailingSeparator(path);
    bool cleaned = true;
    for (const Entry& entry : std::as_const(entries))
        cleaned = remove(folder + entry.name, entry.isDirectory) && cleaned;
    return cleaned;
}
