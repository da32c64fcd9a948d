#include "IniFile/linux/CExtractionTargetLinux.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

std::unique_ptr<IExtractionTarget> IExtractionTarget::open(const QString& root)
{
    return std::make_unique<CExtractionTargetLinux>(root);
}

CExtractionTargetLinux::CExtractionTargetLinux(const QString& rootPath)
    : root(::open(QFile::encodeName(rootPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (!root.isValid())
        fail(TResult::Failed, rootPath, errno);
}

IExtractionTarget::TResult CExtractionTargetLinux::fail(TResult result, const QString& what,
                                                        int error)
{
    lastError = what + QStringLiteral(": ") + qt_error_string(error);
    return result;
}

IExtractionTarget::TResult CExtractionTargetLinux::refuse(int directory, const QStringList& path)
{
    struct stat status;
    const bool isLink = ::fstatat(directory, QFile::encodeName(path.last()).constData(), &status,
                                  AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISLNK(status.st_mode);
    lastError = path.join(QLatin1Char('/')) + (isLink ? QStringLiteral(" is a symbolic link")
                                                      : QStringLiteral(" is not a folder"));
    return TResult::Refused;
}

CUniqueDescriptorLinux CExtractionTargetLinux::openDirectory(const QStringList& components,
                                                             bool create, TResult& result)
{
    if (!root.isValid()) {
        result = TResult::Failed;
        return CUniqueDescriptorLinux();
    }
    CUniqueDescriptorLinux current(::dup(root.get()));
    if (!current.isValid()) {
        result = fail(TResult::Failed, QStringLiteral("dup"), errno);
        return current;
    }
    int walked = 0;
    for (const QString& component : components) {
        const QByteArray name = QFile::encodeName(component);
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(current.get(), name.constData(), flags);
        if (next < 0 && errno == ENOENT && create) {
            // Another writer may create it between the two calls: EEXIST is fine then.
            if (::mkdirat(current.get(), name.constData(), 0777) < 0 && errno != EEXIST) {
                result = fail(TResult::Failed, component, errno);
                return CUniqueDescriptorLinux();
            }
            next = ::openat(current.get(), name.constData(), flags);
        }
        if (next < 0) {
            const int error = errno;
            // With O_DIRECTORY a link is reported as ENOTDIR like a file; neither may be walked.
            if (error == ELOOP || error == ENOTDIR) {
                result = refuse(current.get(), components.mid(0, walked + 1));
                return CUniqueDescriptorLinux();
            }
            result = fail(TResult::Failed, component, error);
            return CUniqueDescriptorLinux();
        }
        ++walked;
        current = CUniqueDescriptorLinux(next);
    }
    result = TResult::Done;
    return current;
}

IExtractionTarget::TResult CExtractionTargetLinux::makeDirectory(const QStringList& components)
{
    TResult result = TResult::Done;
    openDirectory(components, true, result);
    return result;
}

IExtractionTarget::TResult CExtractionTargetLinux::createFile(const QStringList& components,
                                                              QFile& file)
{
    if (components.isEmpty())
        return fail(TResult::Failed, QString(), EINVAL);
    TResult result = TResult::Done;
    const CUniqueDescriptorLinux parent =
        openDirectory(components.mid(0, components.size() - 1), true, result);
    if (!parent.isValid())
        return result;
    const QString& leaf = components.last();
    const QByteArray name = QFile::encodeName(leaf);
    struct stat status;
    if (::fstatat(parent.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(status.st_mode))
            return refuse(parent.get(), components);
        if (S_ISDIR(status.st_mode))
            return fail(TResult::Failed, leaf, EISDIR);
        // A hard link would carry the new contents to its other names: replace the file.
        if (::unlinkat(parent.get(), name.constData(), 0) < 0 && errno != ENOENT)
            return fail(TResult::Failed, leaf, errno);
    } else if (errno != ENOENT) {
        return fail(TResult::Failed, leaf, errno);
    }
    CUniqueDescriptorLinux descriptor(::openat(parent.get(), name.constData(),
                                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                               0666));
    if (!descriptor.isValid()) {
        // Something took the name since the check above.
        const int error = errno;
        if (error == EEXIST || error == ELOOP)
            return refuse(parent.get(), components);
        return fail(TResult::Failed, leaf, error);
    }
    if (!file.open(descriptor.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return fail(TResult::Failed, leaf, EBADF);
    descriptor.release();
    return TResult::Done;
}

bool CExtractionTargetLinux::removeFile(const QStringList& components)
{
    if (components.isEmpty())
        return false;
    TResult result = TResult::Done;
    const CUniqueDescriptorLinux parent =
        openDirectory(components.mid(0, components.size() - 1), false, result);
    if (!parent.isValid())
        return false;
    if (::unlinkat(parent.get(), QFile::encodeName(components.last()).constData(), 0) < 0) {
        fail(TResult::Failed, components.last(), errno);
        return false;
    }
    return true;
}
