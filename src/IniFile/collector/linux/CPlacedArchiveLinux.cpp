#include "IniFile/collector/CPlacedArchive.h"

#include "system/linux/CUniqueDescriptorLinux.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int syncDescriptor(int descriptor)
{
    int result = 0;
    do {
        result = ::fsync(descriptor);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

// Reads up to size bytes, fewer only at the end of the file; -1 with errno on failure.
ssize_t readFull(int descriptor, char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(descriptor, data + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += size_t(got);
    }
    return ssize_t(done);
}

} // namespace

bool CPlacedArchive::sameObject(const QString& first, const QString& second)
{
    struct stat a;
    struct stat b;
    return ::stat(QFile::encodeName(first).constData(), &a) == 0 &&
           ::stat(QFile::encodeName(second).constData(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool CPlacedArchive::confirmCopy(const QString& original, const QString& copy, QString& error)
{
    const CUniqueDescriptorLinux source(
        ::open(QFile::encodeName(original).constData(), O_RDONLY | O_CLOEXEC));
    const CUniqueDescriptorLinux placed(
        ::open(QFile::encodeName(copy).constData(), O_RDONLY | O_CLOEXEC));
    if (!source.isValid() || !placed.isValid()) {
        error = systemText(errno);
        return false;
    }
    struct stat from;
    struct stat to;
    if (::fstat(source.get(), &from) != 0 || ::fstat(placed.get(), &to) != 0) {
        error = systemText(errno);
        return false;
    }
    // Removing the working archive after "copying" it onto itself would lose the only one.
    if (from.st_dev == to.st_dev && from.st_ino == to.st_ino) {
        error = QCoreApplication::translate("CLogFilesSender", "the copy is the archive itself");
        return false;
    }
    const CUniqueDescriptorLinux folder(
        ::open(QFile::encodeName(QFileInfo(copy).absolutePath()).constData(),
               O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int failure = syncDescriptor(placed.get());
    if (failure == 0)
        failure = folder.isValid() ? syncDescriptor(folder.get()) : errno;
    // Once synced its pages are clean and can be dropped, so what is read next comes from the
    // storage: a disk or network file system that stored other bytes is caught here.
    if (failure == 0)
        failure = ::posix_fadvise(placed.get(), 0, 0, POSIX_FADV_DONTNEED);
    if (failure != 0) {
        error = systemText(failure);
        return false;
    }
    const size_t chunk = size_t(1) << 20;
    const std::unique_ptr<char[]> expected(new char[chunk]);
    const std::unique_ptr<char[]> found(new char[chunk]);
    for (;;) {
        const ssize_t wanted = readFull(source.get(), expected.get(), chunk);
        const ssize_t got = wanted < 0 ? -1 : readFull(placed.get(), found.get(), chunk);
        if (wanted < 0 || got < 0) {
            error = systemText(errno);
            return false;
        }
        if (got != wanted || std::memcmp(expected.get(), found.get(), size_t(got)) != 0) {
            error = QCoreApplication::translate("CLogFilesSender",
                                                "the copy does not read back as the archive");
            return false;
        }
        if (got == 0)
            return true;
    }
}
