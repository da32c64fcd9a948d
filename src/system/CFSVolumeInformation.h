#pragma once

#include "system/FSVolumeTypes.h"

#include <QString>

// What is known about the volume that holds one path, gathered once at construction. Every
// group of fields keeps its zero or empty start value when its query fails (the query logs
// why).
class CFSVolumeInformation
{
public:
    explicit CFSVolumeInformation(const QString& path);

    QString path;
    QString volumeName;
    QString fileSystemName;
    quint32 serialNumber = 0;
    quint32 maxComponentLength = 0;
    quint32 fileSystemFlags = 0;
    quint64 freeBytesAvailable = 0;
    quint64 totalBytes = 0;
    quint64 totalFreeBytes = 0;
    FSDriveType driveType = DRIVE_UNKNOWN;
};
