#pragma once

#include "system/CSingleton.h"

#include <QReadWriteLock>
#include <QString>

// Where the filter files live: the default filter file and the folder of the per-space filter
// files, both below a base folder unless set on their own. Reached through CSingleton.
class CFSFilterConfig : public CSingleton<CFSFilterConfig>
{
public:
    QString baseFolder() const;
    // Also moves the default filter file and the space folder below the new base folder.
    void setBaseFolder(const QString& folder);
    QString defaultFilterFile() const;
    void setDefaultFilterFile(const QString& fileName);
    QString spaceFilterFolder() const;
    void setSpaceFilterFolder(const QString& folder);
    // The filter file of one space: "<space id>.ini" in the space folder.
    QString spaceFilterFile(quint32 spaceID) const;

private:
    friend class CSingleton<CFSFilterConfig>;
    CFSFilterConfig();

    mutable QReadWriteLock lock;
    QString base;
    QString defaultFile;
    QString spaceFolder;
};
