#include "IniFile/collector/CFileStamp.h"

#include <QFileDevice>

#include <sys/stat.h>

namespace {

qint64 nanoseconds(const struct timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + qint64(time.tv_nsec);
}

bool fromStatus(const struct stat& status, CFileStamp& stamp)
{
    if (!S_ISREG(status.st_mode))
        return false;
    stamp.device = quint64(status.st_dev);
    stamp.inode = quint64(status.st_ino);
    stamp.size = qint64(status.st_size);
    stamp.modified = nanoseconds(status.st_mtim);
    stamp.changed = nanoseconds(status.st_ctim);
    return true;
}

} // namespace

bool CFileStamp::of(const QByteArray& path, CFileStamp& stamp)
{
    struct stat status;
    return ::lstat(path.constData(), &status) == 0 && fromStatus(status, stamp);
}

bool CFileStamp::of(const QFileDevice& file, CFileStamp& stamp)
{
    struct stat status;
    return file.handle() >= 0 && ::fstat(file.handle(), &status) == 0 && fromStatus(status, stamp);
}
