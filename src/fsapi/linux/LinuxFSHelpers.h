#pragma once

#include "system/linux/CUniqueDescriptorLinux.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

struct CCallSiteRecord;

// Small pieces the Linux file operations and locks share.
namespace LinuxFS {

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

inline QByteArray nativeBytes(const QString& path)
{
    return QFile::encodeName(path);
}

// "<system text> - system error code: <errno>".
QString systemErrorText(int error);

QString withoutTrailingSeparators(const QString& path);
QString withTrailingSeparator(const QString& path);
// The folder that holds path ("." for a bare name).
QString parentFolder(const QString& path);

// ENOENT names the object when its parent is there, a missing part of the path otherwise.
ErrorCase classify(int error, const QString& path);

// A regular file without any write permission bit: the read-only attribute of the platform.
bool isReadOnlyFile(const struct stat& status);
bool isReadOnlyFile(const QString& path);

// A file time for utimensat; a null time leaves the stamp alone (UTIME_OMIT). Every valid time
// fits the 64-bit seconds of a file time (the file system rounds what it cannot hold); an
// invalid one throws Exceptions::InvalidParameter "Timestamp is invalid".
struct timespec convertUTCQDateTimeToFileTime(const CCallSiteRecord& syCallSite,
                                              const QDateTime& time);

// Renames from to to without replacing anything there: 0 or the errno value (EEXIST when to is
// taken). Works where renameat2 knows no flags too (NFS, CIFS, FUSE).
int moveWithoutReplacing(int fromFolder, const QByteArray& from, int toFolder, const QByteArray& to,
                         bool isDirectory);
// Makes the names in the folder open at fd (or the folder of path) durable: 0 or errno.
int syncFolder(int fd);
int syncFolderOf(const QString& path);

// Puts back the read-only attribute that an operation may take away from a file, unless the
// operation succeeds: a failed operation leaves the file as it found it.
class ReadOnlyKeeper
{
public:
    // function names the operation in the record of a failed restore.
    ReadOnlyKeeper(const char* function, const QString& path);
    ~ReadOnlyKeeper();
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

} // namespace LinuxFS
