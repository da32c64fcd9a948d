#include "IniFile/zip/linux/CReplacementFileLinux.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QByteArray scratchPrefix = QByteArrayLiteral(".syncarium-zip-");

} // namespace

std::unique_ptr<IReplacementFile> IReplacementFile::create(const QString& target, QFile& file,
                                                           QString& error)
{
    const QFileInfo info(target);
    CUniqueDescriptorLinux folder(::open(QFile::encodeName(info.absolutePath()).constData(),
                                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status = {};
    if (!folder.isValid() ||
        (::stat(QFile::encodeName(target).constData(), &status) != 0 && errno != ENOENT)) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    auto replacement = std::make_unique<CReplacementFileLinux>(std::move(folder),
                                                               QFile::encodeName(info.fileName()));
    if (!replacement->open(file, status.st_mode != 0, status.st_mode & 07777, error))
        return nullptr;
    return replacement;
}

CReplacementFileLinux::CReplacementFileLinux(CUniqueDescriptorLinux folder, const QByteArray& name)
    : folder(std::move(folder)), name(name)
{}

bool CReplacementFileLinux::open(QFile& file, bool keepMode, mode_t mode, QString& error)
{
    CScratchFileLinux::removeStale(folder.get(), scratchPrefix);
    CUniqueDescriptorLinux descriptor =
        scratch.create(folder.get(), scratchPrefix, keepMode ? mode : 0666, error);
    if (!descriptor.isValid())
        return false;
    // The umask narrowed what the old version had.
    if (keepMode && ::fchmod(descriptor.get(), mode) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!file.open(descriptor.get(), QIODevice::ReadWrite | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        return false;
    }
    descriptor.release();
    return true;
}

bool CReplacementFileLinux::commit(QString& error)
{
    return scratch.commit(name, error);
}
