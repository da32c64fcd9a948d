#include "IniFile/zip/linux/CScratchFileLinux.h"

#include <QRandomGenerator>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

const int nameDigits = 16;
const int attempts = 16;

QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

bool isScratchName(const char* name, const QByteArray& prefix)
{
    const size_t length = std::strlen(name);
    if (length != size_t(prefix.size() + nameDigits) ||
        std::strncmp(name, prefix.constData(), size_t(prefix.size())) != 0)
        return false;
    for (const char* digit = name + prefix.size(); *digit; ++digit) {
        if (!std::isxdigit(uchar(*digit)) || std::isupper(uchar(*digit)))
            return false;
    }
    return true;
}

int retried(const std::function<int()>& call)
{
    int result = 0;
    do {
        result = call();
    } while (result != 0 && errno == EINTR);
    return result;
}

} // namespace

CScratchFileLinux::~CScratchFileLinux()
{
    discard();
}

CScratchFileLinux::CScratchFileLinux(CScratchFileLinux&& other) noexcept
    : folder(other.folder), name(std::move(other.name)), lock(std::move(other.lock))
{
    other.folder = -1;
}

CScratchFileLinux& CScratchFileLinux::operator=(CScratchFileLinux&& other) noexcept
{
    if (this != &other) {
        discard();
        folder = other.folder;
        name = std::move(other.name);
        lock = std::move(other.lock);
        other.folder = -1;
    }
    return *this;
}

void CScratchFileLinux::discard()
{
    if (folder >= 0)
        ::unlinkat(folder, name.constData(), 0);
    folder = -1;
    lock.reset();
}

CUniqueDescriptorLinux CScratchFileLinux::create(int inFolder, const QByteArray& prefix,
                                                 mode_t mode, QString& error)
{
    discard();
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const QByteArray candidate =
            prefix + QByteArray::number(QRandomGenerator::system()->generate64(), 16)
                         .rightJustified(nameDigits, '0');
        CUniqueDescriptorLinux file(::openat(inFolder, candidate.constData(),
                                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                             mode));
        if (!file.isValid() && errno == EEXIST)
            continue;
        CUniqueDescriptorLinux held(file.isValid() ? ::fcntl(file.get(), F_DUPFD_CLOEXEC, 0) : -1);
        if (!held.isValid()) {
            error = systemError(errno);
            if (file.isValid())
                ::unlinkat(inFolder, candidate.constData(), 0);
            return CUniqueDescriptorLinux();
        }
        // The name exists before its lock: a cleaner that took the unlocked name in between
        // leaves the file without links, and another name is made. A file system without
        // locks leaves the file unguarded, and its cleaners remove nothing.
        retried([&] { return ::flock(held.get(), LOCK_EX); });
        struct stat status = {};
        if (::fstat(held.get(), &status) != 0) {
            error = systemError(errno);
            ::unlinkat(inFolder, candidate.constData(), 0);
            return CUniqueDescriptorLinux();
        }
        if (status.st_nlink == 0)
            continue;
        folder = inFolder;
        name = candidate;
        lock = std::move(held);
        return file;
    }
    error = systemError(EEXIST);
    return CUniqueDescriptorLinux();
}

bool CScratchFileLinux::commit(const QByteArray& target, QString& error)
{
    if (::renameat(folder, name.constData(), folder, target.constData()) != 0) {
        error = systemError(errno);
        return false;
    }
    const int inFolder = folder;
    folder = -1;
    lock.reset();
    // Some network file systems sync no folders and say so with EINVAL.
    if (retried([&] { return ::fsync(inFolder); }) != 0 && errno != EINVAL) {
        error = systemError(errno);
        return false;
    }
    return true;
}

void CScratchFileLinux::removeStale(int folder, const QByteArray& prefix)
{
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(listed >= 0 ? ::fdopendir(listed) : nullptr,
                                                      ::closedir);
    if (!listing) {
        if (listed >= 0)
            ::close(listed);
        return;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        if (!isScratchName(entry->d_name, prefix))
            continue;
        const CUniqueDescriptorLinux file(::openat(
            folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened = {};
        struct stat named = {};
        // A writer that is still at work holds the lock.
        if (!file.isValid() || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0 ||
            ::fstat(file.get(), &opened) != 0 ||
            ::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(opened.st_mode) && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino)
            ::unlinkat(folder, entry->d_name, 0);
    }
}
