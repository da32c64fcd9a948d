#include "IniFile/zip/linux/CExtractionTargetLinux.h"

#include <QFile>

#include <cerrno>

namespace {

const QByteArray scratchPrefix = QByteArrayLiteral(".syncarium-unzip-");

} // namespace

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
    CUniqueDescriptorLinux parent =
        openDirectory(components.mid(0, components.size() - 1), true, result);
    if (!parent.isValid())
        return result;
    const QString& name = components.last();
    const QByteArray encoded = QFile::encodeName(name);
    struct stat status;
    if (::fstatat(parent.get(), encoded.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(status.st_mode))
            return refuse(parent.get(), components);
        if (S_ISDIR(status.st_mode))
            return fail(TResult::Failed, name, EISDIR);
    } else if (errno != ENOENT) {
        return fail(TResult::Failed, name, errno);
    }
    if (::fstat(parent.get(), &status) == 0 &&
        !cleared.contains({quint64(status.st_dev), quint64(status.st_ino)})) {
        CScratchFileLinux::removeStale(parent.get(), scratchPrefix);
        cleared.insert({quint64(status.st_dev), quint64(status.st_ino)});
    }
    QString error;
    CUniqueDescriptorLinux descriptor = scratch.create(parent.get(), scratchPrefix, 0666, error);
    if (!descriptor.isValid()) {
        lastError = name + QStringLiteral(": ") + error;
        return TResult::Failed;
    }
    if (!file.open(descriptor.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        scratch = CScratchFileLinux();
        return fail(TResult::Failed, name, EBADF);
    }
    descriptor.release();
    folder = std::move(parent);
    leaf = encoded;
    return TResult::Done;
}

IExtractionTarget::TResult CExtractionTargetLinux::commitFile(QFile& file)
{
    const QString name = QFile::decodeName(leaf);
    if (!file.flush()) {
        lastError = name + QStringLiteral(": ") + file.errorString();
        discardFile(file);
        return TResult::Failed;
    }
    int synced = 0;
    do {
        synced = ::fsync(file.handle());
    } while (synced != 0 && errno == EINTR);
    const int syncError = errno;
    if (synced != 0) {
        discardFile(file);
        return fail(TResult::Failed, name, syncError);
    }
    // Network file systems may report a failed write only when the file is closed.
    file.close();
    if (file.error() != QFileDevice::NoError) {
        lastError = name + QStringLiteral(": ") + file.errorString();
        discardFile(file);
        return TResult::Failed;
    }
    QString error;
    const bool committed = scratch.commit(leaf, error);
    scratch = CScratchFileLinux();
    folder.reset();
    if (!committed) {
        lastError = name + QStringLiteral(": ") + error;
        return TResult::Failed;
    }
    return TResult::Done;
}

void CExtractionTargetLinux::discardFile(QFile& file)
{
    file.close();
    scratch = CScratchFileLinux();
    folder.reset();
}
