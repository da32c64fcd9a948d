#include "IniFile/zip/linux/CSourceFileLinux.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

} // namespace

std::unique_ptr<ISourceFile> ISourceFile::open(const QByteArray& path, TOpen& result,
                                               QString& error)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. It has no effect
    // on the reads of a regular file.
    CUniqueDescriptorLinux descriptor(
        ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!descriptor.isValid()) {
        result = errno == ENOENT || errno == ENOTDIR ? TOpen::Missing : TOpen::Failed;
        error = systemError(errno);
        return nullptr;
    }
    struct stat status = {};
    if (::fstat(descriptor.get(), &status) != 0) {
        result = TOpen::Failed;
        error = systemError(errno);
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        result = TOpen::NotRegular;
        return nullptr;
    }
    result = TOpen::Opened;
    return std::make_unique<CSourceFileLinux>(std::move(descriptor), status);
}

std::unique_ptr<ISourceFile> ISourceFile::share(const QFileDevice& file, QString& error)
{
    // The descriptor's entry in /proc opens the very file it has open, whatever its name is
    // now, as a new open of its own.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(file.handle());
    CUniqueDescriptorLinux descriptor(::open(self.constData(), O_RDONLY | O_CLOEXEC));
    struct stat status = {};
    struct stat written = {};
    if (!descriptor.isValid() || ::fstat(descriptor.get(), &status) != 0 ||
        ::fstat(file.handle(), &written) != 0) {
        error = systemError(errno);
        return nullptr;
    }
    if (status.st_dev != written.st_dev || status.st_ino != written.st_ino) {
        error = systemError(ESTALE);
        return nullptr;
    }
    // Pages still dirty are kept by the kernel; the caller has synced, so all of them go.
    const int dropped = ::posix_fadvise(descriptor.get(), 0, 0, POSIX_FADV_DONTNEED);
    if (dropped != 0) {
        error = systemError(dropped);
        return nullptr;
    }
    return std::make_unique<CSourceFileLinux>(std::move(descriptor), status);
}

CSourceFileLinux::CSourceFileLinux(CUniqueDescriptorLinux descriptor, const struct stat& status)
    : descriptor(std::move(descriptor)), fileSize(qint64(status.st_size)),
      modifiedTime(qint64(status.st_mtim.tv_sec)), permissionBits(quint32(status.st_mode & 07777))
{}

void CSourceFileLinux::prefetch(qint64 offset, qint64 size) const
{
    // A hint that fails costs nothing but the wait it could have spared.
    (void)::posix_fadvise(descriptor.get(), offset, size, POSIX_FADV_WILLNEED);
}

qint64 CSourceFileLinux::readAt(char* data, qint64 size, qint64 offset) const
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t count =
            ::pread(descriptor.get(), data + done, static_cast<size_t>(size - done), offset + done);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (count == 0)
            break;
        done += count;
    }
    return done;
}
