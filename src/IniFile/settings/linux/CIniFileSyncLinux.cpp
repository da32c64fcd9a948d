#include "IniFile/settings/CIniFileSync.h"

#include "system/linux/CUniqueDescriptorLinux.h"

#include <QFile>
#include <QFileDevice>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool syncDescriptor(int descriptor, QString& error)
{
    int result = 0;
    do {
        result = ::fsync(descriptor);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        error = QString::fromLocal8Bit(std::strerror(errno));
    return result == 0;
}

} // namespace

bool CIniFileSync::syncFile(const QFileDevice& file, QString& error)
{
    return syncDescriptor(file.handle(), error);
}

bool CIniFileSync::syncFolder(const QString& folder, QString& error)
{
    const CUniqueDescriptorLinux descriptor(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!descriptor.isValid()) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return syncDescriptor(descriptor.get(), error);
}
