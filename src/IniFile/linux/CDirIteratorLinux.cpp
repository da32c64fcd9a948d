#include "IniFile/CDirIterator.h"

#include "IniFile/linux/CUniqueDescriptorLinux.h"

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
    CByteWalk(QDir::Filters filters, bool recurse, const std::atomic<bool>& abortFlag)
        : filters(filters), recurse(recurse), abortFlag(abortFlag)
    {}

    void walk(CUniqueDescriptorLinux descriptor, const QByteArray& path, bool raw)
    {
        std::unique_ptr<DIR, TDirCloser> dir(fdopendir(descriptor.get()));
        if (!dir) {
            unreachable(path, errno);
            return;
        }
        descriptor.release();
        const int dirFd = dirfd(dir.get());
        // readdir() returns null both at the end and on an error; only errno tells them apart.
        errno = 0;
        while (const dirent* entry = readdir(dir.get())) {
            if (abortFlag.load(std::memory_order_relaxed))
                return;
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..") {
                errno = 0;
                continue;
            }
            visit(dirFd, path + '/' + name, name, entry->d_type, raw);
            errno = 0;
        }
        if (errno != 0)
            unreachable(path, errno);
    }

    void unreachable(const QByteArray& path, int error)
    {
        unreachables.append({path, QStringLiteral("cannot read folder: %1")
                                       .arg(QString::fromLocal8Bit(std::strerror(error)))});
    }

    QList<CDirIterator::TRawEntry> dirs;
    QList<CDirIterator::TRawEntry> files;
    QList<QPair<QByteArray, QString>> unreachables;

private:
    void visit(int dirFd, const QByteArray& path, const QByteArray& name, unsigned char type,
               bool parentRaw)
    {
        struct stat status = {};
        bool haveStatus = false;
        if (type == DT_UNKNOWN) {
            if (fstatat(dirFd, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
                return;
            haveStatus = true;
            type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISLNK(status.st_mode) ? DT_LNK : DT_REG;
        }
        if (type == DT_LNK && filters.testFlag(QDir::NoSymLinks))
            return;
        if (name.startsWith('.') && !filters.testFlag(QDir::Hidden))
            return;
        const bool raw = parentRaw || !isValidUtf8(name);
        // PATH_MAX counts the terminating zero: longer paths cannot be opened by name.
        const bool tooLong = path.size() >= PATH_MAX;
        const bool isDir = type == DT_DIR;
        if (!isDir && tooLong) {
            unreachables.append(
                {path, QStringLiteral("path longer than %1 bytes").arg(PATH_MAX - 1)});
            return;
        }
        if (raw && !tooLong &&
            (isDir ? filters.testFlag(QDir::Dirs) : filters.testFlag(QDir::Files))) {
            if (!haveStatus && fstatat(dirFd, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
                return;
            CDirIterator::TRawEntry entry;
            entry.path = path;
            entry.isDirectory = isDir;
            entry.isRegular = S_ISREG(status.st_mode);
            entry.size = entry.isRegular ? qint64(status.st_size) : 0;
            (isDir ? dirs : files).append(entry);
        }
        if (!isDir || !recurse)
            return;
        // Opened relative to the parent, so that folders below a too long path are reached.
        CUniqueDescriptorLinux descriptor(openat(
            dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (!descriptor.isValid()) {
            if (errno != ENOENT)
                unreachable(path, errno);
            return;
        }
        walk(std::move(descriptor), path, raw);
    }

    QDir::Filters filters;
    bool recurse;
    const std::atomic<bool>& abortFlag;
};

} // namespace

void CDirIterator::walkBytes(QList<TUnreachable>& unreachable)
{
    m_rawDirs.clear();
    m_rawFiles.clear();
    QByteArray root = QFile::encodeName(m_rootPath);
    while (root.size() > 1 && root.endsWith('/'))
        root.chop(1);
    CUniqueDescriptorLinux descriptor(
        open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    CByteWalk walk(entryFilter, iteratorFlags.testFlag(QDirIterator::Subdirectories), abortFlag);
    if (!descriptor.isValid()) {
        // A missing root is an empty scan.
        if (errno != ENOENT && errno != ENOTDIR)
            walk.unreachable(root, errno);
    } else {
        walk.walk(std::move(descriptor), root == "/" ? QByteArray() : root, false);
    }
    m_rawDirs = walk.dirs;
    m_rawFiles = walk.files;
    for (const QPair<QByteArray, QString>& item : std::as_const(walk.unreachables))
        unreachable.append({item.first, item.second});
}
