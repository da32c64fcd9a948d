#include "IniFile/linux/CSourceFileLinux.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<ISourceFile> ISourceFile::open(const QByteArray& path, TOpen& result)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. It has no effect
    // on the reads of a regular file.
    CUniqueDescriptorLinux descriptor(
        ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!descriptor.isValid()) {
        result = TOpen::Failed;
        return nullptr;
    }
    struct stat status = {};
    if (::fstat(descriptor.get(), &status) != 0) {
        result = TOpen::Failed;
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        result = TOpen::NotRegular;
        return nullptr;
    }
    result = TOpen::Opened;
    return std::make_unique<CSourceFileLinux>(std::move(descriptor), qint64(status.st_mtim.tv_sec),
                                              quint32(status.st_mode & 07777));
}

CSourceFileLinux::CSourceFileLinux(CUniqueDescriptorLinux descriptor, qint64 modified,
                                   quint32 permissions)
    : descriptor(std::move(descriptor)), modifiedTime(modified), permissionBits(permissions)
{}

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
