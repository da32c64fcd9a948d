#include "system/linux/CPathWalkLinux.h"

#include "system/linux/CMountTableLinux.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The kernel's limit on symbolic links followed in one lookup.
constexpr int maxSymbolicLinks = 40;

int canonical(const QByteArray& path, QString& out)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(path.constData(), nullptr), &std::free);
    if (!resolved)
        return errno;
    out = QFile::decodeName(resolved.get());
    return 0;
}

} // namespace

int CPathWalkLinux::absolutePath(const QString& path, bool emptyIsWorkingDirectory, QByteArray& out)
{
    if (path.startsWith(QLatin1Char('/'))) {
        out = QFile::encodeName(path);
        return 0;
    }
    if (path.isEmpty() && !emptyIsWorkingDirectory)
        return ENOENT;
    // A working directory that was removed or is deeper than PATH_MAX has no name to join to.
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer))
        return errno;
    out = buffer;
    if (!path.isEmpty())
        out += '/' + QFile::encodeName(path);
    return 0;
}

int CPathWalkLinux::mountIdOf(int fd, const QByteArray& path, std::optional<int>& id)
{
    struct statx status = {};
    // Asking for no attributes and without syncing: a network file system is not asked.
    const int flags = AT_STATX_DONT_SYNC | (path.isEmpty() ? AT_EMPTY_PATH : 0);
    if (::statx(fd, path.isEmpty() ? "" : path.constData(), flags, 0, &status) != 0)
        return errno;
    if ((status.stx_mask & STATX_MNT_ID) != 0)
        id = int(status.stx_mnt_id);
    return 0;
}

CPathWalkLinux::TReached CPathWalkLinux::reach(QByteArray path, bool wantMountId, bool hold)
{
    TReached result;
    for (int links = 0;;) {
        std::shared_ptr<CUniqueDescriptorLinux> fd;
        if (hold) {
            fd = std::make_shared<CUniqueDescriptorLinux>(
                ::open(path.constData(), O_PATH | O_CLOEXEC));
            result.error = fd->get() >= 0 ? 0 : errno;
            if (result.error == 0 && wantMountId)
                result.error = mountIdOf(fd->get(), QByteArray(), result.mountId);
        } else {
            result.error = mountIdOf(AT_FDCWD, path, result.mountId);
        }
        if (result.error == 0) {
            if (!result.mountId)
                result.error = canonical(path, result.canonicalPath);
            result.existingPath = path;
            if (hold)
                result.existing = std::move(fd);
            return result;
        }
        if (result.error != ENOENT && result.error != ENOTDIR)
            return result;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.constData(), target, sizeof target);
        if (length > 0 && length < ssize_t(sizeof target)) {
            if (++links > maxSymbolicLinks) {
                result.error = ELOOP;
                return result;
            }
            const QByteArray link(target, length);
            path = link.startsWith('/')
                       ? link
                       : QFile::encodeName(CMountTableLinux::parentOf(QFile::decodeName(path))) +
                             '/' + link;
            continue;
        }
        if (path == "/" || path == ".")
            return result;
        path = QFile::encodeName(CMountTableLinux::parentOf(QFile::decodeName(path)));
    }
}
