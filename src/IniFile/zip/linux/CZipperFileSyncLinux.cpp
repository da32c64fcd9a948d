#include "IniFile/zip/CZipperFileSync.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

#include <unistd.h>

bool CZipperFileSync::sync(const QFileDevice& file, QString& error)
{
    int result = 0;
    do {
        result = ::fsync(file.handle());
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        error = QString::fromLocal8Bit(std::strerror(errno));
    return result == 0;
}
