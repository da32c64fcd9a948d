#include "IniFile/scanner/CDirIterator.h"

#include "system/linux/CUniqueDescriptorLinux.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>

namespace {

bool isValidUtf8(const QByteArray& name)
{
    const bool ascii =
        std::all_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) < 0x80; });
    return ascii || QString::fromUtf8(name).toUtf8() == name;
}

// Closes the directory stream, and with it the descriptor it was opened on.
struct TDirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};

class CByteWalk
{
public:
    CByteWalk(const CDirIterator::TWalk& how, const std::atomic<bool>& abortFlag,
              CDirListing& listing, qsizetype rootSize)
        : how(how), abortFlag(abortFlag), listing(listing), rootSize(rootSize)
    {}

    // False once the walk was stopped.
    bool walk(CUniqueDescriptorLinux descriptor, const QByteArray& path, bool raw)
    {
        std::unique_ptr<DIR, TDirCloser> dir(fdopendir(descriptor.get()));
        if (!dir) {
            unreachable(path, errno);
            return true;
        }
        descriptor.release();
        const int dirFd = dirfd(dir.get());
        // readdir() returns null both at the end and on an error; only errno tells them apart.
        errno = 0;
        while (const dirent* entry = readdir(dir.get())) {
            if (abortFlag.load(std::memory_order_relaxed) || (how.stopped && how.stopped()))
                return false;
            const char* const name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) {
                errno = 0;
                continue;
            }
            if (!visit(dirFd, path, name, entry->d_type, raw))
                return false;
            errno = 0;
        }
        if (errno != 0)
            unreachable(path, errno);
        return true;
    }

    void unreachable(const QByteArray& path, int error)
    {
        unreachables.append({path, QStringLiteral("cannot read folder: %1")
                                       .arg(QString::fromLocal8Bit(std::strerror(error)))});
    }

    QList<QPair<QByteArray, QString>> unreachables;

private:
    bool visit(int dirFd, const QByteArray& parent, const char* name, unsigned char type,
               bool parentRaw)
    {
        struct stat status = {};
        bool haveStatus = false;
        if (type == DT_UNKNOWN) {
            if (fstatat(dirFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                return true;
            haveStatus = true;
            type = IFTODT(status.st_mode);
        }
        const QDir::Filters filters = how.filters;
        // As with the toolkit's own listing, a link that leads nowhere is a system file.
        struct stat target = {};
        if (type == DT_LNK && filters.testFlag(QDir::NoSymLinks) &&
            (!filters.testFlag(QDir::System) || fstatat(dirFd, name, &target, 0) == 0))
            return true;
        if (name[0] == '.' && !filters.testFlag(QDir::Hidden))
            return true;
        const bool isDir = type == DT_DIR;
        if (!isDir && type != DT_REG && type != DT_LNK && !filters.testFlag(QDir::System))
            return true;
        const QByteArray path = parent + '/' + name;
        const bool raw = parentRaw || !isValidUtf8(QByteArray::fromRawData(name, qsizetype(std::strlen(name))));
        // PATH_MAX counts the terminating zero: longer paths cannot be opened by name.
        const bool tooLong = path.size() >= PATH_MAX;
        if (!isDir && tooLong) {
            unreachables.append(
                {path, QStringLiteral("path longer than %1 bytes").arg(PATH_MAX - 1)});
            return true;
        }
        const bool listed = !tooLong && (raw || !how.rawOnly) &&
                            (isDir ? filters.testFlag(QDir::Dirs) : filters.testFlag(QDir::Files)) &&
                            (raw || !how.keep || how.keep(path, isDir));
        // A folder walked into has its permissions from its own descriptor below.
        const bool wantStatus = isDir ? !how.recurse : how.sizes || raw;
        if (listed && wantStatus && !haveStatus) {
            if (fstatat(dirFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                return true;
            haveStatus = true;
        }
        const auto add = [&](quint32 mode) {
            const qint64 size = S_ISREG(status.st_mode) ? qint64(status.st_size) : 0;
            listing.add(isDir, path.mid(rootSize + 1), mode, haveStatus ? size : 0, !raw);
        };
        if (!isDir || !how.recurse) {
            if (listed)
                add(haveStatus ? quint32(status.st_mode) : quint32(DTTOIF(type)));
            return true;
        }
        // Opened relative to the parent, so that folders below a too long path are reached.
        CUniqueDescriptorLinux descriptor(
            openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (listed) {
            if (!haveStatus && (descriptor.isValid() ? fstat(descriptor.get(), &status)
                                                     : fstatat(dirFd, name, &status,
                                                               AT_SYMLINK_NOFOLLOW)) != 0)
                status.st_mode = S_IFDIR | 0755;
            haveStatus = true;
            add(quint32(status.st_mode));
        }
        if (!descriptor.isValid()) {
            if (errno != ENOENT)
                unreachable(path, errno);
            return true;
        }
        return walk(std::move(descriptor), path, raw);
    }

    const CDirIterator::TWalk& how;
    const std::atomic<bool>& abortFlag;
    CDirListing& listing;
    const qsizetype rootSize;
};

} // namespace

bool CDirIterator::walkBytes(const TWalk& how, CDirListing& listing,
                             QList<TUnreachable>& unreachable)
{
    QByteArray root = QFile::encodeName(m_rootPath);
    while (root.size() > 1 && root.endsWith('/'))
        root.chop(1);
    if (root == "/")
        root.clear();
    listing.reset(root);
    CUniqueDescriptorLinux descriptor(
        open(root.isEmpty() ? "/" : root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    CByteWalk walk(how, abortFlag, listing, root.size());
    bool complete = true;
    if (!descriptor.isValid()) {
        // A missing root is an empty scan.
        if (errno != ENOENT && errno != ENOTDIR)
            walk.unreachable(root, errno);
    } else {
        complete = walk.walk(std::move(descriptor), root, false);
    }
    listing.finish();
    for (const QPair<QByteArray, QString>& item : std::as_const(walk.unreachables))
        unreachable.append({item.first, item.second});
    return complete;
}
