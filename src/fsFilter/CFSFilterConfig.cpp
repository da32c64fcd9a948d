#include "fsFilter/CFSFilterConfig.h"

#include <QReadLocker>
#include <QStandardPaths>
#include <QWriteLocker>

CFSFilterConfig::CFSFilterConfig()
{
    setBaseFolder(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                  QStringLiteral("/Syncarium/"));
}

QString CFSFilterConfig::baseFolder() const
{
    const QReadLocker locker(&lock);
    return base;
}

void CFSFilterConfig::setBaseFolder(const QString& folder)
{
    const QWriteLocker locker(&lock);
    base = folder;
    if (!base.isEmpty() && !base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    defaultFile = base + QStringLiteral("fsConfig/filter/default.ini");
    spaceFolder = base + QStringLiteral("fsConfig/filter/");
}

QString CFSFilterConfig::defaultFilterFile() const
{
    const QReadLocker locker(&lock);
    return defaultFile;
}

void CFSFilterConfig::setDefaultFilterFile(const QString& fileName)
{
    const QWriteLocker locker(&lock);
    defaultFile = fileName;
}

QString CFSFilterConfig::spaceFilterFolder() const
{
    const QReadLocker locker(&lock);
    return spaceFolder;
}

void CFSFilterConfig::setSpaceFilterFolder(const QString& folder)
{
    const QWriteLocker locker(&lock);
    spaceFolder = folder;
    if (!spaceFolder.isEmpty() && !spaceFolder.endsWith(QLatin1Char('/')))
        spaceFolder += QLatin1Char('/');
}

QString CFSFilterConfig::spaceFilterFile(quint32 spaceID) const
{
    const QReadLocker locker(&lock);
    return spaceFolder + QString::number(spaceID) + QStringLiteral(".ini");
}
